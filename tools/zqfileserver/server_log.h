#pragma once
// The helper's output lines, past a flood guard. Any host can send requests
// at line rate (from spoofed sources too), and each refused request or ended
// transfer would otherwise be a line that the recovery window shows. Lines
// about refused requests and lines about transfers each have their own guard
// (a flood of refusals never hides a device's "sent" line): a bounded number
// per client address and per window in all; the rest are counted, and a
// window that held any back ends with one line per kind saying how many.
// Thread-safe: the request loop and the transfer threads write to it.
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "common/log_flood_guard.h"

namespace kelvara::tftp {

class ServerLog {
 public:
  enum class Kind { kRefusal, kTransfer };
  using Sink = std::function<void(const std::string&)>;

  explicit ServerLog(LogFloodGuard::Limits limits) : refusals_(limits), transfers_(limits), window_ms_(limits.window_ms) {}

  void SetSink(Sink sink);
  // `address`: the client's, network order; its lines are counted together.
  void Write(Kind kind, std::uint32_t address, const std::string& line);
  // Writes the counts of a window that has ended; call it often.
  void EndWindowIfDue();
  // Writes the counts of the current window at once (before the server goes).
  void EndWindowNow();

 private:
  void EndWindowLocked(std::int64_t now_ms);
  void Emit(const std::string& line);

  std::mutex mutex_;
  LogFloodGuard refusals_, transfers_;
  const std::int64_t window_ms_;
  Sink sink_;
};

}  // namespace kelvara::tftp
