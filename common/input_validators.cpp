#include "common/input_validators.h"

#include <charconv>
#include <cstdint>

namespace kelvara {
namespace {

// The value of 1 to 63 decimal digits, or false (also when it exceeds 64 bits).
bool ParseDigits(std::string_view text, std::uint64_t& value) {
  if (text.empty() || text.size() > 63) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

bool IsIntInRange(std::string_view text, int min, int max) {
  std::uint64_t value = 0;
  if (!ParseDigits(text, value)) return false;
  // Digits only, so the value is never negative; compare in 64 bits.
  if (value > static_cast<std::uint64_t>(INT64_MAX)) return false;
  const auto v = static_cast<std::int64_t>(value);
  return v >= min && v <= max;
}

std::uint32_t ParseUInt(std::string_view text) {
  std::uint64_t value = 0;
  if (!ParseDigits(text, value) || value > UINT32_MAX) return 0;
  return static_cast<std::uint32_t>(value);
}

bool IsValidIpAddress(std::string_view text) {
  if (text.empty() || text.size() >= 100) return false;
  int parts = 0;
  bool all_zero = true;
  bool all_ones = true;
  size_t start = 0;
  while (true) {
    const size_t dot = text.find('.', start);
    const std::string_view part = text.substr(start, dot == std::string_view::npos ? dot : dot - start);
    if (++parts > 4 || !IsIntInRange(part, 0, 255)) return false;
    if (part.size() > 1 && part[0] == '0') return false;  // "00", "01": octal to inet_addr
    all_zero = all_zero && part == "0";
    all_ones = all_ones && part == "255";
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return parts == 4 && !all_zero && !all_ones;
}

bool IsValidDomainName(std::string_view text) {
  if (text.empty() || text.size() > 63) return false;
  if (text.front() == '-' || text.back() == '-' || text.back() == '.') return false;
  const size_t last_dot = text.rfind('.');
  if (last_dot == std::string_view::npos) return false;
  const std::string_view tld = text.substr(last_dot + 1);
  if (tld.size() < 2 || tld.size() > 3) return false;
  for (char c : tld) {
    if (c >= '0' && c <= '9') return false;
  }
  for (char c : text) {
    const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    const bool ok = (lower >= 'a' && lower <= 'z') || (lower >= '0' && lower <= '9') || lower == '-' ||
                    lower == '.';
    if (!ok) return false;
  }
  return true;
}

}  // namespace kelvara
