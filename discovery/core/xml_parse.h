#pragma once
// Parsing untrusted text with TinyXML, always through the guard
// (common/xml_guard.h): deep, wide or large texts are refused before TinyXML
// sees them, and the text is parsed from a zero-padded copy.
#include <tinyxml.h>

#include "common/xml_guard.h"

#include <string>
#include <string_view>

namespace kelvara::discovery {

// The text up to its first zero byte (a datagram is a zero-terminated text).
inline std::string_view UpToZero(std::string_view text) {
  if (const auto zero = text.find('\0'); zero != std::string_view::npos) text = text.substr(0, zero);
  return text;
}

inline XmlParseOutcome ParseUntrustedXml(TiXmlDocument& doc, std::string_view text) {
  return ParseXmlGuarded(doc, UpToZero(text));
}

}  // namespace kelvara::discovery
