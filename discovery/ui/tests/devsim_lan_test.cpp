// The main road with the device simulator and the real device SDK, in the
// test LAN: search, rows, automatic logins over the SDK, a refused login in
// its row, and a device re-addressed by broadcast that is logged in again.
#include <QApplication>
#include <gtest/gtest.h>

#include <VaRurOvoDiv/zq_netsdk_ipc.h>

#include <chrono>
#include <thread>

#include "device/core/zq_netsdk.h"
#include "discovery/core/body_builders.h"
#include "discovery/core/discovery_protocol.h"
#include "discovery/tests/lan_fixture.h"
#include "discovery/ui/device_list_controller.h"
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

TEST(DevsimLan, SearchLoginRefusedLoginAndReaddress) {
  std::string why;
  if (!test::LanFixture::Enter(1, &why)) GTEST_SKIP() << why;
  constexpr int kDevices = 8;
  for (int i = 1; i <= kDevices; ++i) ASSERT_TRUE(test::LanFixture::AddLanAddress(0, "10.77.1." + std::to_string(i)));
  ASSERT_TRUE(test::LanFixture::AddLanAddress(0, "10.77.3.3"));

  devsim::SimConfig config;
  config.stdin_control = false;
  devsim::DeviceConfig templ;
  templ.reboot_ms = 100;
  ASSERT_EQ(devsim::GenerateDevices(templ, kDevices, "10.77.1.1", "SIM", config.devices), "");
  // Device 2 sends no account: the settings' default login, which it refuses.
  config.devices[2].reply_account = false;
  std::unique_ptr<devsim::Simulator> sim;
  std::string startError = "not started";
  ASSERT_TRUE(test::LanFixture::RunInLan([&] {
    sim = std::make_unique<devsim::Simulator>(config);
    startError = sim->Start();
  }));
  ASSERT_EQ(startError, "");

  ASSERT_EQ(ZQ_NETSDK_IPC_Init(), 0);
  device::ZqNetSdk sdk;
  DeviceListController::Options options;
  options.sdk = &sdk;
  options.lookup = [](const char* key) { return std::string(key); };
  options.loginDefaults = [] { return device::LoginDefaults{"admin", "wrong"}; };
  auto controller = std::make_unique<DeviceListController>(options);
  device::RegisterSdkCallbacks(&controller->EventSink());
  QWidget window;
  controls::CReportCtrl* list = controller->CreateListWidget(&window);
  controller->InitDeviceListColumns();
  const ColumnMap& cols = controller->Columns();
  auto cell = [&](const std::string& serial, int column) {
    DeviceListRow* row = controller->Rows().FindByKey(serial);
    return row ? list->GetItemText(controller->RowIndex(*row), cols.GetColumnIndex(column)).toStdString()
               : std::string("<no row>");
  };

  ASSERT_TRUE(controller->StartSearch());
  ASSERT_TRUE(Pump([&] {
    controller->RefreshDeviceList();
    return list->GetItemCount() == kDevices;
  }));
  const std::string good = config.devices[0].serial, refused = config.devices[2].serial;
  EXPECT_EQ(cell(good, kColNetcard), "10.77.0.1");
  EXPECT_EQ(cell(good, kColIp), "10.77.1.1");
  ASSERT_TRUE(Pump([&] { return controller->Rows().FindByKey(good)->m_online; })) << cell(good, kColState);
  EXPECT_EQ(cell(good, kColState), "MSGTIP1");
  ASSERT_TRUE(Pump([&] { return cell(refused, kColState) == "IDS_STR_ZH_CN_USERERROR"; })) << cell(refused, kColState);
  EXPECT_FALSE(controller->Rows().FindByKey(refused)->m_online);

  // Re-address device 5 by broadcast: its row follows and it logs in again.
  const devsim::DeviceConfig& target = config.devices[5];
  DeviceListRow* row = controller->Rows().FindByKey(target.serial);
  ASSERT_TRUE(row);
  const int oldHandle = row->m_loginHandle;
  LANConfigInfo lan = row->m_searchInfo.lanConfig;
  lan.ipAddress = "10.77.3.3";
  auto body = BuildLanConfigXml(target.serial, lan, OperatorAuth{target.user, target.password});
  ASSERT_TRUE(body);
  controller->SendDiscoveryMessage(kMsgSetNetwork, *body, 0);
  ASSERT_TRUE(Pump([&] {
    controller->SendSearchRequest();
    controller->RefreshDeviceList();
    return row->m_searchInfo.lanConfig.ipAddress == "10.77.3.3";
  }));
  EXPECT_NE(row->m_loginHandle, oldHandle);
  EXPECT_GT(row->m_loginHandle, 0);
  EXPECT_EQ(list->GetItemCount(), kDevices);
  ASSERT_TRUE(Pump([&] { return row->m_online; })) << cell(target.serial, kColState);
  EXPECT_EQ(cell(target.serial, kColIp), "10.77.3.3");

  controller->StopSearch();
  device::RegisterSdkCallbacks(nullptr);
  controller.reset();
  ZQ_NETSDK_IPC_Cleanup();
  sim->Stop();
}

}  // namespace
}  // namespace kelvara::discovery
