#include "log_stream.h"

#include <algorithm>

namespace kelvara::devsim {

void LogStream::SetMode(Mode mode) {
  std::lock_guard lock(mutex_);
  mode_ = mode;
}

LogStream::Mode LogStream::mode() const {
  std::lock_guard lock(mutex_);
  return mode_;
}

void LogStream::SetResetAfter(std::uint64_t bytes) {
  std::lock_guard lock(mutex_);
  reset_after_ = bytes;
}

std::uint64_t LogStream::reset_after() const {
  std::lock_guard lock(mutex_);
  return reset_after_;
}

void LogStream::StartStream(std::string pattern, std::uint64_t total, std::uint64_t rate) {
  std::lock_guard lock(mutex_);
  pattern_ = pattern.empty() ? std::string(1, '\0') : std::move(pattern);
  total_ = total;
  pos_ = 0;
  rate_ = rate;
  started_ = std::chrono::steady_clock::now();
}

std::string LogStream::TakeDue(std::size_t max) {
  std::lock_guard lock(mutex_);
  if (pos_ >= total_) return {};
  std::uint64_t due = total_;
  if (rate_ > 0) {
    const auto elapsed_us =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started_).count();
    due = std::min<std::uint64_t>(total_, static_cast<std::uint64_t>(elapsed_us) * rate_ / 1000000);
  }
  const std::uint64_t n = std::min<std::uint64_t>(due > pos_ ? due - pos_ : 0, max);
  std::string out;
  out.reserve(n);
  std::size_t at = static_cast<std::size_t>(pos_ % pattern_.size());
  while (out.size() < n) {
    const std::size_t take = std::min<std::size_t>(pattern_.size() - at, n - out.size());
    out.append(pattern_, at, take);
    at = 0;
  }
  pos_ += n;
  return out;
}

void LogStream::GiveBack(std::size_t count) {
  std::lock_guard lock(mutex_);
  pos_ -= std::min<std::uint64_t>(count, pos_);
}

bool LogStream::StreamPending() const {
  std::lock_guard lock(mutex_);
  return pos_ < total_;
}

void LogStream::NoteSent(const std::string& bytes) {
  std::lock_guard lock(mutex_);
  if (sent_.size() + bytes.size() <= kMaxSentBytes) sent_ += bytes;
}

std::string LogStream::Sent() const {
  std::lock_guard lock(mutex_);
  return sent_;
}

}  // namespace kelvara::devsim
