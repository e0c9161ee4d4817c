#pragma once
// Keeps a flood of similar log lines (stray datagrams, for one) from growing
// the debug log without bound: the first few lines of each source are logged,
// the rest only counted, and once a minute each source that was held back
// gets one line with its count. Optionally the lines of all sources together
// are bounded per window too, so many sources (spoofed ones) cannot add up
// to a flood. Memory is bounded too: past a number of sources, new ones
// share one count. Not thread-safe; one owner. Needs only the standard
// library (a helper program links it).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace kelvara {

class LogFloodGuard {
 public:
  struct Limits {
    int first_per_source = 5;         // lines logged per source before counting
    std::int64_t window_ms = 60'000;  // counts are reported once per window
    std::size_t max_sources = 256;    // sources tracked one by one
    std::size_t max_per_window = 0;   // lines logged per window from all sources (0: no bound)
  };

  LogFloodGuard() : LogFloodGuard(Limits{}) {}
  explicit LogFloodGuard(Limits limits) : limits_(limits) {}

  // True when the caller should log this event of `source` in full; false
  // when it was only counted. `now_ms`: any monotonic clock.
  bool Admit(const std::string& source, std::int64_t now_ms);

  // At the end of each window: `report`(source, count) for every source whose
  // events were held back in it (the shared count under kOtherSources).
  // Sources silent for a whole window are forgotten, so their next events
  // are logged in full again. Call it often (every pass of a loop).
  void Flush(std::int64_t now_ms, const std::function<void(const std::string&, std::uint64_t)>& report);

  std::size_t TrackedSources() const { return sources_.size(); }

  static constexpr const char* kOtherSources = "other sources";

 private:
  struct Entry {
    int logged = 0;            // full lines so far (until it is forgotten)
    std::uint64_t held = 0;    // counted in the current window
    bool seen = false;         // any event in the current window
  };
  Limits limits_;
  std::map<std::string, Entry> sources_;
  Entry other_;
  std::size_t logged_in_window_ = 0;
  std::int64_t window_start_ = -1;
};

}  // namespace kelvara
