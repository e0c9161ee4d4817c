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
    case TIMER_AF_STUDY_START: AfStudyStartTick(); break;
    case TIMER_PTZ_MULTIPLE_STEP1: PtzMultipleStep1Tick(); break;
    case TIMER_PTZ_MULTIPLE_STEP2: PtzMultipleStep2Tick(); break;
    case TIMER_ZOOM_OUT_RUN_END: ZoomRunEndTick(false); break;
    case TIMER_ZOOM_IN_RUN_END: ZoomRunEndTick(true); break;
    case TIMER_ZOOM_OUT_PAUSE_END: ZoomPauseEndTick(false); break;
    case TIMER_ZOOM_IN_PAUSE_END: ZoomPauseEndTick(true); break;
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

void MainTimers::AfStudyStartTick() {
  hooks_.KillTimer(TIMER_AF_STUDY_START);
  hooks_.CallAfStudyPreset(1);
}

void MainTimers::PtzMultipleStep1Tick() {
  hooks_.KillTimer(TIMER_PTZ_MULTIPLE_STEP1);
  hooks_.CallPtzMultiplePreset(1);
  hooks_.StartTimer(TIMER_PTZ_MULTIPLE_STEP2, hooks_.PtzMultipleIntervalSec() * 1000);
}

void MainTimers::PtzMultipleStep2Tick() {
  hooks_.KillTimer(TIMER_PTZ_MULTIPLE_STEP2);
  hooks_.CallPtzMultiplePreset(2);
}

void MainTimers::StartZoomCruise(bool zoom_in) {
  StopZoomCruise();
  cruise_.cycles = 0;
  hooks_.StartTimer(zoom_in ? TIMER_ZOOM_IN_RUN_END : TIMER_ZOOM_OUT_RUN_END, cruise_.run_time_ms);
}

void MainTimers::StopZoomCruise() {
  for (int id : {TIMER_ZOOM_OUT_RUN_END, TIMER_ZOOM_IN_RUN_END, TIMER_ZOOM_OUT_PAUSE_END,
                 TIMER_ZOOM_IN_PAUSE_END})
    hooks_.KillTimer(id);
}

void MainTimers::ZoomRunEndTick(bool zoom_in) {
  hooks_.KillTimer(zoom_in ? TIMER_ZOOM_IN_RUN_END : TIMER_ZOOM_OUT_RUN_END);
  hooks_.PtzStopAll();
  ++cruise_.cycles;
  if (cruise_.cycles < cruise_.cycle_limit)
    hooks_.StartTimer(zoom_in ? TIMER_ZOOM_IN_PAUSE_END : TIMER_ZOOM_OUT_PAUSE_END, cruise_.pause_time_ms);
}

void MainTimers::ZoomPauseEndTick(bool zoom_in) {
  hooks_.KillTimer(zoom_in ? TIMER_ZOOM_IN_PAUSE_END : TIMER_ZOOM_OUT_PAUSE_END);
  if (zoom_in)
    hooks_.PtzZoomInAll();
  else
    hooks_.PtzZoomOutAll();
  hooks_.StartTimer(zoom_in ? TIMER_ZOOM_IN_RUN_END : TIMER_ZOOM_OUT_RUN_END, cruise_.run_time_ms);
}

}  // namespace kelvara::shell
