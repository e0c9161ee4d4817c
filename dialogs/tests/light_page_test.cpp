// The trimming edit and the light page as the user meets them: limits,
// trimming on leaving a field, the keys, and Save.
#include <QComboBox>
#include <QFocusEvent>
#include <QLineEdit>
#include <QSlider>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>

#include "dialogs/ui/dialog_media_light.h"
#include "dialogs/ui/trimming_edit.h"

namespace kelvara::dialogs {
namespace {

void Focus(QWidget& w, QEvent::Type type) {
  QFocusEvent event(type, Qt::TabFocusReason);
  QApplication::sendEvent(&w, &event);
}

TEST(TrimmingEdit, LimitAppliedOnFocusAndKeptAfterCreation) {
  CEditExEx edit;
  edit.setText(QString(40, 'x'));  // set by the program: not limited
  EXPECT_EQ(edit.text().size(), 40);
  Focus(edit, QEvent::FocusIn);
  EXPECT_EQ(edit.text().size(), 40);  // focusing cuts nothing
  edit.end(false);
  QTest::keyClicks(&edit, "y");
  EXPECT_EQ(edit.text().size(), 40);  // but typing cannot lengthen it
  edit.clear();
  QTest::keyClicks(&edit, QString(31, '1'));
  EXPECT_EQ(edit.text().size(), 30);

  CEditExEx small;
  small.SetLimitText(3);
  small.setText("1234");  // the program's text stays whole whatever the limit
  EXPECT_EQ(small.text(), "1234");
  small.clear();
  Focus(small, QEvent::FocusIn);  // the limit set later is kept
  QTest::keyClicks(&small, "12345");
  EXPECT_EQ(small.text(), "123");
  Focus(small, QEvent::FocusOut);
  Focus(small, QEvent::FocusIn);
  small.end(false);
  QTest::keyClicks(&small, "9");
  EXPECT_EQ(small.text(), "123");
}

TEST(TrimmingEdit, LeavingTrims) {
  CEditExEx edit;
  for (const auto& [typed, left] : {std::pair<QString, QString>{" 25 ", "25"}, {"   ", ""}, {"\t7", "7"}}) {
    edit.setText(typed);
    Focus(edit, QEvent::FocusOut);
    EXPECT_EQ(edit.text(), left) << typed.toStdString();
  }
}

TEST(LightPage, ShowsRecordAndSavesItBack) {
  MediaLightConfig given;
  given.ircut_mode = 4;
  given.led_brightness_alarm = 1;
  given.led_brightness_value = 30;
  given.light_off_sensitivity = 100;
  given.led_mode = 1;
  CMediaLight page(given);
  EXPECT_EQ(page.ControlAs<QComboBox>(1181)->currentIndex(), 0);
  EXPECT_EQ(page.ControlAs<QComboBox>(1186)->currentData().toInt(), 30);
  EXPECT_EQ(page.ControlAs<QLineEdit>(617)->text(), "100");
  EXPECT_EQ(page.ControlAs<QComboBox>(1580)->currentData().toInt(), 1);
  page.ControlAs<QSlider>(870)->setValue(42);
  EXPECT_EQ(page.ControlAs<QLineEdit>(617)->text(), "42");

  page.OnSave();
  EXPECT_FALSE(page.cancelled);
  EXPECT_EQ(page.record.ircut_mode, 0);
  EXPECT_EQ(page.record.led_brightness_alarm, 1);
  EXPECT_EQ(page.record.light_off_sensitivity, 42);
  EXPECT_EQ(page.record.led_brightness_value, 30);
}

TEST(LightPage, EnterEscapeAndCloseBoxEndItUnsaved) {
  MediaLightConfig given;
  given.led_brightness_value = 50;
  const std::pair<const char*, std::function<void(CMediaLight&)>> ends[] = {
      {"Enter", [](CMediaLight& p) { QTest::keyClick(&p, Qt::Key_Return); }},
      {"Enter in a list", [](CMediaLight& p) { QTest::keyClick(p.Control(1186), Qt::Key_Enter); }},
      {"Escape", [](CMediaLight& p) { QTest::keyClick(&p, Qt::Key_Escape); }},
      {"close box", [](CMediaLight& p) { p.close(); }},
  };
  for (const auto& [name, end] : ends) {
    CMediaLight page(given);
    page.show();
    page.ControlAs<QComboBox>(1186)->setCurrentIndex(1);
    end(page);
    EXPECT_TRUE(page.cancelled) << name;
    EXPECT_FALSE(page.isVisible()) << name;
    EXPECT_EQ(page.record, given) << name;
  }
}

}  // namespace
}  // namespace kelvara::dialogs
