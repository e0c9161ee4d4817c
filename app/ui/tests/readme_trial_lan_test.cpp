// The README's trial as a new user runs it: the test LAN and the devsim
// command line are read from README.md itself, devsim runs as that command
// (`ip netns exec <LAN> devsim ...`), and on the PC side the device list
// finds the devices, logs in with the account they report, reads their
// abilities; one row's camera then plays in the grid and takes a PTZ command
// from its pane, which devsim's journal shows.
#include <QApplication>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "VaRurOvoDiv/zq_netsdk_ipc.h"
#include "app/ui/live_view_seam.h"
#include "device/core/zq_command_sdk.h"
#include "device/core/zq_netsdk.h"
#include "device/ui/device_command_host.h"
#include "discovery/ui/device_list_controller.h"
#include "journal_bytes.h"
#include "kelvara_test/test_env.h"
#include "kelvara_test/test_lan.h"
#include "media/core/pane_mouse.h"
#include "media/ui/wnd_manager.h"
#include "zq_player.h"

namespace kelvara::ui {
namespace {

using kelvara::test::LanSide;
using kelvara::test::TestLan;
using kelvara::test::TestLanOptions;

// The words of the README's first line holding `marker`, from the word after
// it up to a "#" comment.
std::vector<std::string> ReadmeWordsAfter(const std::string& marker) {
  std::ifstream in(kelvara::test::SourceDir() / "README.md");
  std::string line;
  while (std::getline(in, line)) {
    const auto at = line.find(marker);
    if (at == std::string::npos) continue;
    std::istringstream words(line.substr(at + marker.size()));
    std::vector<std::string> out;
    for (std::string w; words >> w && w[0] != '#';) out.push_back(w);
    return out;
  }
  return {};
}

// devsim as the README starts it, with its standard input and output.
class DevsimProcess {
 public:
  DevsimProcess(const std::string& lanNamespace, const std::vector<std::string>& args) {
    QStringList argv{"netns", "exec", QString::fromStdString(lanNamespace),
                     QString::fromStdString((kelvara::test::BinDir() / "devsim").string())};
    for (const std::string& a : args) argv << QString::fromStdString(a);
    process_.setProgram("ip");
    process_.setArguments(argv);
    process_.start();
  }
  ~DevsimProcess() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.write("quit\n");
    if (!process_.waitForFinished(5000)) {
      process_.kill();
      process_.waitForFinished(2000);
    }
  }
  // Waits for "ready"; false (with what it printed) when it ended first.
  bool WaitReady(std::string* printed) {
    const bool ready = QTest::qWaitFor(
        [&] {
          out_ += process_.readAllStandardOutput().toStdString();
          return out_.find("ready") != std::string::npos || process_.state() == QProcess::NotRunning;
        },
        15000);
    *printed = out_ + process_.readAllStandardError().toStdString();
    return ready && out_.find("ready") != std::string::npos;
  }
  // One control command; its answer ("ok N" and N lines, or one line).
  std::string Control(const std::string& command) {
    process_.readAllStandardOutput();
    process_.write((command + "\n").c_str());
    std::string answer;
    (void)QTest::qWaitFor(
        [&] {
          answer += process_.readAllStandardOutput().toStdString();
          const auto eol = answer.find('\n');
          if (eol == std::string::npos) return false;
          int lines = 0;
          if (answer.rfind("ok ", 0) == 0) lines = std::atoi(answer.c_str() + 3);
          int seen = 0;
          for (char c : answer) seen += c == '\n';
          return seen >= lines + 1;
        },
        5000);
    return answer;
  }

 private:
  QProcess process_;
  std::string out_;
};

TEST(ReadmeTrialLan, DevicesLogInPlayVideoAndTakePtz) {
  const std::vector<std::string> lanArgs = ReadmeWordsAfter("scripts/testlan.sh up");
  const std::vector<std::string> simArgs = ReadmeWordsAfter("build/bin/devsim");
  ASSERT_FALSE(simArgs.empty()) << "README.md has no devsim command";
  int addresses = 0;
  bool gateway = false;
  for (size_t i = 0; i < lanArgs.size(); ++i) {
    if (lanArgs[i] == "--addrs" && i + 1 < lanArgs.size()) addresses = std::stoi(lanArgs[i + 1]);
    if (lanArgs[i] == "--gateway") gateway = true;
  }
  int count = 0;
  for (size_t i = 0; i + 1 < simArgs.size(); ++i)
    if (simArgs[i] == "--count") count = std::stoi(simArgs[i + 1]);
  ASSERT_GT(count, 0);
  ASSERT_GE(addresses, count);

  std::string why;
  std::unique_ptr<TestLan> lan = TestLan::Create(TestLanOptions{.lan_addresses = addresses}, &why);
  if (!lan) {
    GTEST_SKIP() << "test LAN unavailable (" << why << ")";
  }
  if (gateway) {
    ASSERT_TRUE(lan->AddDefaultRoute());
  }
  DevsimProcess sim(lan->Namespace(LanSide::kLan), simArgs);
  std::string printed;
  ASSERT_TRUE(sim.WaitReady(&printed)) << printed;

  ASSERT_TRUE(lan->EnterOnThisThread(LanSide::kPc));
  ASSERT_EQ(ZQ_NETSDK_IPC_Init(), 0);
  ZQ_PLAYER_Init();
  ZQ_RTSP_CLINET_LIB_InitLib();
  {
    // The program's own pieces: the list with its automatic logins (the
    // settings' default login as shipped), the commands' event handlers.
    device::ZqNetSdk netSdk;
    discovery::DeviceListController::Options options;
    options.sdk = &netSdk;
    options.lookup = [](const char* key) { return std::string(key); };
    options.loginDefaults = [] { return device::LoginDefaults{"admin", "470913"}; };
    discovery::DeviceListController list(options);
    device::RegisterSdkCallbacks(&list.EventSink());
    QWidget window;
    list.CreateListWidget(&window);
    list.InitDeviceListColumns();
    device::ZqCommandSdk commandSdk;
    device::DeviceCommands::Options commandOptions;
    commandOptions.sdk = &commandSdk;
    commandOptions.lookup = [](const char* key) { return std::string(key); };
    commandOptions.documentsDir = [] { return kelvara::test::MakeTempDir("docs"); };
    device::DeviceCommandHost commands(list, commandOptions, nullptr, &window);

    ASSERT_TRUE(list.StartSearch());
    auto first = [&]() -> discovery::DeviceListRow* {
      return list.Rows().Count() > 0 ? &list.Rows().At(0) : nullptr;
    };
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
          list.RefreshDeviceList();
          if (static_cast<int>(list.Rows().Count()) != count) return false;
          for (size_t i = 0; i < list.Rows().Count(); ++i)
            if (!list.Rows().At(i).m_online) return false;
          const discovery::DeviceListRow* row = first();
          return std::string(row->m_abilityText).find("ptz_control") != std::string::npos;
        },
        30000))
        << "rows " << list.Rows().Count() << " of " << count;
    discovery::DeviceListRow* row = first();
    const int index = list.RowIndex(*row);

    // A double click's live view: the row's camera plays in pane 0.
    CSaveParam settings;
    settings.af_study.nPtzSpeed = 3;
    media::LiveViewHost host;
    host.settings = &settings;
    host.row_count = [&] { return static_cast<int>(list.Rows().Count()); };
    host.row_at = [&](int i) -> std::optional<media::LiveRow> {
      if (i != index) return std::nullopt;
      return LiveRowOf(*row);
    };
    std::vector<std::string> errors;
    host.error_box = [&](const std::string& text, const std::string&) { errors.push_back(text); };
    host.documents = kelvara::test::MakeTempDir("docs");
    host.private_dir = kelvara::test::MakeTempDir("private");
    CDialogVideo video;
    auto* grid = new CWndManager();
    grid->SetHostWindow(&video);
    video.SetGrid(grid);
    video.resize(640, 360);
    video.SetVisible(5);
    media::LiveView view(host);
    view.Attach(grid, &video);
    grid->SetGrid(1, 1);
    ASSERT_EQ(view.StartPanePreview(index, 0, 1, 0, 0), 0);
    EXPECT_TRUE(errors.empty()) << errors.front();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
          long long decoded = 0, painted = 0;
          ZQ_PLAYER_GetFrameCounts(grid->GetPanePlayer(0), &decoded, &painted);
          return decoded >= 10 && painted >= 2;
        },
        30000))
        << "no pictures from " << row->m_searchInfo.lanConfig.ipAddress;

    // The pane's PTZ (a press at its left edge and the release) reaches the device.
    const std::string serial = row->m_searchInfo.serialNumber;
    sim.Control("journal " + serial + " clear");
    emit grid->ptzCommand(0, media::kPtzLeft);
    emit grid->ptzCommand(0, media::kPtzStop);
    std::string journal;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
          journal = devsim::JournalBytes(sim.Control("journal " + serial));
          return journal.find("Command=\"26\"") != std::string::npos;
        },
        10000));
    EXPECT_NE(journal.find("<PTZ_CONTROL Command=\"19\" Param1=\"3\" Param2=\"3\" />"), std::string::npos) << journal;

    view.CloseAllPreviews();
    list.StopSearch();
    device::RegisterSdkCallbacks(nullptr);
  }
  ZQ_RTSP_CLINET_LIB_ReleaseLib();
  ZQ_NETSDK_IPC_Cleanup();
}

}  // namespace
}  // namespace kelvara::ui
