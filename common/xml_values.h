#pragma once
// Small readers shared by the program's own XML files.
#include <cstddef>
#include <string>
#include <string_view>

namespace kelvara {

// A decimal integer as the C library reads it: leading blanks and one sign
// accepted, reading stops at the first other character, no digits gives 0.
// Values beyond the int range are clamped to it. Null gives 0.
int ParseDecimalInt(const char* text);

// At most `max_bytes` bytes of UTF-8 text, never ending inside a character.
std::string TruncateUtf8(std::string_view text, std::size_t max_bytes);

// True when the bytes are well-formed UTF-8 (no overlong forms, no surrogates).
bool IsValidUtf8(std::string_view text);

// The text with every byte that does not start a well-formed UTF-8 sequence
// replaced by U+FFFD.
std::string MakeValidUtf8(std::string_view text);

}  // namespace kelvara
