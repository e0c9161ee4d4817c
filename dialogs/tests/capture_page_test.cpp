// The image capture page as the user meets it: leaving a field, Enter and
// Escape send nothing; Save checks, then asks naming the device count, and
// only Yes gives a text.
#include <QFocusEvent>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

#include "dialogs/ui/dialog_media_vcapture.h"

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

TEST(CapturePage, LeavingFieldsAndKeysSendNothing) {
  AnsweringPrompts prompts(ui::kAnswerYes);
  CMediaVCapture page(3);
  page.SetPrompts(&prompts);
  page.show();
  auto* brightness = page.ControlAs<QLineEdit>(1203);
  brightness->setText(" 200 ");
  QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
  QApplication::sendEvent(brightness, &out);
  EXPECT_EQ(brightness->text(), "200");
  QTest::keyClick(&page, Qt::Key_Return);
  QTest::keyClick(&page, Qt::Key_Escape);
  EXPECT_TRUE(page.isVisible());
  EXPECT_TRUE(page.cancelled);
  EXPECT_TRUE(page.xml.empty());
  EXPECT_TRUE(prompts.messages.empty());
  page.close();  // the close box
  EXPECT_TRUE(page.cancelled);
}

TEST(CapturePage, SaveAsksNamingDevicesAndOnlyYesGivesText) {
  AnsweringPrompts no(ui::kAnswerNo);
  CMediaVCapture page(3);
  page.SetPrompts(&no);
  page.ControlAs<QLineEdit>(1203)->setText("256");
  page.OnSave();
  ASSERT_EQ(no.messages.size(), 1u);
  EXPECT_TRUE(page.cancelled);

  page.ControlAs<QLineEdit>(1203)->setText("200");
  page.OnSave();
  ASSERT_EQ(no.messages.size(), 2u);
  EXPECT_TRUE(no.messages[1].contains("3"));
  EXPECT_TRUE(page.cancelled);
  EXPECT_TRUE(page.xml.empty());

  AnsweringPrompts yes(ui::kAnswerYes);
  page.SetPrompts(&yes);
  page.OnSave();
  EXPECT_FALSE(page.cancelled);
  EXPECT_EQ(page.xml, SaveVideoCapture(page.ReadControls()).xml);
  EXPECT_NE(page.xml.find("Brightness=\"200\""), std::string::npos);
}

TEST(CapturePage, DefaultsGiveTheDefaultText) {
  AnsweringPrompts yes(ui::kAnswerYes);
  CMediaVCapture page(1);
  page.SetPrompts(&yes);
  page.OnSave();
  EXPECT_EQ(page.xml, SaveVideoCapture(FormFromRecord(DefaultVideoCaptureParams())).xml);
}

}  // namespace
}  // namespace kelvara::dialogs
