// The owner-drawn buttons render at any size and keep their click rules.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEnterEvent>
#include <QImage>
#include <QSignalSpy>
#include <QTest>

#include "controls/ui/button_ex.h"
#include "controls/ui/shade_button_st.h"

namespace kelvara::controls {
namespace {

TEST(ButtonsTest, RenderAtAnySize) {
  const QSize sizes[] = {{0, 0}, {1, 1}, {3, 2}, {2, 50}, {200, 40}};
  QPixmap icon(16, 16);
  icon.fill(Qt::red);
  for (const QSize& s : sizes) {
    for (int style = 0; style <= 9; ++style) {
      CShadeButtonST shade("Batch");
      shade.resize(s);
      shade.SetShade(style, 8, 10, 0, 0);
      shade.SetIcon(QIcon(icon));
      EXPECT_EQ(shade.NormalShade().Width(), s.width() > 0 && s.height() > 0 ? s.width() : 0);
      shade.grab();
      shade.SetFlatStyle(false);
      shade.setEnabled(false);
      shade.grab();
    }
    CButtonEx ex("OK");
    ex.resize(s);
    ex.grab();
  }
}

TEST(ButtonsTest, ButtonExDefaultsToThePalette) {
  CButtonEx ex("OK");
  ex.resize(60, 24);
  const QImage img = ex.grab().toImage();
  EXPECT_EQ(img.pixelColor(10, 12), ex.palette().color(QPalette::Button)) << "no colours set: not black";
  ex.SetBkColor(MakeColorRef(0, 128, 0));
  const QImage green = ex.grab().toImage();
  EXPECT_EQ(green.pixelColor(10, 12), QColor(0, 128, 0));
  EXPECT_EQ(green.pixelColor(0, 0), QColor(Qt::black)) << "black frame";
}

TEST(ButtonsTest, StateColoursAndShift) {
  CButtonST b("x");
  EXPECT_EQ(b.SetStateColor(6, 0), CButtonST::kInvalidIndex);
  EXPECT_EQ(b.SetStateColor(CButtonST::kBkOut, MakeColorRef(200, 100, 50)), CButtonST::kOk);
  EXPECT_EQ(b.ShiftStateColor(CButtonST::kBkOut, 100), CButtonST::kOk);
  ColorRef c = 0;
  b.GetStateColor(CButtonST::kBkOut, &c);
  EXPECT_EQ(c, MakeColorRef(255, 155, 105)) << "shift reduced to 55";
  b.ShiftStateColor(CButtonST::kBkOut, -255);
  b.GetStateColor(CButtonST::kBkOut, &c);
  EXPECT_EQ(c, MakeColorRef(150, 50, 0));
  EXPECT_EQ(b.ShiftStateColor(CButtonST::kBkOut, 300), CButtonST::kBadParam);
  EXPECT_EQ(b.SetImageAlignment(3), CButtonST::kInvalidAlign);
  b.ResetColors();
  b.GetStateColor(CButtonST::kBkIn, &c);
  const QColor face = b.palette().color(QPalette::Button);
  EXPECT_EQ(c, MakeColorRef(face.red(), face.green(), face.blue()));
}

TEST(ButtonsTest, DoubleClickIsTwoClicksAndCheckBoxToggles) {
  CShadeButtonST b("x");
  b.resize(80, 30);
  b.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&b));
  QSignalSpy clicked(&b, &QPushButton::clicked);
  // What a double click delivers: press, release, double click, release.
  QTest::mouseClick(&b, Qt::LeftButton);
  QTest::mouseDClick(&b, Qt::LeftButton);
  QTest::mouseRelease(&b, Qt::LeftButton);
  EXPECT_EQ(clicked.count(), 2);
  b.SetCheckBox(true);
  QTest::mouseClick(&b, Qt::LeftButton);
  EXPECT_TRUE(b.IsChecked());
  QTest::mouseClick(&b, Qt::LeftButton);
  EXPECT_FALSE(b.IsChecked());
}

}  // namespace
}  // namespace kelvara::controls

namespace kelvara::controls {
namespace {

// A flat button shows no border until hovered, a raised one while hovered
// and a sunken one while pressed.
TEST(ButtonsTest, FlatBorderFollowsHoverAndPress) {
  CButtonST b("x");
  b.resize(60, 24);
  b.SetStateColor(CButtonST::kBkOut, MakeColorRef(10, 20, 30));
  b.SetStateColor(CButtonST::kBkIn, MakeColorRef(10, 20, 30));
  const QRgb light = b.palette().color(QPalette::Light).rgb(), dark = b.palette().color(QPalette::Dark).rgb();
  QImage img = b.grab().toImage();
  EXPECT_EQ(img.pixelColor(0, 0), QColor(10, 20, 30));
  EXPECT_EQ(img.pixelColor(59, 23), QColor(10, 20, 30));
  QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
  QApplication::sendEvent(&b, &enter);
  ASSERT_TRUE(b.IsHovered());
  img = b.grab().toImage();
  EXPECT_EQ(img.pixel(0, 0), light);
  EXPECT_EQ(img.pixel(59, 23), dark);
  b.setDown(true);
  img = b.grab().toImage();
  EXPECT_EQ(img.pixel(0, 0), dark);
  EXPECT_EQ(img.pixel(59, 23), light);
  b.setDown(false);
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(&b, &leave);
  EXPECT_FALSE(b.IsHovered());
}

}  // namespace
}  // namespace kelvara::controls
