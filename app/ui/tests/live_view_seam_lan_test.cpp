// The pane menu's remote configuration in the test LAN: a pane playing
// devsim's stream opens the configuration window on that device, which logs
// in to it; a model the window does not serve is refused by its type.
#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QTest>
#include <gtest/gtest.h>

#include "VaRurOvoDiv/zq_netsdk_ipc.h"
#include "app/ui/live_view_seam.h"
#include "kelvara_test/test_env.h"
#include "kelvara_test/test_lan.h"
#include "media/ui/wnd_manager.h"
#include "rtsp_server.h"
#include "simulator.h"
#include "zq_player.h"

namespace kelvara::ui {
namespace {

using kelvara::test::LanSide;
using kelvara::test::TestLan;
using kelvara::test::TestLanOptions;

TEST(LiveViewSeamLan, RemoteConfigurationOfAPlayingPane) {
  std::string why;
  std::unique_ptr<TestLan> lan = TestLan::Create(TestLanOptions{.lan_addresses = 2}, &why);
  if (!lan) GTEST_SKIP() << "test LAN unavailable (" << why << ")";
  const char* types[] = {"NVS-DAV-ODUVE-IPC", "NVS-DM36X-IPC"};  // both play video
  devsim::SimConfig config;
  config.discovery_port = 0;
  config.stdin_control = false;
  std::vector<devsim::RtspDevice> streams;
  for (int i = 0; i < 2; ++i) {
    devsim::DeviceConfig d;
    d.ip = TestLan::LanAddress(i);
    d.device_type = types[i];
    d.command_port = 8091;
    d.log_port = 9999;
    devsim::CompleteDevice(d, i);
    config.devices.push_back(d);
    streams.push_back({d.ip, 554});
  }
  std::unique_ptr<devsim::Simulator> sim;
  std::unique_ptr<devsim::RtspServer> rtsp;
  ASSERT_EQ(lan->CallInThread(LanSide::kLan,
                              [&] {
                                sim = std::make_unique<devsim::Simulator>(config);
                                std::string e = sim->Start();
                                if (!e.empty()) return e;
                                rtsp = std::make_unique<devsim::RtspServer>();
                                return rtsp->Start(streams);
                              }),
            "");
  ASSERT_TRUE(lan->EnterOnThisThread(LanSide::kPc));
  ZQ_PLAYER_Init();
  ZQ_RTSP_CLINET_LIB_InitLib();

  CSaveParam settings;
  settings.default_user = "admin";
  settings.default_password = "admin123";
  std::vector<media::LiveRow> rows;
  for (int i = 0; i < 2; ++i) {
    media::LiveRow r;
    r.serial = sim->device(i).serial();
    r.device_type = types[i];
    r.ip = TestLan::LanAddress(i);
    r.video_port = 554;
    r.login_port = 8091;
    r.online = true;
    rows.push_back(r);
  }
  std::vector<std::pair<std::string, std::string>> errors;
  media::LiveViewHost host;
  host.settings = &settings;
  host.row_count = [&] { return static_cast<int>(rows.size()); };
  host.row_at = [&](int i) -> std::optional<media::LiveRow> {
    if (i < 0 || i >= static_cast<int>(rows.size())) return std::nullopt;
    return rows[static_cast<size_t>(i)];
  };
  host.error_box = [&](const std::string& text, const std::string& caption) { errors.emplace_back(text, caption); };
  host.documents = kelvara::test::MakeTempDir("docs");
  {
    QWidget owner;  // outlives the seam, which holds the window it parents
    CDialogVideo video;
    auto* grid = new CWndManager();
    grid->SetHostWindow(&video);
    video.SetGrid(grid);
    video.resize(640, 360);
    video.SetVisible(5);
    LiveViewSeamImpl seam(host);
    // The remote configuration logs in with the default account (the rows have none).
    seam.defaultLogin = [&settings] { return std::pair{settings.default_user, settings.default_password}; };
    seam.Attach(grid, &video);
    grid->SetGrid(1, 2);
    ASSERT_EQ(seam.View().StartPanePreview(0, 0, 1, 0, 0), 0);
    ASSERT_EQ(seam.View().StartPanePreview(1, 0, 1, 1, 0), 0);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
          for (int pane : {0, 1}) {
            media::CDevInfo* r = seam.View().Record(pane);
            if (r == nullptr) return false;
            std::lock_guard lock(r->recorders_mutex);
            if (!r->m_mediaInfo) return false;
          }
          return true;
        },
        20000));

    seam.OpenRemoteConfigForWindow(0, "japanese", &owner);
    dialogs::CRemoteCfgDlg* window = seam.RemoteConfigWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_GE(window->Instance(), 1);
    // The window names the pane's device and the mapped language, and logs in to it.
    QStringList texts;
    for (QLabel* label : window->findChildren<QLabel*>()) texts << label->text();
    EXPECT_TRUE(texts.contains(QStringLiteral("%1:8091  channel 0  (Japanese)").arg(QString::fromStdString(rows[0].ip))))
        << texts.join(" | ").toStdString();
    auto* state = window->findChild<QLabel*>(QStringLiteral("RemoteConfigState"));
    ASSERT_NE(state, nullptr);
    EXPECT_TRUE(QTest::qWaitFor([&] { return state->text() == QStringLiteral("logged in"); }, 10000))
        << state->text().toStdString();
    EXPECT_TRUE(errors.empty());

    // The other model plays, but its configuration is refused by name; the
    // open window stays.
    seam.OpenRemoteConfigForWindow(1, "en-us", &owner);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].first, "NVS-DM36X-IPC: NOT supported");
    EXPECT_EQ(errors[0].second, "ERROR");
    EXPECT_EQ(seam.RemoteConfigWindow(), window);
    EXPECT_TRUE(window->isVisible());

    // A second pane's configuration replaces the first window.
    QPointer<dialogs::CRemoteCfgDlg> first = window;
    seam.OpenRemoteConfigForWindow(0, "zh-cn", &owner);
    EXPECT_TRUE(first.isNull());
    ASSERT_NE(seam.RemoteConfigWindow(), nullptr);
    seam.View().CloseAllPreviews();
  }
  ZQ_RTSP_CLINET_LIB_ReleaseLib();
  rtsp.reset();
  sim->Stop();
}

}  // namespace
}  // namespace kelvara::ui
