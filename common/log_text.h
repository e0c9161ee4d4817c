#pragma once
// Outside bytes (datagrams, device texts) as they may appear in the debug log:
// one line of printable text, never a raw line break or binary byte, and short.
#include <cstddef>
#include <string>
#include <string_view>

namespace kelvara {

// Longest part of outside bytes a log line shows.
inline constexpr std::size_t kLogExcerptBytes = 256;

// Printable ASCII stays; '\' becomes "\\", CR, LF and TAB "\r", "\n", "\t",
// every other byte "\xHH". At most `max_bytes` input bytes are shown; a longer
// input ends with "...(N bytes)" giving its full length.
std::string EscapeForLog(std::string_view bytes, std::size_t max_bytes = kLogExcerptBytes);

}  // namespace kelvara
