// The login-free network settings end to end in the test LAN: the list's
// commands send their broadcasts, the device simulator journals the bytes
// it received (compared with golden texts) and applies them: new address,
// DHCP, restore keeping the network or not, reboot, factory mode.
#include <QApplication>
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "common/language_table.h"
#include "common/save_param.h"
#include "common/ui/user_prompts.h"
#include "discovery/core/discovery_protocol.h"
#include "discovery/tests/lan_fixture.h"
#include "discovery/ui/device_list_controller.h"
#include "discovery/ui/list_actions.h"
#include "dialogs/core/ip_setting_model.h"
#include "kelvara_test/test_env.h"
#include "simulator.h"

namespace kelvara::discovery {
namespace {

using namespace std::chrono_literals;

template <typename Pred>
bool Pump(Pred pred, std::chrono::milliseconds limit = 8000ms) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    QCoreApplication::processEvents();
    if (pred()) return true;
    std::this_thread::sleep_for(10ms);
  }
  return pred();
}

// Answers every message box with Yes and remembers its text.
class AnswerYes : public ui::UserPrompts {
 public:
  std::vector<QString> shown;
  int MessageBox(QWidget*, const QString& text, const QString&, ui::PromptIcon, ui::PromptButtons) override {
    shown.push_back(text);
    return ui::kAnswerYes;
  }
  QString OpenFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
  QString SaveFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
  QString FolderName(QWidget*, const QString&, const QString&) override { return {}; }
};

std::string Unhex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

// The discovery datagrams a device received since the last call (search requests left out).
std::vector<std::string> Received(devsim::Simulator& sim, const std::string& serial) {
  std::vector<std::string> out;
  std::istringstream in(sim.Control("journal " + serial + " clear"));
  std::string line;
  std::getline(in, line);  // "ok N"
  while (std::getline(in, line)) {
    if (line.rfind("udp ", 0) != 0) continue;
    const std::string text = Unhex(line.substr(4));
    if (text.find("Msg_code=\"1\"") == std::string::npos) out.push_back(text);
  }
  return out;
}

std::string State(devsim::Simulator& sim, const std::string& serial) { return sim.Control("state " + serial); }

// The datagram a command is sent as: the message header with the body
// (the bytes devices have always received, stray "/>" line included).
std::string Message(int code, int flag, const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"GB2312\" ?>\n<XML_MARLOWCAM>\n"
         "<MESSAGE_HEADER Msg_type=\"SYSTEM_SEARCHIPC_MESSAGE\" Msg_code=\"" + std::to_string(code) +
         "\" Msg_flag=\"" + std::to_string(flag) + "\" SOURCE=\"ZQTOOLS\" />\n/>\n<MESSAGE_BODY>\n" + body +
         "\n</MESSAGE_BODY>\n</XML_MARLOWCAM>";
}

// Starts the simulator's devices inside the LAN; its error text, "" when they run.
std::string StartInLan(const devsim::SimConfig& config, std::unique_ptr<devsim::Simulator>& sim) {
  std::string error = "not started";
  if (!test::LanFixture::RunInLan([&] {
        sim = std::make_unique<devsim::Simulator>(config);
        error = sim->Start();
      }))
    return "could not enter the LAN";
  return error;
}

// The device list in a window with its commands' prompts and settings.
struct ListWindow {
  explicit ListWindow(DeviceListController::Options options) : list(std::move(options)) {
    list.CreateListWidget(&window);
    list.InitDeviceListColumns();
    hooks.prompts = &prompts;
    hooks.settings = &settings;
  }
  DeviceListController list;
  QWidget window;
  AnswerYes prompts;
  CSaveParam settings{kelvara::test::MakeTempDir() / "zq_cfg.xml"};
  DeviceListActions::Hooks hooks;
};

TEST(NetworkSettingsLan, EveryCommandReachesTheDeviceAndIsApplied) {
  std::string why;
  if (!test::LanFixture::Enter(1, &why)) GTEST_SKIP() << why;
  constexpr int kDevices = 4;
  for (int i = 1; i <= kDevices; ++i) ASSERT_TRUE(test::LanFixture::AddLanAddress(0, "10.77.1." + std::to_string(i)));
  ASSERT_TRUE(test::LanFixture::AddLanAddress(0, "10.77.3.3"));
  devsim::SimConfig config;
  config.stdin_control = false;
  devsim::DeviceConfig templ;
  templ.reboot_ms = 100;
  templ.password = "470913";
  ASSERT_EQ(devsim::GenerateDevices(templ, kDevices, "10.77.1.1", "NS", config.devices), "");
  std::unique_ptr<devsim::Simulator> sim;
  ASSERT_EQ(StartInLan(config, sim), "");

  DeviceListController::Options options;
  options.loginDefaults = [] { return device::LoginDefaults{"admin", "470913"}; };
  options.localNetwork = [] { return LocalNetworkConfig{"10.77.0.1", "255.255.0.0", "10.77.0.2", "10.77.0.2", ""}; };
  ListWindow w(options);
  DeviceListController& list = w.list;
  AnswerYes& prompts = w.prompts;
  CSaveParam& settings = w.settings;
  DeviceListActions::Hooks& hooks = w.hooks;
  dialogs::IpSettingValues dialogAnswer;
  hooks.runIpDialog = [&](dialogs::IpSettingValues& v, bool, int, bool) {
    v = dialogAnswer;
    return true;
  };
  hooks.firstAdapter = [](std::uint32_t& a, std::uint32_t& m, std::uint32_t& g) {
    a = 0x0A4D0001, m = 0xFFFF0000, g = 0;
    return true;
  };
  DeviceListActions actions(list, hooks);
  controls::CReportCtrl* view = list.List();
  ASSERT_TRUE(list.StartSearch());
  ASSERT_TRUE(Pump([&] {
    list.RefreshDeviceList();
    return view->GetItemCount() == kDevices;
  }));
  auto select = [&](const std::string& serial) {
    view->clearSelection();
    view->selectRow(list.RowIndex(*list.Rows().FindByKey(serial)));
  };
  auto checkOnly = [&](std::vector<std::string> serials) {
    for (int i = 0; i < view->GetItemCount(); ++i) view->SetCheck(i, false);
    for (const auto& s : serials) view->SetCheck(list.RowIndex(*list.Rows().FindByKey(s)), true);
  };
  const std::string a = config.devices[0].serial, b = config.devices[1].serial, none = config.devices[2].serial,
                    d = config.devices[3].serial;
  for (const auto& s : {a, b, none, d}) Received(*sim, s);

  // Change address: the dialog's values go out once, and the device moves.
  select(a);
  dialogAnswer = {0, "10.77.3.3", "255.255.0.0", "10.77.0.2", "10.77.0.2", "", ""};
  actions.OnChangeIp();
  ASSERT_TRUE(Pump([&] { return !Received(*sim, a).empty() || State(*sim, a).find("ip=10.77.3.3") != std::string::npos; }));
  EXPECT_NE(State(*sim, a).find("ip=10.77.3.3 netmask=255.255.0.0 gateway=10.77.0.2 dhcp=0"), std::string::npos)
      << State(*sim, a);
  EXPECT_EQ(view->GetItemText(list.RowIndex(*list.Rows().FindByKey(a)), list.Columns().GetColumnIndex(kColIp)).toStdString(),
            "10.77.3.3");

  // DHCP for a device that replied without an address: the fixed fallback
  // address goes with it. (The search stops first, so no reply replaces it.)
  list.StopSearch();
  list.Map().Modify(none, [](DeviceSearchInfo& r) { r.lanConfig.ipAddress = "0.0.0.0"; });
  list.RefreshDeviceList();
  checkOnly({none});
  actions.OnSetDhcp();
  std::vector<std::string> got;
  ASSERT_TRUE(Pump([&] { return !(got = Received(*sim, none)).empty(); }));
  const std::string mac = config.devices[2].mac;
  EXPECT_EQ(got, (std::vector<std::string>{Message(2, 0,
      "<IPC_SERIALNUMBER\r\nSerialNumber=\"" + none + "\"\r\n/>\r\n"
      "<OPERATOR_AUTH Username=\"admin\" Password=\"470913\" />\r\n"
      "<LANConfig\r\nMacAddress=\"" + mac + "\"\r\nDHCP=\"1\"\r\nIPAddress=\"192.168.0.123\"\r\n"
      "Netmask=\"255.255.255.0\"\r\nGateway=\"192.168.0.1\"\r\nDNS1=\"10.77.0.1\"\r\nDNS2=\"10.77.0.2\"\r\n/>\r\n")}));
  EXPECT_NE(State(*sim, none).find("dhcp=1"), std::string::npos) << State(*sim, none);

  // Restore keeping the network: three times, with <retain value="network" />.
  checkOnly({b});
  actions.OnFactoryRestore(menu_id::kRestoreKeepNetwork);
  // Four passes; the device reboots after the first restore of each and
  // misses the two that follow at once.
  got.clear();
  ASSERT_TRUE(Pump([&] {
    for (auto& t : Received(*sim, b)) got.push_back(std::move(t));
    return got.size() >= 3;
  }));
  const std::string keep = Message(5, 0, "<IPC_SERIALNUMBER SerialNumber=\"" + b + "\" />\r\n<retain value=\"network\" />\r\n"
                                         "<OPERATOR_AUTH Username=\"admin\" Password=\"470913\" />\r\n");
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got.front(), keep);
  for (const auto& t : got) EXPECT_EQ(t, keep);
  EXPECT_NE(State(*sim, b).find("ip=10.77.1.2"), std::string::npos) << State(*sim, b);

  // Factory mode (three times) and reboot by broadcast.
  EXPECT_EQ(list.SetFactoryModeByBD(d, 1), 0);
  ASSERT_TRUE(Pump([&] { return State(*sim, d).find("factory_mode=1") != std::string::npos; })) << State(*sim, d);
  EXPECT_EQ(list.RebootDevByBD(d, "admin", "470913"), 0);
  ASSERT_TRUE(Pump([&] { return State(*sim, d).find("reboots=1") != std::string::npos; })) << State(*sim, d);
  got = Received(*sim, d);
  const std::string serialBody = "<IPC_SERIALNUMBER SerialNumber=\"" + d + "\" />\r\n"
                                 "<OPERATOR_AUTH Username=\"admin\" Password=\"470913\" />\r\n";
  EXPECT_EQ(got, (std::vector<std::string>{Message(9, 1, serialBody), Message(9, 1, serialBody),
                                           Message(9, 1, serialBody), Message(7, 0, serialBody)}));
  ASSERT_TRUE(Pump([&] { return State(*sim, d).find("up=1") != std::string::npos; }));
  EXPECT_EQ(list.RebootDevByBD("no such device", "admin", "470913"), kSerialNotInMap);

  // A free address: the first that does not answer a real probe (.2 is the LAN side).
  select(d);
  Received(*sim, d);
  actions.OnSetStaticIp();
  ASSERT_TRUE(Pump([&] { return !actions.ProbeRunning(); }, 20000ms));
  ASSERT_TRUE(Pump([&] { return !(got = Received(*sim, d)).empty(); }));
  EXPECT_NE(got[0].find("IPAddress=\"10.77.0.3\""), std::string::npos) << got[0];

  // Consecutive addresses at the end of the subnet: a range too short for
  // the checked rows is refused before anything is sent.
  for (const auto& s : {a, b, none, d}) Received(*sim, s);
  checkOnly({a, b, d});
  dialogAnswer = {0, "10.77.1.252", "255.255.255.0", "10.77.1.1", "", "", "10.77.1.254"};
  prompts.shown.clear();
  actions.OnSetIpConsecutive();
  EXPECT_EQ(settings.default_from_ip, "10.77.1.252");
  dialogAnswer.startAddress = "10.77.1.253";
  actions.OnSetIpConsecutive();
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].toStdString(), LangText("IP_RANGE_TOO_SHORT"));
  // The first run went out: .252, .253, .254 in list order.
  for (const auto& [serial, ip] : {std::pair{a, "10.77.1.252"}, {b, "10.77.1.253"}, {d, "10.77.1.254"}}) {
    ASSERT_TRUE(Pump([&] { return !(got = Received(*sim, serial)).empty(); })) << serial;
    EXPECT_EQ(got.size(), 1u) << serial;  // the refused second run sent nothing
    EXPECT_NE(got[0].find(std::string("IPAddress=\"") + ip + "\""), std::string::npos) << got[0];
  }
  // A serial number that has left the map: the next device gets its address.
  list.Rows().FindByKey(b)->m_key = "left the map";
  dialogAnswer.startAddress = "10.77.1.100";
  dialogAnswer.endAddress = "10.77.1.110";
  actions.OnSetIpConsecutive();
  ASSERT_TRUE(Pump([&] { return !(got = Received(*sim, d)).empty(); }));
  EXPECT_NE(got[0].find("IPAddress=\"10.77.1.101\""), std::string::npos) << got[0];
  EXPECT_TRUE(Received(*sim, b).empty());

  sim->Stop();
}

// The test LAN has no default route, as the usual bench: the address
// settings come from the PC's adapter (10.77.0.1/16), not from the built-in
// defaults of another network. Consecutive addressing and the batch-debug
// rows propose values that the address dialog's OK accepts (the gateway is
// the network plus 1), and a free address goes out with the adapter's mask.
TEST(NetworkSettingsLan, WithoutAGatewayTheProposalsComeFromTheAdapter) {
  std::string why;
  if (!test::LanFixture::Enter(1, &why)) GTEST_SKIP() << why;
  for (const char* ip : {"10.77.5.1", "10.77.5.2"}) ASSERT_TRUE(test::LanFixture::AddLanAddress(0, ip));
  devsim::SimConfig config;
  config.stdin_control = false;
  devsim::DeviceConfig templ;
  templ.password = "470913";
  ASSERT_EQ(devsim::GenerateDevices(templ, 2, "10.77.5.1", "NG", config.devices), "");
  std::unique_ptr<devsim::Simulator> sim;
  ASSERT_EQ(StartInLan(config, sim), "");

  DeviceListController::Options options;  // the PC's own network, as the program reads it
  options.loginDefaults = [] { return device::LoginDefaults{"admin", "470913"}; };
  ListWindow w(options);
  DeviceListController& list = w.list;
  DeviceListActions::Hooks& hooks = w.hooks;
  // The dialog's OK checks what was proposed; consecutive addressing takes it.
  std::vector<dialogs::IpSettingValues> proposed;
  std::vector<dialogs::IpSettingError> okSays;
  hooks.runIpDialog = [&](dialogs::IpSettingValues& v, bool range, int count, bool full) {
    proposed.push_back(v);
    dialogs::IpSettingModel model;
    model.rangeMode = range;
    model.deviceCount = count;
    model.requireFullRange = full;
    const std::uint32_t start = dialogs::FieldFromText(v.startAddress), mask = dialogs::FieldFromText(v.netmask);
    okSays.push_back(model.Validate(start, model.EndFor(start, mask), mask, dialogs::FieldFromText(v.gateway)));
    v.endAddress = dialogs::TextFromField(model.EndFor(start, mask), true);
    return full;  // the batch-debug rows are not made: the list stays
  };
  DeviceListActions actions(list, hooks);
  controls::CReportCtrl* view = list.List();
  ASSERT_TRUE(list.StartSearch());
  ASSERT_TRUE(Pump([&] {
    list.RefreshDeviceList();
    return view->GetItemCount() == 2;
  }));
  list.StopSearch();
  const std::string a = config.devices[0].serial, b = config.devices[1].serial;
  for (const auto& serial : {a, b}) Received(*sim, serial);

  actions.FillBatchDebugRows();
  for (int i = 0; i < view->GetItemCount(); ++i) view->SetCheck(i, true);
  actions.OnSetIpConsecutive();
  ASSERT_EQ(proposed.size(), 2u);
  EXPECT_EQ(proposed[0].startAddress, "10.77.0.2");
  EXPECT_EQ(proposed[1].startAddress, "10.77.0.160");
  for (const auto& p : proposed) {
    EXPECT_EQ(p.netmask, "255.255.0.0");
    EXPECT_EQ(p.gateway, "10.77.0.1");
  }
  EXPECT_EQ(okSays, (std::vector<dialogs::IpSettingError>{dialogs::IpSettingError::kNone, dialogs::IpSettingError::kNone}));
  for (const auto& [serial, ip] : {std::pair{a, "10.77.0.160"}, {b, "10.77.0.161"}})
    ASSERT_TRUE(Pump([&] {
      return State(*sim, serial).find(std::string("ip=") + ip + " netmask=255.255.0.0 gateway=10.77.0.1 ") !=
             std::string::npos;
    })) << State(*sim, serial);

  // A free address of the PC's subnet, probed for real: the adapter's mask
  // and no gateway of a network that is not there.
  for (const auto& serial : {a, b}) Received(*sim, serial);
  view->clearSelection();
  view->selectRow(list.RowIndex(*list.Rows().FindByKey(a)));
  actions.OnSetStaticIp();
  ASSERT_TRUE(Pump([&] { return !actions.ProbeRunning(); }, 20000ms));
  std::vector<std::string> got;
  ASSERT_TRUE(Pump([&] { return !(got = Received(*sim, a)).empty(); }));
  EXPECT_NE(got[0].find("IPAddress=\"10.77.0."), std::string::npos) << got[0];
  EXPECT_NE(got[0].find("Netmask=\"255.255.0.0\""), std::string::npos) << got[0];
  EXPECT_NE(got[0].find("Gateway=\"\""), std::string::npos) << got[0];
  EXPECT_EQ(got[0].find("192.168.1."), std::string::npos) << got[0];
  sim->Stop();
}

}  // namespace
}  // namespace kelvara::discovery
