#pragma once
// Numbers typed into the dialogs' fields, read strictly: an optional '-',
// then decimal digits, blanks around allowed. Letters, an empty field or a
// value beyond the int range give no number, so "abc" is never taken as 0.
#include <optional>
#include <string_view>

namespace kelvara::dialogs {

std::optional<int> ParseIntField(std::string_view text);
// The same, accepted only within min..max (both included).
std::optional<int> ParseIntFieldIn(std::string_view text, int min, int max);

}  // namespace kelvara::dialogs
