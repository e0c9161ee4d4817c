#include "firmware/recovery/device_ids.h"

#include <climits>
#include <cstdio>
#include <random>

namespace kelvara::firmware {

std::array<std::uint8_t, 6> RandomMacBytes() {
  // random_device reads the kernel's generator (getrandom) on Linux; one per
  // call keeps this thread-safe without a lock.
  std::random_device source;
  std::array<std::uint8_t, 6> bytes{};
  const std::uint32_t a = source();
  const std::uint32_t b = source();
  bytes[1] = static_cast<std::uint8_t>(a);
  bytes[2] = static_cast<std::uint8_t>(a >> 8);
  bytes[3] = static_cast<std::uint8_t>(a >> 16);
  bytes[4] = static_cast<std::uint8_t>(a >> 24);
  bytes[5] = static_cast<std::uint8_t>(b);
  return bytes;
}

std::string MacText(const std::array<std::uint8_t, 6>& bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%02x %02x %02x %02x %02x %02x", bytes[0], bytes[1], bytes[2], bytes[3],
                bytes[4], bytes[5]);
  return text;
}

std::string MakeDeviceUuid(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  unsigned long long magnitude = 0;
  const unsigned long long limit = negative ? static_cast<unsigned long long>(LLONG_MAX) + 1 : LLONG_MAX;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + static_cast<unsigned>(text[i] - '0');
    if (magnitude > limit) magnitude = limit;
  }
  const std::uint64_t v = negative ? 0 - magnitude : magnitude;  // two's complement bits
  const auto w0 = static_cast<std::uint16_t>(v), w1 = static_cast<std::uint16_t>(v >> 16),
             w2 = static_cast<std::uint16_t>(v >> 32);
  unsigned b0 = w0 >> 8;
  b0 = (b0 + (b0 & 1)) & 0xFF;
  char out[16];
  std::snprintf(out, sizeof out, "zq%02x%02x%02x%02x%02x%02x", b0, w0 & 0xFF, w1 >> 8, w1 & 0xFF, w2 >> 8,
                w2 & 0xFF);
  return out;
}

}  // namespace kelvara::firmware
