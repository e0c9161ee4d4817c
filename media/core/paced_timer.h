#pragma once
// A periodic tick on a thread of its own, on an absolute schedule: tick k
// falls at the start time plus the sum of the periods before it, so late
// wake-ups do not add up and periods need not be whole milliseconds.
//
// Between ticks the thread sleeps in one futex wait on the stop flag, with
// the tick's absolute time as its time-out: a tick costs one system call
// and one wake-up (a condition variable's timed wait costs a second call to
// release the mutex it takes back), and Stop wakes the sleeper at once.
#include <atomic>
#include <chrono>
#include <cstdint>
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
  // Sleeps until `due`; false when asked to stop (before or meanwhile).
  bool SleepUntil(Clock::time_point due);

  // 0 while the ticks may run, 1 once asked to stop: the futex word the
  // thread sleeps on.
  std::atomic<std::uint32_t> stop_{0};
  static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t) &&
                std::atomic<std::uint32_t>::is_always_lock_free);
  mutable std::mutex mutex_;  // guards running_
  bool running_ = false;
  Tick tick_;  // set before the thread starts, read only by it
  std::thread thread_;
};

}  // namespace kelvara::media
