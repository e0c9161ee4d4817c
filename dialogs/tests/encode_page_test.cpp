// The video encode page as the user meets it: lists refill through the
// form's handlers, Enter and Escape do nothing, Save asks and only Yes gives
// the text.
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

#include "controls/ui/button_ex.h"
#include "dialogs/ui/dialog_media_code.h"

namespace kelvara::dialogs {
namespace {

class AnsweringPrompts : public ui::UserPrompts {
 public:
  explicit AnsweringPrompts(int answer) : answer_(answer) {}
  int MessageBox(QWidget*, const QString& text, const QString&, ui::PromptIcon, ui::PromptButtons buttons) override {
    messages.push_back(text);
    return buttons == ui::PromptButtons::kYesNo ? answer_ : ui::kAnswerOk;
  }
  QString OpenFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
  QString SaveFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
  QString FolderName(QWidget*, const QString&, const QString&) override { return {}; }
  std::vector<QString> messages;

 private:
  int answer_;
};

TEST(EncodePage, ControlsFollowTheForm) {
  CMediaCode page;
  EXPECT_EQ(page.windowTitle(), ui::CXDlg::LangText("IDS_STR_ZH_CN_MEDIA_VIDEOENCODE"));
  EXPECT_FALSE(page.windowTitle().isEmpty());
  EXPECT_EQ(page.ControlAs<QComboBox>(1423)->currentText(), "1080P");
  EXPECT_EQ(page.ControlAs<QComboBox>(587)->currentText(), "640X360");
  EXPECT_EQ(page.ControlAs<QLineEdit>(572)->text(), "3200");
  page.ControlAs<QComboBox>(1420)->setCurrentIndex(3);  // MJPEG
  EXPECT_EQ(page.ControlAs<QComboBox>(1423)->currentText(), "4000X3000");
  EXPECT_EQ(page.ControlAs<QLineEdit>(572)->text(), "8000");
  page.ControlAs<QComboBox>(544)->setCurrentIndex(5);  // best
  EXPECT_EQ(page.ControlAs<QLineEdit>(572)->text(), "12000");
  EXPECT_FALSE(page.ControlAs<QLineEdit>(572)->isEnabled());
}

TEST(EncodePage, DefaultButtonPutsTheDefaultsBack) {
  CMediaCode page;
  auto* defaults = qobject_cast<controls::CButtonEx*>(page.Control(1431));
  ASSERT_NE(defaults, nullptr);  // drawn in the page colour, as Save
  ASSERT_NE(qobject_cast<controls::CButtonEx*>(page.Control(799)), nullptr);
  EXPECT_FALSE(defaults->autoDefault());
  page.ControlAs<QComboBox>(1420)->setCurrentIndex(3);  // MJPEG
  page.ControlAs<QComboBox>(1574)->setCurrentIndex(0);
  page.ControlAs<QLineEdit>(1427)->setText("7");
  defaults->click();
  EXPECT_EQ(page.ControlAs<QComboBox>(1420)->currentText(), "H265");
  EXPECT_EQ(page.ControlAs<QComboBox>(1423)->currentText(), "1080P");
  EXPECT_EQ(page.ControlAs<QComboBox>(1574)->currentIndex(), 6);
  EXPECT_EQ(page.ControlAs<QLineEdit>(1427)->text(), "100");
}

TEST(EncodePage, KeysDoNothingAndSaveNeedsYes) {
  AnsweringPrompts no(ui::kAnswerNo);
  CMediaCode page;
  page.SetPrompts(&no);
  page.show();
  QTest::keyClick(&page, Qt::Key_Return);
  QTest::keyClick(&page, Qt::Key_Escape);
  EXPECT_TRUE(page.isVisible());
  EXPECT_TRUE(no.messages.empty());
  page.ControlAs<QLineEdit>(1427)->setText("0");
  page.OnSave();
  ASSERT_EQ(no.messages.size(), 1u);
  page.ControlAs<QLineEdit>(1427)->setText("100");
  page.OnSave();
  EXPECT_EQ(no.messages.size(), 2u);
  EXPECT_TRUE(page.cancelled);

  AnsweringPrompts yes(ui::kAnswerYes);
  page.SetPrompts(&yes);
  page.OnSave();
  EXPECT_FALSE(page.cancelled);
  VideoEncodeForm fresh;
  fresh.Open();
  EXPECT_EQ(page.xml, fresh.Save().xml);
}

}  // namespace
}  // namespace kelvara::dialogs
