// The device commands on the window's device list: events and replies posted
// to the list reach the handlers, rows are found by list index, the direct
// commands act on checked and selected rows, and the demo timer's day mode.
#include <QApplication>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "device/tests/command_fixture.h"
#include "device/ui/device_command_host.h"
#include "discovery/core/search_reply.h"
#include "discovery/tests/reply_fixture.h"

namespace kelvara::device {
namespace {

using namespace std::chrono_literals;

class InstantLogin : public DeviceSdk {
 public:
  int Login(const std::string&, unsigned short, const std::string&, const std::string&) override { return ++next; }
  void Logout(int) override {}
  void LogoutAll() override {}
  void SetAutoReconnect(int, int) override {}
  int next = 100;
};

template <typename Pred>
bool Pump(Pred pred) {
  const auto end = std::chrono::steady_clock::now() + 5000ms;
  while (std::chrono::steady_clock::now() < end) {
    QCoreApplication::processEvents();
    if (pred()) return true;
    std::this_thread::sleep_for(5ms);
  }
  return pred();
}

TEST(DeviceCommandHost, EventsRepliesAndRowsOfTheWindowList) {
  InstantLogin login;
  discovery::DeviceListController::Options lo;
  lo.sdk = &login;
  lo.lookup = [](const char* key) { return std::string(key); };
  lo.adapters = [] { return std::vector<discovery::Ipv4>{}; };
  discovery::DeviceListController list(lo);
  QWidget window;
  auto* control = list.CreateListWidget(&window);
  list.InitDeviceListColumns();
  for (int i = 0; i < 2; ++i) {
    discovery::test::FakeDevice d;
    d.serial = "DEV" + std::to_string(i);
    d.ip = "10.77.1." + std::to_string(10 + i);
    list.Map().AddOrUpdateDevice(*discovery::ParseSearchReply(discovery::test::ReplyText(d)), "10.77.0.1", 1);
  }
  list.RefreshDeviceList();
  ASSERT_EQ(control->GetItemCount(), 2);

  test::RecordingSdk sdk;
  DeviceCommands::Options o;
  o.sdk = &sdk;
  o.lookup = [](const char* key) { return std::string(key); };
  o.fileTimeNow = [] { return 134412768002500000ULL; };
  DeviceCommandHost host(list, o, nullptr, &window);
  discovery::DeviceListRow* first = host.RowAt(0);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(host.RowAt(2), nullptr);
  EXPECT_EQ(host.RowAt(-1), nullptr);

  // Status events posted from another thread reach the handler: online, and
  // the login queries go out.
  std::thread([&] {
    for (int h : {101, 102}) StatusEventCallBack(h, 4, "", &list.EventSink());
  }).join();
  ASSERT_TRUE(Pump([&] { return first->m_online && host.RowAt(1)->m_online; }));
  EXPECT_EQ(sdk.calls.size(), 12u);  // six per login

  // A reply completes a set after get.
  sdk.calls.clear();
  host.Commands().RequestTvSystemChange(first, 2);
  std::thread([&] {
    AuxResponseCallBack(101, 504, "<Video><Capture TVSystem=\"1\"/></Video>", &list.EventSink());
  }).join();
  ASSERT_TRUE(Pump([&] { return sdk.calls.size() == 2; }));
  EXPECT_EQ(sdk.calls[1], (test::SdkCall{"SetDVRConfig", 101, 524, "<Video><Capture TVSystem=\"2\" /></Video>"}));

  // Checked rows in list order; the test buttons' request to each.
  control->SetCheck(1, true);
  ASSERT_EQ(host.CheckedRows().size(), 1u);
  sdk.calls.clear();
  host.OnPrivacyMaskCommand();
  EXPECT_EQ(sdk.calls, (std::vector<test::SdkCall>{{"SystemControl", 102, 1118, "<REQUEST_PARAM />\n"}}));
  sdk.calls.clear();
  host.OnBatchSyncTime();
  ASSERT_EQ(sdk.calls.size(), 1u);
  EXPECT_EQ(sdk.calls[0].code, 1064);

  // The demo timer's day mode for a demonstrating row.
  sdk.calls.clear();
  first->m_ircutDemoState = 3;
  first->m_videoCaptureBlock = "<Video><Capture IrcutMode=\"2\"/></Video>";
  host.RestoreDayMode(0);
  EXPECT_EQ(first->m_ircutDemoState, 0);
  EXPECT_EQ(sdk.calls, (std::vector<test::SdkCall>{
                           {"SystemControl", 101, 1046, "<REQUEST_PARAM Mode=\"DayMode\" />\n"},
                           {"SetDVRConfig", 101, 524, "<Video><Capture IrcutMode=\"2\"/></Video>"}}));
}

}  // namespace
}  // namespace kelvara::device
