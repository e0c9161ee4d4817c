#include "common/ui/desktop_open.h"

#include <gtest/gtest.h>

#include <vector>

#include "common/ui/user_prompts.h"

namespace kelvara::ui {
namespace {

class RecordingPrompts final : public UserPrompts {
 public:
  int MessageBox(QWidget*, const QString& text, const QString& caption, PromptIcon icon, PromptButtons) override {
    boxes.push_back(caption + "|" + text);
    icons.push_back(icon);
    return kAnswerOk;
  }
  QString OpenFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
  QString SaveFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
  QString FolderName(QWidget*, const QString&, const QString&) override { return {}; }
  std::vector<QString> boxes;
  std::vector<PromptIcon> icons;
};

// A failed open names what could not be opened: the folder's path for a
// folder, the address for a web page; a good open says nothing.
TEST(DesktopOpen, AFailedOpenIsToldByName) {
  RecordingPrompts prompts;
  std::vector<QUrl> asked;
  bool works = false;
  const DesktopOpener open = [&](const QUrl& url) {
    asked.push_back(url);
    return works;
  };
  EXPECT_FALSE(OpenOrTell(UrlOfTarget("/home/u/Documents/Kelvara/snap"), &prompts, nullptr, open));
  EXPECT_FALSE(OpenOrTell(UrlOfTarget("http://10.77.1.1:80"), &prompts, nullptr, open));
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_TRUE(asked[0].isLocalFile());
  EXPECT_EQ(asked[0].toLocalFile(), "/home/u/Documents/Kelvara/snap");
  EXPECT_EQ(asked[1].toString(), "http://10.77.1.1:80");
  ASSERT_EQ(prompts.boxes.size(), 2u);
  EXPECT_EQ(prompts.boxes[0], "ERROR|" + OpenFailedText("/home/u/Documents/Kelvara/snap"));
  EXPECT_EQ(prompts.boxes[1], "ERROR|" + OpenFailedText("http://10.77.1.1:80"));
  EXPECT_TRUE(prompts.boxes[0].contains("/home/u/Documents/Kelvara/snap"));
  EXPECT_EQ(prompts.icons[0], PromptIcon::kError);
  works = true;
  EXPECT_TRUE(OpenOrTell(UrlOfTarget("/tmp"), &prompts, nullptr, open));
  EXPECT_EQ(prompts.boxes.size(), 2u);
  // Without prompts nothing is shown, the failure is still returned.
  works = false;
  EXPECT_FALSE(OpenOrTell(UrlOfTarget("/tmp"), nullptr, nullptr, open));
}

TEST(DesktopOpen, TheTargetIsNeverAFormat) {
  const QString text = OpenFailedText("/tmp/%s%n");
  EXPECT_TRUE(text.contains("/tmp/%s%n")) << text.toStdString();
}

}  // namespace
}  // namespace kelvara::ui
