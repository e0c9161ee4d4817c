#pragma once
// Conversions between the text forms the program meets: UTF-16 ("wide") text
// of the user interface, UTF-8, the Chinese code pages devices use (GBK,
// code page 936; Big5, code page 950) and the hexadecimal form some device
// fields travel in. Stateless; any thread may call them.
//
// Wide text in the GUI-free core is std::u16string (QString's own storage).
// Code pages go through glibc iconv.
#include <cstdint>
#include <string>
#include <string_view>

namespace kelvara {

// GBK (code page 936) to UTF-8. A character GBK cannot hold never occurs on
// this path; an invalid byte sequence becomes U+FFFD. Empty input gives "".
std::string GbkToUtf8(std::string_view gbk);

// UTF-8 to GBK (code page 936), the 8-bit form devices expect for login
// names and passwords. A character GBK cannot hold, and an invalid UTF-8
// byte, becomes '?' (the platform's default character). Empty input gives "".
std::string Utf8ToGbk(std::string_view utf8);

// Big5 (code page 950) to GBK. Characters GBK lacks become '?', as the
// platform's default character; invalid Big5 bytes become '?' too.
std::string Big5ToGbk(std::string_view big5);

// Text in the program's 8-bit code page for device texts (GBK, or Big5 on a
// Traditional Chinese system) to wide text. Null gives an empty text.
std::u16string AnsiToCString(const char* text);

// UTF-8 (read as Utf8ToCString reads it) to the program's 8-bit code page for
// device texts (GBK, or Big5 on a Traditional Chinese system); a character the
// code page cannot hold becomes '?'.
std::string Utf8ToAnsi(std::string_view utf8);

// UTF-8 to wide text. Decodes standard UTF-8 and, so that texts written by
// older versions still load, the legacy forms they wrote: characters from
// U+0080 to U+07FF in three bytes, and surrogate halves encoded one by one in
// three bytes each. Stops at the first zero byte and at a sequence cut off by
// the end of the text; any other invalid byte becomes U+FFFD.
std::u16string Utf8ToCString(std::string_view utf8);

// Wide text to standard UTF-8 (surrogate pairs become one four-byte
// sequence, a lone surrogate becomes U+FFFD, zero units are dropped). Writes
// the input units and the output bytes to the debug log.
std::string TitleToUtf8(std::u16string_view title);

// The UTF-8 bytes of one UTF-16 unit packed into an int: the unit itself
// below 0x80, else the lead byte in the highest used byte and the last byte
// in bits 0-7 (two bytes up to U+07FF, three above; a surrogate half gives
// the bytes of U+FFFD).
int CodePointToUtf8(char16_t unit);

// Each byte as two lowercase hexadecimal digits. Null gives "".
std::string StringToHex(const char* text);
std::string StringToHex(std::string_view bytes);

// Two hexadecimal digits per byte, first digit high. An odd length takes a
// zero as the last low digit. A character that is not a hexadecimal digit
// counts as 0.
std::string HexToBytes(std::string_view hex);

// 0-15 for '0'-'9', 'a'-'f', 'A'-'F'; 0 for any other character.
int HexDigitValue(char c);

// The value of a character known to be a hexadecimal digit, without a check:
// codes above 96 give code - 87, codes up to 64 give code - 48, codes 65 to 96
// give code - 55.
int HexCharValue(char c);

// Decimal text of an unsigned 32-bit number.
std::u16string UIntToCString(std::uint32_t value);

// True when the system's default locale is Traditional Chinese (Taiwan), the
// locale whose device texts are in Big5.
bool IsTraditionalChineseSystem();

}  // namespace kelvara
