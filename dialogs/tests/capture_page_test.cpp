// The image capture page as the user meets it: leaving a field, Enter and
// Escape send nothing; Save checks, then asks naming the device count, and
// only Yes gives a text.
#include <QFocusEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QComboBox>
#include <QSlider>
#include <QWheelEvent>
#include <QTest>
#include <gtest/gtest.h>

#include "dialogs/ui/dialog_media_code.h"
#include "dialogs/ui/dialog_media_light.h"
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
  brightness->setText(" 20");
  QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
  QApplication::sendEvent(brightness, &out);
  EXPECT_EQ(brightness->text(), "20");
  EXPECT_EQ(page.ControlAs<QSlider>(859)->value(), 20);
  QTest::keyClick(&page, Qt::Key_Return);
  QTest::keyClick(&page, Qt::Key_Escape);
  // A double click is swallowed (an edit selects no word).
  QTest::mouseDClick(brightness, Qt::LeftButton);
  EXPECT_TRUE(brightness->selectedText().isEmpty());
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

void Leave(QWidget* edit) {
  QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
  QApplication::sendEvent(edit, &out);
}

TEST(CapturePage, LeavingACheckedFieldClampsAndSyncsItsSliderOnly) {
  AnsweringPrompts prompts(ui::kAnswerYes);
  CMediaVCapture page(2);
  page.SetPrompts(&prompts);
  page.show();
  auto* brightness = page.ControlAs<QLineEdit>(1203);
  brightness->setText("300");
  Leave(brightness);
  ASSERT_EQ(prompts.messages.size(), 1u);
  EXPECT_EQ(prompts.messages[0], CMediaVCapture::LangText("IDS_STR_ZH_CN_MSG_TIPS47"));
  EXPECT_EQ(brightness->text(), "255");
  EXPECT_EQ(page.ControlAs<QSlider>(859)->value(), 255);
  // A new valid contrast neither saves nor closes the page.
  auto* contrast = page.ControlAs<QLineEdit>(609);
  contrast->setText("77");
  Leave(contrast);
  EXPECT_EQ(page.ControlAs<QSlider>(863)->value(), 77);
  EXPECT_TRUE(page.isVisible());
  EXPECT_TRUE(page.cancelled);
  EXPECT_TRUE(page.xml.empty());
  // Letters keep their text for the user to mend; the slider stays.
  contrast->setText("7a");
  Leave(contrast);
  EXPECT_EQ(contrast->text(), "7a");
  EXPECT_EQ(page.ControlAs<QSlider>(863)->value(), 77);
  EXPECT_EQ(prompts.messages.size(), 2u);
  // A window switch is no leaving.
  QFocusEvent away(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
  QApplication::sendEvent(contrast, &away);
  EXPECT_EQ(prompts.messages.size(), 2u);
  // Sliders write their edits; the values reach the text.
  page.ControlAs<QSlider>(868)->setValue(42);
  EXPECT_EQ(page.ControlAs<QLineEdit>(615)->text(), "42");
  contrast->setText("77");
  page.OnSave();
  EXPECT_NE(page.xml.find("Brightness=\"255\" Contrast=\"77\""), std::string::npos);
  EXPECT_NE(page.xml.find("TNF=\"42\""), std::string::npos);
}

TEST(CapturePage, ClosingWithAFieldInFocusAsksNothing) {
  AnsweringPrompts prompts(ui::kAnswerYes);
  CMediaVCapture page(2);
  page.SetPrompts(&prompts);
  page.show();
  page.activateWindow();
  QApplication::setActiveWindow(&page);
  auto* brightness = page.ControlAs<QLineEdit>(1203);
  brightness->setFocus(Qt::TabFocusReason);
  brightness->setText("abc");
  if (!brightness->hasFocus()) GTEST_SKIP() << "the platform gives no focus";
  page.close();
  EXPECT_TRUE(prompts.messages.empty());
  EXPECT_TRUE(page.cancelled);
}

TEST(CapturePage, ListsEnableTheControlsTheyGovern) {
  AnsweringPrompts prompts(ui::kAnswerNo);
  CMediaVCapture page(1);
  page.SetPrompts(&prompts);
  auto enabled = [&](int id) { return page.Control(id)->isEnabled(); };
  auto select = [&](int id, int index) { page.ControlAs<QComboBox>(id)->setCurrentIndex(index); };
  // Defaults: automatic everything, so the dependent controls are locked.
  for (int id : {866, 867, 2007, 2018, 2009, 1438, 1445, 1186, 1442, 1444, 1991, 617, 1562, 1563})
    EXPECT_FALSE(enabled(id)) << id;
  EXPECT_TRUE(enabled(589));  // IR-cut by software: its sensitivity
  select(1568, 1);
  select(1576, 1);
  select(1978, 1);
  select(1575, 1);
  select(1582, 1);
  page.SelectComboByData(1182, 1);
  for (int id : {866, 867, 2007, 2018, 2009, 1438, 1445, 1186}) EXPECT_TRUE(enabled(id)) << id;
  for (int id : {1442, 1444, 1991, 2019, 1992}) EXPECT_FALSE(enabled(id)) << id;
  page.SelectComboByData(1181, 1);
  EXPECT_FALSE(enabled(589));
  EXPECT_TRUE(enabled(1562));
  // Mode 3 on a fresh page: no day/night buttons.
  page.SelectComboByData(1181, 3);
  EXPECT_FALSE(page.Control(1183)->isVisibleTo(&page));
  // After a Save that stopped with mode 3 read, they show and build requests.
  page.ControlAs<QLineEdit>(589)->setText("101");
  page.OnSave();
  EXPECT_EQ(page.lastIrcutMode, 3);
  EXPECT_TRUE(page.cancelled);
  ASSERT_TRUE(page.Control(1183)->isVisibleTo(&page));
  ASSERT_TRUE(page.Control(1185)->isVisibleTo(&page));
  page.ControlAs<QPushButton>(1185)->click();
  EXPECT_EQ(page.dayNightRequest, "<REQUEST_PARAM Mode=\"NightMode\" />\n");
  page.ControlAs<QPushButton>(1183)->click();
  EXPECT_EQ(page.dayNightRequest, "<REQUEST_PARAM Mode=\"DayMode\" />\n");
  // Default puts every choice back and locks again.
  page.ControlAs<QPushButton>(1172)->click();
  for (int id : {866, 867, 2007, 1438, 1445, 1186}) EXPECT_FALSE(enabled(id)) << id;
  EXPECT_EQ(page.ControlAs<QLineEdit>(589)->text(), "50");
  EXPECT_EQ(page.ControlAs<QSlider>(859)->value(), 128);
}

TEST(CapturePage, ThreeGroupsAndScrolling) {
  CMediaVCapture page(1);
  const int opened = page.width();
  page.resize(opened, 300);
  page.show();
  const int w = page.PageWidth();
  // The window opens wide enough for every control beside the vertical bar.
  EXPECT_EQ(page.ClientSize().width(), page.ContentWidth());
  for (const auto& [id, control] : page.Controls()) {
    if (control->isHidden()) continue;
    EXPECT_LE(control->geometry().right(), page.ClientSize().width() - 10) << id;
  }
  auto geo = [&](int id) { return page.Control(id)->geometry(); };
  EXPECT_EQ(geo(1564).topLeft(), QPoint(10, 25));
  EXPECT_EQ(geo(1564).width(), w);
  EXPECT_EQ(geo(1197).x(), 10);
  EXPECT_EQ(geo(1971).x(), w / 2 + 12);
  EXPECT_EQ(geo(1971).y(), geo(1197).y());
  EXPECT_EQ(geo(1197).y(), geo(1564).bottom() + 1 + 10);
  EXPECT_EQ(geo(1197).width(), w / 2 - 2);
  // Rows inside the boxes; the left column's edit after its slider.
  EXPECT_GT(geo(859).x(), geo(1205).right());
  EXPECT_GT(geo(1203).x(), geo(859).right());
  EXPECT_GE(geo(1575).x(), w / 2 + 12);
  const int bottom = std::max(geo(1197).bottom(), geo(1971).bottom()) + 1;
  EXPECT_EQ(geo(1172), QRect(w - 200, bottom + 10, 80, 20));
  EXPECT_EQ(geo(1173), QRect(w - 100, bottom + 10, 80, 20));
  EXPECT_EQ(page.ContentHeight(), bottom + 10 + 40);
  for (int id : {1924, 1571, 1565, 1572, 1566, 1441, 866, 1442}) EXPECT_FALSE(page.Control(id)->isVisible()) << id;
  // The wheel scrolls a quarter of the window per message.
  const int saveY = geo(1173).y();
  QWheelEvent down(QPointF(50, 50), QPointF(50, 50), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                   Qt::NoScrollPhase, false);
  QApplication::sendEvent(&page, &down);
  EXPECT_EQ(page.ScrollOffset(), 300 / 4);
  EXPECT_EQ(geo(1173).y(), saveY - 300 / 4);
  // The bar's arrow and a click below its thumb move the same quarter.
  QScrollBar* vertical = nullptr;
  for (auto* b : page.findChildren<QScrollBar*>(Qt::FindDirectChildrenOnly))
    if (b->orientation() == Qt::Vertical && !b->isHidden()) vertical = b;
  ASSERT_NE(vertical, nullptr);
  EXPECT_EQ(vertical->pageStep(), 300);  // the thumb stands for the window
  vertical->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(page.ScrollOffset(), 2 * (300 / 4));
  vertical->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(page.ScrollOffset(), 3 * (300 / 4));
  vertical->triggerAction(QAbstractSlider::SliderPageStepSub);
  vertical->triggerAction(QAbstractSlider::SliderSingleStepSub);
  EXPECT_EQ(page.ScrollOffset(), 300 / 4);
  // Laid out again (a resize) at the same offset: nothing jumps.
  page.resize(opened, 301);
  EXPECT_EQ(geo(1173).y(), saveY - page.ScrollOffset());

  // Narrower than the page: a horizontal bar moves the page across, and a
  // layout at that offset keeps it there.
  auto across = [&] {
    for (auto* b : page.findChildren<QScrollBar*>(Qt::FindDirectChildrenOnly))
      if (b->orientation() == Qt::Horizontal && !b->isHidden()) return b;
    return static_cast<QScrollBar*>(nullptr);
  };
  EXPECT_EQ(across(), nullptr);
  page.resize(500, 300);
  QScrollBar* bar = across();
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->maximum(), page.ContentWidth() - page.ClientSize().width());
  const int saveX = geo(1173).x();
  bar->setValue(100);
  EXPECT_EQ(page.HorizontalOffset(), 100);
  EXPECT_EQ(geo(1173).x(), saveX - 100);
  page.resize(501, 300);
  EXPECT_EQ(geo(1173).x(), saveX - 100);
  EXPECT_EQ(geo(1564).x(), 10 - 100);
  page.resize(opened, 300);
  EXPECT_EQ(across(), nullptr);
  EXPECT_EQ(geo(1173).x(), w - 100);
}

}  // namespace
}  // namespace kelvara::dialogs

namespace kelvara::dialogs {
namespace {

// Each media page is titled with the text of its own group box, so the window
// list and the title bar tell the pages apart (not the program's name alone).
TEST(MediaPages, TitledAsTheirGroupBox) {
  CMediaVCapture capture(1);
  CMediaLight light(MediaLightConfig{});
  CMediaCode encode;
  const struct {
    ConfigDialog* page;
    int group;
    const char* key;
  } cases[] = {{&capture, 1197, "IDS_STR_ZH_CN_MEDIA_VIDEOCAPTURE"},
               {&light, 1564, "IDS_STR_LIGHT_CFG"},
               {&encode, 1464, "IDS_STR_ZH_CN_MEDIA_VIDEOENCODE"}};
  for (const auto& c : cases) {
    const QString title = c.page->windowTitle();
    EXPECT_FALSE(title.isEmpty()) << c.key;
    EXPECT_EQ(title.toStdString(), ui::CXDlg::LangText(c.key).toStdString()) << c.key;
    auto* box = qobject_cast<QGroupBox*>(c.page->Control(c.group));
    ASSERT_NE(box, nullptr) << c.key;
    EXPECT_EQ(box->title().toStdString(), title.toStdString()) << c.key;
  }
}

// With KELVARA_SCREENSHOT_DIR set, saves what the three pages paint
// (capture.png, capture-scrolled.png, light.png, encode.png) for a look by a person.
TEST(MediaPages, ScreenshotsOnRequest) {
  const char* dir = std::getenv("KELVARA_SCREENSHOT_DIR");
  if (!dir) GTEST_SKIP() << "KELVARA_SCREENSHOT_DIR not set";
  const QString out = QString::fromUtf8(dir) + "/";
  auto settle = [] {
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
  };
  CMediaVCapture capture(3);
  capture.resize(772, 1000);
  capture.show();
  settle();
  EXPECT_TRUE(capture.grab().save(out + "capture.png"));
  capture.resize(772, 500);
  capture.ScrollTo(250);
  settle();
  EXPECT_TRUE(capture.grab().save(out + "capture-scrolled.png"));
  CMediaLight light(MediaLightConfig{});
  light.show();
  settle();
  EXPECT_TRUE(light.grab().save(out + "light.png"));
  CMediaCode encode;
  encode.resize(772, 760);
  encode.show();
  settle();
  EXPECT_TRUE(encode.grab().save(out + "encode.png"));
}

}  // namespace
}  // namespace kelvara::dialogs
