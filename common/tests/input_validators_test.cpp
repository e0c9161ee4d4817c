#include "common/input_validators.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>

namespace kelvara {
namespace {

TEST(Validators, IsIntInRange) {
  const struct {
    const char* text;
    int min, max;
    bool ok;
  } cases[] = {
      {"255", 0, 255, true},   {"256", 0, 255, false},   {"-1", 0, 255, false},
      {" 1", 0, 255, false},   {"", 0, 255, false},      {"0", 0, 255, true},
      {"007", 0, 255, true},   {"1a", 0, 255, false},    {"+1", 0, 255, false},
      {"2147483647", 0, 2147483647, true},
      // Values beyond int must not wrap into the range.
      {"4294967296", 0, 255, false}, {"4294967297", 0, 255, false},
      {"18446744073709551617", 0, 255, false},
      {"999999999999999999999999999999999999999999999999999999999999999", 0, 255, false},
      {"5", 10, 20, false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsIntInRange(c.text, c.min, c.max), c.ok) << c.text;
  EXPECT_FALSE(IsIntInRange(std::string(64, '1'), 0, 2147483647));
}

TEST(Validators, ParseUInt) {
  const struct {
    const char* text;
    std::uint32_t value;
  } cases[] = {{"4294967295", 4294967295u}, {"4294967296", 0}, {"12a", 0}, {"", 0}, {"-1", 0},
               {"0", 0}, {"00042", 42}, {"99999999999999999999999", 0}};
  for (const auto& c : cases) EXPECT_EQ(ParseUInt(c.text), c.value) << c.text;
}

TEST(Validators, IsValidIpAddress) {
  const struct {
    const char* text;
    bool ok;
  } cases[] = {
      {"192.168.1.10", true}, {"0.0.0.0", false},  {"255.255.255.255", false}, {"10.0.0.00", false},
      {"1.2.3", false},       {"1.2.3.4.5", false}, {"1..2.3.4", false},       {"256.1.1.1", false},
      {"", false},            {".1.2.3.4", false},  {"1.2.3.4.", false},       {"1.2.3.-4", false},
      {"1.2.3.4 ", false},    {"0x1.2.3.4", false}, {"10.0.0.0", true},        {"255.255.255.0", true},
      // Leading zeros read as octal by inet_addr: 010 would be 8.
      {"01.2.3.4", false},    {"010.1.1.1", false}, {"1.2.3.0377", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsValidIpAddress(c.text), c.ok) << c.text;
  EXPECT_FALSE(IsValidIpAddress(std::string(100, '1')));
}

TEST(Validators, AcceptedAddressesMeanWhatInetAddrReads) {
  // Whatever the validator accepts, the platform parser reads as the same four numbers.
  for (const char* text : {"192.168.1.10", "10.0.0.1", "1.2.3.4", "100.64.0.9"}) {
    ASSERT_TRUE(IsValidIpAddress(text));
    unsigned a, b, c, d;
    ASSERT_EQ(std::sscanf(text, "%u.%u.%u.%u", &a, &b, &c, &d), 4);
    EXPECT_EQ(ntohl(inet_addr(text)), (a << 24) | (b << 16) | (c << 8) | d) << text;
  }
}

TEST(Validators, IsValidDomainName) {
  const struct {
    const char* text;
    bool ok;
  } cases[] = {
      {"node.lan", true},   {"NODE.LAN", true},   {"node.l4n", false}, {"-node.lan", false},
      {"node.lan.", false}, {"node", false},      {"node.home", false}, {"node-.lan", true},
      {"pool.ntp.org", true}, {"a.b-", false},    {"a_b.com", false},  {"", false},
      {"x.c", false},       {"n\xc3\xa9.com", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsValidDomainName(c.text), c.ok) << c.text;
  EXPECT_TRUE(IsValidDomainName(std::string(59, 'a') + ".com"));
  EXPECT_FALSE(IsValidDomainName(std::string(60, 'a') + ".com"));
}

}  // namespace
}  // namespace kelvara
