// The live view in the test LAN against devsim (in this process, in the LAN
// namespace): 1, 4 and 16 panes get pictures through the grid's players, a
// pane switches between main and sub stream, closing everything while frames
// arrive, PTZ and preset commands from the panes recorded by devsim.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QTest>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "VaRurOvoDiv/zq_netsdk_ipc.h"
#include "kelvara_test/test_env.h"
#include "kelvara_test/test_lan.h"
#include "media/core/pane_mouse.h"
#include "media/ui/live_view.h"
#include "media/ui/wnd_manager.h"
#include "video_grid_fixture.h"
#include "rtsp_server.h"
#include "journal_bytes.h"
#include "simulator.h"
#include "zq_player.h"

namespace kelvara::media {
namespace {

using kelvara::test::LanSide;
using kelvara::test::TestLan;
using kelvara::test::TestLanOptions;

constexpr int kDevices = 16;
constexpr int kTwoChannelDevice = 15;  // serves /ch01 and /ch02

class LiveViewLanTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string why;
    lan_ = TestLan::Create(TestLanOptions{.lan_addresses = kDevices}, &why).release();
    if (lan_ == nullptr) {
      skip_ = why;
      return;
    }
    devsim::SimConfig config;
    config.discovery_port = 0;
    config.stdin_control = false;
    std::vector<devsim::RtspDevice> streams;
    for (int i = 0; i < kDevices; ++i) {
      devsim::DeviceConfig d;
      d.ip = TestLan::LanAddress(i);
      d.device_type = "DAV-ODUVE-SIM";
      d.command_port = 8091;
      d.log_port = 9999;
      devsim::CompleteDevice(d, i);
      config.devices.push_back(d);
      devsim::RtspDevice r;
      r.ip = d.ip;
      r.port = 554;
      if (i == kTwoChannelDevice) r.channels = 2;
      streams.push_back(r);
    }
    std::string error = lan_->CallInThread(LanSide::kLan, [&] {
      sim_ = new devsim::Simulator(config);
      std::string e = sim_->Start();
      if (e.empty()) {
        rtsp_ = new devsim::RtspServer();
        e = rtsp_->Start(streams);
      }
      return e;
    });
    if (!error.empty()) {
      skip_ = error;
      return;
    }
    // The UI thread joins the PC side: every stream and SDK thread it starts lives there.
    if (!lan_->EnterOnThisThread(LanSide::kPc)) {
      skip_ = "cannot enter the PC namespace";
      return;
    }
    ZQ_PLAYER_Init();
    ZQ_RTSP_CLINET_LIB_InitLib();
    ZQ_NETSDK_IPC_Init();
    ready_ = true;
  }
  static void TearDownTestSuite() {
    if (ready_) {
      ZQ_NETSDK_IPC_Cleanup();
      ZQ_RTSP_CLINET_LIB_ReleaseLib();
    }
    delete rtsp_;
    if (sim_ != nullptr) sim_->Stop();
    delete sim_;
    delete lan_;
  }

  void SetUp() override {
    if (!ready_) GTEST_SKIP() << "test LAN unavailable (" << skip_ << ")";
    settings_.full_switch_stream = 1;
    settings_.default_user = "admin";
    settings_.default_password = "admin123";
    for (int i = 0; i < kDevices; ++i) {
      LiveRow r;
      r.serial = sim_->device(i).serial();
      r.device_type = "DAV-ODUVE-SIM";
      r.ip = TestLan::LanAddress(i);
      r.online = true;
      r.login_version = "V1";
      r.login_handle = 0;
      rows_.push_back(r);
    }
    LiveViewHost host;
    host.settings = &settings_;
    host.row_at = [this](int row) -> std::optional<LiveRow> {
      if (row < 0 || row >= static_cast<int>(rows_.size())) return std::nullopt;
      return rows_[static_cast<size_t>(row)];
    };
    host.row_count = [this] { return static_cast<int>(rows_.size()); };
    host.mark_rows = [this](std::optional<int> login) { marks_.push_back(login ? *login : -1); };
    host.display_switch = [this](int id) { return switches_.count(id) != 0 ? switches_[id] : 1; };
    host.sound_checked = [this] { return sound_checked_; };
    host.sound_wanted = [this] { ++sound_wanted_; };
    host.documents = kelvara::test::MakeTempDir("docs");
    host.private_dir = kelvara::test::MakeTempDir("private");
    grid_under_test_.Make(host, 1280, 720);
  }
  void TearDown() override { grid_under_test_.End(); }

  bool AllPanesPaint(int count) {
    return QTest::qWaitFor(
        [&] {
          for (int i = 0; i < count; ++i) {
            long long decoded = 0, painted = 0;
            ZQ_PLAYER_GetFrameCounts(grid_->GetPanePlayer(i), &decoded, &painted);
            if (decoded < 10 || painted < 2) return false;
          }
          return true;
        },
        40000);
  }

  // Logs in to device `index`, waits until it takes PTZ commands (a stop) and
  // gives its row the login and the PTZ ability. 0 when the login failed.
  int LoginPtzRow(int index) {
    const int login = ZQ_NETSDK_IPC_Login(TestLan::LanAddress(index).c_str(), 8091, "admin", "admin123", 0);
    if (login <= 0) return 0;
    if (!QTest::qWaitFor([&] { return ZQ_NETSDK_IPC_PTZControl(login, 26, 1, 1) == 0; }, 15000)) {
      ADD_FAILURE() << "device " << index << " takes no PTZ command";
    }
    QTest::qWait(300);
    rows_[static_cast<size_t>(index)].login_handle = login;
    rows_[static_cast<size_t>(index)].ability_text = "ptz_control";
    return login;
  }

  static TestLan* lan_;
  static devsim::Simulator* sim_;
  static devsim::RtspServer* rtsp_;
  static std::string skip_;
  static bool ready_;
  CSaveParam settings_;
  std::vector<LiveRow> rows_;
  std::map<int, int> switches_;  // display switches; absent: on
  std::vector<int> marks_;  // the device list's rows marked for the selected pane (-1: none)
  bool sound_checked_ = false;  // the main window's Audio box
  int sound_wanted_ = 0;        // panes the live view turned to be heard
  test::VideoGrid grid_under_test_;
  std::unique_ptr<ui::CDialogVideo>& video_ = grid_under_test_.video;
  ui::CWndManager*& grid_ = grid_under_test_.grid;
  std::unique_ptr<LiveView>& view_ = grid_under_test_.view;
};
TestLan* LiveViewLanTest::lan_ = nullptr;
devsim::Simulator* LiveViewLanTest::sim_ = nullptr;
devsim::RtspServer* LiveViewLanTest::rtsp_ = nullptr;
std::string LiveViewLanTest::skip_;
bool LiveViewLanTest::ready_ = false;

TEST_F(LiveViewLanTest, OneFourAndSixteenPanesAllGetPictures) {
  for (int count : {1, 4, 16}) {
    SCOPED_TRACE(count);
    const int side = static_cast<int>(std::lround(std::sqrt(count)));
    grid_->SetGrid(side, side);
    for (int i = 0; i < count; ++i) {
      const int pane = grid_->FindFreePane();
      ASSERT_EQ(pane, i);
      ASSERT_EQ(view_->StartPanePreview(i, 0, 1, pane, 0), 0);
    }
    EXPECT_EQ(view_->PlayingCount(), count);
    // The same device channel again only selects its pane.
    EXPECT_EQ(view_->StartPanePreview(0, 0, 1, count - 1, 0), 0);
    EXPECT_EQ(grid_->GetSelectedPane(), 0);
    EXPECT_TRUE(AllPanesPaint(count));
    EXPECT_EQ(grid_->GetPaneCaption(0), QStringLiteral("0"));
    // The picture is in the window: the middle of the last pane shows the
    // test pattern's colour bars, not the black of an empty pane.
    const QImage shot = video_->grab().toImage();
    const QPoint middle = grid_->GetPane(count - 1)->geometry().center();
    EXPECT_NE(shot.pixelColor(middle), QColor(Qt::black));
    if (const char* keep = std::getenv("KELVARA_KEEP_GRID_SHOT")) shot.save(QString::fromUtf8(keep));
    // Closed while frames arrive: every stream stopped, every pane free.
    EXPECT_EQ(view_->CloseAllPreviews(), 0);
    EXPECT_EQ(view_->PlayingCount(), 0);
    EXPECT_TRUE(grid_->GetPaneCaption(0).isEmpty());
  }
}

TEST_F(LiveViewLanTest, PaneSwitchesBetweenMainAndSubStream) {
  grid_->SetGrid(1, 1);
  ASSERT_EQ(view_->StartPanePreview(2, 0, 1, 0, 0), 0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return view_->Record(0) && view_->Record(0)->m_mediaInfo; }, 20000));
  EXPECT_EQ(view_->GetPaneSubStream(0), 1);
  view_->SwitchPaneStream(0, 1);
  EXPECT_EQ(view_->GetPaneSubStream(0), 0);
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        CDevInfo* r = view_->Record(0);
        if (r == nullptr) return false;
        std::lock_guard lock(r->recorders_mutex);
        return r->m_mediaInfo && r->m_mediaInfo->video.width == 1920;
      },
      20000));
  view_->SwitchPaneStream(0, 1);  // already the main stream: nothing
  EXPECT_EQ(view_->GetPaneSubStream(0), 0);
  // The keys of the grid need the stream switch on.
  settings_.full_switch_stream = 0;
  view_->OnSetStream(0, 0);
  EXPECT_EQ(view_->GetPaneSubStream(0), 0);
  settings_.full_switch_stream = 1;
  view_->OnSetStream(0, 0);
  EXPECT_EQ(view_->GetPaneSubStream(0), 1);
}

TEST_F(LiveViewLanTest, LayoutCommandsAndTheSnapshotFolder) {
  std::string opened;
  LiveViewHost host;
  host.settings = &settings_;
  host.documents = kelvara::test::MakeTempDir("docs");
  host.open_url = [&](const std::string& url) { opened = url; };
  LiveView view(host);
  view.Attach(grid_, video_.get());
  view.OnMenuSplit(32935);
  EXPECT_EQ(grid_->PaneCountInGrid(), 20);
  EXPECT_EQ(settings_.video_rows, 4);
  EXPECT_EQ(settings_.video_cols, 5);
  view.OnMenuSplit(32929);  // none: the window is hidden
  EXPECT_FALSE(video_->isVisible());
  view.OpenSnapFolder();
  EXPECT_EQ(opened, (host.documents / "snap").string());
  EXPECT_TRUE(std::filesystem::is_directory(host.documents / "snap"));
}

TEST_F(LiveViewLanTest, UnsupportedModelIsRefusedWithItsType) {
  rows_[3].device_type = "NVS-NVR-16";
  std::string said;
  LiveViewHost host;
  host.settings = &settings_;
  host.row_at = [this](int row) -> std::optional<LiveRow> { return rows_[static_cast<size_t>(row)]; };
  host.error_box = [&](const std::string& text, const std::string&) { said = text; };
  LiveView view(host);
  view.Attach(grid_, video_.get());
  EXPECT_EQ(view.StartPanePreview(3, 0, 1, 0, 0), -1);
  EXPECT_NE(said.find("NVR-16"), std::string::npos);
  EXPECT_EQ(said.find("NVS-NVR-"), std::string::npos);
  EXPECT_EQ(view.PlayingCount(), 0);
}

// The bytes devsim received over the SDK link, decoded from its journal.
std::string SdkBytes(const std::string& journal) { return devsim::JournalBytes(journal); }

TEST_F(LiveViewLanTest, PanePtzAndPresetsReachTheDevice) {
  const int login = LoginPtzRow(4);
  ASSERT_GT(login, 0);
  rows_[5].login_handle = 0;  // no PTZ ability: nothing is sent for it
  settings_.af_study.nPtzSpeed = 4;
  grid_->SetGrid(1, 2);
  ASSERT_EQ(view_->StartPanePreview(4, 0, 1, 0, 0), 0);
  ASSERT_EQ(view_->StartPanePreview(5, 0, 1, 1, 0), 0);
  sim_->Control("journal 4 clear");
  // A press at the left edge of pane 0, the release, a wheel notch and its stop.
  emit grid_->ptzCommand(0, kPtzLeft);
  emit grid_->ptzCommand(0, kPtzStop);
  emit grid_->ptzCommand(1, kPtzUp);  // pane 1's device has no PTZ
  view_->OnPresetSet(0, 3);
  view_->OnPresetCall(0, 5);
  view_->On3DLocate(0, (10u << 24) | (20u << 16) | (30u << 8) | 40u);
  QTest::qWait(200);
  std::string journal;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        journal = SdkBytes(sim_->Control("journal 4"));
        return journal.find("Command=\"27\"") != std::string::npos;
      },
      5000));
  EXPECT_NE(journal.find("<PTZ_CONTROL Command=\"19\" Param1=\"4\" Param2=\"4\" />"), std::string::npos);
  EXPECT_NE(journal.find("<PTZ_CONTROL Command=\"26\" Param1=\"4\""), std::string::npos);
  EXPECT_EQ(journal.find("Command=\"17\""), std::string::npos);
  EXPECT_NE(journal.find("<PTZ_PRESET Operation=\"8\" Preset=\"3\" />"), std::string::npos);
  EXPECT_NE(journal.find("<PTZ_PRESET Operation=\"39\" Preset=\"5\" />"), std::string::npos);
  EXPECT_NE(journal.find("Command=\"27\" Param1=\"2580\" Param2=\"7720\""), std::string::npos);
  // The key frame asked for at the start reached the device.
  EXPECT_GE(sim_->device(4).key_frame_requests(), 1);
  ZQ_NETSDK_IPC_Logout(login);
}

// The device list marks the rows of the selected pane's device, and only
// while that pane plays it.
TEST_F(LiveViewLanTest, SelectedPaneMarksItsDeviceRows) {
  rows_[6].login_handle = 61;
  rows_[7].login_handle = 71;
  grid_->SetGrid(1, 3);
  grid_->SelectPane(0);
  QApplication::processEvents();
  marks_.clear();
  ASSERT_EQ(view_->StartPanePreview(6, 0, 1, 0, 0), 0);  // into the selected pane
  ASSERT_EQ(view_->StartPanePreview(7, 0, 1, 1, 0), 0);
  EXPECT_EQ(marks_, std::vector<int>{61});
  auto last_mark_after = [&](auto&& step) {
    marks_.clear();
    step();
    QApplication::processEvents();  // the grid's selection arrives queued
    return marks_.empty() ? -2 : marks_.back();  // -2: left as they were
  };
  EXPECT_EQ(last_mark_after([&] { grid_->SelectPane(1); }), 71);
  EXPECT_EQ(last_mark_after([&] { grid_->SelectPane(2); }), -1);  // an empty pane
  EXPECT_EQ(last_mark_after([&] { grid_->SelectPane(1); }), 71);
  // Closing another pane leaves the marks; closing the selected one clears them.
  EXPECT_EQ(last_mark_after([&] { view_->StopPanePreview(0); }), -2);
  EXPECT_EQ(last_mark_after([&] { view_->StopPanePreview(1); }), -1);
  ASSERT_EQ(view_->StartPanePreview(6, 0, 1, 0, 0), 0);
  EXPECT_EQ(last_mark_after([&] { grid_->SelectPane(0); }), 61);
  EXPECT_EQ(last_mark_after([&] { view_->CloseAllPreviews(); }), -1);
  // With the Audio box ticked, the pane that is to be heard is announced (the
  // main window says so when there is no audio output); without it, none was.
  EXPECT_EQ(sound_wanted_, 0);
  sound_checked_ = true;
  ASSERT_EQ(view_->StartPanePreview(6, 0, 1, 0, 0), 0);
  QApplication::processEvents();
  EXPECT_EQ(sound_wanted_, 1);
}

// The focusing window's grid: 3 x 3 green cells over every playing pane, and gone again.
TEST_F(LiveViewLanTest, MotionGridIsDrawnOverThePlayingPanes) {
  grid_->SetGrid(1, 2);
  ASSERT_EQ(view_->StartPanePreview(8, 0, 1, 0, 0), 0);
  ASSERT_EQ(view_->StartPanePreview(9, 0, 1, 1, 0), 0);
  ASSERT_TRUE(AllPanesPaint(2));
  auto green = [&](int pane) {
    const QImage shot = grid_->GetPane(pane)->grab().toImage();
    int count = 0;
    for (int y = 0; y < shot.height(); ++y)
      for (int x = 0; x < shot.width(); ++x) count += shot.pixelColor(x, y) == QColor(0, 255, 0) ? 1 : 0;
    return count;
  };
  // The test pattern has green of its own, which changes from picture to
  // picture: the streams are held still, so the grid is all that changes.
  struct Resume {
    devsim::RtspServer* rtsp;
    ~Resume() {
      for (int device : {8, 9}) rtsp->SetFault(device, devsim::StreamFault::kRun);
    }
  } resume{rtsp_};
  for (int device : {8, 9}) rtsp_->SetFault(device, devsim::StreamFault::kStall);
  auto decoded = [&] {
    long long total = 0;
    for (int pane : {0, 1}) {
      long long d = 0, painted = 0;
      ZQ_PLAYER_GetFrameCounts(grid_->GetPanePlayer(pane), &d, &painted);
      total += d;
    }
    return total;
  };
  long long seen = decoded();
  ASSERT_TRUE(QTest::qWaitFor(  // no picture decoded for 300 ms
      [&] {
        QTest::qWait(300);
        const long long now = decoded();
        const bool still = now == seen;
        seen = now;
        return still;
      },
      10000));
  const int height = grid_->GetPane(0)->height();
  const int before[2] = {green(0), green(1)};
  view_->OnMotionGridOn(3, 3);
  for (int pane : {0, 1}) EXPECT_GT(green(pane) - before[pane], 4 * height) << pane;  // six cell sides down each pane
  view_->OnMotionGridOff();
  for (int pane : {0, 1}) EXPECT_LT(std::abs(green(pane) - before[pane]), height / 2) << pane;
}

// The pane menu over a playing pane: its submenus by the display switches,
// the states of the stream and record items, and what the items do.
TEST_F(LiveViewLanTest, PaneMenuShowsTheStateAndItsItemsAct) {
  switches_[33374] = 0;  // no PTZ zoom tour submenu
  grid_->SetGrid(1, 1);
  ASSERT_EQ(view_->StartPanePreview(10, 0, 1, 0, 0), 0);
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        CDevInfo* r = view_->Record(0);
        if (r == nullptr) return false;
        std::lock_guard lock(r->recorders_mutex);
        return r->m_mediaInfo != nullptr;
      },
      20000));
  auto item = [](QMenu* menu, std::initializer_list<const char*> path) -> QAction* {
    QAction* found = nullptr;
    for (const char* text : path) {
      found = nullptr;
      for (QAction* a : menu != nullptr ? menu->actions() : QList<QAction*>{})
        if (a->text() == QLatin1String(text)) found = a;
      if (found == nullptr) return nullptr;
      menu = found->menu();
    }
    return found;
  };
  std::unique_ptr<QMenu> menu(view_->BuildPaneMenu(nullptr));
  ASSERT_NE(menu, nullptr);
  EXPECT_NE(item(menu.get(), {"IDS_AF_STUDY"}), nullptr);
  EXPECT_EQ(item(menu.get(), {"IDS_PTZ_MULTIPLE_SET"}), nullptr);
  EXPECT_NE(item(menu.get(), {"IDS_DZOOM_MULTIPLE_SET"}), nullptr);
  EXPECT_TRUE(item(menu.get(), {"MENU_PLAY_STREAM", "MENU_PLAY_STREAM_SUB"})->isChecked());
  QAction* stop = item(menu.get(), {"MENU_PLAY_RECORD", "MENU_PLAY_RECORD_STOP"});
  EXPECT_FALSE(stop->isChecked());  // nothing records: greyed, with no check mark
  EXPECT_FALSE(stop->isEnabled());

  item(menu.get(), {"MENU_PLAY_RECORD", "MENU_PLAY_RECORD_START"})->trigger();
  EXPECT_EQ(view_->IsPaneRecording(0), 1);
  item(menu.get(), {"MENU_PLAY_MODE", "STR_WND_SCALE"})->trigger();
  EXPECT_EQ(settings_.scale_mode, 1);
  menu.reset(view_->BuildPaneMenu(nullptr));
  QAction* start = item(menu.get(), {"MENU_PLAY_RECORD", "MENU_PLAY_RECORD_START"});
  EXPECT_TRUE(start->isChecked());
  EXPECT_FALSE(start->isEnabled());
  EXPECT_TRUE(item(menu.get(), {"MENU_PLAY_MODE", "STR_WND_SCALE"})->isChecked());
  item(menu.get(), {"MENU_PLAY_RECORD", "MENU_PLAY_RECORD_STOP"})->trigger();
  EXPECT_EQ(view_->IsPaneRecording(0), 0);

  item(menu.get(), {"MENU_PLAY_STREAM", "MENU_PLAY_STREAM_MAIN"})->trigger();
  EXPECT_EQ(view_->GetPaneSubStream(0), 0);
  menu.reset(view_->BuildPaneMenu(nullptr));
  EXPECT_TRUE(item(menu.get(), {"MENU_PLAY_STREAM", "MENU_PLAY_STREAM_MAIN"})->isChecked());
  item(menu.get(), {"TEXT27"})->trigger();  // stop playing
  EXPECT_EQ(view_->PlayingCount(), 0);
  EXPECT_EQ(view_->BuildPaneMenu(nullptr), nullptr);  // no menu over an empty pane
}

// Open all over a 2 x 2 grid: a row not logged in and a recorder are passed
// over, a two-channel camera takes two panes, and nothing more starts once the
// grid is full. A device that only has sound plays through the simple call,
// with no key frame asked of it.
TEST_F(LiveViewLanTest, OpenAllFillsTheGridAndPassesOverWhatItCannotPlay) {
  const int login = ZQ_NETSDK_IPC_Login(TestLan::LanAddress(13).c_str(), 8091, "admin", "admin123", 0);
  ASSERT_GT(login, 0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return ZQ_NETSDK_IPC_PTZControl(login, 26, 1, 1) == 0; }, 15000));
  const int key_frames_before = sim_->device(13).key_frame_requests();
  LiveRow not_logged_in = rows_[11], recorder = rows_[12], sound_only = rows_[13];
  LiveRow two_channels = rows_[kTwoChannelDevice], plain = rows_[14], one_too_many = rows_[10];
  not_logged_in.login_version.clear();
  recorder.device_type = "DAV-ODUVE-NVR-SIM";
  sound_only.ability_text = "only_audio";
  sound_only.login_handle = login;
  two_channels.device_type = "DAV-ODUVE-2CHN-SIM";
  rows_ = {not_logged_in, recorder, sound_only, two_channels, plain, one_too_many};
  settings_.video_rows = settings_.video_cols = 2;
  grid_->SetGrid(2, 2);
  view_->OpenAllPreviews();
  ASSERT_EQ(view_->PlayingCount(), 4);
  const struct {
    int pane;
    const LiveRow& row;
    int channel;
  } expected[] = {{0, sound_only, 0}, {1, two_channels, 0}, {2, two_channels, 1}, {3, plain, 0}};
  for (const auto& e : expected) {
    SCOPED_TRACE(e.pane);
    CDevInfo* r = view_->Record(e.pane);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->m_row.serial, e.row.serial);
    EXPECT_EQ(r->m_channel, e.channel);
  }
  // Pictures in the three video panes (the second channel's own path
  // included); only sound in the first.
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        for (int pane : {1, 2, 3}) {
          long long decoded = 0, painted = 0;
          ZQ_PLAYER_GetFrameCounts(grid_->GetPanePlayer(pane), &decoded, &painted);
          if (decoded < 10) return false;
        }
        return true;
      },
      40000));
  CDevInfo* sound = view_->Record(0);
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        std::lock_guard lock(sound->recorders_mutex);
        return sound->m_mediaInfo != nullptr;
      },
      20000));
  {
    std::lock_guard lock(sound->recorders_mutex);
    EXPECT_EQ(sound->m_mediaInfo->hasVideo, 0);
    EXPECT_EQ(sound->m_mediaInfo->hasAudio, 1);
  }
  EXPECT_EQ(sim_->device(13).key_frame_requests(), key_frames_before);
  ZQ_NETSDK_IPC_Logout(login);
}

// A two-channel camera opened from the list: a 1 x 2 grid, not saved, and the
// video window across the middle of the work area, frame included.
TEST_F(LiveViewLanTest, TwoChannelCameraOpensSideBySideAcrossTheWorkArea) {
  rows_[kTwoChannelDevice].device_type = "DAV-ODUVE-2CHN-SIM";
  settings_.video_rows = settings_.video_cols = 3;
  grid_->SetGrid(3, 3);
  ASSERT_EQ(view_->OpenDevicePreview(kTwoChannelDevice), 0);
  EXPECT_EQ(grid_->Rows(), 1);
  EXPECT_EQ(grid_->Cols(), 2);
  EXPECT_EQ(settings_.video_rows, 1);
  EXPECT_EQ(settings_.video_cols, 2);
  // Across the work area, its frame too: the frame spans the work area's
  // width, the client its middle half in height.
  const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
  const QRect frame = video_->frameGeometry();
  EXPECT_TRUE(work.contains(frame));
  EXPECT_EQ(frame.left(), work.left());
  EXPECT_EQ(frame.right(), work.right());
  EXPECT_EQ(video_->geometry().top(), work.top() + work.height() / 4);
  EXPECT_EQ(video_->geometry().height(), work.height() / 2);
  EXPECT_EQ(view_->Record(0)->m_channel, 0);
  EXPECT_EQ(view_->Record(1)->m_channel, 1);
  EXPECT_TRUE(AllPanesPaint(2));
  // Opening it again selects its pane and opens nothing.
  EXPECT_EQ(view_->OpenDevicePreview(kTwoChannelDevice), 0);
  EXPECT_EQ(view_->PlayingCount(), 2);
}

// The zoom cruise of the AF-study menu: every playing device zooms and stops
// for the configured number of phases, three stops each; a single pane's stop
// ends a cruise that is still running.
TEST_F(LiveViewLanTest, ZoomCruiseRunsItsPhasesAndAPaneStopEndsIt) {
  const int login = LoginPtzRow(3);
  ASSERT_GT(login, 0);
  settings_.af_study.nPtzSpeed = 5;
  settings_.af_study.nPtzZoomInterval = 40;
  settings_.af_study.nPtzZoomStayTime = 40;
  settings_.af_study.nPtzZoomExecTimes = 3;
  grid_->SetGrid(1, 1);
  ASSERT_EQ(view_->StartPanePreview(3, 0, 1, 0, 0), 0);
  sim_->Control("journal 3 clear");
  auto running = [&] {
    for (int id = 10013; id <= 10016; ++id)
      if (view_->CruiseTimerActive(id)) return true;
    return false;
  };
  auto count = [](const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  };
  view_->OnPtzCommand(0xFFFF, kPtzZoomIn);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !running(); }, 10000));
  EXPECT_EQ(view_->CruisePhase(), 3);
  std::string journal;
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        journal = SdkBytes(sim_->Control("journal 3"));
        return count(journal, "Command=\"26\"") >= 9;
      },
      5000));
  EXPECT_EQ(count(journal, "<PTZ_CONTROL Command=\"11\" Param1=\"5\" Param2=\"5\" />"), 3);
  EXPECT_EQ(count(journal, "<PTZ_CONTROL Command=\"26\" Param1=\"3\" Param2=\"3\" />"), 9);
  // A second cruise, ended by the pane's own stop before its first phase ends.
  settings_.af_study.nPtzZoomInterval = 5000;
  view_->OnPtzCommand(0xFFFF, kPtzZoomOut);
  EXPECT_TRUE(view_->CruiseTimerActive(10013));
  view_->OnPtzCommand(0, kPtzStop);
  EXPECT_FALSE(running());
  ZQ_NETSDK_IPC_Logout(login);
}

// The two preset sequences: with an interval, the AF study calls its first
// entry at once and its second one interval later; the multiple-preset tour
// goes through its first three entries an interval apart. Entries that are off
// or have no preset send nothing; set entries set, call entries call.
TEST_F(LiveViewLanTest, PresetSequencesStepThroughTheirEntriesOnTheirInterval) {
  const int login = LoginPtzRow(3);
  ASSERT_GT(login, 0);
  grid_->SetGrid(1, 1);
  ASSERT_EQ(view_->StartPanePreview(3, 0, 1, 0, 0), 0);
  using Preset = AfStudySettings::Preset;
  settings_.af_study.presets = {};
  settings_.af_study.presets[0] = Preset{1, 11, 1};
  settings_.af_study.presets[1] = Preset{1, 12, 0};
  settings_.af_study.presets[2] = Preset{1, 13, 1};  // never reached by the sequence
  settings_.af_study.interval_sec = 1;
  settings_.ptz_multiple.presets = {};
  settings_.ptz_multiple.presets[0] = Preset{1, 21, 1};
  settings_.ptz_multiple.presets[1] = Preset{0, 22, 1};  // off
  settings_.ptz_multiple.presets[2] = Preset{1, 23, 1};
  settings_.ptz_multiple.interval_sec = 1;
  const auto journal = [&] { return SdkBytes(sim_->Control("journal 3")); };
  const auto has = [](const std::string& text, int operation, int preset) {
    return text.find("<PTZ_PRESET Operation=\"" + std::to_string(operation) + "\" Preset=\"" +
                     std::to_string(preset) + "\" />") != std::string::npos;
  };

  sim_->Control("journal 3 clear");
  view_->OnAfStudyRun();
  ASSERT_TRUE(QTest::qWaitFor([&] { return has(journal(), 39, 11); }, 5000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return has(journal(), 8, 12); }, 5000));
  QTest::qWait(300);
  EXPECT_FALSE(has(journal(), 39, 13));

  sim_->Control("journal 3 clear");
  view_->OnPtzMultipleRun();
  ASSERT_TRUE(QTest::qWaitFor([&] { return has(journal(), 39, 21); }, 5000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return has(journal(), 39, 23); }, 8000));
  EXPECT_FALSE(has(journal(), 39, 22));
  ZQ_NETSDK_IPC_Logout(login);
}

// A picture dump whose folder cannot be made starts nothing; asked again once
// the folder can be made it starts while pictures are being decoded, and
// its file fills with whole I420 pictures.
TEST_F(LiveViewLanTest, PictureDumpStartsAgainAfterItsFolderCouldNotBeMade) {
  const std::filesystem::path docs = kelvara::test::MakeTempDir("dump") / "docs";
  std::ofstream(docs) << "a file where the folder should be";
  LiveViewHost host;
  host.settings = &settings_;
  host.row_at = [this](int row) -> std::optional<LiveRow> { return rows_[static_cast<size_t>(row)]; };
  host.documents = docs;
  LiveView view(host);
  view.Attach(grid_, video_.get());
  grid_->SetGrid(1, 1);
  ASSERT_EQ(view.StartPanePreview(0, 0, 1, 0, 0), 0);
  ASSERT_TRUE(AllPanesPaint(1));
  view.OnRecordYuv(0, 1);
  EXPECT_EQ(view.IsPaneYuvDumping(0), 0);
  QTest::qWait(200);
  std::filesystem::remove(docs);
  int files = 0;
  const auto dumped = [&] {
    std::uintmax_t bytes = 0;
    files = 0;
    std::error_code ec;
    for (const auto& e : std::filesystem::recursive_directory_iterator(docs, ec))
      if (e.is_regular_file() && e.path().extension() == ".YUV") {
        bytes += e.file_size();
        ++files;
      }
    return bytes;
  };
  for (int i = 0; i < 3; ++i) {  // again and again while pictures arrive
    const std::uintmax_t before = dumped();
    view.OnRecordYuv(0, 1);
    EXPECT_EQ(view.IsPaneYuvDumping(0), 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return dumped() > before; }, 10000)) << "nothing dumped in round " << i;
    view.OnRecordYuv(0, 0);
    EXPECT_EQ(view.IsPaneYuvDumping(0), 0);
  }
  const std::uintmax_t bytes = dumped();
  EXPECT_GE(files, 1);
  EXPECT_GT(bytes, 0u);
  EXPECT_EQ(bytes % (640u * 360u * 3u / 2u), 0u);
  view.CloseAllPreviews();
}

// With the record switch on, a new pane's recorder waits for the stream's
// description and then records: the file holds the pane's video from a key frame.
TEST_F(LiveViewLanTest, RecordSwitchStartsTheRecorderWhenTheDescriptionArrives) {
  settings_.record_switch = 1;
  grid_->SetGrid(1, 1);
  ASSERT_EQ(view_->StartPanePreview(1, 0, 1, 0, 0), 0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return view_->IsPaneRecording(0) == 1; }, 20000));
  // Forty pictures through the pane since the recorder started: it was handed
  // each of them too.
  const auto decoded = [&] {
    long long d = 0, painted = 0;
    ZQ_PLAYER_GetFrameCounts(grid_->GetPanePlayer(0), &d, &painted);
    return d;
  };
  const long long from = decoded();
  ASSERT_TRUE(QTest::qWaitFor([&] { return decoded() >= from + 40; }, 20000));
  std::vector<std::filesystem::path> files;
  {
    CDevInfo* r = view_->Record(0);
    std::lock_guard lock(r->recorders_mutex);
    files = r->m_recordThread->Files();
  }
  view_->StopPanePreview(0);  // the recorder is stopped and its file closed
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].parent_path().filename(), TestLan::LanAddress(1));
  const std::string probe = kelvara::test::CommandOutput(
      "ffprobe -v error -select_streams v:0 -show_entries packet=flags -of csv=p=0 '" + files[0].string() + "'");
  EXPECT_EQ(probe.substr(0, 1), "K");
  EXPECT_GE(std::count(probe.begin(), probe.end(), '\n'), 10);
}

// A recording through a dropped stream keeps its real length: the
// reconnection's timestamps go on from the wall clock, so ffprobe finds the
// file about as long as the recording ran and no two pictures closer than
// half the stream's interval.
TEST_F(LiveViewLanTest, RecordingThroughADroppedStreamKeepsItsRealLength) {
  constexpr int kDevice = 2;
  settings_.record_switch = 1;
  grid_->SetGrid(1, 1);
  ASSERT_EQ(view_->StartPanePreview(kDevice, 0, 1, 0, 0), 0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return view_->IsPaneRecording(0) == 1; }, 20000));
  const auto started = std::chrono::steady_clock::now();
  const long handle = view_->Record(0)->m_playHandle.load();
  QTest::qWait(5000);
  rtsp_->SetFault(kDevice, devsim::StreamFault::kDrop);
  ASSERT_TRUE(QTest::qWaitFor([&] { return ZQ_RTSP_CLINET_LIB_GetConnectionCount(handle) >= 2; }, 20000));
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return std::chrono::steady_clock::now() - started >= std::chrono::seconds(14); }, 20000));
  std::vector<std::filesystem::path> files;
  {
    CDevInfo* r = view_->Record(0);
    std::lock_guard lock(r->recorders_mutex);
    files = r->m_recordThread->Files();
  }
  view_->StopPanePreview(0);  // the recorder is stopped and its file closed
  const double wall_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  ASSERT_EQ(files.size(), 1u);
  const double duration_s = std::atof(
      kelvara::test::CommandOutput("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + files[0].string() +
                                   "'")
          .c_str());
  EXPECT_NEAR(duration_s, wall_s, wall_s * 0.1);
  std::istringstream times(kelvara::test::CommandOutput(
      "ffprobe -v error -select_streams v:0 -show_entries packet=pts_time -of csv=p=0 '" + files[0].string() + "'"));
  std::vector<double> pts;
  for (double t; times >> t;) pts.push_back(t);
  std::sort(pts.begin(), pts.end());
  ASSERT_GE(pts.size(), 100u);
  double smallest_step = 1.0;
  for (size_t i = 1; i < pts.size(); ++i) smallest_step = std::min(smallest_step, pts[i] - pts[i - 1]);
  EXPECT_GE(smallest_step, 0.020) << "the stream runs at 25 pictures a second";
}

}  // namespace
}  // namespace kelvara::media
