#pragma once
// The main window's timers: fixed ids and periods.
namespace kelvara::shell {

enum TimerId : int {
  TIMER_LIST_REFRESH = 1000,
  TIMER_SEARCH_REQUEST = 1001,
  TIMER_UPGRADE_WATCH = 1002,
  TIMER_SNAPSHOT_TIMEOUT = 1003,
  TIMER_IRCUT_DEMO_END = 1004,
  TIMER_CYCLIC_REBOOT = 1005,
  TIMER_MAXIMIZE = 10005,
};

inline constexpr int kListRefreshPeriodMs = 200;
inline constexpr int kSearchRequestPeriodMs = 1000;
inline constexpr int kQuickSearchRequestPeriodMs = 100;
inline constexpr int kUpgradeWatchPeriodMs = 1000;
inline constexpr int kSnapshotTimeoutPeriodMs = 5000;
inline constexpr int kIrcutDemoEndPeriodMs = 5000;
inline constexpr int kCyclicRebootPeriodMs = 1000;
inline constexpr int kMaximizeDelayMs = 300;
// A snapshot still pending after this many seconds has timed out.
inline constexpr long long kSnapshotTimeoutSeconds = 5;
// The list refresh stops a search on the tick after this many counted ticks (the 52nd).
inline constexpr int kAutoStopTicks = 50;

}  // namespace kelvara::shell
