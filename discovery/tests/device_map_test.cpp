// The device map: adapter-address rule, default logins, the bound, changes.
#include <gtest/gtest.h>

#include "discovery/core/device_map.h"
#include "discovery/core/search_reply.h"
#include "discovery/tests/reply_fixture.h"

namespace kelvara::discovery {
namespace {

DeviceSearchInfo Record(const std::string& serial, bool withUser = true,
                        const std::string& type = "NVS-1") {
  test::FakeDevice d;
  d.serial = serial;
  d.withUser = withUser;
  d.deviceType = type;
  return *ParseSearchReply(ReplyText(d));
}

TEST(DeviceMap, AnyAddressIsReplacedByTheCardsAddressWhichThenStays) {
  DeviceMap map;
  map.AddOrUpdateDevice(Record("A"), "0.0.0.0", 1);
  EXPECT_EQ(map.CopyDeviceRecord("A")->adapterAddress, "0.0.0.0");
  map.AddOrUpdateDevice(Record("A"), "10.77.0.1", 2);
  EXPECT_EQ(map.CopyDeviceRecord("A")->adapterAddress, "10.77.0.1");
  map.AddOrUpdateDevice(Record("A"), "0.0.0.0", 3);
  map.AddOrUpdateDevice(Record("A"), "10.88.0.1", 4);
  auto a = map.CopyDeviceRecord("A");
  EXPECT_EQ(a->adapterAddress, "10.77.0.1");
  EXPECT_EQ(a->lastSeenTick_ms, 4u);
}

TEST(DeviceMap, DefaultLoginFromTheSecondReplyOn) {
  DeviceMap map;
  map.SetDefaultLogin({"op", "pw"});
  map.AddOrUpdateDevice(Record("A", false), "0.0.0.0", 1);
  map.AddOrUpdateDevice(Record("K", false, "NVS-RVEX-K47P-2"), "0.0.0.0", 1);
  EXPECT_EQ(map.CopyDeviceRecord("A")->userConfig.accounts[0].userName, "");
  map.AddOrUpdateDevice(Record("A", false), "0.0.0.0", 2);
  map.AddOrUpdateDevice(Record("K", false, "NVS-RVEX-K47P-2"), "0.0.0.0", 2);
  EXPECT_EQ(map.CopyDeviceRecord("A")->userConfig.accounts[0].userName, "op");
  EXPECT_EQ(map.CopyDeviceRecord("A")->userConfig.accounts[0].password, "pw");
  EXPECT_EQ(map.CopyDeviceRecord("K")->userConfig.accounts[0].password, "pdw*5174");
  EXPECT_EQ(map.CopyDeviceRecord("A")->hasAccounts, 0);
  map.AddOrUpdateDevice(Record("B", true), "0.0.0.0", 2);
  map.AddOrUpdateDevice(Record("B", true), "0.0.0.0", 3);
  EXPECT_EQ(map.CopyDeviceRecord("B")->userConfig.accounts[0].password, "secret");
}

TEST(DeviceMap, KeysAreExactAndChangesComeInKeyOrderOnce) {
  DeviceMap map;
  map.AddOrUpdateDevice(Record("b"), "0.0.0.0", 1);
  map.AddOrUpdateDevice(Record("B"), "0.0.0.0", 1);
  map.AddOrUpdateDevice(Record("a"), "0.0.0.0", 1);
  map.AddOrUpdateDevice(Record("b"), "0.0.0.0", 2);
  EXPECT_EQ(map.Size(), 3u);
  auto changed = map.TakeChanged();
  ASSERT_EQ(changed.size(), 3u);
  EXPECT_EQ(changed[0]->serialNumber, "B");
  EXPECT_EQ(changed[1]->serialNumber, "a");
  EXPECT_EQ(changed[2]->serialNumber, "b");
  EXPECT_EQ(changed[2]->lastSeenTick_ms, 2u);
  EXPECT_TRUE(map.TakeChanged().empty());
  EXPECT_TRUE(map.Modify("a", [](DeviceSearchInfo& r) { r.lanConfig.dhcp = 1; }));
  EXPECT_EQ(map.TakeChanged().size(), 1u);
  map.Clear();
  EXPECT_FALSE(map.CopyDeviceRecord("a"));
}

TEST(DeviceMap, IsBounded) {
  DeviceMap map;
  auto proto = Record("X");
  for (std::size_t i = 0; i < kMaxDevices + 50; ++i) {
    proto.serialNumber = "S" + std::to_string(i);
    map.AddOrUpdateDevice(proto, "0.0.0.0", 1);
  }
  EXPECT_EQ(map.Size(), kMaxDevices);
  proto.serialNumber = "S1";
  EXPECT_TRUE(map.AddOrUpdateDevice(proto, "0.0.0.0", 2)) << "known devices still update";
}

TEST(DeviceMap, UuidsAreNewOncePerRunCaseInsensitive) {
  DeviceMap map;
  auto r = Record("A");
  r.uuid = "Uuid-1";
  EXPECT_TRUE(map.TrackNewDevice(r, "10.0.0.1"));
  r.uuid = "UUID-1";
  EXPECT_FALSE(map.TrackNewDevice(r, "10.0.0.1"));
  map.Clear();
  EXPECT_FALSE(map.TrackNewDevice(r, "10.0.0.1")) << "a new search does not forget UUIDs";
  r.uuid = "";
  EXPECT_FALSE(map.TrackNewDevice(r, "10.0.0.1"));
}

}  // namespace
}  // namespace kelvara::discovery
