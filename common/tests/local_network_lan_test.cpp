// The network queries and the ICMP probe against a real peer: inside the
// test LAN, never on the machine's own network.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <grp.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "common/local_network.h"
#include "common/ping_test.h"
#include "kelvara_test/test_env.h"
#include "kelvara_test/test_lan.h"

namespace kelvara {
namespace {

using test::LanSide;
using test::TestLan;
using test::TestLanOptions;

std::uint32_t Ip(const std::string& text) { return inet_addr(text.c_str()); }

// Drops root in a forked child: the probe must then work as a normal user.
bool BecomeNobody() { return setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0; }

TEST(PingTestLan, AnswerNoAnswerAndNoRoute) {
  KELVARA_TEST_LAN_OR_SKIP(lan, (TestLanOptions{.lan_addresses = 3}));
  lan->CallInThread(LanSide::kPc, [&] {
    EXPECT_EQ(PingTest(Ip(TestLan::kLanAddress)), 1);
    EXPECT_EQ(PingTest(Ip(TestLan::LanAddress(2))), 1);
    EXPECT_EQ(PingTest(Ip(TestLan::kPcAddress)), 1);  // our own request passes by first on a raw socket
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(PingTest(Ip("10.77.9.9")), 0);  // on the wire, nobody there
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(190));
    EXPECT_LT(took, std::chrono::seconds(2));
    // No route at all: no probe could be made, which is not "free".
    EXPECT_EQ(PingTest(Ip("192.0.2.1")), -1);
  });
}

TEST(PingTestLan, WorksWithoutRootThroughTheDatagramSocket) {
  KELVARA_TEST_LAN_OR_SKIP(lan, TestLanOptions{});
  // Allowed for every group: the unprivileged ICMP socket.
  ASSERT_TRUE(lan->SetSysctl(LanSide::kPc, "net.ipv4.ping_group_range", "0 2147483647"));
  EXPECT_EQ(lan->CallInChild(LanSide::kPc, [] {
    if (!BecomeNobody()) return 10;
    return PingTest(Ip(TestLan::kLanAddress)) == 1 && PingTest(Ip("10.77.9.9")) == 0 ? 0 : 11;
  }), 0);
  // Root falls back to the raw socket.
  ASSERT_TRUE(lan->SetSysctl(LanSide::kPc, "net.ipv4.ping_group_range", "1 0"));
  EXPECT_EQ(lan->CallInChild(LanSide::kPc, [] { return PingTest(Ip(TestLan::kLanAddress)) == 1 ? 0 : 11; }), 0);
}

// The kernel's default: no group may open an ICMP datagram socket, and an
// ordinary user has no raw socket either. The system's ping still probes.
TEST(PingTestLan, AnOrdinaryUserWithoutAnyIcmpSocketProbesThroughThePingProgram) {
  KELVARA_TEST_LAN_OR_SKIP(lan, TestLanOptions{});
  ASSERT_TRUE(lan->SetSysctl(LanSide::kPc, "net.ipv4.ping_group_range", "1 0"));
  EXPECT_EQ(lan->CallInChild(LanSide::kPc, [] {
    if (!BecomeNobody()) return 10;
    // The premise: no socket of our own.
    if (socket(AF_INET, SOCK_DGRAM, IPPROTO_ICMP) >= 0 || socket(AF_INET, SOCK_RAW, IPPROTO_ICMP) >= 0) return 12;
    if (PingTest(Ip(TestLan::kLanAddress)) != 1) return 13;   // answers
    if (PingTest(Ip("10.77.9.9")) != 0) return 14;            // silent
    if (PingTest(Ip("192.0.2.1")) != -1) return 15;           // no route: ping fails, nothing known
    // The time bound ends a ping that is still waiting.
    const auto start = std::chrono::steady_clock::now();
    if (ping_detail::RunPingProgram("10.77.9.9", 150) != -1) return 16;
    if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(900)) return 17;
    return 0;
  }, std::chrono::seconds(20)), 0);
}

TEST(AdapterMapLan, ListsEveryAddressOfTheNamespace) {
  // Enough addresses that the kernel's answer spans several reads.
  KELVARA_TEST_LAN_OR_SKIP(lan, (TestLanOptions{.lan_addresses = 600, .default_route = false}));
  const auto pc = lan->CallInThread(LanSide::kPc, [] { return GetAdapterAddressMap(); });
  ASSERT_EQ(pc.size(), 1u);  // the loopback is no adapter
  const AdapterInfo& a = pc.begin()->second;
  EXPECT_EQ(pc.begin()->first, Ip(TestLan::kPcAddress));
  EXPECT_EQ(a.name, "lan0");
  EXPECT_EQ(a.mac_length, 6);
  EXPECT_GT(a.index, 0);
  ASSERT_EQ(a.addresses.size(), 1u);
  EXPECT_EQ(a.addresses[0].mask, Ip("255.255.0.0"));
  EXPECT_TRUE(a.gateways.empty());

  const auto side = lan->CallInThread(LanSide::kLan, [] { return GetAdapterAddressMap(); });
  ASSERT_EQ(side.size(), 601u);
  for (const std::string& ip : {std::string(TestLan::kLanAddress), TestLan::LanAddress(0), TestLan::LanAddress(599)}) {
    ASSERT_TRUE(side.count(Ip(ip))) << ip;
    EXPECT_EQ(side.at(Ip(ip)).name, "pc0");
  }

  // A down adapter contributes nothing; GetFirstAdapterAddress then finds none.
  ASSERT_EQ(lan->Run(LanSide::kPc, {"ip", "link", "set", "lan0", "down"}), 0);
  lan->CallInThread(LanSide::kPc, [] {
    EXPECT_TRUE(GetAdapterAddressMap().empty());
    std::uint32_t addr = 7, mask = 7, gw = 7;
    EXPECT_EQ(GetFirstAdapterAddress(addr, mask, gw), 0u);
    EXPECT_EQ(addr, 7u);
  });
}

TEST(LocalNetworkConfigLan, PicksTheAddressInTheGatewaysSubnet) {
  KELVARA_TEST_LAN_OR_SKIP(lan, TestLanOptions{});
  const auto resolv = test::MakeTempDir("dns") / "resolv.conf";
  std::ofstream(resolv) << "nameserver 10.77.0.53\nnameserver 10.77.0.54\nnameserver 10.77.0.55\n";
  for (const auto& cmd : std::vector<std::vector<std::string>>{
           {"ip", "addr", "flush", "dev", "lan0"},
           {"ip", "addr", "add", "10.0.0.5/8", "dev", "lan0"},
           {"ip", "addr", "add", "192.168.1.20/24", "dev", "lan0"},
           {"ip", "route", "add", "default", "via", "192.168.1.1"}}) {
    ASSERT_EQ(lan->Run(LanSide::kPc, cmd), 0) << cmd[1] << " " << cmd[2];
  }
  LocalNetworkConfig c;
  EXPECT_EQ(lan->CallInThread(LanSide::kPc, [&] { return GetLocalNetworkConfig(c, resolv); }), 1);
  EXPECT_EQ(c.ip, "192.168.1.20");
  EXPECT_EQ(c.mask, "255.255.255.0");
  EXPECT_EQ(c.gateway, "192.168.1.1");
  EXPECT_EQ(c.dns1, "10.77.0.53");
  EXPECT_EQ(c.dns2, "10.77.0.54");

  std::uint32_t addr = 0, mask = 0, gw = 0;
  EXPECT_EQ(lan->CallInThread(LanSide::kPc, [&] { return GetFirstAdapterAddress(addr, mask, gw); }), Ip("10.0.0.5"));
  EXPECT_EQ(mask, Ip("255.0.0.0"));
  EXPECT_EQ(gw, Ip("192.168.1.1"));

  // Without DNS servers the gateway stands in; a single one leaves DNS 2 empty.
  std::ofstream(resolv) << "nameserver 10.77.0.53\n";
  EXPECT_EQ(lan->CallInThread(LanSide::kPc, [&] { return GetLocalNetworkConfig(c, resolv); }), 1);
  EXPECT_EQ(c.dns1, "10.77.0.53");
  EXPECT_EQ(c.dns2, "");
  std::ofstream(resolv, std::ios::trunc) << "";
  EXPECT_EQ(lan->CallInThread(LanSide::kPc, [&] { return GetLocalNetworkConfig(c, resolv); }), 1);
  EXPECT_EQ(c.dns1, "192.168.1.1");
}

// A LAN without a default route (the usual bench): the adapter's own address
// and mask, no gateway, and never the built-in defaults of another network.
TEST(LocalNetworkConfigLan, WithoutADefaultRouteTheAdapterGivesAddressAndMaskAndNoGateway) {
  KELVARA_TEST_LAN_OR_SKIP(lan, TestLanOptions{});
  const auto resolv = test::MakeTempDir("dns") / "resolv.conf";
  std::ofstream(resolv) << "nameserver 10.77.0.53\n";
  LocalNetworkConfig c;
  EXPECT_EQ(lan->CallInThread(LanSide::kPc, [&] { return GetLocalNetworkConfig(c, resolv); }), 1);
  EXPECT_EQ(c.ip, TestLan::kPcAddress);
  EXPECT_EQ(c.mask, "255.255.0.0");
  EXPECT_EQ(c.gateway, "");
  EXPECT_EQ(c.dns1, "10.77.0.53");
  // No DNS server known either: DNS 1 stays empty too.
  std::ofstream(resolv, std::ios::trunc) << "";
  EXPECT_EQ(lan->CallInThread(LanSide::kPc, [&] { return GetLocalNetworkConfig(c, resolv); }), 1);
  EXPECT_EQ(c.ip, TestLan::kPcAddress);
  EXPECT_EQ(c.gateway, "");
  EXPECT_EQ(c.dns1, "");

  // A default route straight onto the link, through no gateway: the same.
  ASSERT_EQ(lan->Run(LanSide::kPc, {"ip", "route", "add", "default", "dev", "lan0"}), 0);
  EXPECT_EQ(lan->CallInThread(LanSide::kPc, [&] { return GetLocalNetworkConfig(c, resolv); }), 1);
  EXPECT_EQ(c.ip, TestLan::kPcAddress);
  EXPECT_EQ(c.mask, "255.255.0.0");
  EXPECT_EQ(c.gateway, "");
  ASSERT_EQ(lan->Run(LanSide::kPc, {"ip", "route", "del", "default"}), 0);

  // With a default route via the LAN side it reports that gateway.
  ASSERT_TRUE(lan->AddDefaultRoute());
  EXPECT_EQ(lan->CallInThread(LanSide::kPc, [&] { return GetLocalNetworkConfig(c, resolv); }), 1);
  EXPECT_EQ(c.ip, TestLan::kPcAddress);
  EXPECT_EQ(c.mask, "255.255.0.0");
  EXPECT_EQ(c.gateway, TestLan::kLanAddress);

  // No adapter with an address at all: the built-in defaults, said as such.
  ASSERT_EQ(lan->Run(LanSide::kPc, {"ip", "link", "set", "lan0", "down"}), 0);
  EXPECT_EQ(lan->CallInThread(LanSide::kPc, [&] { return GetLocalNetworkConfig(c, resolv); }), -1);
  LocalNetworkConfig defaults;
  GetDefaultNetworkConfig(defaults);
  EXPECT_EQ(c.ip, defaults.ip);
  EXPECT_EQ(c.gateway, defaults.gateway);
}

}  // namespace
}  // namespace kelvara
