// The address dialog's rules: the end address it proposes, OK's checks and
// the addresses Check probes.
#include <gtest/gtest.h>

#include <atomic>

#include "common/ipv4_host.h"
#include "dialogs/core/ip_setting_model.h"

namespace kelvara::dialogs {
namespace {

std::uint32_t Ip(const char* t) { return *ParseIpv4Host(t); }

TEST(IpSettingModel, EndAddressStaysInsideTheSubnet) {
  IpSettingModel m;
  m.rangeMode = true;
  m.deviceCount = 10;
  EXPECT_EQ(FormatIpv4Host(m.EndFor(Ip("192.168.1.250"), Ip("255.255.255.0"))), "192.168.1.254");
  EXPECT_EQ(FormatIpv4Host(m.EndFor(Ip("192.168.1.20"), Ip("255.255.255.0"))), "192.168.1.29");
  // A wider mask still stops at .254 of the start's last byte.
  EXPECT_EQ(FormatIpv4Host(m.EndFor(Ip("10.0.0.250"), Ip("255.255.0.0"))), "10.0.0.254");
  EXPECT_EQ(FormatIpv4Host(m.EndFor(Ip("10.0.3.255"), Ip("255.255.0.0"))), "10.0.3.255");
  // A narrower one stops at its last host: .126 of the lower /25.
  EXPECT_EQ(FormatIpv4Host(m.EndFor(Ip("192.168.1.120"), Ip("255.255.255.128"))), "192.168.1.126");
  EXPECT_EQ(FormatIpv4Host(m.EndFor(Ip("10.0.0.250"), 0)), "10.0.0.254");  // no mask yet: the /24
  m.deviceCount = 0;
  EXPECT_EQ(FormatIpv4Host(m.EndFor(Ip("10.0.0.7"), Ip("255.255.255.0"))), "10.0.0.7");
  EXPECT_EQ(FormatIpv4Host(IpSettingModel::GatewayFor(Ip("10.0.0.20"))), "10.0.0.1");
}

TEST(IpSettingModel, OkRefusesWhatWouldHandOutAWrongAddress) {
  const std::uint32_t m24 = Ip("255.255.255.0");
  struct Case {
    const char* name;
    bool range, full;
    int devices;
    const char *start, *end, *gateway;
    IpSettingError error;
  } cases[] = {
      {"fine", false, false, 1, "192.168.1.20", "", "192.168.1.1", IpSettingError::kNone},
      {"no gateway", false, false, 1, "192.168.1.20", "", "", IpSettingError::kNone},
      {"gateway elsewhere", false, false, 1, "192.168.1.20", "", "192.168.2.1", IpSettingError::kGatewayOutsideSubnet},
      {"broadcast with gateway", false, false, 1, "192.168.1.255", "", "192.168.1.1", IpSettingError::kStartIsBroadcast},
      {"broadcast without gateway", false, false, 1, "192.168.1.255", "", "", IpSettingError::kStartIsBroadcast},
      {"network address", false, false, 1, "192.168.1.0", "", "192.168.1.1", IpSettingError::kStartIsNetwork},
      {"empty start", false, false, 1, "", "", "", IpSettingError::kBadAddress},
      {"end before start", true, false, 3, "192.168.1.20", "192.168.1.10", "", IpSettingError::kEndBeforeStart},
      {"short range, batch debug", true, false, 10, "192.168.1.20", "192.168.1.22", "", IpSettingError::kNone},
      {"short range, consecutive", true, true, 10, "192.168.1.20", "192.168.1.22", "", IpSettingError::kRangeTooShort},
      {"range past the subnet", true, true, 10, "192.168.1.250", "192.168.2.3", "", IpSettingError::kRangeTooShort},
      {"range long enough", true, true, 3, "192.168.1.20", "192.168.1.22", "", IpSettingError::kNone},
  };
  for (const auto& c : cases) {
    IpSettingModel m;
    m.rangeMode = c.range;
    m.requireFullRange = c.full;
    m.deviceCount = c.devices;
    const auto field = [](const char* t) { return FieldFromText(t); };
    EXPECT_EQ(m.Validate(field(c.start), field(c.end), m24, field(c.gateway)), c.error) << c.name;
  }
  EXPECT_STREQ(IpSettingErrorKey(IpSettingError::kGatewayOutsideSubnet), "MSGTIP46");
  EXPECT_STREQ(IpSettingErrorKey(IpSettingError::kStartIsBroadcast), "MSGTIP46");
}

TEST(IpSettingModel, CheckProbesFromStartToEndOnly) {
  IpSettingModel m;
  m.rangeMode = true;
  m.deviceCount = 50;
  const auto all = m.AddressesToCheck(Ip("10.0.0.2"), Ip("10.0.0.4"));
  EXPECT_EQ(all, (std::vector<std::uint32_t>{Ip("10.0.0.2"), Ip("10.0.0.3"), Ip("10.0.0.4")}));
  std::atomic<bool> cancel{false};
  const auto r = CheckAddressesInUse(all, [&](std::uint32_t a) { return a == Ip("10.0.0.3") ? 1 : 0; }, cancel);
  EXPECT_EQ(r.answered, (std::vector<std::uint32_t>{Ip("10.0.0.3")}));
  EXPECT_FALSE(r.cancelled);
  cancel = true;
  int probes = 0;
  EXPECT_TRUE(CheckAddressesInUse(all, [&](std::uint32_t) { return ++probes; }, cancel).cancelled);
  EXPECT_EQ(probes, 0);
  m.rangeMode = false;
  EXPECT_EQ(m.AddressesToCheck(Ip("10.0.0.2"), Ip("10.0.0.9")).size(), 1u);
}

}  // namespace
}  // namespace kelvara::dialogs
