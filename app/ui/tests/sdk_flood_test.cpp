// A device that floods alarms does not hold up another device's replies:
// the real SDK against two simulated devices on loopback (no discovery,
// nothing broadcast), the main window with the real device list and device
// commands on its UI thread. While device A floods, each of device B's 100
// replies reaches B's row within the reply time-out; A's link stays up and
// its surplus alarms are dropped and counted on the way to the window.
#include <QApplication>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "VaRurOvoDiv/zq_netsdk_ipc.h"
#include "app/shell/shell_settings.h"
#include "app/ui/device_list_seam.h"
#include "app/ui/zq_dev_search_tool_dlg.h"
#include "common/display_switches.h"
#include "device/core/command_codes.h"
#include "device/core/zq_command_sdk.h"
#include "device/core/zq_netsdk.h"
#include "device/ui/device_command_host.h"
#include "kelvara_test/test_env.h"
#include "simulator.h"

namespace kelvara::ui {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

int Scaled(int ms) {
  const char* v = std::getenv("KELVARA_TEST_TIME_SCALE");
  const int scale = v != nullptr ? std::atoi(v) : 1;
  return ms * (scale < 1 ? 1 : scale);
}

// The device SDK as the window starts and ends it; no player or RTSP client.
class SdkOnly : public shell::ShellSdk {
 public:
  int PlayerInit() override { return 0; }
  int PlayerReleaseAll() override { return 0; }
  int RtspInitLib() override { return 0; }
  int RtspReleaseLib() override { return 0; }
  int NetSdkInit() override { return ZQ_NETSDK_IPC_Init(); }
  std::string NetSdkVersion() override { return std::to_string(ZQ_NETSDK_IPC_GetSDKVersion()); }
  std::string NetSdkBuildDate() override { return std::to_string(ZQ_NETSDK_IPC_GetSDKBuildData()); }
  int RegisterCallbacks(void* sink) override {
    return ZQ_NETSDK_IPC_SetStatusEventCallBack(device::StatusEventCallBack, sink) |
           ZQ_NETSDK_IPC_SetAUXResponseCallBack(device::AuxResponseCallBack, sink);
  }
  int SetAutoReconnect(int h, int on) override { return ZQ_NETSDK_IPC_SetAutoReconnect(h, on); }
  int LogoutAll() override { return ZQ_NETSDK_IPC_LogoutAll(); }
  int UnregisterCallbacks() override {
    return ZQ_NETSDK_IPC_SetStatusEventCallBack(nullptr, nullptr) | ZQ_NETSDK_IPC_SetAUXResponseCallBack(nullptr, nullptr);
  }
  int NetSdkCleanup() override { return ZQ_NETSDK_IPC_Cleanup(); }
};

// The real device list, but searching nothing: the devices are on loopback.
class ListWithoutSearch : public discovery::DeviceListSeamImpl {
 public:
  using DeviceListSeamImpl::DeviceListSeamImpl;
  void StartSearch() override {}
  void SendSearchRequest() override {}
};

class NoPrompts : public UserPrompts {
 public:
  int MessageBox(QWidget*, const QString&, const QString&, PromptIcon, PromptButtons) override { return kAnswerOk; }
  QString OpenFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
  QString SaveFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
  QString FolderName(QWidget*, const QString&, const QString& start) override { return start; }
};

class NoSounds : public SoundPrompts {
 public:
  void Play(const QString&) override {}
};

template <class F>
bool PumpUntil(F&& done, int ms) {
  const auto end = Clock::now() + milliseconds(Scaled(ms));
  while (!done()) {
    if (Clock::now() >= end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

std::uint64_t Flooded(devsim::Simulator& sim, int device) {
  std::smatch m;
  const std::string state = sim.device(device).StateText();
  return std::regex_search(state, m, std::regex(" flooded=(\\d+)")) ? std::stoull(m[1]) : 0;
}

TEST(MainWindowSdkFlood, RepliesReachTheirRowWithinTheReplyTimeOutWhileAnotherDeviceFloods) {
  const int reply_timeout_ms = Scaled(1500);
  setenv("VARUROVODIV_REPLY_TIMEOUT_MS", std::to_string(reply_timeout_ms).c_str(), 1);
  setenv("VARUROVODIV_CONNECT_TIMEOUT_MS", std::to_string(Scaled(2000)).c_str(), 1);
  devsim::SimConfig config;
  config.discovery_port = 0;  // loopback only: nothing is broadcast
  config.stdin_control = false;
  for (int i = 0; i < 2; ++i) {
    devsim::DeviceConfig d;
    d.ip = "127.0.0.1";
    d.command_port = 0;
    d.log_port = 0;
    devsim::CompleteDevice(d, i);
    config.devices.push_back(d);
  }
  devsim::Simulator sim(config);
  ASSERT_EQ(sim.Start(), "");

  SdkOnly sdk;
  device::ZqNetSdk login_sdk;
  device::ZqCommandSdk command_sdk;
  discovery::DeviceListController::Options list_options;
  list_options.sdk = &login_sdk;
  list_options.lookup = [](const char* key) { return std::string(key); };
  list_options.adapters = [] { return std::vector<discovery::Ipv4>{}; };
  ListWithoutSearch list(std::move(list_options));
  NoPrompts prompts;
  NoSounds sounds;
  LiveViewSeam live;
  shell::MemoryShellSettings settings;
  shell::FixedDisplaySwitches display;
  MainDialogServices s;
  s.sdk = &sdk;
  s.settings = &settings;
  s.display = &display;
  s.prompts = &prompts;
  s.sounds = &sounds;
  s.device_list = &list;
  s.live_view = &live;
  s.net_cards = [] { return std::vector<NetCard>{}; };
  const std::filesystem::path docs = kelvara::test::MakeTempDir("flood");
  {
    CZqDevSearchToolDlg dlg(s);
    device::DeviceCommands::Options command_options;
    command_options.sdk = &command_sdk;
    command_options.lookup = [](const char* key) { return std::string(key); };
    command_options.documentsDir = [&docs] { return docs; };
    device::DeviceCommandHost commands(list.Controller(), std::move(command_options), &prompts, &dlg);
    list.SetCommandHost(&commands);
    struct Landed {
      int handle, result;
      Clock::time_point at;
      std::string fs_version;  // the row's, once the reply was handled
    };
    std::vector<Landed> landed;
    commands.afterAuxResponse = [&](const device::DeviceAuxResponse& r) {
      if (r.command != device::SYS_CTRL_GET_FS_VERSION) return;
      const discovery::DeviceListRow* row = list.Controller().Rows().FindByHandle(r.loginHandle);
      landed.push_back({r.loginHandle, r.result, Clock::now(), row != nullptr ? row->m_fsVersion : "?"});
    };
    // Each of A's alarms keeps the UI thread busy for a millisecond, as a
    // window with much to redraw would be.
    int busy_with = 0;
    commands.afterStatusEvent = [&](const device::DeviceStatusEvent& e) {
      if (e.eventType != device::kStatusEventAlarm || e.loginHandle != busy_with) return;
      const auto end = Clock::now() + milliseconds(1);
      while (Clock::now() < end) {
      }
    };
    ASSERT_TRUE(dlg.OnInitDialog());  // registers the window's sink with the SDK

    // The devices' rows, logged in by the list's refresh as found devices are.
    for (int i = 0; i < 2; ++i) {
      DeviceSearchInfo d;
      d.serialNumber = sim.device(i).serial();
      d.deviceType = sim.device(i).config().device_type;
      d.uuid = "u" + std::to_string(i);
      d.lanConfig.ipAddress = "127.0.0.1";
      d.streamAccess.ptzPort = sim.command_port(i);
      d.userConfig.accountCount = 1;
      d.userConfig.accounts[0].userName = "admin";
      d.userConfig.accounts[0].password = sim.device(i).config().password;
      d.hasAccounts = 1;
      list.Controller().Map().AddOrUpdateDevice(d, "127.0.0.1", 1);
    }
    list.RefreshDeviceList();
    discovery::DeviceRows& rows = list.Controller().Rows();
    ASSERT_EQ(rows.Count(), 2u);
    auto row_of = [&](int device) -> discovery::DeviceListRow& {
      for (std::size_t i = 0; i < rows.Count(); ++i) {
        if (rows.At(i).m_searchInfo.serialNumber == sim.device(device).serial()) return rows.At(i);
      }
      throw std::runtime_error("no row");
    };
    ASSERT_TRUE(PumpUntil([&] { return row_of(0).m_online && row_of(1).m_online; }, 30000));
    PumpUntil([] { return false; }, 500);  // the login queries' replies
    const int a = row_of(0).m_loginHandle;
    const int b = row_of(1).m_loginHandle;
    busy_with = a;

    // A floods alarms as fast as its link takes them.
    constexpr std::uint64_t kFlood = 50'000'000;
    ASSERT_EQ(sim.Control("flood 0 23 " + std::to_string(kFlood) + " flood"), "ok");
    ASSERT_TRUE(PumpUntil([&] { return Flooded(sim, 0) > 200'000; }, 20000));

    landed.clear();
    row_of(1).m_fsVersion.clear();
    const std::uint64_t flooded_before = Flooded(sim, 0);
    std::vector<Clock::time_point> sent;
    for (int i = 0; i < 100; ++i) {
      ASSERT_EQ(ZQ_NETSDK_IPC_SystemControl(b, device::SYS_CTRL_GET_FS_VERSION, nullptr, ""), 0);
      sent.push_back(Clock::now());
    }
    const bool all = PumpUntil([&] { return landed.size() >= 100; }, 4 * reply_timeout_ms);
    const std::uint64_t flooded_after = Flooded(sim, 0);
    EXPECT_EQ(sim.Control("flood 0 23 0"), "ok");
    ASSERT_TRUE(all) << landed.size() << " replies reached the row";

    const std::string fs_version = sim.device(1).config().fs_version;
    long worst_ms = 0;
    for (std::size_t i = 0; i < landed.size(); ++i) {
      EXPECT_EQ(landed[i].handle, b);
      EXPECT_EQ(landed[i].result, 0) << "reply " << i;
      EXPECT_EQ(landed[i].fs_version, fs_version);
      const long ms = std::chrono::duration_cast<milliseconds>(landed[i].at - sent[i]).count();
      worst_ms = std::max(worst_ms, ms);
      EXPECT_LT(ms, reply_timeout_ms) << "reply " << i;
    }
    RecordProperty("worst_reply_ms", static_cast<int>(worst_ms));
    // A flooded all along; its link stayed up and its surplus was counted.
    EXPECT_GT(flooded_after, flooded_before);
    EXPECT_LT(flooded_after, kFlood);
    EXPECT_TRUE(row_of(0).m_online);
    EXPECT_GT(dlg.SdkEventQueue().Dropped(a), 0u);
    EXPECT_EQ(dlg.SdkEventQueue().Dropped(b), 0u);
    dlg.OnClose();
  }
  sim.Stop();
}

}  // namespace
}  // namespace kelvara::ui
