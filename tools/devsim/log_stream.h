#pragma once
// What one simulated device sends on its log port beyond the pushed lines,
// as the tests set it: raw mode (only the bytes asked for: no greeting, ticks
// or acknowledgements), a silent mode (accept, read, send nothing), refused
// connections, a connection reset after N bytes, and a generated stream of a
// repeated pattern at a given rate. Every byte sent on the log port is kept,
// so a test can compare it with what the receiver stored.
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

namespace kelvara::devsim {

class LogStream {
 public:
  enum class Mode { kNormal, kRaw, kSilent, kRefuse };

  void SetMode(Mode mode);
  Mode mode() const;
  // 0: never; else a connection is closed after this many bytes.
  void SetResetAfter(std::uint64_t bytes);
  std::uint64_t reset_after() const;
  // Starts a stream of `total` bytes of `pattern` repeated, at `rate` bytes
  // per second (0: as fast as the link takes them). Continues across
  // connections where the last one stopped.
  void StartStream(std::string pattern, std::uint64_t total, std::uint64_t rate);
  // Up to `max` stream bytes that are due now; empty when none.
  std::string TakeDue(std::size_t max);
  // Gives back bytes TakeDue handed out but the link did not take.
  void GiveBack(std::size_t count);
  bool StreamPending() const;

  // Everything sent on log connections, in order (bounded at kMaxSentBytes).
  void NoteSent(const std::string& bytes);
  std::string Sent() const;
  static constexpr std::size_t kMaxSentBytes = 256u << 20;

 private:
  mutable std::mutex mutex_;
  Mode mode_ = Mode::kNormal;
  std::uint64_t reset_after_ = 0;
  std::string pattern_;
  std::uint64_t total_ = 0;
  std::uint64_t pos_ = 0;
  std::uint64_t rate_ = 0;
  std::chrono::steady_clock::time_point started_{};
  std::string sent_;
};

}  // namespace kelvara::devsim
