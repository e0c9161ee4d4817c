// The cyclic reboot test in the test LAN: the window's button starts it on
// the selected row, every tick reboots the device by broadcast with the
// operator's credentials (operation-password mode), devsim counts the
// reboots; nothing is sent after the stop, and a list clear ends the test.
#include <QApplication>
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "device/tests/command_fixture.h"
#include "device/ui/cyclic_reboot_host.h"
#include "discovery/tests/lan_fixture.h"
#include "discovery/ui/device_list_controller.h"
#include "simulator.h"

namespace kelvara::device {
namespace {

using namespace std::chrono_literals;

template <typename Pred>
bool Pump(Pred pred, std::chrono::milliseconds limit = 8000ms) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    QCoreApplication::processEvents();
    if (pred()) return true;
    std::this_thread::sleep_for(5ms);
  }
  return pred();
}

std::string Unhex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

// The reboot datagrams (Msg_code 7) the device received since the last call.
std::vector<std::string> Reboots(devsim::Simulator& sim, const std::string& serial) {
  std::vector<std::string> out;
  std::istringstream in(sim.Control("journal " + serial + " clear"));
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    if (line.rfind("udp ", 0) != 0) continue;
    const std::string text = Unhex(line.substr(4));
    if (text.find("Msg_code=\"7\"") != std::string::npos) out.push_back(text);
  }
  return out;
}

int RebootCount(devsim::Simulator& sim, const std::string& serial) {
  const std::string state = sim.Control("state " + serial);
  const auto at = state.find("reboots=");
  return at == std::string::npos ? -1 : std::atoi(state.c_str() + at + 8);
}

TEST(CyclicRebootLan, TicksRebootByBroadcastUntilStoppedOrTheListIsCleared) {
  std::string why;
  if (!discovery::test::LanFixture::Enter(1, &why)) GTEST_SKIP() << why;
  ASSERT_TRUE(discovery::test::LanFixture::AddLanAddress(0, "10.77.1.1"));
  ASSERT_TRUE(discovery::test::LanFixture::AddLanAddress(0, "10.77.1.2"));
  devsim::SimConfig config;
  config.stdin_control = false;
  devsim::DeviceConfig templ;
  templ.reboot_ms = 50;
  templ.password = "470913";
  ASSERT_EQ(devsim::GenerateDevices(templ, 2, "10.77.1.1", "CR", config.devices), "");
  std::unique_ptr<devsim::Simulator> sim;
  std::string startError = "not started";
  ASSERT_TRUE(discovery::test::LanFixture::RunInLan([&] {
    sim = std::make_unique<devsim::Simulator>(config);
    startError = sim->Start();
  }));
  ASSERT_EQ(startError, "");
  const std::string a = config.devices[0].serial, b = config.devices[1].serial;

  std::string operationPassword = "   ";
  int errors = 0;
  discovery::DeviceListController::Options options;
  options.loginDefaults = [] { return LoginDefaults{"admin", "470913"}; };
  options.localNetwork = [] {
    return LocalNetworkConfig{"10.77.0.1", "255.255.0.0", "10.77.0.2", "10.77.0.2", ""};
  };
  options.operatorAuthInputs = [&operationPassword] {
    discovery::OperatorAuthInputs in;
    in.defaultUser = "nobody";
    in.defaultPassword = "wrong";
    in.operationPasswordShown = true;
    in.operationPassword = operationPassword;
    return in;
  };
  options.showError = [&errors](const QString&, const QString&) { ++errors; };
  discovery::DeviceListController list(options);
  QWidget window;
  controls::CReportCtrl* view = nullptr;
  list.CreateListWidget(&window);
  list.InitDeviceListColumns();
  view = list.List();
  ASSERT_TRUE(list.StartSearch());
  ASSERT_TRUE(Pump([&] {
    list.RefreshDeviceList();
    return view->GetItemCount() == 2;
  }));

  test::RecordingSdk sdk;
  DeviceCommands::Options o;
  o.sdk = &sdk;
  o.lookup = [](const char* key) { return std::string(key); };
  o.broadcastRebootSwitch = [] { return 1; };  // operation-password mode: broadcast only
  DeviceCommandHost host(list, o, nullptr, &window);
  QString button;
  int selected = list.RowIndex(*list.Rows().FindByKey(a));
  CyclicRebootHost::Hooks hooks;
  hooks.selectedIndex = [&selected] { return selected; };
  hooks.setButtonText = [&button](const QString& t) { button = t; };
  hooks.periodMs = 3600 * 1000;  // the ticks of the first part are driven by hand
  CyclicRebootHost cyclic(host, hooks);
  QObject::connect(&list, &discovery::DeviceListController::listCleared, &cyclic, [&cyclic] { cyclic.Stop(); });
  Reboots(*sim, a);
  Reboots(*sim, b);

  // Blanks only in the operation password box: the test does not start.
  cyclic.OnButton();
  EXPECT_EQ(errors, 1);
  EXPECT_FALSE(cyclic.Test().Running());
  EXPECT_TRUE(button.isEmpty());

  operationPassword = " 470913 ";
  cyclic.OnButton();
  ASSERT_TRUE(cyclic.Test().Running());
  EXPECT_TRUE(cyclic.TimerActive());
  EXPECT_EQ(button, QString::fromUtf8(CyclicRebootHost::kStopText));
  for (int tick = 1; tick <= 3; ++tick) {
    cyclic.Test().Step();
    ASSERT_TRUE(Pump([&] { return RebootCount(*sim, a) == tick; })) << tick;
    Pump([] { return false; }, 80ms);  // the device is back from its reboot
  }
  cyclic.OnButton();  // stop
  EXPECT_EQ(button, QString::fromUtf8(CyclicRebootHost::kStartText));
  EXPECT_EQ(RebootCount(*sim, a), 3);
  const std::vector<std::string> got = Reboots(*sim, a);
  ASSERT_EQ(got.size(), 3u);
  for (const std::string& m : got) {
    EXPECT_NE(m.find("<IPC_SERIALNUMBER SerialNumber=\"" + a + "\" />"), std::string::npos) << m;
    EXPECT_NE(m.find("<OPERATOR_AUTH Username=\"admin\" Password=\"470913\" />"), std::string::npos) << m;
  }
  EXPECT_TRUE(sdk.calls.empty());  // no SDK reboot in this mode
  Pump([] { return false; }, 600ms);
  EXPECT_EQ(RebootCount(*sim, a), 3) << "nothing after the stop";
  EXPECT_TRUE(Reboots(*sim, b).empty());
  EXPECT_EQ(errors, 1) << "credentials were asked for once";

  // On its own timer, then the list is emptied (a search, an import): the
  // test ends, its button shows the start text, nothing more is sent.
  hooks.periodMs = 250;
  CyclicRebootHost timed(host, hooks);
  QObject::connect(&list, &discovery::DeviceListController::listCleared, &timed, [&timed] { timed.Stop(); });
  timed.OnButton();
  ASSERT_TRUE(Pump([&] { return RebootCount(*sim, a) >= 4; }));
  list.ClearDeviceMapAndList();
  EXPECT_FALSE(timed.Test().Running());
  EXPECT_FALSE(timed.TimerActive());
  EXPECT_EQ(button, QString::fromUtf8(CyclicRebootHost::kStartText));
  Pump([] { return false; }, 300ms);
  const int after = RebootCount(*sim, a);
  Pump([] { return false; }, 600ms);
  EXPECT_EQ(RebootCount(*sim, a), after) << "nothing after the list clear";
  list.StopSearch();
  sim->Stop();
}

}  // namespace
}  // namespace kelvara::device
