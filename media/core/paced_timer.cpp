#include "media/core/paced_timer.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>
#include <system_error>

namespace kelvara::media {

namespace {
// The timer whose thread this is, so Stop from inside a tick knows itself
// without reading thread_, which the starting thread is still writing.
thread_local const PacedTimer* t_tickingTimer = nullptr;
}  // namespace

bool PacedTimer::Start(double firstPeriod, Tick tick) {
  Stop();
  std::lock_guard lock(mutex_);
  stop_.store(0);
  tick_ = std::move(tick);
  try {
    thread_ = std::thread([this, firstPeriod] { Run(firstPeriod); });
  } catch (const std::system_error&) {
    return false;
  }
  running_ = true;
  return true;
}

void PacedTimer::Stop() {
  stop_.store(1);
  syscall(SYS_futex, &stop_, FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
  if (t_tickingTimer == this) return;  // from inside a tick: the thread ends after it
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(mutex_);
  running_ = false;
}

bool PacedTimer::Running() const {
  std::lock_guard lock(mutex_);
  return running_ && stop_.load() == 0;
}

bool PacedTimer::SleepUntil(Clock::time_point due) {
  // steady_clock is CLOCK_MONOTONIC, the clock of FUTEX_WAIT_BITSET's
  // absolute time-out.
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(due.time_since_epoch()).count();
  const timespec at{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
  while (stop_.load() == 0) {
    // Sleeps only while the word is still 0: a stop between the check and
    // the call makes the call return at once.
    if (syscall(SYS_futex, &stop_, FUTEX_WAIT_BITSET_PRIVATE, 0u, &at, nullptr, FUTEX_BITSET_MATCH_ANY) != 0 &&
        errno == ETIMEDOUT)
      return stop_.load() == 0;
    // Woken (by Stop), interrupted or the word changed: look again.
  }
  return false;
}

void PacedTimer::Run(double firstPeriod) {
  t_tickingTimer = this;
  const Clock::time_point start = Clock::now();
  double elapsed = firstPeriod;  // seconds from start to the next tick
  for (;;) {
    const auto due = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(elapsed));
    if (!SleepUntil(due)) break;
    const std::optional<double> next = tick_();
    if (!next || stop_.load() != 0) break;
    elapsed += *next;
  }
  std::lock_guard lock(mutex_);
  running_ = false;
}

}  // namespace kelvara::media
