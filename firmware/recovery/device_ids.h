#pragma once
// The identities the boot-recovery server hands out or derives: a random MAC
// text for a device that has none yet, and the table key a device's search
// UUID maps to.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kelvara::firmware {

// Six bytes: byte 0 is 0 (a unicast, never a group address), bytes 1 to 5
// come from the system's random source (getrandom through std::random_device).
std::array<std::uint8_t, 6> RandomMacBytes();
// "%02x %02x %02x %02x %02x %02x".
std::string MacText(const std::array<std::uint8_t, 6>& bytes);

// "zq" and twelve lower-case hex digits from the decimal 64-bit value of the
// text (leading blanks and a sign allowed; no digits gives 0; out of range
// saturates): the high byte of bits 0-15 rounded up to even (0xFF gives 0x00),
// the low byte of bits 0-15, then bits 16-31 and 32-47, high byte first.
std::string MakeDeviceUuid(std::string_view text);

}  // namespace kelvara::firmware
