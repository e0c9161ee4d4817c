#pragma once
// The one sanitiser for texts that become part of a file name. Every place
// where a device-supplied text (serial number, model, title, file name from a
// device, ...) or any other outside text goes into a path uses it, so such a
// text can never climb out of its folder, hide a file or carry control
// characters.
#include <cstddef>
#include <string>
#include <string_view>

namespace kelvara {

// Longest result in bytes: room is left for the suffixes callers add (dates,
// numbers, extensions) within the usual 255-byte name limit.
inline constexpr std::size_t kMaxPathComponentBytes = 120;

// A safe single path component made from `text` (UTF-8):
// - '/', '\\', control characters (below 0x20 and 0x7F), the characters other
//   systems refuse in names (: * ? " < > |) and bytes that are not valid UTF-8
//   each become '_';
// - blanks at both ends are dropped; a leading '.' becomes '_' (so no ".",
//   "..", or hidden file);
// - at most kMaxPathComponentBytes bytes, cut at a character boundary;
// - never empty: nothing usable left gives "_".
std::string SanitizePathComponent(std::string_view text);

// True when `text` is already a safe component (SanitizePathComponent leaves
// it unchanged).
bool IsSafePathComponent(std::string_view text);

}  // namespace kelvara
