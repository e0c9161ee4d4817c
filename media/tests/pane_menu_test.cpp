// The pane context menu over a pane that plays (offscreen, devsim's RTSP
// server on loopback): in every recording state only the item of what runs
// carries a check mark, and Stop recording, a command, never does.
#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QTest>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kelvara_test/test_env.h"
#include "media/ui/live_view.h"
#include "media/ui/wnd_manager.h"
#include "video_grid_fixture.h"
#include "rtsp_server.h"
#include "zq_player.h"

namespace kelvara::media {
namespace {

class PaneMenuTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    rtsp_ = new devsim::RtspServer();
    devsim::RtspDevice device;
    device.ip = "127.0.0.1";
    device.port = 0;
    device.main_width = 640;
    device.main_height = 360;
    device.sub_width = 320;
    device.sub_height = 180;
    error_ = rtsp_->Start({device});
    ZQ_PLAYER_Init();
    ZQ_RTSP_CLINET_LIB_InitLib();
  }
  static void TearDownTestSuite() {
    ZQ_RTSP_CLINET_LIB_ReleaseLib();
    delete rtsp_;
    rtsp_ = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(error_.empty()) << error_;
    settings_.default_user = "admin";
    settings_.default_password = "admin123";
    row_.serial = "SN-LOOP";
    row_.device_type = "DAV-ODUVE-SIM";
    row_.ip = "127.0.0.1";
    row_.video_port = rtsp_->port(0);
    row_.online = true;
    row_.login_version = "V1";
    LiveViewHost host;
    host.settings = &settings_;
    host.row_at = [this](int row) { return row == 0 ? std::optional<LiveRow>(row_) : std::nullopt; };
    host.row_count = [] { return 1; };
    host.documents = kelvara::test::MakeTempDir("docs");
    host.private_dir = kelvara::test::MakeTempDir("private");
    grid_under_test_.Make(host, 640, 360);
  }
  void TearDown() override { grid_under_test_.End(); }

  // The item at a path of language keys (the host gives no texts, so an
  // item's text is its key).
  static QAction* Item(QMenu* menu, std::initializer_list<const char*> path) {
    QAction* found = nullptr;
    for (const char* text : path) {
      found = nullptr;
      for (QAction* a : menu != nullptr ? menu->actions() : QList<QAction*>{})
        if (a->text() == QLatin1String(text)) found = a;
      if (found == nullptr) return nullptr;
      menu = found->menu();
    }
    return found;
  }

  static devsim::RtspServer* rtsp_;
  static std::string error_;
  CSaveParam settings_;
  LiveRow row_;
  test::VideoGrid grid_under_test_;
  std::unique_ptr<ui::CDialogVideo>& video_ = grid_under_test_.video;
  ui::CWndManager*& grid_ = grid_under_test_.grid;
  std::unique_ptr<LiveView>& view_ = grid_under_test_.view;
};
devsim::RtspServer* PaneMenuTest::rtsp_ = nullptr;
std::string PaneMenuTest::error_;

// Each recording started from the menu, the menu built again, then stopped
// from the menu: the record submenu's items in each state.
TEST_F(PaneMenuTest, OnlyWhatRecordsIsCheckedAndStopNeverIs) {
  grid_->SetGrid(1, 1);
  ASSERT_EQ(view_->StartPanePreview(0, 0, 1, 0, 0), 0);
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        CDevInfo* r = view_->Record(0);
        if (r == nullptr) return false;
        std::lock_guard lock(r->recorders_mutex);
        return r->m_mediaInfo != nullptr;
      },
      20000));

  const char* const kStarts[] = {"MENU_PLAY_RECORD_START", "IDS_STR_TIMELAPSE", "MENU_PLAY_RECORD_STARTYUV",
                                 "RECORD_BARE_STREAM"};
  struct State {
    const char* name;
    const char* start;  // the item that starts it; null: nothing records
    bool (*runs)(LiveView&);
  };
  const State states[] = {
      {"nothing", nullptr, [](LiveView&) { return true; }},
      {"MP4", "MENU_PLAY_RECORD_START",
       [](LiveView& v) { return v.IsPaneRecording(0) == 1 && v.IsPaneKeyFrameOnly(0) == 0; }},
      {"time-lapse", "IDS_STR_TIMELAPSE",
       [](LiveView& v) { return v.IsPaneRecording(0) == 1 && v.IsPaneKeyFrameOnly(0) == 1; }},
      {"pictures", "MENU_PLAY_RECORD_STARTYUV", [](LiveView& v) { return v.IsPaneYuvDumping(0) == 1; }},
      {"raw stream", "RECORD_BARE_STREAM", [](LiveView& v) { return v.IsPaneStreamDumping(0) == 1; }},
  };
  for (const State& state : states) {
    SCOPED_TRACE(state.name);
    if (state.start != nullptr) {
      std::unique_ptr<QMenu> before(view_->BuildPaneMenu(nullptr));
      Item(before.get(), {"MENU_PLAY_RECORD", state.start})->trigger();
    }
    ASSERT_TRUE(state.runs(*view_));
    const bool any = state.start != nullptr;
    std::unique_ptr<QMenu> menu(view_->BuildPaneMenu(nullptr));
    ASSERT_NE(menu, nullptr);
    for (const char* key : kStarts) {
      const QAction* item = Item(menu.get(), {"MENU_PLAY_RECORD", key});
      const bool runs = state.start != nullptr && std::string(key) == state.start;
      EXPECT_EQ(item->isChecked(), runs) << key;
      EXPECT_EQ(item->isCheckable(), runs) << key;
      EXPECT_EQ(item->isEnabled(), !any) << key;  // one recording at a time
    }
    QAction* stop = Item(menu.get(), {"MENU_PLAY_RECORD", "MENU_PLAY_RECORD_STOP"});
    EXPECT_FALSE(stop->isChecked());
    EXPECT_FALSE(stop->isCheckable());
    EXPECT_EQ(stop->isEnabled(), any);
    for (const char* key : {"MENU_PLAY_RECORD_SNAPYUV", "MENU_PLAY_RECORD_SNAPJPG", "OPEN_RECORD_PATH"}) {
      const QAction* item = Item(menu.get(), {"MENU_PLAY_RECORD", key});
      EXPECT_FALSE(item->isCheckable()) << key;
      EXPECT_TRUE(item->isEnabled()) << key;
    }
    // Anywhere in the menu, a greyed item carries a check mark only for the
    // recording that runs.
    std::function<void(QMenu*)> walk = [&](QMenu* m) {
      for (QAction* a : m->actions()) {
        if (a->menu() != nullptr) {
          walk(a->menu());
        } else if (a->isChecked() && !a->isEnabled()) {
          EXPECT_TRUE(state.start != nullptr && a->text() == QLatin1String(state.start)) << a->text().toStdString();
        }
      }
    };
    walk(menu.get());
    if (any) {
      stop->trigger();
      EXPECT_EQ(view_->IsPaneRecording(0) + view_->IsPaneYuvDumping(0) + view_->IsPaneStreamDumping(0), 0);
    }
  }
}

}  // namespace
}  // namespace kelvara::media
