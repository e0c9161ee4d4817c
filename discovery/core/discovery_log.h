#pragma once
// Log lines of the discovery and device-list code: to the debug logger, or
// to a sink a test sets to capture them. printf-style, as the debug log's own
// lines are.
#include <functional>
#include <string>

namespace kelvara::discovery {

using LogSink = std::function<void(const std::string& line)>;

// Replaces the sink (empty: lines go to the debug logger). Thread-safe.
void SetLogSink(LogSink sink);

// Formats and hands one line to the sink. Callable from any thread.
void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace kelvara::discovery
