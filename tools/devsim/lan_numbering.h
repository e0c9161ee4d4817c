#pragma once
// How simulated devices are numbered on a LAN: 250 host addresses in each /24,
// .1 to .250, never .0 (the network) or .251-.255 (.255 is the broadcast
// address). The test LAN (scripts/testlan.sh, the C++ TestLan) puts its n-th
// address at Nth(10.77.1.1, n) = 10.77.(1 + n/250).(1 + n%250), and devsim
// numbers devices from its base address by the same rule, so device n finds
// the test LAN's n-th address on the interface.
#include <cstdint>
#include <optional>

namespace kelvara::devsim {

inline constexpr uint32_t kHostsPerBlock = 250;

// The n-th address (n from 0) counted from `base` (host byte order), whose last
// byte must be 1..250; nullopt for a bad base or n, or past 255.255.255.250.
inline std::optional<uint32_t> NthLanAddress(uint32_t base, uint32_t n) {
  const uint32_t last = base & 0xFFu;
  if (last < 1 || last > kHostsPerBlock) return std::nullopt;
  const uint64_t position = uint64_t{last - 1} + n;
  const uint64_t block = uint64_t{base >> 8} + position / kHostsPerBlock;
  if (block > 0xFFFFFFu) return std::nullopt;
  return static_cast<uint32_t>(block << 8) | static_cast<uint32_t>(1 + position % kHostsPerBlock);
}

}  // namespace kelvara::devsim
