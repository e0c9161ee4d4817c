// The device list end to end: search in the test LAN, rows in the list
// control after a refresh tick, automatic logins, online state and failures
// from SDK events posted from another thread.
#include <QApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "device/core/login_events.h"
#include "discovery/core/discovery_log.h"
#include "discovery/core/search_reply.h"
#include "discovery/tests/lan_fixture.h"
#include "discovery/tests/reply_fixture.h"
#include "discovery/ui/device_list_controller.h"

namespace kelvara::discovery {
namespace {

using namespace std::chrono_literals;

// Accepts every login at once and reports the outcome from its own thread,
// as the SDK does: refused when the password is "bad".
class ThreadedSdk : public device::DeviceSdk {
 public:
  explicit ThreadedSdk(device::SdkEventSink*& sink) : sink_(sink) {}
  ~ThreadedSdk() override {
    for (auto& t : threads_) t.join();
  }
  int Login(const std::string& address, unsigned short, const std::string&, const std::string& password) override {
    const int handle = ++next_;
    logins.push_back(address);
    const int event = password == "bad" ? device::kEventLoginRefused : device::kEventLoginOk;
    threads_.emplace_back([this, handle, event] {
      device::StatusEventCallBack(handle, event, "", sink_);
    });
    return handle;
  }
  void Logout(int handle) override { logouts.push_back(handle); }
  void LogoutAll() override { ++logoutAlls; }
  void SetAutoReconnect(int, int) override {}
  std::vector<std::string> logins;
  std::vector<int> logouts;
  int logoutAlls = 0;

 private:
  device::SdkEventSink*& sink_;
  std::vector<std::thread> threads_;
  int next_ = 0;
};

std::vector<std::string> Replies(int count, const std::string& lastIp = "", const std::string& badSerial = "") {
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) {
    test::FakeDevice d;
    d.serial = "DEV" + std::to_string(i);
    d.ip = "10.77.1." + std::to_string(10 + i);
    if (i == count - 1 && !lastIp.empty()) d.ip = lastIp;
    if (d.serial == badSerial) d.password = "bad";
    out.push_back(ReplyText(d));
  }
  return out;
}

template <typename Pred>
bool Pump(Pred pred, std::chrono::milliseconds limit = 5000ms) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    QCoreApplication::processEvents();
    if (pred()) return true;
    std::this_thread::sleep_for(10ms);
  }
  return pred();
}

TEST(DeviceListLan, SearchFillsTheListAndLogsEveryDeviceIn) {
  std::string why;
  if (!test::LanFixture::Enter(1, &why)) GTEST_SKIP() << why;
  test::FakeDevices lan(0, [] { return Replies(20, "", "DEV3"); });

  device::SdkEventSink* sink = nullptr;
  ThreadedSdk sdk(sink);
  DeviceListController::Options options;
  options.sdk = &sdk;
  options.lookup = [](const char* key) { return std::string(key); };
  DeviceListController controller(options);
  sink = &controller.EventSink();
  QWidget window;
  controls::CReportCtrl* list = controller.CreateListWidget(&window);
  controller.InitDeviceListColumns();
  QString totals;
  QObject::connect(&controller, &DeviceListController::totalsChanged, [&](const QString& t) { totals = t; });
  ASSERT_EQ(list->GetColumnCount(), 20);
  EXPECT_EQ(list->GetColumnHeaderText(0), "IP");

  ASSERT_TRUE(controller.StartSearch());
  ASSERT_TRUE(Pump([&] {
    controller.RefreshDeviceList();
    return list->GetItemCount() == 20;
  }));
  EXPECT_EQ(sdk.logins.size(), 20u);
  const ColumnMap& cols = controller.Columns();
  DeviceListRow* row3 = controller.Rows().FindByKey("DEV3");
  DeviceListRow* row5 = controller.Rows().FindByKey("DEV5");
  ASSERT_TRUE(row3 && row5);
  // Status events arrive from the SDK's threads and are handled on this one.
  ASSERT_TRUE(Pump([&] { return row5->m_online; }));
  const int i3 = controller.RowIndex(*row3), i5 = controller.RowIndex(*row5);
  EXPECT_EQ(list->GetItemText(i5, cols.GetColumnIndex(kColState)), "MSGTIP1");
  ASSERT_TRUE(Pump([&] { return list->GetItemText(i3, cols.GetColumnIndex(kColState)) == "IDS_STR_ZH_CN_USERERROR"; }));
  EXPECT_FALSE(row3->m_online);
  EXPECT_EQ(list->GetItemText(i5, cols.GetColumnIndex(kColIp)), "10.77.1.15");
  EXPECT_EQ(list->GetItemText(i5, cols.GetColumnIndex(kColNetcard)), "10.77.0.1");
  EXPECT_EQ(list->GetItemText(i5, cols.GetColumnIndex(kColSerial)), "DEV5");
  EXPECT_TRUE(totals.startsWith("STR_TOTAL:20 ")) << totals.toStdString();

  // Sorting moves rows; texts still reach the right one.
  list->SortByColumn(cols.GetColumnIndex(kColIp), false);
  ASSERT_TRUE(Pump([&] { return row5->m_online; }));

  // A device that answers from a new address keeps its row and is logged in again.
  const int oldHandle = controller.Rows().FindByKey("DEV19")->m_loginHandle;
  lan.SetReplies([] { return Replies(20, "10.77.2.99"); });
  controller.SendSearchRequest();
  ASSERT_TRUE(Pump([&] {
    controller.RefreshDeviceList();
    return controller.Rows().FindByKey("DEV19")->m_searchInfo.lanConfig.ipAddress == "10.77.2.99";
  }));
  EXPECT_EQ(list->GetItemCount(), 20);
  EXPECT_EQ(sdk.logouts, std::vector<int>{oldHandle});
  EXPECT_EQ(sdk.logins.back(), "10.77.2.99");
  DeviceListRow* moved = controller.Rows().FindByKey("DEV19");
  EXPECT_EQ(list->GetItemText(controller.RowIndex(*moved), cols.GetColumnIndex(kColIp)), "10.77.2.99");

  ASSERT_TRUE(controller.StopSearch());
  controller.ClearDevicesForSearch();
  EXPECT_EQ(sdk.logoutAlls, 1);
  EXPECT_EQ(list->GetItemCount(), 0);
  EXPECT_EQ(controller.Rows().Count(), 0u);
  // Events still in flight for cleared rows find nothing and change nothing.
  Pump([] { return false; }, 100ms);
}

TEST(DeviceListController, CheckAllTicksOrClearsEveryRowAndTheTotalsFollow) {
  DeviceListController::Options options;
  options.lookup = [](const char* key) { return std::string(key); };
  DeviceListController controller(options);
  QWidget window;
  controls::CReportCtrl* list = controller.CreateListWidget(&window);
  controller.InitDeviceListColumns();
  QString totals;
  int updates = 0;
  QObject::connect(&controller, &DeviceListController::totalsChanged, [&](const QString& t) {
    totals = t;
    ++updates;
  });
  for (int i = 0; i < 3; ++i) {
    test::FakeDevice d;
    d.serial = "DEV" + std::to_string(i);
    controller.Map().AddOrUpdateDevice(*ParseSearchReply(ReplyText(d)), "0.0.0.0", 1);
  }
  controller.RefreshDeviceList();
  ASSERT_EQ(list->GetItemCount(), 3);
  list->SetCheck(1, true);
  updates = 0;
  controller.SetAllChecked(true);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(list->GetCheck(i)) << i;
  EXPECT_EQ(totals, "STR_TOTAL:3 STR_SELECTED:3 ");
  EXPECT_EQ(updates, 1);  // one rewrite of the line, not one per row
  EXPECT_EQ(controller.Rows().CheckedCount(), 3u);
  controller.SetAllChecked(false);
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(list->GetCheck(i)) << i;
  EXPECT_EQ(totals, "STR_TOTAL:3 STR_SELECTED:0 ");
}

TEST(DeviceListController, ColumnTitlesFitTheirColumnsAndTheFixedWidthsStayTheLeast) {
  DeviceListController::Options options;  // the shipped English texts
  DeviceListController controller(options);
  QWidget window;
  controls::CReportCtrl* list = controller.CreateListWidget(&window);
  controller.InitDeviceListColumns();
  const QFontMetrics metrics(list->horizontalHeader()->font());
  ASSERT_EQ(list->GetColumnCount(), 20);
  int widened = 0;
  for (int id = 0; id < kColumnCount; ++id) {
    const int column = controller.Columns().GetColumnIndex(id);
    if (column < 0) continue;
    const QString title = list->GetColumnHeaderText(column);
    EXPECT_FALSE(title.isEmpty()) << id;
    EXPECT_GE(list->columnWidth(column), GetColumnInfo(id).width_px) << id;
    EXPECT_GT(list->columnWidth(column), metrics.horizontalAdvance(title)) << title.toStdString();
    widened += list->columnWidth(column) > GetColumnInfo(id).width_px;
  }
  EXPECT_GT(widened, 0);  // "HTTP port" does not fit in 60 pixels
}

TEST(DeviceListController, OutlivesItsWindow) {
  DeviceListController::Options options;
  options.lookup = [](const char* key) { return std::string(key); };
  DeviceListController controller(options);
  {
    QWidget window;
    controller.CreateListWidget(&window);
    controller.InitDeviceListColumns();
  }
  test::FakeDevice d;
  controller.Map().AddOrUpdateDevice(*ParseSearchReply(ReplyText(d)), "0.0.0.0", 1);
  controller.RefreshDeviceList();  // the list is gone: rows only
  EXPECT_EQ(controller.Rows().Count(), 1u);
  controller.ClearDeviceMapAndList();
  EXPECT_EQ(controller.Rows().Count(), 0u);
}

}  // namespace
}  // namespace kelvara::discovery
