#pragma once
// Runs batch jobs over the command workers: every request a worker makes
// passes the SDK tap, so each job learns the SDK's immediate result and the
// reply its row now waits for; replies, link losses, list clears and clock
// ticks are handed to every running job. Finished jobs are dropped. One
// thread (the UI thread); nothing here blocks.
#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <utility>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "device/core/batch_job.h"
#include "device/core/device_commands.h"
#include "device/core/sdk_tap.h"

namespace kelvara::device {

class BatchRunner {
 public:
  // `commands` must send through `tap`. The runner owns `tap.onRequest`
  // while it lives.
  BatchRunner(DeviceCommands& commands, SdkTap& tap, std::chrono::milliseconds timeout,
              BatchJob::Clock now = {});
  ~BatchRunner();
  BatchRunner(const BatchRunner&) = delete;
  BatchRunner& operator=(const BatchRunner&) = delete;

  // A worker whose outcome is what it sent: the SDK's result of its
  // requests (-1 when it sent nothing, e.g. a text over its buffer).
  using Worker = std::function<void(discovery::DeviceListRow*)>;
  BatchCommand FromWorker(Worker worker, BatchCommand::Answer answer = BatchCommand::Answer::kReply,
                          bool skipBusy = false);
  // Starts a job over `rows`; true while some row still waits.
  bool Run(const std::vector<discovery::DeviceListRow*>& rows, BatchCommand command);

  void OnReply(int handle, int command, int result);
  // The reply now being handled for (handle, command) could not make its
  // change (AuxReplyHandler::onChangeNotMade): passed on as a failure even
  // when its result is 0.
  void OnChangeNotMade(int handle, int command) { notMade_.insert({handle, command}); }
  // A status event: 2, 3, 5, 31 and 34 end the login (link lost).
  void OnStatusEvent(int handle, int eventType);
  void OnRowsCleared();
  void OnTick();
  std::size_t ActiveJobs() const { return jobs_.size(); }

  // Each row's terminal state. Without it the row keeps the texts its
  // worker and the reply and event handlers wrote; the runner adds only the
  // worker's not-logged-in text, the skip of a row being upgraded and the
  // end of a row no answer came for (`RowTextOfState`).
  std::function<void(discovery::DeviceListRow*, BatchState)> onState;
  // A job ended: its summary.
  std::function<void(const BatchSummary&)> onFinished;
  // The first job started (a tick source may start) / the last one ended.
  std::function<void(bool running)> onRunning;

  static bool EndsLogin(int eventType);
  // The text key the runner writes into a row for its terminal state, or
  // nullptr to leave the row's text alone. `answered`: the state came from
  // an answer (the SDK's own time-out or lost link included), whose handler
  // has written the row's text.
  static const char* RowTextOfState(BatchState state, bool answered, const char* notLoggedInKey);

 private:
  void Reap();

  DeviceCommands& commands_;
  SdkTap& tap_;
  std::chrono::milliseconds timeout_;
  BatchJob::Clock now_;
  std::vector<std::unique_ptr<BatchJob>> jobs_;
  bool sent_ = false;
  int lastResult_ = -1;
  bool answering_ = false;  // an answer is being handed to the jobs
  // Accepted requests per (handle, code) whose reply has not come yet.
  std::map<std::pair<int, int>, int> outstanding_;
  std::set<std::pair<int, int>> notMade_;
};

}  // namespace kelvara::device
