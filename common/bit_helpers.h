#pragma once
// Bit helpers and the net-mask test used by the address dialogs.
#include <cstdint>

namespace kelvara {

// 1 when bit (n mod 32) of the word is set.
inline int TestBit(std::uint32_t word, int n) { return (word >> (static_cast<unsigned>(n) % 32u)) & 1u; }
// The word with bit (n mod 32) set.
inline std::uint32_t SetBit(std::uint32_t word, int n) { return word | (1u << (static_cast<unsigned>(n) % 32u)); }
// 1 when the mask (host order) is a run of ones followed by zeros only.
inline int IsValidNetMask(std::uint32_t mask) {
  const std::uint32_t inverted = ~mask;
  return (inverted & (inverted + 1u)) == 0 ? 1 : 0;
}

}  // namespace kelvara
