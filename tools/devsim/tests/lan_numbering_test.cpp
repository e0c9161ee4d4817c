// One numbering for the test LAN and devsim: device n of a simulator started at
// the LAN's first address sits on the LAN's n-th address, for the shell script,
// the C++ test LAN and devsim alike.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <sstream>

#include "device_config.h"
#include "kelvara_test/test_env.h"
#include "kelvara_test/test_lan.h"
#include "lan_numbering.h"

namespace kelvara::devsim {
namespace {

constexpr uint32_t Ip(uint32_t a, uint32_t b, uint32_t c, uint32_t d) { return a << 24 | b << 16 | c << 8 | d; }

TEST(LanNumbering, ScriptTestLanAndDevsimGiveTheSameTwoThousandAddresses) {
  constexpr int kDevices = 2000;
  const std::string script = (kelvara::test::SourceDir() / "scripts" / "testlan.sh").string();
  FILE* p = popen(("bash " + script + " addrs " + std::to_string(kDevices)).c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string shell;
  std::array<char, 4096> buf{};
  for (size_t n; (n = fread(buf.data(), 1, buf.size(), p)) > 0;) shell.append(buf.data(), n);
  ASSERT_EQ(pclose(p), 0);

  std::vector<DeviceConfig> devices;
  ASSERT_EQ(GenerateDevices(DeviceConfig{}, kDevices, kelvara::test::TestLan::LanAddress(0), "N", devices), "");
  std::istringstream lines(shell);
  std::string line;
  int n = 0;
  for (; std::getline(lines, line); ++n) {
    ASSERT_LT(n, kDevices);
    EXPECT_EQ(devices[static_cast<size_t>(n)].ip, line) << "device " << n;
    EXPECT_EQ(kelvara::test::TestLan::LanAddress(n), line) << "address " << n;
    const int last = std::stoi(line.substr(line.rfind('.') + 1));
    EXPECT_TRUE(last >= 1 && last <= 250) << line;  // never the network or broadcast byte
  }
  EXPECT_EQ(n, kDevices);
}

TEST(LanNumbering, CountsFromAnyBaseAndRefusesWhatLeavesTheHostBytes) {
  struct Case { uint32_t base, n; std::optional<uint32_t> want; };
  const Case cases[] = {
      {Ip(10, 77, 1, 1), 249, Ip(10, 77, 1, 250)},
      {Ip(10, 77, 1, 1), 250, Ip(10, 77, 2, 1)},
      {Ip(10, 77, 1, 10), 241, Ip(10, 77, 2, 1)},      // a base inside a block
      {Ip(10, 77, 255, 250), 1, Ip(10, 78, 0, 1)},     // carries into the next /16
      {Ip(10, 77, 1, 0), 0, std::nullopt},             // the network byte
      {Ip(10, 77, 1, 251), 0, std::nullopt},
      {Ip(10, 77, 1, 255), 0, std::nullopt},           // broadcast
      {Ip(255, 255, 255, 250), 0, Ip(255, 255, 255, 250)},
      {Ip(255, 255, 255, 250), 1, std::nullopt},       // past the end
  };
  for (const Case& c : cases) EXPECT_EQ(NthLanAddress(c.base, c.n), c.want) << c.base << "+" << c.n;

  std::vector<DeviceConfig> out;
  EXPECT_EQ(GenerateDevices({}, 2, "10.77.1.0", "X", out), "bad base_ip: 10.77.1.0 (devices take .1 to .250 of each /24)");
  EXPECT_EQ(GenerateDevices({}, 2, "255.255.255.250", "X", out),
            "base_ip 255.255.255.250 leaves no room for 2 devices");
  EXPECT_TRUE(out.empty());
  // On loopback the devices share the address (and take ports of their own).
  ASSERT_EQ(GenerateDevices({}, 300, "127.0.0.1", "X", out), "");
  EXPECT_EQ(out[299].ip, "127.0.0.1");
}

}  // namespace
}  // namespace kelvara::devsim
