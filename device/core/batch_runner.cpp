#include "device/core/batch_runner.h"

#include <algorithm>

#include "device/core/row_texts.h"

namespace kelvara::device {

BatchRunner::BatchRunner(DeviceCommands& commands, SdkTap& tap, std::chrono::milliseconds timeout,
                         BatchJob::Clock now)
    : commands_(commands), tap_(tap), timeout_(timeout), now_(std::move(now)) {
  tap_.onRequest = [this](int handle, int code, int result) {
    // A worker of two requests (factory reset) is refused when either is.
    if (!sent_ || result != 0) lastResult_ = result;
    sent_ = true;
    int earlier = 0;
    if (result == 0 && handle > 0 && code > 0) earlier = outstanding_[{handle, code}]++;
    for (auto& job : jobs_) job->OnRequestSent(handle, code, earlier);
  };
}

BatchRunner::~BatchRunner() { tap_.onRequest = nullptr; }

bool BatchRunner::EndsLogin(int eventType) {
  return eventType == 2 || eventType == 3 || eventType == 5 || eventType == 31 || eventType == 34;
}

const char* BatchRunner::RowTextOfState(BatchState state, bool answered, const char* notLoggedInKey) {
  switch (state) {
    case BatchState::kNotLoggedIn: return notLoggedInKey;
    case BatchState::kSkippedBusy: return BatchStateKey(state);
    // The job stopped waiting: nobody else tells the row.
    case BatchState::kTimedOut: return answered ? nullptr : BatchStateKey(state);
    // An offline row keeps its text; a refusal, a failure or success is
    // written by the worker or the reply handler, a lost login by the event
    // handler, and broadcasts are never answered.
    default: return nullptr;
  }
}

BatchCommand BatchRunner::FromWorker(Worker worker, BatchCommand::Answer answer, bool skipBusy) {
  BatchCommand command;
  command.answer = answer;
  command.skipBusy = skipBusy;
  command.send = [this, worker = std::move(worker)](discovery::DeviceListRow& row) {
    sent_ = false;
    lastResult_ = -1;
    worker(&row);
    return sent_ ? lastResult_ : -1;
  };
  return command;
}

bool BatchRunner::Run(const std::vector<discovery::DeviceListRow*>& rows, BatchCommand command) {
  auto job = std::make_unique<BatchJob>(
      std::move(command), [this](const std::string& serial) { return commands_.Rows().FindByKey(serial); },
      timeout_, now_);
  job->onState = [this, notLoggedIn = command.notLoggedInKey](discovery::DeviceListRow* row, BatchState state) {
    if (onState) {
      onState(row, state);
    } else if (row) {
      if (const char* key = RowTextOfState(state, answering_, notLoggedIn))
        SetRowStatus(commands_.Rows(), *row, commands_.Text(key));
    }
  };
  job->onFinished = [this](const BatchSummary& summary) {
    if (onFinished) onFinished(summary);
  };
  BatchJob* raw = job.get();
  const bool wasIdle = jobs_.empty();
  jobs_.push_back(std::move(job));
  if (wasIdle && onRunning) onRunning(true);
  raw->Start(rows);
  const bool finished = raw->Finished();
  Reap();
  return !finished;
}

void BatchRunner::Reap() {
  const bool had = !jobs_.empty();
  jobs_.erase(std::remove_if(jobs_.begin(), jobs_.end(), [](const auto& j) { return j->Finished(); }), jobs_.end());
  if (had && jobs_.empty() && onRunning) onRunning(false);
}

void BatchRunner::OnReply(int handle, int command, int result) {
  if (notMade_.erase({handle, command}) > 0 && result == 0) result = -1;
  if (auto it = outstanding_.find({handle, command}); it != outstanding_.end() && --it->second <= 0)
    outstanding_.erase(it);
  answering_ = true;
  for (auto& job : jobs_) job->OnReply(handle, command, result);
  answering_ = false;
  Reap();
}

void BatchRunner::OnStatusEvent(int handle, int eventType) {
  if (!EndsLogin(eventType)) return;
  for (auto& job : jobs_) job->OnLinkLost(handle);
  Reap();
}

void BatchRunner::OnRowsCleared() {
  for (auto& job : jobs_) job->OnRowsCleared();
  Reap();
}

void BatchRunner::OnTick() {
  for (auto& job : jobs_) job->OnTick();
  Reap();
}

}  // namespace kelvara::device
