#include "tftp_packets.h"

#include <gtest/gtest.h>

#include "common/served_file.h"

namespace kelvara::tftp {
namespace {

std::string P(std::initializer_list<std::string_view> parts, std::uint16_t op = kRrq) {
  std::string out{static_cast<char>(op >> 8), static_cast<char>(op & 0xFF)};
  for (auto part : parts) {
    out += part;
    out.push_back('\0');
  }
  return out;
}

TEST(TftpPackets, ParsesRequests) {
  auto r = ParseRequest(P({"fw.bin", "OCTET", "BLKSIZE", "1468", "tsize", "0", "lone"}));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->opcode, kRrq);
  EXPECT_EQ(r->filename, "fw.bin");
  EXPECT_EQ(r->mode, "octet");
  ASSERT_EQ(r->options.size(), 2u);
  EXPECT_EQ(r->options[0], (std::pair<std::string, std::string>{"blksize", "1468"}));
  EXPECT_EQ(ParseRequest(P({"x", "netascii"}, kWrq))->opcode, kWrq);

  const std::string bad[] = {
      "", std::string("\0\1", 2), std::string("\0\1fw.bin\0octet", 14),  // mode unterminated
      P({"", "octet"}), P({"fw.bin", ""}), P({"fw.bin", "octet"}, kAck), P({"fw.bin"})};
  for (const auto& packet : bad) EXPECT_FALSE(ParseRequest(packet)) << packet.size();
}

TEST(TftpPackets, NegotiatesWithinBounds) {
  struct Case {
    std::vector<std::pair<std::string, std::string>> options;
    std::size_t block;
    int timeout;
    std::string oack;  // after the opcode
  };
  using namespace std::string_literals;
  const Case cases[] = {
      {{}, 512, 3, ""},
      {{{"blksize", "1468"}, {"tsize", "0"}}, 1468, 3, "blksize\0"s "1468\0"s "tsize\0"s "1000\0"s},
      {{{"blksize", "100000"}}, 65464, 3, "blksize\0"s "65464\0"s},
      {{{"blksize", "7"}}, 512, 3, ""},          // below the minimum: ignored
      {{{"blksize", "12x"}}, 512, 3, ""},        // not a number
      {{{"timeout", "0"}, {"timeout", "256"}}, 512, 3, ""},
      {{{"timeout", "9"}, {"windowsize", "4"}}, 512, 9, "timeout\0"s "9\0"s},
      {{{"timeout", "10"}}, 512, 10, "timeout\0"s "10\0"s},
      // Longer than the cap: left out of the OACK, the default applies.
      {{{"timeout", "11"}}, 512, 3, ""},
      {{{"blksize", "1468"}, {"timeout", "255"}}, 1468, 3, "blksize\0"s "1468\0"s},
  };
  for (const auto& c : cases) {
    Request r;
    r.options = c.options;
    const Negotiated n = Negotiate(r, 1000);
    EXPECT_EQ(n.block_size, c.block);
    EXPECT_EQ(n.timeout_seconds, c.timeout);
    EXPECT_EQ(n.any, !c.oack.empty());
    if (n.any) {
      EXPECT_EQ(BuildOack(n, 1000), std::string("\0\6", 2) + c.oack);
    }
  }
  Request r;
  r.options = {{"tsize", "0"}};
  EXPECT_FALSE(Negotiate(r, std::nullopt).any);  // netascii: the size is not known beforehand
}

TEST(TftpPackets, ErrorsAndAcks) {
  EXPECT_EQ(BuildError(kAccessViolation, "no"), std::string("\0\5\0\2no\0", 7));
  EXPECT_EQ(ParseAck(std::string("\0\4\xff\xfe", 4)), 0xFFFE);
  EXPECT_FALSE(ParseAck(std::string("\0\3\0\1", 4)));
  EXPECT_FALSE(ParseAck(std::string("\0\4\0", 3)));
}

TEST(ServedFile, NamesOutsideTheFolderAreRefused) {
  const std::pair<const char*, bool> cases[] = {
      {"fw.bin", true},       {"sub/fw.bin", true},  {"sub\\fw.bin", true}, {"a..b", true},
      {"", false},            {"/etc/passwd", false}, {"\\etc\\passwd", false}, {"../x", false},
      {"sub/../../x", false}, {"..", false},          {"sub\\..\\x", false},   {"C:\\x", false},
  };
  std::string normalized;
  for (const auto& [name, ok] : cases) EXPECT_EQ(IsNameAcceptable(name, normalized), ok) << name;
}

}  // namespace
}  // namespace kelvara::tftp
