#pragma once
// Escaping of XML attribute text for the bodies sent to devices.
#include <string>
#include <string_view>

namespace kelvara {

// Replaces the five characters that cannot stand in an attribute value
// (" & ' < >) by their entities and copies every other byte, including bytes
// of 0x80 and above (multi-byte texts pass through). No text gives "".
std::string XmlEscape(std::string_view text);
std::string XmlEscape(const char* text);

}  // namespace kelvara
