#include "common/log_text.h"

#include <cstdio>

namespace kelvara {

std::string EscapeForLog(std::string_view bytes, std::size_t max_bytes) {
  const std::string_view shown = bytes.substr(0, max_bytes);
  std::string out;
  out.reserve(shown.size() + 16);
  for (unsigned char c : shown) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c >= 0x20 && c < 0x7f) {
          out += static_cast<char>(c);
        } else {
          char hex[5];
          std::snprintf(hex, sizeof hex, "\\x%02X", c);
          out += hex;
        }
    }
  }
  if (bytes.size() > shown.size()) out += "...(" + std::to_string(bytes.size()) + " bytes)";
  return out;
}

}  // namespace kelvara
