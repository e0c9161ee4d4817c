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
  proto.serialNumber = "S100";
  EXPECT_TRUE(map.AddOrUpdateDevice(proto, "0.0.0.0", 2)) << "known devices still update";
}

// A flood of spoofed serials fills the map; a real device answering
// afterwards still gets in, in place of the device seen least recently (a
// device that keeps answering stays). One sender holds at most its share.
TEST(DeviceMap, FullMapDropsTheLeastRecentlySeenAndBoundsEachSender) {
  DeviceMap map;
  auto proto = Record("X");
  const auto add = [&](const std::string& serial, std::uint32_t tick, const std::string& sender) {
    proto.serialNumber = serial;
    return map.AddOrUpdateDevice(proto, "10.77.0.1", tick, sender);
  };
  // The flood comes from many (forged) senders; its ticks wrap past 2^32.
  std::uint32_t tick = 0xFFFFF000u;
  ASSERT_TRUE(add("REAL-OLD", tick, "10.77.1.1"));
  for (std::size_t i = 0; i < 3 * kMaxDevices; ++i) {
    ++tick;
    add("SPOOF" + std::to_string(i), tick, "10.66." + std::to_string(i % 250) + ".1");
    if (i % 100 == 0) add("REAL-OLD", tick, "10.77.1.1");  // keeps answering
  }
  EXPECT_EQ(map.Size(), kMaxDevices);
  EXPECT_TRUE(map.CopyDeviceRecord("REAL-OLD")) << "a device that keeps answering stays";
  EXPECT_FALSE(map.CopyDeviceRecord("SPOOF0")) << "the least recently seen went";
  EXPECT_TRUE(map.CopyDeviceRecord("SPOOF" + std::to_string(3 * kMaxDevices - 1)));
  EXPECT_TRUE(add("REAL-NEW", ++tick, "10.77.1.2"));
  EXPECT_TRUE(map.CopyDeviceRecord("REAL-NEW")) << "a device answering after the flood is listed";
  auto changed = map.TakeChanged();
  EXPECT_LE(changed.size(), kMaxDevices) << "evicted devices are not reported as changed";

  // One sender: its share, then its new serials are refused; known ones update.
  DeviceMap one;
  std::size_t accepted = 0;
  for (std::size_t i = 0; i < kMaxDevicesPerSender + 10; ++i) {
    proto.serialNumber = "H" + std::to_string(i);
    accepted += one.AddOrUpdateDevice(proto, "10.77.0.1", 5, "10.66.0.9");
  }
  EXPECT_EQ(accepted, kMaxDevicesPerSender);
  proto.serialNumber = "H0";
  EXPECT_TRUE(one.AddOrUpdateDevice(proto, "10.77.0.1", 6, "10.66.0.9"));
  proto.serialNumber = "OTHER";
  EXPECT_TRUE(one.AddOrUpdateDevice(proto, "10.77.0.1", 6, "10.77.1.3"));
  // A device that moves to another sender frees its place at the first.
  proto.serialNumber = "H1";
  EXPECT_TRUE(one.AddOrUpdateDevice(proto, "10.77.0.1", 7, "10.77.1.4"));
  proto.serialNumber = "H-NEXT";
  EXPECT_TRUE(one.AddOrUpdateDevice(proto, "10.77.0.1", 7, "10.66.0.9"));
  EXPECT_FALSE(one.CopyDeviceRecord("H" + std::to_string(kMaxDevicesPerSender)));
}

// Hosts that answer every search request with new serial numbers, more than
// the map holds at once, push out their own records, not a device that
// answers for itself alone, even one that answered only before the burst.
TEST(DeviceMap, CrowdedSendersGiveUpTheirOwnRecordsFirst) {
  DeviceMap map;
  auto proto = Record("X");
  std::uint32_t tick = 1;
  const auto add = [&](const std::string& serial, const std::string& sender) {
    proto.serialNumber = serial;
    return map.AddOrUpdateDevice(proto, "10.77.0.1", ++tick, sender);
  };
  ASSERT_TRUE(add("REAL", "10.77.1.1"));
  for (int reply = 0; reply < 3; ++reply)
    for (int host = 0; host < 30; ++host)
      for (int i = 0; i < 100; ++i)
        add("F" + std::to_string(reply) + "-" + std::to_string(host) + "-" + std::to_string(i),
            "10.77.2." + std::to_string(host));
  EXPECT_EQ(map.Size(), kMaxDevices);
  EXPECT_TRUE(map.CopyDeviceRecord("REAL")) << "the device answering for itself stays";
  EXPECT_TRUE(add("LATE", "10.77.1.2"));
  EXPECT_TRUE(map.CopyDeviceRecord("LATE"));
  EXPECT_TRUE(map.CopyDeviceRecord("F2-29-99")) << "a host's newest record stays";
  EXPECT_FALSE(map.CopyDeviceRecord("F0-0-0")) << "its oldest went";
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
