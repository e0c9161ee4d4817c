#pragma once
// A periodic tick on a thread of its own, on an absolute schedule: tick k
// falls at the start time plus the sum of the periods before it, so late
// wake-ups do not add up and periods need not be whole milliseconds.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace kelvara::media {

class PacedTimer {
 public:
  using Clock = std::chrono::steady_clock;
  // Runs at each tick; returns the period to the next tick in seconds, or
  // none to end the ticks.
  using Tick = std::function<std::optional<double>()>;

  PacedTimer() = default;
  ~PacedTimer() { Stop(); }
  PacedTimer(const PacedTimer&) = delete;
  PacedTimer& operator=(const PacedTimer&) = delete;

  // The first tick comes one `firstPeriod` from now. False when the thread
  // cannot be made. A running timer is stopped first.
  bool Start(double firstPeriodSeconds, Tick tick);
  // Ends the ticks; returns when no tick runs any more (from inside a tick
  // it only asks the thread to end).
  void Stop();
  bool Running() const;

 private:
  void Run(double firstPeriod);

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  bool running_ = false;
  Tick tick_;
  std::thread thread_;
};

}  // namespace kelvara::media
