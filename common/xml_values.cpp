#include "common/xml_values.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace kelvara {

int ParseDecimalInt(const char* text) {
  if (text == nullptr) return 0;
  errno = 0;
  long long v = std::strtoll(text, nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

std::string TruncateUtf8(std::string_view text, std::size_t max_bytes) {
  if (text.size() <= max_bytes) return std::string(text);
  std::size_t end = max_bytes;
  // Step back over continuation bytes to the start of the cut character.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return std::string(text.substr(0, end));
}

namespace {

// Length of the well-formed UTF-8 sequence at the start of `t`, or 0.
std::size_t SequenceLength(std::string_view t) {
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(t[i]); };
  const unsigned char c = b(0);
  if (c < 0x80) return 1;
  std::size_t n;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;  // overlong
    if (c == 0xED) hi = 0x9F;  // surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;  // overlong
    if (c == 0xF4) hi = 0x8F;  // above U+10FFFF
  } else {
    return 0;
  }
  if (t.size() < n || b(1) < lo || b(1) > hi) return 0;
  for (std::size_t i = 2; i < n; ++i) {
    if ((b(i) & 0xC0) != 0x80) return 0;
  }
  return n;
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
  while (!text.empty()) {
    std::size_t n = SequenceLength(text);
    if (n == 0) return false;
    text.remove_prefix(n);
  }
  return true;
}

std::string MakeValidUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    std::size_t n = SequenceLength(text);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      n = 1;
    } else {
      out.append(text.substr(0, n));
    }
    text.remove_prefix(n);
  }
  return out;
}

}  // namespace kelvara
