// The device-log menu's "open log folder": the folder is made and opened;
// with no file manager set up the box names the folder.
#include <QApplication>
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "common/ui/desktop_open.h"
#include "common/ui/user_prompts.h"
#include "device/ui/device_log_menu.h"
#include "kelvara_test/test_env.h"

namespace kelvara::device {
namespace {

class RecordingPrompts final : public ui::UserPrompts {
 public:
  int MessageBox(QWidget*, const QString& text, const QString& caption, ui::PromptIcon, ui::PromptButtons) override {
    boxes.push_back(caption + "|" + text);
    return ui::kAnswerOk;
  }
  QString OpenFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
  QString SaveFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
  QString FolderName(QWidget*, const QString&, const QString&) override { return {}; }
  std::vector<QString> boxes;
};

TEST(DeviceLogMenu, OpenFolderWithoutAFileManagerNamesTheFolder) {
  DeviceLogs logs(DeviceLogs::Hooks{});
  SlogFilterSettings settings;
  settings.save_path = (kelvara::test::MakeTempDir("slog") / "logs").string();
  RecordingPrompts prompts;
  std::vector<QString> opened;
  bool works = false;
  DeviceLogMenu::Hooks hooks;
  hooks.prompts = &prompts;
  hooks.settings = [&]() -> SlogFilterSettings& { return settings; };
  hooks.openFolder = [&](const QString& folder) {
    opened.push_back(folder);
    return works;
  };
  DeviceLogMenu menu(logs, hooks);
  const QString folder = QString::fromStdString(settings.save_path);
  ASSERT_TRUE(menu.OnCommand(DeviceLogMenu::kOpenFolder));
  EXPECT_TRUE(std::filesystem::is_directory(settings.save_path));
  EXPECT_EQ(opened, std::vector<QString>{folder});
  EXPECT_EQ(prompts.boxes, std::vector<QString>{"ERROR|" + ui::OpenFailedText(folder)});
  works = true;
  ASSERT_TRUE(menu.OnCommand(DeviceLogMenu::kOpenFolder));
  EXPECT_EQ(opened.size(), 2u);
  EXPECT_EQ(prompts.boxes.size(), 1u);
}

}  // namespace
}  // namespace kelvara::device
