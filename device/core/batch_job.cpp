#include "device/core/batch_job.h"

#include <algorithm>
#include <utility>

namespace kelvara::device {

const char* BatchStateKey(BatchState state) {
  switch (state) {
    case BatchState::kPending: return "BATCH_STATE_PENDING";
    case BatchState::kSkippedOffline: return "BATCH_STATE_OFFLINE";
    case BatchState::kSkippedBusy: return "BATCH_STATE_UPGRADING";
    case BatchState::kNotLoggedIn: return "BATCH_STATE_NOT_LOGGED_IN";
    case BatchState::kRefused: return "BATCH_STATE_REFUSED";
    case BatchState::kDone: return "BATCH_STATE_DONE";
    case BatchState::kFailed: return "BATCH_STATE_FAILED";
    case BatchState::kTimedOut: return "BATCH_STATE_TIMED_OUT";
    case BatchState::kLinkLost: return "BATCH_STATE_LINK_LOST";
    case BatchState::kSent: return "BATCH_STATE_SENT";
  }
  return "BATCH_STATE_FAILED";
}

int BatchSummary::Total() const {
  int n = 0;
  for (int c : counts) n += c;
  return n;
}

std::string BatchSummaryText(const BatchSummary& summary, const std::function<std::string(const char*)>& lookup) {
  std::string text;
  for (int i = 1; i < kBatchStateCount; ++i) {
    const int n = summary.counts[i];
    if (n == 0) continue;
    if (!text.empty()) text += ", ";
    text += lookup(BatchStateKey(static_cast<BatchState>(i))) + " " + std::to_string(n);
  }
  return text;
}

BatchJob::BatchJob(BatchCommand command, std::function<discovery::DeviceListRow*(const std::string&)> findRow,
                   std::chrono::milliseconds timeout, Clock now)
    : command_(std::move(command)), findRow_(std::move(findRow)), timeout_(timeout), now_(std::move(now)) {
  if (!now_) now_ = [] { return std::chrono::steady_clock::now(); };
}

void BatchJob::Start(const std::vector<discovery::DeviceListRow*>& rows) {
  if (started_) return;
  started_ = true;
  deadline_ = now_() + timeout_;
  entries_.reserve(rows.size());
  for (discovery::DeviceListRow* row : rows) {
    if (!row) continue;
    Entry entry{row->m_key, row->m_loginHandle, {}, {}, BatchState::kPending};
    if (command_.replyCode > 0) entry.awaiting.push_back(command_.replyCode);
    entries_.push_back(std::move(entry));
    ++summary_.counts[static_cast<int>(BatchState::kPending)];
  }
  // Sending may run replies or events synchronously in tests and fakes, so
  // entries are complete before the first request goes out.
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    Entry& e = entries_[i];
    discovery::DeviceListRow* row = findRow_(e.serial);
    if (!row) {
      End(e, BatchState::kLinkLost);
      continue;
    }
    const bool broadcast = command_.answer == BatchCommand::Answer::kBroadcast;
    if (!row->m_online && !broadcast) {
      End(e, BatchState::kSkippedOffline);
      continue;
    }
    if (command_.skipBusy && row->m_busy) {
      End(e, BatchState::kSkippedBusy);
      continue;
    }
    if (!broadcast && row->m_loginHandle <= 0) {
      End(e, BatchState::kNotLoggedIn);
      continue;
    }
    e.handle = row->m_loginHandle;
    const int result = command_.send ? command_.send(*row) : -1;
    if (e.state != BatchState::kPending) continue;  // ended while sending
    if (result != 0) {
      End(e, BatchState::kRefused);
    } else if (broadcast) {
      End(e, BatchState::kSent);
    } else if (command_.answer == BatchCommand::Answer::kAccepted) {
      End(e, BatchState::kDone);
    }
  }
  CheckFinished();
}

void BatchJob::OnRequestSent(int handle, int code, int earlier) {
  if (handle <= 0 || code <= 0 || command_.answer != BatchCommand::Answer::kReply) return;
  for (Entry& e : entries_) {
    if (e.state != BatchState::kPending || e.handle != handle) continue;
    if (std::find(e.awaiting.begin(), e.awaiting.end(), code) == e.awaiting.end()) {
      if (!e.awaiting.empty()) e.followUpSent = true;
      e.awaiting.push_back(code);
    }
    if (earlier > 0) e.owed[code] = earlier;
  }
}

bool BatchJob::OnReply(int handle, int command, int result) {
  if (handle <= 0 || command_.answer != BatchCommand::Answer::kReply) return false;
  for (Entry& e : entries_) {
    if (e.state != BatchState::kPending || e.handle != handle) continue;
    const auto it = std::find(e.awaiting.begin(), e.awaiting.end(), command);
    if (it == e.awaiting.end()) continue;
    if (auto owed = e.owed.find(command); owed != e.owed.end() && owed->second > 0) {
      --owed->second;  // the answer to an older request of the same code
      return false;
    }
    e.awaiting.erase(it);
    if (result == kReplyResultTimedOut)
      End(e, BatchState::kTimedOut);
    else if (result == kReplyResultLinkLost)
      End(e, BatchState::kLinkLost);
    else if (result != 0)
      End(e, BatchState::kFailed);
    else if (e.awaiting.empty())
      End(e, command_.setFollowsGet && !e.followUpSent ? BatchState::kFailed : BatchState::kDone);
    CheckFinished();
    return true;
  }
  return false;
}

bool BatchJob::OnRowTimedOut(int handle, int command) {
  if (handle <= 0) return false;
  for (Entry& e : entries_) {
    if (e.state == BatchState::kPending && e.handle == handle &&
        std::find(e.awaiting.begin(), e.awaiting.end(), command) != e.awaiting.end()) {
      End(e, BatchState::kTimedOut);
      CheckFinished();
      return true;
    }
  }
  return false;
}

void BatchJob::OnLinkLost(int handle) {
  if (handle <= 0) return;
  for (Entry& e : entries_)
    if (e.state == BatchState::kPending && e.handle == handle) End(e, BatchState::kLinkLost);
  CheckFinished();
}

void BatchJob::OnRowsCleared() {
  for (Entry& e : entries_)
    if (e.state == BatchState::kPending) End(e, BatchState::kLinkLost);
  CheckFinished();
}

void BatchJob::OnTick() {
  if (!started_ || now_() < deadline_) return;
  for (Entry& e : entries_)
    if (e.state == BatchState::kPending) End(e, BatchState::kTimedOut);
  CheckFinished();
}

void BatchJob::End(Entry& entry, BatchState state) {
  --summary_.counts[static_cast<int>(entry.state)];
  entry.state = state;
  ++summary_.counts[static_cast<int>(state)];
  if (onState) onState(findRow_(entry.serial), state);
}

void BatchJob::CheckFinished() {
  if (!started_ || finishedReported_ || !Finished()) return;
  finishedReported_ = true;
  if (onFinished) onFinished(summary_);
}

}  // namespace kelvara::device
