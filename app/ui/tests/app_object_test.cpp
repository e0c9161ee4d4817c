#include "app/ui/zq_dev_search_tool_app.h"

#include <QDir>
#include <gtest/gtest.h>

#include "kelvara_test/test_env.h"
#include "printing/qt/label_printer.h"

namespace kelvara::ui {
namespace {

TEST(AppObject, PreparesTheDataFolderAndLoadsThePrintLayouts) {
  const QString data = QString::fromStdString((test::HomeDir()).string());
  CZqDevSearchToolApp app;
  EXPECT_TRUE(app.DataDir().startsWith(data)) << app.DataDir().toStdString();
  EXPECT_TRUE(QDir(app.DataDir()).exists());
  EXPECT_FALSE(app.ProgramDir().endsWith('/'));
  EXPECT_EQ(QDir(app.ProgramDir()).absolutePath(),
            QDir(QString::fromStdString(test::BinDir().string())).absolutePath());
  // Printing with empty texts does nothing.
  EXPECT_EQ(app.LabelPrinter().PrintQrLabel({}, QStringLiteral("x")), 0);
}

}  // namespace
}  // namespace kelvara::ui
