// The login-free commands the device list sends by itself: which message,
// how often, and what the body names.
#include <gtest/gtest.h>

#include "discovery/core/broadcast_commands.h"
#include "discovery/core/discovery_protocol.h"

namespace kelvara::discovery {
namespace {

struct Sent {
  std::vector<std::string> texts;
  SendRequest Fn() {
    return [this](std::string t) { texts.push_back(std::move(t)); };
  }
};

DeviceSearchInfo Record() {
  DeviceSearchInfo r;
  r.serialNumber = "SN<1>";
  r.uuid = "uuid-7";
  r.lanConfig.macAddress = "00:11:22:33:44:55";
  r.lanConfig.dhcp = 1;
  r.lanConfig.ipAddress = "10.0.0.9";
  return r;
}

const OperatorAuth kLogin{"op", "p&w"};

std::string Expected(int code, const std::optional<std::string>& body) {
  return BuildDiscoveryMessage(code, *body, 0);
}

TEST(BroadcastCommands, EachCommandSendsItsMessageTheRightNumberOfTimes) {
  const DeviceSearchInfo r = Record();
  struct Case {
    const char* name;
    std::function<int(const SendRequest&)> run;
    std::string text;
    std::size_t times;
  };
  const Case cases[] = {
      {"restore", [&](const SendRequest& s) { return RestoreDevByBD(r, 0, kLogin, s); },
       Expected(kMsgRestore, BuildSerialAuthXml("SN<1>", 0, kLogin)), 3},
      {"restore keeping network", [&](const SendRequest& s) { return RestoreDevByBD(r, 1, kLogin, s); },
       Expected(kMsgRestore, BuildSerialAuthXml("SN<1>", 1, kLogin)), 3},
      {"network settings", [&](const SendRequest& s) { return SetLanConfigByBD(r, kLogin, s); },
       Expected(kMsgSetNetwork, BuildLanConfigXml("SN<1>", r.lanConfig, kLogin)), 1},
      {"restore by UUID", [&](const SendRequest& s) { return RestoreNewDeviceByBD(r, kLogin, s); },
       Expected(kMsgRestoreByUuid, BuildSerialAuthXml("uuid-7", 0, kLogin)), 3},
  };
  for (const auto& c : cases) {
    Sent sent;
    EXPECT_EQ(c.run(sent.Fn()), 0) << c.name;
    EXPECT_EQ(sent.texts, std::vector<std::string>(c.times, c.text)) << c.name;
  }
  // The bodies name the device and carry the escaped credentials.
  Sent sent;
  SetLanConfigByBD(r, kLogin, sent.Fn());
  ASSERT_EQ(sent.texts.size(), 1u);
  for (const char* part : {"Msg_code=\"2\"", "SerialNumber=\"SN&lt;1&gt;\"", "DHCP=\"1\"", "Password=\"p&amp;w\""})
    EXPECT_NE(sent.texts[0].find(part), std::string::npos) << part;
}

TEST(BroadcastCommands, ABodyTooLongIsNotSent) {
  DeviceSearchInfo r = Record();
  r.serialNumber.assign(1100, 'S');
  r.uuid.assign(1100, 'U');
  Sent sent;
  EXPECT_EQ(RestoreDevByBD(r, 0, kLogin, sent.Fn()), kBodyNotBuilt);
  EXPECT_EQ(SetLanConfigByBD(r, kLogin, sent.Fn()), kBodyNotBuilt);
  EXPECT_EQ(RestoreNewDeviceByBD(r, kLogin, sent.Fn()), kBodyNotBuilt);
  EXPECT_TRUE(sent.texts.empty());
}

class Marks : public RecoveryMarks {
 public:
  bool NeedsFactoryRestore(const std::string& uuid) override { return uuid == marked; }
  void CountFactoryRestore(const std::string& uuid) override { counted.push_back(uuid); }
  std::string marked;
  std::vector<std::string> counted;
};

TEST(BroadcastCommands, OnlyAMarkedRecoveredDeviceIsRestoredAndCounted) {
  DeviceSearchInfo r = Record();
  Marks marks;
  Sent sent;
  EXPECT_EQ(RestoreRecoveredDevice(r, nullptr, kLogin, sent.Fn()), 0);  // no recovery server
  EXPECT_EQ(RestoreRecoveredDevice(r, &marks, kLogin, sent.Fn()), 0);   // not marked
  EXPECT_TRUE(sent.texts.empty());
  marks.marked = "uuid-7";
  EXPECT_EQ(RestoreRecoveredDevice(r, &marks, kLogin, sent.Fn()), 0);
  EXPECT_EQ(sent.texts,
            std::vector<std::string>(3, Expected(kMsgRestore, BuildSerialAuthXml("SN<1>", 0, kLogin))));
  EXPECT_EQ(marks.counted, std::vector<std::string>{"uuid-7"});
  // A body that cannot be built is neither sent nor counted.
  r.serialNumber.assign(1100, 'S');
  EXPECT_EQ(RestoreRecoveredDevice(r, &marks, kLogin, sent.Fn()), kBodyNotBuilt);
  EXPECT_EQ(sent.texts.size(), 3u);
  EXPECT_EQ(marks.counted.size(), 1u);
}

}  // namespace
}  // namespace kelvara::discovery
