#include "discovery/core/xml_escape.h"

namespace kelvara {

std::string XmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 16);
  for (char c : text) {
    switch (c) {
      case '"': out += "&quot;"; break;
      case '&': out += "&amp;"; break;
      case '\'': out += "&apos;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string XmlEscape(const char* text) {
  return text ? XmlEscape(std::string_view(text)) : std::string();
}

}  // namespace kelvara
