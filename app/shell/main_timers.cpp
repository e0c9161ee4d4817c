#include "app/shell/main_timers.h"

#include <utility>

namespace kelvara::shell {

MainTimers::MainTimers(MainTimerHooks& hooks, Clock now_s) : hooks_(hooks), now_s_(std::move(now_s)) {}

void MainTimers::OnTimer(int id) {
  switch (id) {
    case TIMER_LIST_REFRESH: ListRefreshTick(); break;
    case TIMER_SEARCH_REQUEST: SearchRequestTick(); break;
    case TIMER_UPGRADE_WATCH: UpgradeWatchTick(); break;
    case TIMER_SNAPSHOT_TIMEOUT: SnapshotTimeoutTick(); break;
    case TIMER_IRCUT_DEMO_END: IrcutDemoEndTick(); break;
    case TIMER_CYCLIC_REBOOT: CyclicRebootTick(); break;
    case TIMER_MAXIMIZE: MaximizeTick(); break;
    default: break;
  }
}

void MainTimers::OnSearchStarted() { auto_stop_ticks_ = 0; }

void MainTimers::ListRefreshTick() {
  hooks_.RefreshDeviceList();
  if (hooks_.PrintMode() || !auto_stop_armed_) return;
  // Count only while a search runs: the auto-stop ends a running search and
  // never starts one.
  if (!hooks_.IsSearchRunning()) return;
  if (auto_stop_ticks_++ <= kAutoStopTicks) return;
  auto_stop_ticks_ = 0;
  if (hooks_.AutoStopDisplayValue() == 0) auto_stop_armed_ = false;
  hooks_.KillTimer(TIMER_LIST_REFRESH);
  hooks_.StopSearchByAutoStop();
}

void MainTimers::SearchRequestTick() { hooks_.SendSearchRequest(); }

void MainTimers::UpgradeWatchTick() {
  // The run ends only when every upgrade of it has its terminal state.
  if (!hooks_.UpgradeWatchStep()) return;
  bool any = false;
  hooks_.ForEachRow([&](int, RowTimerState& row) {
    any = row.upgrading;
    return !any;
  });
  if (any) return;
  hooks_.KillTimer(TIMER_UPGRADE_WATCH);
  hooks_.ClearUpgradeBusy();
  hooks_.UpgradeRunEnded();
}

void MainTimers::SnapshotTimeoutTick() {
  const std::int64_t now = now_s_();
  hooks_.ForEachRow([&](int row, RowTimerState& state) {
    if (state.snapshot_pending && now - state.snapshot_start_s > kSnapshotTimeoutSeconds) {
      state.snapshot_pending = false;
      state.snapshot_start_s = 0;
      hooks_.OnSnapshotTimedOut(row);
    }
    return true;
  });
}

void MainTimers::IrcutDemoEndTick() {
  hooks_.ForEachRow([&](int row, RowTimerState& state) {
    if (state.night_demo_state > 1) hooks_.RestoreDayMode(row);
    state.night_demo_state = 0;
    return true;
  });
  hooks_.KillTimer(TIMER_IRCUT_DEMO_END);
  hooks_.EnableNightDemoButton();
}

void MainTimers::CyclicRebootTick() { hooks_.CyclicRebootStep(); }

void MainTimers::MaximizeTick() {
  hooks_.Maximize();
  hooks_.KillTimer(TIMER_MAXIMIZE);
}

}  // namespace kelvara::shell
