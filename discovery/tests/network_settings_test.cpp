// Login-free network settings: what each operation sends, the handed-out
// table, free-address candidates and probing, consecutive ranges, and the
// operator's credentials.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "common/text_convert.h"
#include "discovery/core/discovery_protocol.h"
#include "common/ipv4_host.h"
#include "discovery/core/network_settings.h"
#include "discovery/core/operator_auth.h"

namespace kelvara::discovery {
namespace {

std::uint32_t Ip(const char* text) { return *ParseIpv4Host(text); }

DeviceSearchInfo Device(const std::string& serial, const std::string& ip) {
  DeviceSearchInfo r;
  r.serialNumber = serial;
  r.uuid = "U-" + serial;
  r.lanConfig.ipAddress = ip;
  r.lanConfig.netmask = "255.255.255.0";
  return r;
}

struct Fixture {
  DeviceMap map;
  std::vector<std::string> sent;
  NetworkSettings net{map, Hooks()};
  NetworkSettings::Hooks Hooks() {
    NetworkSettings::Hooks h;
    h.send = [this](std::string t) { sent.push_back(std::move(t)); };
    h.defaultLogin = [] { return OperatorAuth{"admin", "470913"}; };
    h.localNetwork = [] { return LocalNetworkConfig{"10.1.1.5", "255.255.255.0", "10.1.1.1", "10.1.1.1", ""}; };
    h.localAddresses = [] { return std::vector<std::uint32_t>{Ip("10.1.1.5"), Ip("127.0.0.1")}; };
    return h;
  }
};

TEST(Ipv4Host, ParsesOnlyStrictDottedDecimal) {
  EXPECT_EQ(ParseIpv4Host("10.1.1.5"), 0x0A010105u);
  EXPECT_EQ(ParseIpv4Host("255.255.255.255"), 0xFFFFFFFFu);
  for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.4 ", " 1.2.3.4", "1..2.3", "a.b.c.d", "1.2.3.0004"})
    EXPECT_FALSE(ParseIpv4Host(bad)) << bad;
  EXPECT_EQ(FormatIpv4Host(0xC0A801FEu), "192.168.1.254");
}

TEST(NetworkSettings, BySerialSendsTheMapsRecordOrReportsItMissing) {
  Fixture f;
  f.map.AddOrUpdateDevice(Device("SN1", "10.1.1.2"), "10.1.1.5", 0);
  const OperatorAuth op{"admin", "密码"};  // GBK on the wire
  const OperatorAuth gbk{"admin", Utf8ToGbk("密码")};
  EXPECT_EQ(f.net.RestoreDeviceBySerial("SN1", 1, op), 0);
  EXPECT_EQ(f.net.RebootDevByBD("SN1", op), 0);
  EXPECT_EQ(f.net.SetFactoryModeByBD("SN1", 2), 0);
  const std::vector<std::string> expected = {
      BuildDiscoveryMessage(kMsgRestore, *BuildSerialAuthXml("SN1", 1, gbk), 0),
      BuildDiscoveryMessage(kMsgRestore, *BuildSerialAuthXml("SN1", 1, gbk), 0),
      BuildDiscoveryMessage(kMsgRestore, *BuildSerialAuthXml("SN1", 1, gbk), 0),
      BuildDiscoveryMessage(kMsgReboot, *BuildSerialAuthXml("SN1", 0, gbk), 0),
      BuildDiscoveryMessage(kMsgFactoryMode, *BuildSerialAuthXml("SN1", 0, OperatorAuth{"admin", "470913"}), 2),
      BuildDiscoveryMessage(kMsgFactoryMode, *BuildSerialAuthXml("SN1", 0, OperatorAuth{"admin", "470913"}), 2),
      BuildDiscoveryMessage(kMsgFactoryMode, *BuildSerialAuthXml("SN1", 0, OperatorAuth{"admin", "470913"}), 2),
  };
  EXPECT_EQ(f.sent, expected);
  EXPECT_NE(f.sent[0].find("<retain value=\"network\" />"), std::string::npos);

  f.sent.clear();
  for (int rc : {f.net.RestoreDeviceBySerial("gone", 0, op), f.net.RebootDevByBD("gone", op),
                 f.net.SetFactoryModeByBD("gone", 1), f.net.SetLanConfigBySerial("gone", Device("gone", "1.2.3.4"), op)})
    EXPECT_EQ(rc, kSerialNotInMap);
  EXPECT_TRUE(f.sent.empty());
}

TEST(NetworkSettings, SetLanConfigBySerialStoresTheRecordAndHoldsItsAddress) {
  Fixture f;
  f.map.AddOrUpdateDevice(Device("SN1", "10.1.1.2"), "10.1.1.5", 0);
  DeviceSearchInfo changed = Device("SN1", "10.1.1.40");
  ASSERT_EQ(f.net.SetLanConfigBySerial("SN1", changed, {"admin", "pw"}), 0);
  ASSERT_EQ(f.sent.size(), 1u);
  EXPECT_EQ(f.sent[0], BuildDiscoveryMessage(kMsgSetNetwork, *BuildLanConfigXml("SN1", changed.lanConfig, OperatorAuth{"admin", "pw"}), 0));
  EXPECT_EQ(f.map.CopyDeviceRecord("SN1")->lanConfig.ipAddress, "10.1.1.40");
  EXPECT_TRUE(f.net.HandedOut().Contains(Ip("10.1.1.40")));
  f.net.ClearForNewList();
  EXPECT_FALSE(f.net.HandedOut().Contains(Ip("10.1.1.40")));
}

TEST(NetworkSettings, HandedOutTableHoldsEachAddressOnceAndAtMost255) {
  HandedOutAddresses t;
  for (std::uint32_t a = 1; a <= 300; ++a) t.Hold(a);
  EXPECT_TRUE(t.Contains(255));
  EXPECT_FALSE(t.Contains(256));
  t.Hold(7);  // already held: stays held once
  EXPECT_TRUE(t.Contains(7));
  t.Hold(0);
  EXPECT_FALSE(t.Contains(0));
}

TEST(NetworkSettings, FreeAddressIsFourThenSixOnceFourWasHandedOut) {
  Fixture f;
  f.map.AddOrUpdateDevice(Device("A", "10.1.1.2"), "10.1.1.5", 0);
  f.map.AddOrUpdateDevice(Device("B", "10.1.1.3"), "10.1.1.5", 0);
  f.map.AddOrUpdateDevice(Device("C", "10.1.1.9"), "10.1.1.5", 0);
  const auto silent = [](std::uint32_t) { return 0; };
  auto first = ProbeFreeAddresses(f.net.FreeIpCandidates(), 1, silent);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(FormatIpv4Host(first[0]), "10.1.1.4");
  DeviceSearchInfo c = *f.map.CopyDeviceRecord("C");
  c.lanConfig.ipAddress = "10.1.1.4";
  ASSERT_EQ(f.net.SetLanConfigBySerial("C", c, {"admin", "pw"}), 0);
  // The device has not taken it yet: its next reply still says .9.
  f.map.AddOrUpdateDevice(Device("C", "10.1.1.9"), "10.1.1.5", 0);
  auto second = ProbeFreeAddresses(f.net.FreeIpCandidates(), 1, silent);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(FormatIpv4Host(second[0]), "10.1.1.6");
}

TEST(NetworkSettings, ProbingSkipsAnsweringAddressesTakesUncheckedOnesAndKeepsOrder) {
  std::vector<std::uint32_t> candidates;
  for (std::uint32_t i = 1; i <= 100; ++i) candidates.push_back(i);
  // Odd addresses answer, multiples of 4 could not be probed (they count as
  // free, and are named as unchecked): 2, 4, 6, ... are free.
  // Probes may still run after the call returned: their counters live on the heap.
  struct Counters {
    std::atomic<int> inFlight{0}, maxInFlight{0};
  };
  auto c = std::make_shared<Counters>();
  auto probe = [c](std::uint32_t a) {
    const int now = ++c->inFlight;
    int seen = c->maxInFlight.load();
    while (now > seen && !c->maxInFlight.compare_exchange_weak(seen, now)) {}
    std::this_thread::sleep_for(std::chrono::milliseconds(a % 7));
    --c->inFlight;
    return a % 2 ? 1 : a % 4 == 0 ? -1 : 0;
  };
  std::vector<std::uint32_t> unchecked;
  const auto found = ProbeFreeAddresses(candidates, 5, probe, 8, nullptr, {}, &unchecked);
  EXPECT_EQ(found, (std::vector<std::uint32_t>{2, 4, 6, 8, 10}));
  EXPECT_EQ(unchecked, (std::vector<std::uint32_t>{4, 8}));
  EXPECT_LE(c->maxInFlight.load(), 8);
  EXPECT_GT(c->maxInFlight.load(), 1);
  // Every address answers: nothing comes back (the caller sends nothing).
  EXPECT_TRUE(ProbeFreeAddresses(candidates, 1, [](std::uint32_t) { return 1; }).empty());
  // No probe can run at all: the first candidates, each unchecked.
  unchecked.clear();
  EXPECT_EQ(ProbeFreeAddresses(candidates, 2, [](std::uint32_t) { return -1; }, 32, nullptr, {}, &unchecked),
            (std::vector<std::uint32_t>{1, 2}));
  EXPECT_EQ(unchecked, (std::vector<std::uint32_t>{1, 2}));
  // The answer does not wait for probes still in flight: they are held
  // until after the call returned.
  struct Gate {
    std::mutex m;
    std::condition_variable cv;
    bool open = false;
    int finished = 0;
  };
  auto gate = std::make_shared<Gate>();
  const auto first = ProbeFreeAddresses(candidates, 1, [gate](std::uint32_t a) {
    if (a == 1) return 0;
    std::unique_lock lock(gate->m);
    gate->cv.wait_for(lock, std::chrono::seconds(5), [&] { return gate->open; });
    ++gate->finished;
    return 0;
  }, 4);
  EXPECT_EQ(first, (std::vector<std::uint32_t>{1}));
  {
    std::lock_guard lock(gate->m);
    EXPECT_EQ(gate->finished, 0);
    gate->open = true;
  }
  gate->cv.notify_all();
  // Cancelled: the call returns at once with what it knows.
  static std::atomic<bool> cancel{true};
  EXPECT_TRUE(ProbeFreeAddresses(candidates, 1, [](std::uint32_t) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return 0;
  }, 4, &cancel).size() <= 1);
}

TEST(NetworkSettings, ConsecutiveRangesStayInsideTheSubnet) {
  const std::uint32_t m24 = Ip("255.255.255.0");
  struct Case {
    const char* start;
    const char* end;  // "" for none
    std::uint32_t mask;
    std::size_t count;
    bool ok;
  } cases[] = {
      {"10.0.0.250", "", m24, 5, true},     // .250 - .254
      {"10.0.0.250", "", m24, 8, false},    // would need .255, .0, .1, .2
      {"10.0.0.0", "", m24, 1, false},      // network address
      {"10.0.0.255", "", m24, 1, false},    // broadcast address
      {"10.0.0.10", "10.0.0.12", m24, 3, true},
      {"10.0.0.10", "10.0.0.12", m24, 4, false},
      {"10.0.0.10", "10.0.0.9", m24, 1, false},  // ends before it starts
      {"10.0.0.250", "", Ip("255.255.0.0"), 8, true},  // a /16 goes on into 10.0.1.x
      {"10.0.0.250", "", Ip("255.0.255.0"), 1, false},  // not a mask
  };
  for (const auto& c : cases) {
    const auto r = ConsecutiveAddresses(Ip(c.start), *c.end ? Ip(c.end) : 0, c.mask, c.count);
    EXPECT_EQ(r.has_value(), c.ok) << c.start << " " << c.count;
    if (r) {
      ASSERT_EQ(r->size(), c.count);
      EXPECT_EQ(r->front(), Ip(c.start));
      EXPECT_EQ(r->back(), Ip(c.start) + c.count - 1);
    }
  }
  const auto r = ConsecutiveAddresses(Ip("10.0.0.250"), 0, Ip("255.255.0.0"), 8);
  EXPECT_EQ(FormatIpv4Host(r->back()), "10.0.1.1");
}

TEST(NetworkSettings, DialogStartValuesAndDhcpDefaults) {
  LANConfigInfo lan;
  lan.ipAddress = "192.168.7.20";
  lan.netmask = "255.0.255.0";
  lan.gateway = "10.0.0.1";
  const LANConfigInfo shown = PrepareChangeIpValues(lan);
  EXPECT_EQ(shown.netmask, "255.255.255.0");
  EXPECT_EQ(shown.gateway, "192.168.7.1");
  lan.netmask = "255.255.0.0";
  lan.gateway = "192.168.9.9";
  EXPECT_EQ(PrepareChangeIpValues(lan).gateway, "192.168.9.9");

  LANConfigInfo none;
  none.ipAddress = "0.0.0.0";
  ApplyDhcpDefaults(none);
  EXPECT_EQ(none.dhcp, 1);
  EXPECT_EQ(none.ipAddress, "192.168.0.123");
  EXPECT_EQ(none.netmask, "255.255.255.0");
  EXPECT_EQ(none.gateway, "192.168.0.1");

  const RangeDefaults d = SuggestRangeDefaults(Ip("10.2.0.160"), Ip("10.2.0.0"), "255.255.255.0", " 0.0.0.0 ", "", "9.9.9.9");
  EXPECT_EQ(d.start, "10.2.0.160");
  EXPECT_EQ(d.gateway, "10.2.0.1");
  EXPECT_EQ(d.dns1, kFallbackDns1);
  EXPECT_EQ(d.dns2, "9.9.9.9");
}

TEST(OperatorAuth, DefaultLoginOrTheOperationPassword) {
  OperatorAuthInputs in{"user", "pw", false, ""};
  EXPECT_EQ(ResolveOperatorAuth(in)->userName, "user");
  in.operationPasswordShown = true;
  in.operationPassword = "  ";
  EXPECT_FALSE(ResolveOperatorAuth(in));
  in.operationPassword = " secret ";
  const auto auth = ResolveOperatorAuth(in);
  EXPECT_EQ(auth->userName, "admin");
  EXPECT_EQ(auth->password, "secret");
  const auto m = MissingOperationPasswordMessage([](const char* key) { return std::string(key).substr(19); });
  EXPECT_EQ(m.caption, "TIPS1");
  EXPECT_EQ(m.text, "TIPS1: TIPS7, TIPS3, TIPS4, TIPS5, TIPS6");
}

}  // namespace
}  // namespace kelvara::discovery
