// The grid widget's wiring (offscreen): layout, mouse gestures to PTZ
// signals, the wheel's stop, the context menu request, full screen, and the
// preview popup's online and offline states.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>

#include "media/core/pane_mouse.h"
#include "kelvara_test/test_env.h"
#include "media/ui/dialog_preview.h"
#include "media/ui/live_view.h"
#include "media/ui/wnd_manager.h"

namespace kelvara::ui {
namespace {

TEST(VideoGrid, LaysOutTheGridAndIgnoresMoreThan64Cells) {
  CDialogVideo host;
  CWndManager grid;
  grid.SetHostWindow(&host);
  grid.SetAreaSize(1003, 601);
  grid.SetGrid(4, 5);
  EXPECT_EQ(grid.GetPane(4)->geometry(), QRect(800, 0, 203, 150));
  EXPECT_EQ(grid.GetPane(19)->geometry(), QRect(800, 450, 203, 151));
  EXPECT_FALSE(grid.GetPane(20)->isVisibleTo(&grid));
  grid.SetGrid(9, 8);
  EXPECT_EQ(grid.PaneCountInGrid(), 20);
  EXPECT_NE(grid.GetPanePlayer(0), 0);
  EXPECT_EQ(grid.GetPanePlayer(64), 0);
  const QString caption = "7";
  grid.SetPaneCaption(0, &caption);
  EXPECT_EQ(grid.FindFreePane(), 1);
  QString out;
  EXPECT_EQ(grid.GetSelectedCaption(out), 0);
  EXPECT_EQ(out, "7");
  grid.SetPaneCaption(0, nullptr);
  EXPECT_EQ(grid.GetSelectedCaption(out), -2);
}

TEST(VideoGrid, MouseGesturesBecomePtzCommands) {
  CDialogVideo host;
  host.resize(800, 600);
  CWndManager grid;
  grid.SetHostWindow(&host);
  host.SetGrid(&grid);
  grid.SetGrid(2, 2);
  host.SetVisible(5);
  QSignalSpy ptz(&grid, &CWndManager::ptzCommand);
  QSignalSpy menu(&grid, &CWndManager::contextMenuRequested);
  QSignalSpy selected(&grid, &CWndManager::paneSelected);
  CWndCtrl* pane = grid.GetPane(3);
  const QPoint middle = pane->rect().center();
  QTest::mousePress(pane, Qt::LeftButton, {}, middle);
  QTest::mouseRelease(pane, Qt::LeftButton, {}, middle);
  EXPECT_EQ(ptz.count(), 0);  // the middle: nothing, and no stop
  EXPECT_EQ(grid.GetSelectedPane(), 3);
  EXPECT_GE(selected.count(), 1);

  QTest::mousePress(pane, Qt::LeftButton, {}, QPoint(3, middle.y()));
  QTest::mouseRelease(pane, Qt::LeftButton, {}, QPoint(3, middle.y()));
  ASSERT_EQ(ptz.count(), 2);
  EXPECT_EQ(ptz[0], (QList<QVariant>{3, media::kPtzLeft}));
  EXPECT_EQ(ptz[1], (QList<QVariant>{3, media::kPtzStop}));
  ptz.clear();

  for (int delta : {120, 120, 120}) {
    QWheelEvent wheel(QPointF(middle), QPointF(pane->mapToGlobal(middle)), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(pane, &wheel);
  }
  EXPECT_EQ(ptz.count(), 3);
  EXPECT_TRUE(pane->WheelTimerActive());
  pane->OnWheelZoomStop();
  ASSERT_EQ(ptz.count(), 4);
  EXPECT_EQ(ptz[3], (QList<QVariant>{3, media::kPtzStop}));
  EXPECT_FALSE(pane->WheelTimerActive());

  QTest::mousePress(pane, Qt::RightButton, {}, middle);
  EXPECT_EQ(menu.count(), 1);
}

TEST(VideoGrid, DoubleClickShowsThePaneAloneAndBack) {
  CDialogVideo host;
  host.resize(900, 600);
  CWndManager grid;
  grid.SetHostWindow(&host);
  host.SetGrid(&grid);
  grid.SetGrid(3, 3);
  host.SetVisible(5);
  QSignalSpy changed(&grid, &CWndManager::fullScreenChanged);
  grid.SelectPane(4);
  QTest::mouseDClick(grid.GetPane(4), Qt::LeftButton);
  ASSERT_TRUE(grid.IsFullScreen());
  EXPECT_EQ(grid.parentWidget(), nullptr);
  EXPECT_TRUE(grid.GetPane(4)->isVisible());
  EXPECT_FALSE(grid.GetPane(0)->isVisible());
  QTest::mouseDClick(grid.GetPane(4), Qt::LeftButton);
  EXPECT_FALSE(grid.IsFullScreen());
  EXPECT_EQ(grid.parentWidget(), &host);
  EXPECT_TRUE(grid.GetPane(0)->isVisibleTo(&grid));
  ASSERT_EQ(changed.count(), 2);
  EXPECT_EQ(changed[0], (QList<QVariant>{4, 1}));
  EXPECT_EQ(changed[1], (QList<QVariant>{4, 0}));
}

// Counts the raise requests a window gets (its z-order changes).
class RaiseCounter : public QObject {
 public:
  int raised = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::ZOrderChange) ++raised;
    return false;
  }
};

// The video window is brought to the front each time the live view shows it,
// also when it is already open behind the main window: Play all and a new
// layout both raise and activate it.
TEST(VideoWindow, ComesToTheFrontWheneverTheLiveViewShowsIt) {
  QWidget main_window;
  main_window.show();
  main_window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&main_window));
  CDialogVideo video;
  auto* grid = new CWndManager();
  grid->SetHostWindow(&video);
  video.SetGrid(grid);
  RaiseCounter counter;
  video.installEventFilter(&counter);
  media::LiveViewHost host;
  host.documents = kelvara::test::MakeTempDir("docs");
  media::LiveView view(host);
  view.Attach(grid, &video);
  const std::pair<const char*, std::function<void()>> shows[] = {
      {"play all", [&] { view.OpenAllPreviews(); }},
      {"play all again", [&] { view.OpenAllPreviews(); }},
      {"new layout", [&] { view.OnMenuSplit(32933); }},
  };
  int raised = 0;
  for (const auto& [name, show] : shows) {
    SCOPED_TRACE(name);
    main_window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&main_window));
    show();
    EXPECT_TRUE(video.isVisible());
    EXPECT_GT(counter.raised, raised);
    raised = counter.raised;
    EXPECT_TRUE(QTest::qWaitForWindowActive(&video, 2000));
  }
}

TEST(PreviewPopup, ButtonsWorkOnlyWhileOnline) {
  media::CDialogPreview preview;
  preview.SetInfoText("SN0001");
  QSignalSpy web(&preview, &media::CDialogPreview::openDeviceWeb);
  QSignalSpy live(&preview, &media::CDialogPreview::openDeviceLiveView);
  EXPECT_EQ(preview.WebIcon(), 146);
  EXPECT_EQ(preview.LiveIcon(), 147);
  preview.WebButton()->click();
  preview.LiveButton()->click();
  ASSERT_EQ(web.count(), 1);
  EXPECT_EQ(web[0][0].toString(), "SN0001");
  EXPECT_EQ(live.count(), 1);
  preview.SetOnlineState(0);
  EXPECT_EQ(preview.WebIcon(), 151);
  EXPECT_EQ(preview.LiveIcon(), 150);
  preview.WebButton()->click();
  preview.LiveButton()->click();
  EXPECT_EQ(web.count(), 1);
  EXPECT_EQ(live.count(), 1);
}

}  // namespace
}  // namespace kelvara::ui
