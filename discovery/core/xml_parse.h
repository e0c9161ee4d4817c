#pragma once
// Parsing untrusted text with TinyXML. Its UTF-8 handling trusts a lead byte
// and may step a few bytes past the terminating zero of a text that ends in
// a cut multi-byte character; the text is parsed from a copy with zero
// padding behind it, so such a step stays inside the copy.
#include <tinyxml.h>

#include <string>
#include <string_view>

namespace kelvara::discovery {

// The text up to its first zero byte (a datagram is a zero-terminated text).
inline std::string_view UpToZero(std::string_view text) {
  if (const auto zero = text.find('\0'); zero != std::string_view::npos) text = text.substr(0, zero);
  return text;
}

inline void ParseUntrustedXml(TiXmlDocument& doc, std::string_view text) {
  text = UpToZero(text);
  std::string padded;
  padded.reserve(text.size() + 64);
  padded.append(text);
  padded.append(64, '\0');
  doc.Parse(padded.c_str());
}

}  // namespace kelvara::discovery
