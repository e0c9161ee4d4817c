// Windows kept in the work area through the platform: offscreen windows have
// frames (2 pixels a side), so a client placed at the screen's edge has its
// frame beyond it until it is fitted.
#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include "common/ui/window_fit.h"

namespace kelvara::ui {
namespace {

TEST(WindowFitUi, AKeptWindowIsFittedAtEveryShowFrameIncluded) {
  const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
  QWidget window;
  KeepWindowInWorkArea(window);
  KeepWindowInWorkArea(window);  // once is enough; twice does no harm
  // The lower right corner of the work area as the client: the frame's right
  // and bottom edges would be off the screen.
  window.setGeometry(work.right() - 299, work.bottom() - 199, 300, 200);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  ASSERT_GT(window.frameGeometry().width(), window.width()) << "no window frame";
  EXPECT_TRUE(work.contains(window.frameGeometry()));
  EXPECT_EQ(window.size(), QSize(300, 200));  // moved, not shrunk

  // Hidden, moved off the screen and larger than it, shown again.
  window.hide();
  window.setGeometry(work.x() - 500, work.y() - 500, work.width() + 400, work.height() + 400);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  EXPECT_TRUE(work.contains(window.frameGeometry()));
}

TEST(WindowFitUi, OnlyShownWindowsInTheirNormalStateAreFitted) {
  const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
  QWidget hidden;
  hidden.setGeometry(work.right() - 10, 0, 300, 200);
  EXPECT_FALSE(FitWindowInWorkArea(hidden));
  EXPECT_EQ(hidden.geometry(), QRect(work.right() - 10, 0, 300, 200));

  QWidget shown;
  shown.setGeometry(work.x() + 50, work.y() + 50, 300, 200);
  shown.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&shown));
  EXPECT_FALSE(FitWindowInWorkArea(shown));  // inside already
  shown.move(work.right() - 100, work.y() + 50);
  EXPECT_TRUE(FitWindowInWorkArea(shown));
  EXPECT_TRUE(work.contains(shown.frameGeometry()));

  // A child widget is no window of its own.
  QWidget child(&shown);
  child.setGeometry(250, 150, 100, 100);
  child.show();
  EXPECT_FALSE(FitWindowInWorkArea(child));
}

}  // namespace
}  // namespace kelvara::ui
