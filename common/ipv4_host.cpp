#include "common/ipv4_host.h"

#include <cstdio>

namespace kelvara {

std::optional<std::uint32_t> ParseIpv4Host(std::string_view text) {
  std::uint32_t address = 0;
  int parts = 0;
  std::size_t i = 0;
  while (parts < 4) {
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return std::nullopt;
    unsigned value = 0;
    int digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      value = value * 10 + static_cast<unsigned>(text[i] - '0');
      if (++digits > 3 || value > 255) return std::nullopt;
      ++i;
    }
    address = (address << 8) | value;
    if (++parts < 4) {
      if (i >= text.size() || text[i] != '.') return std::nullopt;
      ++i;
    }
  }
  if (i != text.size()) return std::nullopt;
  return address;
}

std::string FormatIpv4Host(std::uint32_t a) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", a >> 24, (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF);
  return text;
}

bool IsContiguousMask(std::uint32_t mask) {
  const std::uint32_t inverted = ~mask;
  return (inverted & (inverted + 1u)) == 0;
}

bool IsHostOfSubnet(std::uint32_t address, std::uint32_t mask) {
  if (~mask <= 1u) return true;
  return address != NetworkOf(address, mask) && address != BroadcastOf(address, mask);
}

}  // namespace kelvara
