#pragma once
// What each tick of the main window's timers does (the live view's preset
// sequences and zoom cruise run on timers of its own). GUI-free: the window
// implements MainTimerHooks (start and kill timers, the list, the devices) and
// forwards its timer events to MainTimers::OnTimer, so tests drive every tick
// with a fake window and an injected clock.
#include <cstdint>
#include <functional>
#include <string>

#include "app/shell/timer_ids.h"

namespace kelvara::shell {

// The per-row state the ticks read and clear.
struct RowTimerState {
  bool upgrading = false;
  bool snapshot_pending = false;
  std::int64_t snapshot_start_s = 0;  // wall-clock seconds when the snapshot was asked for
  int night_demo_state = 0;           // above 1 while the row demonstrates night mode
};

class MainTimerHooks {
 public:
  virtual ~MainTimerHooks() = default;
  virtual void StartTimer(int id, int period_ms) = 0;
  virtual void KillTimer(int id) = 0;

  virtual void RefreshDeviceList() = 0;
  virtual bool IsSearchRunning() = 0;
  // Stops the running search as the search button's stop branch does.
  virtual void StopSearchByAutoStop() = 0;
  virtual void SendSearchRequest() = 0;
  // The ID_SERACH_AUTOSTOP display value.
  virtual int AutoStopDisplayValue() = 0;
  virtual bool PrintMode() = 0;

  // Calls fn for every list row that has a record, in list order; fn returns
  // false to end the walk early.
  virtual void ForEachRow(const std::function<bool(int row, RowTimerState&)>& fn) = 0;
  virtual void ClearUpgradeBusy() = 0;
  // Each upgrade-watch tick first: stalled upgrades end; false while an
  // upgrade of the run has no terminal state yet.
  virtual bool UpgradeWatchStep() { return true; }
  // The upgrade-watch timer ended the run.
  virtual void UpgradeRunEnded() {}
  virtual void OnSnapshotTimedOut(int row) = 0;
  // Puts the row's device back to day mode and its saved video-capture settings.
  virtual void RestoreDayMode(int row) = 0;
  virtual void EnableNightDemoButton() = 0;
  virtual void CyclicRebootStep() = 0;
  virtual void Maximize() = 0;
};

class MainTimers {
 public:
  using Clock = std::function<std::int64_t()>;  // wall-clock seconds
  MainTimers(MainTimerHooks& hooks, Clock now_s);

  // Dispatches one tick. Unknown ids do nothing.
  void OnTimer(int id);

  // A search has started: the list refresh counts its auto-stop ticks anew.
  void OnSearchStarted();
  // The search auto-stop flag; armed at start and when the network card changes.
  void ArmAutoStop() { auto_stop_armed_ = true; }
  void DisarmAutoStop() { auto_stop_armed_ = false; }
  bool AutoStopArmed() const { return auto_stop_armed_; }
  int AutoStopTickCount() const { return auto_stop_ticks_; }

  // The single tick handlers, callable on their own.
  void ListRefreshTick();
  void SearchRequestTick();
  void UpgradeWatchTick();
  void SnapshotTimeoutTick();
  void IrcutDemoEndTick();
  void CyclicRebootTick();
  void MaximizeTick();

 private:
  MainTimerHooks& hooks_;
  Clock now_s_;
  bool auto_stop_armed_ = true;
  int auto_stop_ticks_ = 0;
};

}  // namespace kelvara::shell
