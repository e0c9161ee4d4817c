#pragma once
// IPv4 addresses as host-order numbers, for address arithmetic (ranges,
// subnets, the next free host). Texts are strict dotted decimal.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kelvara {

// "a.b.c.d", each part 0-255 in decimal; nullopt for anything else.
std::optional<std::uint32_t> ParseIpv4Host(std::string_view text);
// "%d.%d.%d.%d", most significant octet first.
std::string FormatIpv4Host(std::uint32_t address);

// True for a run of ones followed by zeros only (0 and all-ones included).
bool IsContiguousMask(std::uint32_t mask);

inline std::uint32_t NetworkOf(std::uint32_t address, std::uint32_t mask) { return address & mask; }
inline std::uint32_t BroadcastOf(std::uint32_t address, std::uint32_t mask) { return address | ~mask; }

// True for a host address of the subnet: neither its network nor its
// broadcast address (a /31 or /32 has no such pair to exclude).
bool IsHostOfSubnet(std::uint32_t address, std::uint32_t mask);

}  // namespace kelvara
