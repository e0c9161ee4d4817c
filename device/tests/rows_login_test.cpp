// Logging rows in, and the result texts that find rows by login handle.
#include <gtest/gtest.h>

#include "device/core/login_events.h"
#include "device/core/row_login.h"
#include "device/core/row_texts.h"
#include "discovery/core/search_reply.h"
#include "discovery/tests/recording_view.h"
#include "discovery/tests/reply_fixture.h"

namespace kelvara::device {
namespace {

using namespace discovery;

class FakeSdk : public DeviceSdk {
 public:
  int Login(const std::string& address, unsigned short port, const std::string& user,
            const std::string& password) override {
    calls.push_back(address + ":" + std::to_string(port) + " " + user + "/" + password);
    return password == "bad" ? -1 : ++next;
  }
  void Logout(int handle) override { logouts.push_back(handle); }
  void LogoutAll() override {}
  void SetAutoReconnect(int handle, int on) override { reconnect.push_back({handle, on}); }
  std::vector<std::string> calls;
  std::vector<int> logouts;
  std::vector<std::pair<int, int>> reconnect;
  int next = 100;
};

class RowsLogin : public ::testing::Test {
 protected:
  RowsLogin() : rows(columns, view) { columns.BuildColumnMap({}); }
  DeviceListRow& Add(test::FakeDevice d) {
    map.AddOrUpdateDevice(*ParseSearchReply(ReplyText(d)), "10.77.0.1", 1);
    ProcessReloginQueue(rows, rows.RefreshDeviceList(map, {}), sdk, defaults);
    return *rows.FindByKey(d.serial);
  }
  std::string Status(DeviceListRow& row) { return view.Cell(&row, columns.GetColumnIndex(kColState)); }
  ColumnMap columns;
  test::RecordingView view;
  DeviceMap map;
  DeviceRows rows;
  FakeSdk sdk;
  LoginDefaults defaults{"def", "defpw"};
};

TEST_F(RowsLogin, CredentialsPortAndFailure) {
  test::FakeDevice withAccount;
  withAccount.serial = "A";
  withAccount.password = "";
  withAccount.ptzPort = 65536 + 8091;
  DeviceListRow& a = Add(withAccount);
  EXPECT_EQ(sdk.calls.back(), "10.77.1.10:8091 admin/");
  EXPECT_EQ(a.m_loginHandle, 101);
  EXPECT_EQ(sdk.reconnect.back(), (std::pair<int, int>{101, 1}));

  test::FakeDevice noAccount;
  noAccount.serial = "B";
  noAccount.withUser = false;
  Add(noAccount);
  EXPECT_EQ(sdk.calls.back(), "10.77.1.10:8091 def/defpw");

  test::FakeDevice bad;
  bad.serial = "C";
  bad.password = "bad";
  DeviceListRow& c = Add(bad);
  EXPECT_EQ(c.m_loginHandle, -1);
  EXPECT_EQ(Status(c), kLoginFailedText);
  EXPECT_EQ(sdk.reconnect.size(), 2u) << "no reconnect for a failed login";
  EXPECT_EQ(rows.FindByHandle(-1), nullptr);
}

TEST_F(RowsLogin, AddressChangeLogsOutAndInAgain) {
  test::FakeDevice d;
  d.serial = "A";
  DeviceListRow& a = Add(d);
  const int first = a.m_loginHandle;
  d.ip = "10.77.9.9";
  Add(d);
  EXPECT_EQ(sdk.logouts, std::vector<int>{first});
  EXPECT_EQ(sdk.calls.back().substr(0, 10), "10.77.9.9:");
  EXPECT_GT(a.m_loginHandle, first);
  EXPECT_EQ(rows.FindByHandle(a.m_loginHandle), &a);
}

TEST_F(RowsLogin, Relogin) {
  test::FakeDevice d;
  d.serial = "A";
  DeviceListRow& a = Add(d);
  rows.SetLoginHandle(a, 0);
  const auto calls = sdk.calls.size();
  ReloginRow(rows, a, sdk, defaults);
  EXPECT_EQ(sdk.calls.size(), calls) << "handle 0: left alone";
  rows.SetLoginHandle(a, -3);
  ReloginRow(rows, a, sdk, defaults);
  EXPECT_EQ(sdk.logouts.back(), -3);
  EXPECT_GT(a.m_loginHandle, 0);
}

TEST_F(RowsLogin, TextsByHandle) {
  test::FakeDevice d;
  d.serial = "BATCH_DEBUG_1";
  DeviceListRow& a = Add(d);
  const int h = a.m_loginHandle;
  SetColumnByHandle(rows, h, kColVersion, "V-11");
  SetColumnByHandle(rows, h, kColAfVersion, "V-12");
  EXPECT_EQ(a.m_loginVersion, "V-12") << "the later of 11 and 12 wins";
  EXPECT_EQ(view.Cell(&a, columns.GetColumnIndex(kColVersion)), "V-11");
  SetStatusByHandle(rows, h, "KEY", [](const char* k) { return std::string("text of ") + k; });
  EXPECT_EQ(Status(a), "text of KEY");
  SetStatusByHandle(rows, 0, "KEY", nullptr);  // no row has handle 0 in the lookup
  StoreDeviceInfoText(rows, h, std::string(5000, 'a'));
  EXPECT_EQ(a.m_abilityText.size(), 4095u);
  StoreFileSystemVersion(rows, h, "fs");
  EXPECT_EQ(a.m_fsVersion, "fs");
  int updates = 0;
  SetSerialNumberByHandle(rows, h, "REALSN", [&](DeviceListRow&) { ++updates; });
  EXPECT_EQ(a.m_loginSerial, "REALSN");
  EXPECT_EQ(a.m_searchInfo.serialNumber, "REALSN");
  EXPECT_EQ(updates, 1);
  EXPECT_EQ(CutUtf8("a\xE5\x89\x8D", 3), "a");
}

TEST_F(RowsLogin, HiddenStatusColumnDropsTheText) {
  ColumnMap none;  // nothing shown
  test::RecordingView v;
  DeviceRows hidden(none, v);
  map.AddOrUpdateDevice(*ParseSearchReply(ReplyText(test::FakeDevice{})), "0.0.0.0", 1);
  ProcessReloginQueue(hidden, hidden.RefreshDeviceList(map, {}), sdk, defaults);
  SetRowStatus(hidden, hidden.At(0), "x");
  SetSerialNumberByHandle(hidden, hidden.At(0).m_loginHandle, "NEW");
  EXPECT_TRUE(v.cells.empty());
  EXPECT_EQ(hidden.At(0).m_loginSerial, "");
}

}  // namespace
}  // namespace kelvara::device

namespace kelvara::device {
namespace {

TEST_F(RowsLogin, OnlineStateFromStatusEvents) {
  test::FakeDevice d;
  d.serial = "A";
  DeviceListRow& a = Add(d);
  auto lookup = [](const char* key) { return std::string("T:") + key; };
  const int h = a.m_loginHandle;
  EXPECT_FALSE(a.m_online) << "a login request alone does not set the flag";
  EXPECT_EQ(ApplyLoginStateEvent(rows, MakeStatusEvent(h, kEventLoginOk, ""), lookup), &a);
  EXPECT_TRUE(a.m_online);
  EXPECT_EQ(Status(a), "T:MSGTIP1");
  a.m_busy = true;
  for (int type : {kEventLinkLost, kEventConnectFailed, kEventProtocolError, kEventLoginRefused,
                   kEventHeartbeatLost}) {
    a.m_online = true;
    ApplyLoginStateEvent(rows, MakeStatusEvent(h, type, ""), lookup);
    EXPECT_FALSE(a.m_online) << type;
    EXPECT_FALSE(a.m_busy);
    EXPECT_EQ(a.m_loginHandle, h) << "the handle stays";
  }
  EXPECT_EQ(Status(a), "T:MSGTIP2");
  EXPECT_EQ(ApplyLoginStateEvent(rows, MakeStatusEvent(h, 14, ""), lookup), nullptr);
  EXPECT_EQ(ApplyLoginStateEvent(rows, MakeStatusEvent(0, kEventLoginOk, ""), lookup), nullptr);
}

}  // namespace
}  // namespace kelvara::device
