// Boot recovery through the main window's pieces in the test LAN: the
// recovery window made by the main window's boot-server seam, with the real
// device list (search, refreshes, factory-restore flow) behind it. devsim's
// devices boot into recovery, fetch their image from the real helper, come
// back into the search with the image's version, and the list restores each
// recovered one, five rounds at most, until the window's "clear list" starts
// the count again.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <chrono>
#include <filesystem>
#include <memory>
#include <regex>
#include <arpa/inet.h>

#include "app/ui/boot_server_seam.h"
#include "app/ui/device_list_seam.h"
#include "firmware/tests/image_builder.h"
#include "kelvara_test/test_env.h"
#include "kelvara_test/test_lan.h"
#include "simulator.h"

namespace kelvara::ui {
namespace {

namespace fs = std::filesystem;
using ::kelvara::firmware::CBootServerDlg;
using ::kelvara::test::LanSide;
using ::kelvara::test::TestLan;
using ::kelvara::test::TestLanOptions;

// Moves the calling (main) thread into a namespace and back: the window, its
// listener and helper, and the device list's search all start from here.
class MainThreadIn {
 public:
  explicit MainThreadIn(const std::string& name) {
    saved_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    const int fd = open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
    entered_ = fd >= 0 && setns(fd, CLONE_NEWNET) == 0;
    if (fd >= 0) close(fd);
  }
  ~MainThreadIn() {
    if (entered_) setns(saved_, CLONE_NEWNET);
    close(saved_);
  }
  bool entered() const { return entered_; }

 private:
  int saved_ = -1;
  bool entered_ = false;
};

// Pumps events, refreshes the list and asks for search replies now and then,
// as the main window's timers do.
template <class F>
bool RefreshUntil(discovery::DeviceListSeamImpl& list, F&& done, int ms) {
  const auto start = std::chrono::steady_clock::now();
  auto next_search = start;
  for (;;) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= next_search) {
      list.SendSearchRequest();
      next_search = now + std::chrono::milliseconds(300);
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    list.RefreshDeviceList();
    if (done()) return true;
    if (now - start > std::chrono::milliseconds(ms)) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
}

TEST(BootRecoveryMainWindowLan, RecoveredDevicesReturnToTheListAndAreRestoredFiveTimes) {
  if (!fs::exists(::kelvara::test::BinDir() / "zqfileserver.7z")) GTEST_SKIP() << "no zqfileserver.7z";
  KELVARA_TEST_LAN_OR_SKIP(lan, (TestLanOptions{.lan_addresses = 3}));

  const fs::path folder = ::kelvara::test::MakeTempDir("fw");
  firmware::test::WriteFile(folder / "rcv.bin", firmware::test::BuildImage("NVR-RCV_V7.0", 200000));
  std::string bad = firmware::test::BuildImage("NVR-BAD_V1.0", 20000);
  bad[firmware::kFirmwareHeaderSize + 100] ^= 0x55;  // the header passes, a part CRC does not
  firmware::test::WriteFile(folder / "bad.bin", bad);

  // Recorders (the list shows no other devices): 0 and 1 recover, device 2 is refused its bad image. reboot_ms 0:
  // each restore datagram that arrives is counted by the device.
  devsim::SimConfig config;
  config.stdin_control = false;
  devsim::DeviceConfig templ;
  templ.reboot_ms = 0;
  templ.version = "NVR-RCV_V1.0";
  ASSERT_EQ(devsim::GenerateDevices(templ, 3, TestLan::LanAddress(0), "RCV", config.devices), "");
  config.devices[0].device_type = config.devices[1].device_type = "NVR-RCV";
  config.devices[2].device_type = "NVR-BAD";
  for (auto& d : config.devices) d.default_ip = d.ip;  // a restore keeps each device where it is
  auto sim = std::make_unique<devsim::Simulator>(config);
  ASSERT_EQ(lan->CallInThread(LanSide::kLan, [&] { return sim->Start(); }), "");
  auto restores = [&](int i) {
    std::smatch m;
    const std::string state = sim->device(i).StateText();
    return std::regex_search(state, m, std::regex(" restores=(\\d+)")) ? std::stoi(m[1]) : -1;
  };

  {
    MainThreadIn pc(lan->Namespace(LanSide::kPc));
    ASSERT_TRUE(pc.entered());
    KELVARA_ASSERT_IN_TEST_LAN();
    discovery::DeviceListController::Options options;
    options.lookup = [](const char* key) { return std::string(key); };
    options.loginDefaults = [] { return device::LoginDefaults{"admin", "admin123"}; };
    discovery::DeviceListSeamImpl list(std::move(options));
    QWidget window;
    list.CreateListWidget(&window);
    list.InitColumns();
    bool searching = false;
    int presses = 0;
    BootServerSeam seam(list, {[&] {
                                 ++presses;
                                 searching = !searching;
                                 searching ? list.StartSearch() : list.StopSearch();
                               },
                               [&] { return searching; }});
    firmware::BootServerOptions boot_options;
    boot_options.program_folder = QString::fromStdString(::kelvara::test::BinDir().string());
    QPointer<CBootServerDlg> dlg = seam.Make(&window, nullptr, boot_options);
    dlg->SetItemText(CBootServerDlg::kFolder, QString::fromStdString(folder.string()));
    ASSERT_EQ(dlg->Server().AdapterAddress(), inet_addr(TestLan::kPcAddress));
    // Start, as clicked: with the restore box ticked it starts the list's search.
    dlg->ControlAs<QPushButton>(CBootServerDlg::kStart)->click();
    ASSERT_TRUE(dlg->HelperRunning()) << dlg->LogPane()->toPlainText().toStdString();
    EXPECT_EQ(presses, 1);
    ASSERT_TRUE(RefreshUntil(list, [&] { return list.Controller().Rows().Count() == 3; }, 10000));

    lan->CallInThread(LanSide::kLan, [&] {
      for (int i = 0; i < 3; ++i) EXPECT_EQ(sim->Control("recover " + std::to_string(i)), "ok");
    });
    auto version_of = [&](int i) -> std::string {
      discovery::DeviceListRow* row = list.Controller().Rows().FindByKey(config.devices[i].serial);
      return row != nullptr ? row->m_searchInfo.version : "";
    };
    // Back in the search with the image's version, and restored five rounds of three datagrams.
    ASSERT_TRUE(RefreshUntil(
        list,
        [&] {
          return version_of(0) == "NVR-RCV_V7.0" && version_of(1) == "NVR-RCV_V7.0" && restores(0) == 15 &&
                 restores(1) == 15 && sim->Control("recovery 2") != "ok recovering";
        },
        60000))
        << sim->Control("recovery 0") << " / " << restores(0) << " / " << version_of(0);
    EXPECT_EQ(sim->Control("recovery 2"), "ok failed bad image");
    // More refreshes restore nothing more; the device whose image was bad is never restored.
    RefreshUntil(list, [] { return false; }, 1500);
    EXPECT_EQ(restores(0), 15);
    EXPECT_EQ(restores(1), 15);
    EXPECT_EQ(restores(2), 0);
    EXPECT_EQ(version_of(2), "NVR-RCV_V1.0");

    // "Clear list" forgets the counted restores and empties the device list:
    // once the devices are found again, each recovered one gets five more rounds.
    dlg->ControlAs<QPushButton>(CBootServerDlg::kClearList)->click();
    EXPECT_EQ(dlg->DeviceList()->GetItemCount(), 0);
    ASSERT_TRUE(RefreshUntil(
        list,
        [&] { return restores(0) == 30 && restores(1) == 30; },
        20000))
        << restores(0) << " " << restores(1);
    // Unticked restore box: the list restores nothing.
    dlg->ControlAs<QPushButton>(CBootServerDlg::kClearList)->click();
    dlg->ControlAs<QCheckBox>(CBootServerDlg::kRestoreFactory)->click();
    EXPECT_FALSE(dlg->Server().RestoreEnabled());
    RefreshUntil(list, [] { return false; }, 2000);
    EXPECT_EQ(restores(0), 30);

    // The window gone, the list no longer asks it (nothing dangles).
    dlg->ControlAs<QPushButton>(CBootServerDlg::kStop)->click();
    EXPECT_FALSE(dlg->HelperRunning());
    delete dlg.data();
    RefreshUntil(list, [] { return false; }, 300);
    list.StopSearch();
  }
  sim->Stop();
}

}  // namespace
}  // namespace kelvara::ui
