#pragma once
// Log lines of the discovery and device-list code: to the debug logger, or
// to a sink a test sets to capture them. printf-style, as the debug log's own
// lines are.
#include <cstdint>
#include <functional>
#include <string>

#include "common/log_flood_guard.h"

namespace kelvara::discovery {

using LogSink = std::function<void(const std::string& line)>;

// Replaces the sink (empty: lines go to the debug logger). Thread-safe.
void SetLogSink(LogSink sink);

// Formats and hands one line to the sink. Callable from any thread.
void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));

// While it lives, the lines the calling thread logs are about a datagram from
// `source`: they pass `guard` (the first few per source are logged, the rest
// counted), so a flood of stray or broken datagrams cannot grow the log
// without bound. The owner reports the counts with guard.Flush.
class DatagramLogScope {
 public:
  DatagramLogScope(LogFloodGuard& guard, std::string source, std::int64_t now_ms);
  ~DatagramLogScope();
  DatagramLogScope(const DatagramLogScope&) = delete;
  DatagramLogScope& operator=(const DatagramLogScope&) = delete;

  // False when the line is only counted (the thread's innermost scope; true without one).
  static bool AdmitLine();

 private:
  LogFloodGuard& guard_;
  std::string source_;
  std::int64_t now_ms_;
  DatagramLogScope* outer_;
};

}  // namespace kelvara::discovery
