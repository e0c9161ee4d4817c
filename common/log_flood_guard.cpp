#include "common/log_flood_guard.h"

namespace kelvara {

bool LogFloodGuard::Admit(const std::string& source, std::int64_t now_ms) {
  if (window_start_ < 0) window_start_ = now_ms;
  auto it = sources_.find(source);
  if (it == sources_.end()) {
    if (sources_.size() >= limits_.max_sources) {
      // Too many senders to tell apart: they share one count.
      other_.seen = true;
      ++other_.held;
      return false;
    }
    it = sources_.emplace(source, Entry{}).first;
  }
  Entry& e = it->second;
  e.seen = true;
  const bool window_full = limits_.max_per_window != 0 && logged_in_window_ >= limits_.max_per_window;
  if (e.logged < limits_.first_per_source && !window_full) {
    ++e.logged;
    ++logged_in_window_;
    return true;
  }
  ++e.held;
  return false;
}

void LogFloodGuard::Flush(std::int64_t now_ms,
                          const std::function<void(const std::string&, std::uint64_t)>& report) {
  if (window_start_ < 0 || now_ms - window_start_ < limits_.window_ms) return;
  window_start_ = now_ms;
  logged_in_window_ = 0;
  for (auto it = sources_.begin(); it != sources_.end();) {
    Entry& e = it->second;
    if (e.held > 0 && report) report(it->first, e.held);
    if (!e.seen) {
      it = sources_.erase(it);
      continue;
    }
    e.held = 0;
    e.seen = false;
    ++it;
  }
  if (other_.held > 0 && report) report(kOtherSources, other_.held);
  other_ = Entry{};
}

}  // namespace kelvara
