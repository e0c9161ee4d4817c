// The list's automatic logins through the gate: one login at a time per
// address and credentials, none after a refusal, without a display or SDK.
#include <gtest/gtest.h>

#include <map>

#include "device/core/auto_login_gate.h"
#include "device/core/login_events.h"
#include "device/core/row_login.h"
#include "discovery/core/search_reply.h"
#include "discovery/tests/recording_view.h"
#include "discovery/tests/reply_fixture.h"

namespace kelvara::device {
namespace {

using namespace discovery;

// Counts login calls per address, as a rogue host there counts guesses.
class GuessCountingSdk : public DeviceSdk {
 public:
  int Login(const std::string& address, unsigned short, const std::string& user, const std::string& password) override {
    ++calls[address];
    credentials.push_back(user + "/" + password);
    return ++next;
  }
  void Logout(int handle) override { logouts.push_back(handle); }
  void LogoutAll() override {}
  void SetAutoReconnect(int, int) override {}
  std::map<std::string, int> calls;
  std::vector<std::string> credentials;
  std::vector<int> logouts;
  int next = 0;
};

class AutoLogins : public ::testing::Test {
 protected:
  AutoLogins() : rows(columns, view) { columns.BuildColumnMap({}); }
  AutoLogin Login() { return AutoLogin{sdk, defaults, &gate, "REFUSED"}; }
  // A reply without an account (the default login is sent) from `ip`.
  void Reply(const std::string& serial, const std::string& ip, int port = 8091, bool withUser = false) {
    test::FakeDevice d;
    d.serial = serial;
    d.ip = ip;
    d.ptzPort = port;
    d.withUser = withUser;
    map.AddOrUpdateDevice(*ParseSearchReply(ReplyText(d)), "10.77.0.1", 1);
  }
  void Refresh() { ProcessReloginQueue(rows, rows.RefreshDeviceList(map, {}), Login()); }
  // The SDK's outcome of a login, as the window hands it on.
  void Event(int handle, int type) {
    ApplyLoginStateEvent(rows, MakeStatusEvent(handle, type, ""), nullptr);
    OnAutoLoginEvent(rows, Login(), handle, type);
  }
  DeviceListRow& Row(const std::string& serial) { return *rows.FindByKey(serial); }
  std::string Status(const std::string& serial) {
    return view.Cell(&Row(serial), columns.GetColumnIndex(kColState));
  }
  // A new search or an import: the list and the gate start again.
  void NewList() {
    gate.Reset();
    rows.Clear();
    map.Clear();
  }
  ColumnMap columns;
  test::RecordingView view;
  DeviceMap map;
  DeviceRows rows;
  GuessCountingSdk sdk;
  LoginDefaults defaults{"admin", "operator-secret"};
  AutoLoginGate gate;
};

// A host answering with many serial numbers at its address, over several
// refreshes and ports, gets one login (one guess); after its refusal the
// other rows there show the refusal without a login, and so do later ones and
// a listed device moved there. Another address is not held up.
TEST_F(AutoLogins, ARefusingAddressGetsOneGuessPerList) {
  const std::string rogue = "10.77.2.1";
  Reply("REAL", "10.77.1.1");
  for (int i = 0; i < 30; ++i) Reply("FORGED" + std::to_string(i), rogue, 8000 + i);
  Refresh();
  EXPECT_EQ(sdk.calls[rogue], 1);
  EXPECT_EQ(sdk.calls["10.77.1.1"], 1);
  EXPECT_EQ(gate.WaitingCount(), 29u);
  const int guess = Row("FORGED0").m_loginHandle;
  ASSERT_GT(guess, 0);
  for (int i = 1; i < 30; ++i) EXPECT_EQ(Row("FORGED" + std::to_string(i)).m_loginHandle, 0);

  Event(guess, kEventLoginRefused);
  EXPECT_EQ(gate.WaitingCount(), 0u);
  for (int i = 1; i < 30; ++i) EXPECT_EQ(Status("FORGED" + std::to_string(i)), "REFUSED");
  for (int i = 30; i < 60; ++i) Reply("FORGED" + std::to_string(i), rogue);
  Refresh();
  EXPECT_EQ(Status("FORGED59"), "REFUSED");

  // The real device's serial moved to the rogue's address by a forged reply:
  // logged out there, no login at the rogue, and back again at its own.
  const int real = Row("REAL").m_loginHandle;
  Event(real, kEventLoginOk);
  Reply("REAL", rogue);
  Refresh();
  EXPECT_EQ(sdk.logouts.back(), real);
  EXPECT_EQ(Row("REAL").m_loginHandle, 0);
  EXPECT_EQ(Status("REAL"), "REFUSED");
  Reply("REAL", "10.77.1.1");
  Refresh();
  EXPECT_GT(Row("REAL").m_loginHandle, real);
  EXPECT_EQ(sdk.calls[rogue], 1) << "one guess for the whole list";
  EXPECT_EQ(sdk.calls["10.77.1.1"], 2);

  // A new search starts over: one guess again.
  NewList();
  for (int i = 0; i < 30; ++i) Reply("FORGED" + std::to_string(i), rogue);
  Refresh();
  EXPECT_EQ(sdk.calls[rogue], 2);
}

// Rows at one address take turns: each established login lets the next one
// go. A login that ends without an outcome (its row moved on and was logged
// out) lets the next one go at the following refresh. Credentials a reply
// carries are other credentials: not held up by the default login's turn.
TEST_F(AutoLogins, RowsAtOneAddressTakeTurns) {
  const std::string nvr = "10.77.3.1";
  for (const char* serial : {"A", "B", "C", "D"}) Reply(serial, nvr);
  Reply("OWN", nvr, 8091, true);
  Refresh();
  EXPECT_EQ(sdk.calls[nvr], 2) << "A with the default login, OWN with its account";
  EXPECT_GT(Row("OWN").m_loginHandle, 0);
  Event(Row("A").m_loginHandle, kEventLoginOk);
  EXPECT_GT(Row("B").m_loginHandle, 0);
  EXPECT_EQ(Row("C").m_loginHandle, 0);
  // B's device answers from elsewhere before its login ended: B is logged
  // out there, and C goes at the next refresh.
  const int b = Row("B").m_loginHandle;
  Reply("B", "10.77.3.2");
  Refresh();
  EXPECT_EQ(sdk.logouts.back(), b);
  EXPECT_GT(Row("C").m_loginHandle, 0);
  Event(Row("C").m_loginHandle, kEventConnectFailed);
  EXPECT_EQ(Row("D").m_loginHandle, 0) << "an unreachable device's login is still under way";
  Event(Row("C").m_loginHandle, kEventLoginOk);
  EXPECT_GT(Row("D").m_loginHandle, 0);
  EXPECT_EQ(sdk.calls[nvr], 5);
  EXPECT_EQ(gate.WaitingCount(), 0u);
}

// The user's login by hand is made whatever the gate says and lifts the
// refusal; a new default login is new credentials, tried once more.
TEST_F(AutoLogins, ByHandAndNewCredentialsTryAgain) {
  const std::string rogue = "10.77.2.9";
  Reply("X", rogue);
  Reply("Y", rogue);
  Refresh();
  Event(Row("X").m_loginHandle, kEventLoginRefused);
  ASSERT_EQ(Status("Y"), "REFUSED");
  ASSERT_TRUE(gate.Refused(RowLoginTarget(Row("Y"), defaults)));

  LoginRowByHand(rows, Row("Y"), Login());
  EXPECT_EQ(sdk.calls[rogue], 2);
  EXPECT_FALSE(gate.Refused(RowLoginTarget(Row("Y"), defaults)));
  Reply("Z", rogue);
  Refresh();
  EXPECT_EQ(Row("Z").m_loginHandle, 0) << "waits for the login by hand";
  Event(Row("Y").m_loginHandle, kEventLoginOk);
  EXPECT_GT(Row("Z").m_loginHandle, 0);

  defaults.password = "new-secret";
  Event(Row("Z").m_loginHandle, kEventLoginRefused);
  Reply("W", rogue);
  Refresh();
  EXPECT_GT(Row("W").m_loginHandle, 0);
  EXPECT_EQ(sdk.credentials.back(), "admin/new-secret");
  EXPECT_EQ(sdk.calls[rogue], 4);
}

// Addresses the gate remembers are bounded; past the bound nothing more is
// logged in automatically until the list starts again.
TEST(AutoLoginGateBound, PastTheBoundNewTargetsAreRefused) {
  ColumnMap columns;
  test::RecordingView view;
  DeviceRows rows(columns, view);
  AutoLoginGate gate;
  DeviceListRow row;
  LoginTarget target{"", "admin", "pw"};
  for (std::size_t i = 0; i < AutoLoginGate::kMaxTargets; ++i) {
    target.address = "10." + std::to_string(i / 250) + ".0." + std::to_string(i % 250);
    ASSERT_EQ(gate.Admit(rows, row, target), AutoLoginGate::Verdict::kLogIn);
    gate.LoginMade(row, static_cast<int>(i) + 1, target, false);
    gate.OnStatusEvent(static_cast<int>(i) + 1, kEventLoginRefused);
  }
  target.address = "10.200.0.1";
  EXPECT_EQ(gate.Admit(rows, row, target), AutoLoginGate::Verdict::kRefused);
  gate.Reset();
  EXPECT_EQ(gate.Admit(rows, row, target), AutoLoginGate::Verdict::kLogIn);
}

}  // namespace
}  // namespace kelvara::device
