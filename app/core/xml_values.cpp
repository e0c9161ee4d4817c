#include "app/core/xml_values.h"

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

}  // namespace kelvara
