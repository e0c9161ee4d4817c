// The device list's automatic commands in the test LAN: production mode's
// labels, restores and DHCP switches; new-device mode's restore by UUID; the
// restore of a device the boot-recovery server marked; the default login in
// the 8-bit form devices expect.
#include <QApplication>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "discovery/core/discovery_protocol.h"
#include "discovery/tests/lan_fixture.h"
#include "discovery/tests/reply_fixture.h"
#include "discovery/ui/device_list_controller.h"
#include "printing/qt/label_printer.h"

namespace kelvara::discovery {
namespace {

using namespace std::chrono_literals;

// "管理员" / "密码" as typed in the window (UTF-8) and as devices get them (GBK).
const std::string kUserUtf8 = "\xE7\xAE\xA1\xE7\x90\x86\xE5\x91\x98";
const std::string kPassUtf8 = "\xE5\xAF\x86\xE7\xA0\x81";
const OperatorAuth kGbk{"\xB9\xDC\xC0\xED\xD4\xB1", "\xC3\xDC\xC2\xEB"};

class RecordingSdk : public device::DeviceSdk {
 public:
  struct Login {
    std::string address, user, password;
  };
  int Login(const std::string& address, unsigned short, const std::string& user, const std::string& password) override {
    logins.push_back({address, user, password});
    return static_cast<int>(logins.size());
  }
  void Logout(int) override {}
  void LogoutAll() override {}
  void SetAutoReconnect(int, int) override {}
  std::vector<struct Login> logins;
};

template <typename Pred>
bool Pump(DeviceListController& controller, Pred pred, std::chrono::milliseconds limit = 5000ms) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    QCoreApplication::processEvents();
    controller.RefreshDeviceList();
    if (pred()) return true;
    std::this_thread::sleep_for(20ms);
  }
  return pred();
}

std::size_t Count(const std::vector<std::string>& texts, const std::string& text) {
  return static_cast<std::size_t>(std::count(texts.begin(), texts.end(), text));
}

std::string Restore(const std::string& serial) {
  return BuildDiscoveryMessage(kMsgRestore, *BuildSerialAuthXml(serial, 0, kGbk), 0);
}

std::string RestoreByUuid(const std::string& uuid) {
  return BuildDiscoveryMessage(kMsgRestoreByUuid, *BuildSerialAuthXml(uuid, 0, kGbk), 0);
}

// zbarimg's reading of the label page, one line per code.
std::vector<std::string> DecodeLabels(const std::filesystem::path& pdf) {
  const auto base = pdf.parent_path() / "page";
  const std::string render = "pdftoppm -r 300 -gray -singlefile '" + pdf.string() + "' '" + base.string() + "'";
  if (std::system(render.c_str()) != 0) return {};
  std::vector<std::string> lines;
  FILE* pipe = popen(("zbarimg --nodbus --raw -q '" + base.string() + ".pgm' 2>/dev/null").c_str(), "r");
  char buffer[512];
  while (pipe != nullptr && fgets(buffer, sizeof buffer, pipe) != nullptr) {
    std::string line(buffer);
    while (!line.empty() && line.back() == '\n') line.pop_back();
    lines.push_back(line);
  }
  if (pipe != nullptr) pclose(pipe);
  return lines;
}

DeviceListController::Options BaseOptions(RecordingSdk& sdk) {
  DeviceListController::Options options;
  options.sdk = &sdk;
  options.lookup = [](const char* key) { return std::string(key); };
  options.loginDefaults = [] { return device::LoginDefaults{kUserUtf8, kPassUtf8}; };
  return options;
}

TEST(ProductionModeLan, LabelsOnceRestoresAndSwitchesTheRestToDhcpWithoutLogins) {
  std::string why;
  if (!test::LanFixture::Enter(1, &why)) GTEST_SKIP() << why;
  test::FakeDevice labelled, plain;
  labelled.serial = "PRODP2P";
  labelled.p2pId = "ZQP2P0001ABCDEF";
  labelled.ip = "10.77.3.10";
  plain.serial = "PRODPLAIN";
  plain.ip = "10.77.3.11";
  plain.mac = "00:11:22:33:44:66";
  test::FakeDevices lan(0, [&] { return std::vector<std::string>{ReplyText(labelled), ReplyText(plain)}; });

  const auto dir = std::filesystem::temp_directory_path() / ("kelvara-production-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const auto pdf = dir / "label.pdf";
  printing::CTipsConfig tips{dir / "ZqTipsConfig.xml"};
  printing::CLabelPrinter printer{
      tips, std::make_unique<printing::PdfPrintBackend>(QString::fromStdString(pdf.string()), 300),
      dir / "printconfig.xml"};

  RecordingSdk sdk;
  std::vector<QString> played;
  DeviceListController::Options options = BaseOptions(sdk);
  options.productionMode = [] { return true; };
  options.printQrLabel = [&](const QString& qr, const QString& text) { return printer.PrintQrLabel(qr, text); };
  options.playSound = [&](const QString& path) { played.push_back(path); };
  options.programDir = QStringLiteral("/opt/kelvara");
  DeviceListController controller(options);

  // The plain device's DHCP switch: its own record with DHCP 1 and the default login.
  LANConfigInfo dhcp;
  dhcp.macAddress = plain.mac;
  dhcp.dhcp = 1;
  dhcp.ipAddress = plain.ip;
  dhcp.netmask = "255.255.0.0";
  dhcp.gateway = "10.77.0.1";
  dhcp.dns1 = "8.8.8.8";
  const std::string toDhcp = BuildDiscoveryMessage(kMsgSetNetwork, *BuildLanConfigXml(plain.serial, dhcp, kGbk), 0);

  ASSERT_TRUE(controller.StartSearch());
  ASSERT_TRUE(Pump(controller, [&] {
    const auto got = lan.Received();
    return Count(got, Restore(labelled.serial)) == 3 && Count(got, toDhcp) >= 1;
  }));
  EXPECT_EQ(controller.Rows().Count(), 2u);
  EXPECT_TRUE(sdk.logins.empty());  // production mode logs no new device in
  EXPECT_EQ(played, (std::vector<QString>{"/opt/kelvara/startprint.mp3", "/opt/kelvara/restore.mp3"}));
  EXPECT_EQ(DecodeLabels(pdf), (std::vector<std::string>{labelled.p2pId, labelled.p2pId}));

  // Later refreshes print nothing more: the labelled device is now switched to DHCP too.
  dhcp.macAddress = labelled.mac;
  dhcp.ipAddress = labelled.ip;
  const std::string labelledToDhcp =
      BuildDiscoveryMessage(kMsgSetNetwork, *BuildLanConfigXml(labelled.serial, dhcp, kGbk), 0);
  ASSERT_TRUE(Pump(controller, [&] { return Count(lan.Received(), labelledToDhcp) >= 1; }));
  EXPECT_EQ(played.size(), 2u);
  EXPECT_EQ(Count(lan.Received(), Restore(labelled.serial)), 3u);
  EXPECT_EQ(Count(lan.Received(), Restore(plain.serial)), 0u);
  ASSERT_TRUE(controller.StopSearch());
  std::filesystem::remove_all(dir);
}

// Marks one UUID until a restore was counted for it.
class OneMark : public RecoveryMarks {
 public:
  explicit OneMark(std::string uuid) : uuid_(std::move(uuid)) {}
  bool NeedsFactoryRestore(const std::string& uuid) override { return uuid == uuid_ && counted == 0; }
  void CountFactoryRestore(const std::string& uuid) override { counted += uuid == uuid_; }
  int counted = 0;

 private:
  std::string uuid_;
};

TEST(NewDeviceModeLan, EachUuidIsRestoredOnceAndDefaultLoginsGoOutInGbk) {
  std::string why;
  if (!test::LanFixture::Enter(1, &why)) GTEST_SKIP() << why;
  test::FakeDevice fresh, known;
  fresh.serial = "NEWDEV1";
  fresh.uuid = "uuid-new-1";
  fresh.ip = "10.77.4.10";
  fresh.withUser = false;  // logs in with the default login
  known.serial = "NEWDEV2";
  known.uuid = "uuid-new-2";
  known.ip = "10.77.4.11";
  test::FakeDevices lan(0, [&] { return std::vector<std::string>{ReplyText(fresh), ReplyText(known)}; });

  RecordingSdk sdk;
  DeviceListController controller(BaseOptions(sdk));
  OneMark marks(known.uuid);
  controller.SetRecoveryMarks(&marks);
  controller.SetNewDeviceMode(true);

  ASSERT_TRUE(controller.StartSearch());
  ASSERT_TRUE(Pump(controller, [&] {
    const auto got = lan.Received();
    return Count(got, RestoreByUuid(fresh.uuid)) == 3 && Count(got, RestoreByUuid(known.uuid)) == 3 &&
           Count(got, Restore(known.serial)) == 3;
  }));
  EXPECT_EQ(marks.counted, 1);
  EXPECT_EQ(Count(lan.Received(), Restore(fresh.serial)), 0u);
  ASSERT_EQ(sdk.logins.size(), 2u);
  const auto freshLogin = std::find_if(sdk.logins.begin(), sdk.logins.end(),
                                       [&](const auto& l) { return l.address == fresh.ip; });
  ASSERT_NE(freshLogin, sdk.logins.end());
  EXPECT_EQ(freshLogin->user, kGbk.userName);
  EXPECT_EQ(freshLogin->password, kGbk.password);

  // More replies and a new search: no UUID is restored again in this run.
  ASSERT_TRUE(controller.StopSearch());
  ASSERT_TRUE(controller.StartSearch());
  controller.SendSearchRequest();
  ASSERT_TRUE(Pump(controller, [&] { return controller.Rows().Count() == 2; }));
  Pump(controller, [] { return false; }, 600ms);
  ASSERT_TRUE(controller.StopSearch());
  EXPECT_EQ(Count(lan.Received(), RestoreByUuid(fresh.uuid)), 3u);
  EXPECT_EQ(Count(lan.Received(), RestoreByUuid(known.uuid)), 3u);
  // The map's default login for devices without an account is the GBK one too.
  const auto record = controller.Map().CopyDeviceRecord(fresh.serial);
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(record->userConfig.accounts[0].userName, kGbk.userName);
}

}  // namespace
}  // namespace kelvara::discovery
