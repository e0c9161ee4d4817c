#include "app/shell/main_timers.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace kelvara::shell {
namespace {

// A window without a display: records timers and calls, holds rows.
class FakeWindow : public MainTimerHooks {
 public:
  std::map<int, int> running;  // timer id -> period
  std::vector<std::string> calls;
  std::vector<RowTimerState> rows;
  std::vector<bool> has_record;
  bool search_running = true;
  int auto_stop_value = 0;
  bool print_mode = false;

  void StartTimer(int id, int ms) override { running[id] = ms; }
  void KillTimer(int id) override { running.erase(id); }
  void RefreshDeviceList() override { calls.push_back("refresh"); }
  bool IsSearchRunning() override { return search_running; }
  void StopSearchByAutoStop() override {
    calls.push_back("stop-search");
    search_running = false;
  }
  void SendSearchRequest() override { calls.push_back("search-request"); }
  int AutoStopDisplayValue() override { return auto_stop_value; }
  bool PrintMode() override { return print_mode; }
  void ForEachRow(const std::function<bool(int, RowTimerState&)>& fn) override {
    for (size_t i = 0; i < rows.size(); ++i)
      if ((has_record.size() <= i || has_record[i]) && !fn(static_cast<int>(i), rows[i])) return;
  }
  void ClearUpgradeBusy() override { calls.push_back("upgrade-idle"); }
  bool UpgradeWatchStep() override {
    calls.push_back("watch-step");
    return run_terminal;
  }
  void UpgradeRunEnded() override { calls.push_back("run-ended"); }
  bool run_terminal = true;
  void OnSnapshotTimedOut(int row) override { calls.push_back("snap-timeout " + std::to_string(row)); }
  void RestoreDayMode(int row) override { calls.push_back("day " + std::to_string(row)); }
  void EnableNightDemoButton() override { calls.push_back("enable-1303"); }
  void CyclicRebootStep() override { calls.push_back("reboot-step"); }
  void Maximize() override { calls.push_back("maximize"); }
};

struct TimersTest : ::testing::Test {
  FakeWindow w;
  std::int64_t now = 1'700'000'000;
  MainTimers timers{w, [this] { return now; }};
  int Count(const std::string& call) const {
    return static_cast<int>(std::count(w.calls.begin(), w.calls.end(), call));
  }
  // Ticks the list refresh until the search stops (bounded), returns the tick count.
  int TicksUntilStop(int limit = 200) {
    w.running[TIMER_LIST_REFRESH] = kListRefreshPeriodMs;
    for (int i = 1; i <= limit; ++i) {
      timers.OnTimer(TIMER_LIST_REFRESH);
      if (!w.search_running) return i;
    }
    return -1;
  }
};

TEST_F(TimersTest, FirstSearchStopsOnThe52ndRefreshTickAndOnlyOnceWithSwitchZero) {
  EXPECT_EQ(TicksUntilStop(), 52);
  EXPECT_EQ(w.running.count(TIMER_LIST_REFRESH), 0u);
  EXPECT_FALSE(timers.AutoStopArmed());
  // A second search started by the user runs until stopped.
  w.search_running = true;
  timers.OnSearchStarted();
  EXPECT_EQ(TicksUntilStop(), -1);
}

TEST_F(TimersTest, EverySearchStopsWithSwitchNonZero) {
  w.auto_stop_value = 1;
  EXPECT_EQ(TicksUntilStop(), 52);
  w.search_running = true;
  timers.OnSearchStarted();
  EXPECT_EQ(TicksUntilStop(), 52);
}

TEST_F(TimersTest, AutoStopCountsFromTheStartOfEachSearchAndNeverStartsOne) {
  w.auto_stop_value = 1;
  // 30 ticks of an earlier search, then a new search: a full 52 ticks again.
  w.running[TIMER_LIST_REFRESH] = 200;
  for (int i = 0; i < 30; ++i) timers.ListRefreshTick();
  timers.OnSearchStarted();
  EXPECT_EQ(TicksUntilStop(), 52);
  // Refresh ticks without a running search never toggle a search on.
  w.calls.clear();
  for (int i = 0; i < 100; ++i) timers.ListRefreshTick();
  EXPECT_EQ(Count("stop-search"), 0);
  EXPECT_EQ(Count("refresh"), 100);
  EXPECT_TRUE(!w.search_running);
}

TEST_F(TimersTest, PrintModeRefreshesButNeverCounts) {
  w.print_mode = true;
  EXPECT_EQ(TicksUntilStop(100), -1);
  EXPECT_EQ(timers.AutoStopTickCount(), 0);
  EXPECT_EQ(Count("refresh"), 100);
}

TEST_F(TimersTest, SearchRequestTickSendsOneRequest) {
  timers.OnTimer(TIMER_SEARCH_REQUEST);
  EXPECT_EQ(w.calls, std::vector<std::string>{"search-request"});
}

TEST_F(TimersTest, UpgradeWatchEndsWhenNoRowUpgrades) {
  w.rows.resize(3);
  w.has_record = {true, false, true};
  w.rows[1].upgrading = true;  // a row without a record does not count
  w.rows[2].upgrading = true;
  w.running[TIMER_UPGRADE_WATCH] = 1000;
  timers.OnTimer(TIMER_UPGRADE_WATCH);
  EXPECT_EQ(w.running.count(TIMER_UPGRADE_WATCH), 1u);
  w.rows[2].upgrading = false;
  // No row is busy, but an upgrade of the run has no terminal state yet.
  w.run_terminal = false;
  timers.OnTimer(TIMER_UPGRADE_WATCH);
  EXPECT_EQ(w.running.count(TIMER_UPGRADE_WATCH), 1u);
  w.run_terminal = true;
  timers.OnTimer(TIMER_UPGRADE_WATCH);
  EXPECT_EQ(w.running.count(TIMER_UPGRADE_WATCH), 0u);
  EXPECT_EQ(Count("upgrade-idle"), 1);
  EXPECT_EQ(Count("watch-step"), 3);
  EXPECT_EQ(w.calls.back(), "run-ended");
}

TEST_F(TimersTest, SnapshotTimesOutAfterMoreThanFiveSeconds) {
  w.rows.resize(3);
  w.rows[0] = {false, true, now - 5, 0};  // exactly 5 s: not yet
  w.rows[1] = {false, true, now - 6, 0};  // 6 s: timed out
  w.rows[2] = {false, false, now - 60, 0};
  timers.OnTimer(TIMER_SNAPSHOT_TIMEOUT);
  EXPECT_TRUE(w.rows[0].snapshot_pending);
  EXPECT_FALSE(w.rows[1].snapshot_pending);
  EXPECT_EQ(w.rows[1].snapshot_start_s, 0);
  EXPECT_EQ(w.calls, std::vector<std::string>{"snap-timeout 1"});
  now += 1;
  timers.OnTimer(TIMER_SNAPSHOT_TIMEOUT);
  EXPECT_FALSE(w.rows[0].snapshot_pending);
  // A clock set back leaves a pending snapshot pending.
  w.rows[2] = {false, true, now + 100, 0};
  timers.OnTimer(TIMER_SNAPSHOT_TIMEOUT);
  EXPECT_TRUE(w.rows[2].snapshot_pending);
}

TEST_F(TimersTest, NightDemoEndRestoresDemonstratingRowsAndClearsAll) {
  w.rows.resize(3);
  w.rows[0].night_demo_state = 2;
  w.rows[1].night_demo_state = 1;
  w.rows[2].night_demo_state = 3;
  w.running[TIMER_IRCUT_DEMO_END] = 5000;
  timers.OnTimer(TIMER_IRCUT_DEMO_END);
  EXPECT_EQ(w.calls, (std::vector<std::string>{"day 0", "day 2", "enable-1303"}));
  for (const auto& r : w.rows) EXPECT_EQ(r.night_demo_state, 0);
  EXPECT_EQ(w.running.count(TIMER_IRCUT_DEMO_END), 0u);
}

TEST_F(TimersTest, MaximizeFiresOnce) {
  w.running[TIMER_MAXIMIZE] = kMaximizeDelayMs;
  timers.OnTimer(TIMER_MAXIMIZE);
  EXPECT_EQ(w.calls, std::vector<std::string>{"maximize"});
  EXPECT_TRUE(w.running.empty());
  timers.OnTimer(TIMER_CYCLIC_REBOOT);
  EXPECT_EQ(w.calls.back(), "reboot-step");
}

}  // namespace
}  // namespace kelvara::shell
