#include "dialogs/core/number_fields.h"

#include <climits>

namespace kelvara::dialogs {

std::optional<int> ParseIntField(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  bool negative = false;
  if (!text.empty() && text.front() == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > INT_MAX || value < INT_MIN) return std::nullopt;
  return static_cast<int>(value);
}

std::optional<int> ParseIntFieldIn(std::string_view text, int min, int max) {
  const auto v = ParseIntField(text);
  if (!v || *v < min || *v > max) return std::nullopt;
  return v;
}

}  // namespace kelvara::dialogs
