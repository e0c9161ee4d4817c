#include "media/core/paced_timer.h"

#include <system_error>

namespace kelvara::media {

bool PacedTimer::Start(double firstPeriod, Tick tick) {
  Stop();
  std::lock_guard lock(mutex_);
  stop_ = false;
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
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) {
    if (thread_.get_id() == std::this_thread::get_id()) return;
    thread_.join();
  }
  std::lock_guard lock(mutex_);
  running_ = false;
}

bool PacedTimer::Running() const {
  std::lock_guard lock(mutex_);
  return running_ && !stop_;
}

void PacedTimer::Run(double firstPeriod) {
  const Clock::time_point start = Clock::now();
  double elapsed = firstPeriod;  // seconds from start to the next tick
  std::unique_lock lock(mutex_);
  for (;;) {
    const auto due = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(elapsed));
    if (wake_.wait_until(lock, due, [this] { return stop_; })) break;
    lock.unlock();
    const std::optional<double> next = tick_();
    lock.lock();
    if (!next || stop_) break;
    elapsed += *next;
  }
  running_ = false;
}

}  // namespace kelvara::media
