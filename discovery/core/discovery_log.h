#pragma once
// Log lines of the discovery and device-list code. They go to one sink that
// the program points at the debug logger; tests capture them. printf-style, as
// the debug log's own lines are.
#include <functional>
#include <string>

namespace kelvara::discovery {

using LogSink = std::function<void(const std::string& line)>;

// Replaces the sink (empty: lines are dropped). Thread-safe.
void SetLogSink(LogSink sink);

// Formats and hands one line to the sink. Callable from any thread.
void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace kelvara::discovery
