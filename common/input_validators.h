#pragma once
// Checks of numbers, IPv4 addresses and domain names typed by the user.
// Numbers are read as strict decimal text: no sign, no blanks, no wrap-around
// on values too large for their type. Stateless; any thread may call them.
#include <cstdint>
#include <string_view>

namespace kelvara {

// True when the text is 1 to 63 decimal digits whose value lies within
// min and max (both included). A value beyond the int range is out of range.
bool IsIntInRange(std::string_view text, int min, int max);

// The value of a text of 1 to 63 decimal digits; 0 for any other text and for
// a value above 4294967295.
std::uint32_t ParseUInt(std::string_view text);

// True for a dotted IPv4 address of four decimal parts 0-255 without leading
// zeros (a leading zero means octal to inet_addr, so "010.1.1.1" would not be
// the address the user sees), other than 0.0.0.0 and 255.255.255.255.
bool IsValidIpAddress(std::string_view text);

// True for a host name of 1 to 63 characters out of letters, digits, '-' and
// '.', not starting with '-', not ending with '-' or '.', holding a '.', and
// whose last label has 2 or 3 characters and no digit. Case does not matter.
bool IsValidDomainName(std::string_view text);

}  // namespace kelvara
