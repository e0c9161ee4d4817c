// The pure parts of the network queries; the queries themselves are tested
// inside the test LAN (local_network_lan_test.cpp).
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "common/local_network.h"
#include "common/ping_test.h"
#include "kelvara_test/test_env.h"

namespace kelvara {
namespace {

using ping_detail::CheckEchoReply;
using ping_detail::ReplyCheck;

std::uint32_t Ip(const char* text) { return inet_addr(text); }

TEST(InternetChecksum, KnownValuesAndVerification) {
  std::uint8_t request[12] = {8, 0};
  const std::uint16_t sum = InternetChecksum(request, sizeof(request));
  std::memcpy(request + 2, &sum, 2);
  EXPECT_EQ(request[2], 0xF7);
  EXPECT_EQ(request[3], 0xFF);
  // A packet with its checksum in place sums to zero, whatever its content.
  std::uint8_t packet[13] = {8, 0, 0, 0, 0x12, 0x34, 0, 1, 0xde, 0xad, 0xbe, 0xef, 0x7f};
  for (std::size_t len : {12u, 13u}) {
    packet[2] = packet[3] = 0;
    const std::uint16_t s = InternetChecksum(packet, len);
    std::memcpy(packet + 2, &s, 2);
    EXPECT_EQ(InternetChecksum(packet, len), 0) << len;
  }
  // RFC 1071's example words 0001 f203 f4f5 f6f7 sum to ddf2 (big-endian view).
  const std::uint8_t rfc[] = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
  EXPECT_EQ(ntohs(InternetChecksum(rfc, sizeof(rfc))), static_cast<std::uint16_t>(~0xddf2));
}

// An IPv4 header (20 bytes) from `src`, then an ICMP message.
std::vector<std::uint8_t> RawPacket(const char* src, std::uint8_t type, std::uint16_t id, std::uint16_t seq) {
  std::vector<std::uint8_t> p(28, 0);
  p[0] = 0x45;
  const std::uint32_t s = Ip(src);
  std::memcpy(&p[12], &s, 4);
  p[20] = type;
  std::memcpy(&p[24], &id, 2);
  std::memcpy(&p[26], &seq, 2);
  return p;
}

TEST(PingReply, OnlyOurEchoReplyFromTheAddressCounts) {
  const std::uint32_t target = Ip("10.77.0.2");
  struct Case {
    const char* what;
    std::vector<std::uint8_t> packet;
    std::size_t cut;  // bytes taken from the packet (0: all)
    ReplyCheck want;
  } cases[] = {
      {"our reply", RawPacket("10.77.0.2", 0, 0x1234, 1), 0, ReplyCheck::kReply},
      {"reply to our first request", RawPacket("10.77.0.2", 0, 0x1234, 0), 0, ReplyCheck::kReply},
      {"other host", RawPacket("10.77.0.9", 0, 0x1234, 1), 0, ReplyCheck::kOtherSender},
      {"our own request", RawPacket("10.77.0.2", 8, 0x1234, 1), 0, ReplyCheck::kNotEchoReply},
      {"unreachable", RawPacket("10.77.0.2", 3, 0x1234, 1), 0, ReplyCheck::kNotEchoReply},
      {"someone else's ping", RawPacket("10.77.0.2", 0, 0x1235, 1), 0, ReplyCheck::kOtherRequest},
      {"a future sequence", RawPacket("10.77.0.2", 0, 0x1234, 2), 0, ReplyCheck::kOtherRequest},
      {"short", RawPacket("10.77.0.2", 0, 0x1234, 1), 27, ReplyCheck::kShort},
      {"no ip header", RawPacket("10.77.0.2", 0, 0x1234, 1), 10, ReplyCheck::kShort},
  };
  for (const auto& c : cases) {
    const std::size_t len = c.cut ? c.cut : c.packet.size();
    EXPECT_EQ(CheckEchoReply(c.packet.data(), len, true, 0, target, 0x1234, 1), c.want) << c.what;
  }
  // Datagram sockets: ICMP only, the sender from recvfrom.
  const auto p = RawPacket("0.0.0.0", 0, 0x4321, 0);
  EXPECT_EQ(CheckEchoReply(p.data() + 20, 8, false, target, target, 0x4321, 0), ReplyCheck::kReply);
  EXPECT_EQ(CheckEchoReply(p.data() + 20, 8, false, Ip("10.77.0.3"), target, 0x4321, 0), ReplyCheck::kOtherSender);
  EXPECT_EQ(CheckEchoReply(p.data() + 20, 7, false, target, target, 0x4321, 0), ReplyCheck::kShort);
  // An IP header length field pointing past the data.
  auto bad = RawPacket("10.77.0.2", 0, 0x1234, 1);
  bad[0] = 0x4F;
  EXPECT_EQ(CheckEchoReply(bad.data(), bad.size(), true, 0, target, 0x1234, 1), ReplyCheck::kShort);
}

TEST(AddressText, ConversionsBothWays) {
  EXPECT_EQ(IpTextToHostOrder("192.168.1.10"), 0xC0A8010Au);
  EXPECT_EQ(IpTextToHostOrder("bogus"), 0xFFFFFFFFu);
  EXPECT_EQ(IpTextToHostOrder(""), 0xFFFFFFFFu);
  EXPECT_EQ(IpToString(Ip("10.77.1.250")), "10.77.1.250");
  EXPECT_EQ(IpToString(0), "0.0.0.0");
}

TEST(LocalNetworkConfig, DefaultsAndResolvConf) {
  LocalNetworkConfig c;
  GetDefaultNetworkConfig(c);
  EXPECT_EQ(c.ip, "192.168.1.253");
  EXPECT_EQ(c.mask, "255.255.255.0");
  EXPECT_EQ(c.gateway, "192.168.1.1");
  EXPECT_EQ(c.dns1, "192.168.1.1");
  EXPECT_FALSE(c.dns2.empty());

  const auto file = test::MakeTempDir("dns") / "resolv.conf";
  std::ofstream(file) << "# comment\nsearch lan\nnameserver 127.0.0.53\nnameserver fe80::1\n"
                         "nameserver   10.77.0.53 # local\nnameserver 1.1.1.1\nnameserver\n";
  const auto servers = ReadDnsServers(file);
  ASSERT_EQ(servers.size(), 2u);
  EXPECT_EQ(IpToString(servers[0]), "10.77.0.53");
  EXPECT_EQ(IpToString(servers[1]), "1.1.1.1");
  EXPECT_TRUE(ReadDnsServers(file.parent_path() / "missing").empty());
}

}  // namespace
}  // namespace kelvara
