#include "firmware/core/upgrade_jobs.h"

#include "common/language_table.h"

namespace kelvara::firmware {

const char* JobStateName(JobState state) {
  switch (state) {
    case JobState::kRunning: return "running";
    case JobState::kDone: return "done";
    case JobState::kFailed: return "failed";
    case JobState::kLinkLost: return "link lost";
    case JobState::kTimedOut: return "timed out";
  }
  return "?";
}

const char* JobStateTextKey(JobState state) {
  switch (state) {
    case JobState::kDone: return LangKey("MSG_UPGRADE");
    case JobState::kFailed: return LangKey("MSGTIP7");
    case JobState::kLinkLost: return LangKey("MSG_UPGRADE_LINK_LOST");
    case JobState::kTimedOut: return LangKey("MSG_UPGRADE_TIMED_OUT");
    case JobState::kRunning: break;
  }
  return LangKey("MSGTIP29");
}

std::string RunSummaryText(const RunSummary& summary, const std::function<std::string(const char*)>& lookup,
                           std::size_t maxLines) {
  // The language text holds two "%d": done, then failed (never used as a format).
  std::string text = lookup(LangKey("MSG_UPGRADE_SUMMARY"));
  for (int n : {summary.done, summary.failed})
    if (const auto at = text.find("%d"); at != std::string::npos) text.replace(at, 2, std::to_string(n));
  std::size_t shown = 0;
  for (const RunSummary::Failure& f : summary.failures) {
    if (shown == maxLines) {
      text += "\n... +" + std::to_string(summary.failures.size() - shown);
      break;
    }
    text += "\n" + f.address + "  " + f.serial + "  " + lookup(JobStateTextKey(f.state));
    ++shown;
  }
  return text;
}

void UpgradeJobs::Start(int handle, const std::string& serial, const std::string& address, const ImageId& image,
                        bool in_run, std::int64_t now_ms) {
  std::deque<UpgradeJob>& q = jobs_[handle];
  // Ended jobs are kept while the watch timer's run counts them.
  while (!q.empty() && IsTerminal(q.front().state) && !q.front().in_run) q.pop_front();
  q.push_back(UpgradeJob{handle, serial, address, image, JobState::kRunning, 0, now_ms, in_run});
}

UpgradeJob* UpgradeJobs::Active(int handle) {
  auto it = jobs_.find(handle);
  if (it == jobs_.end()) return nullptr;
  for (UpgradeJob& j : it->second)
    if (!IsTerminal(j.state)) return &j;
  return nullptr;
}

std::optional<JobState> UpgradeJobs::End(UpgradeJob& job, JobState state) {
  job.state = state;
  transferred_.emplace(job.serial, job.image);
  return state;
}

std::optional<JobState> UpgradeJobs::OnUploadOutcome(int handle, bool ok, int kind, const std::string& error,
                                                     std::int64_t now_ms) {
  // Only the firmware transfer's outcome ends an upgrade; a configuration
  // file queued before it on the same login ends with its own kind.
  constexpr int kFirmwareKind = 2;
  if (kind != kFirmwareKind) return std::nullopt;
  UpgradeJob* job = Active(handle);
  if (job == nullptr) return std::nullopt;
  job->last_activity_ms = now_ms;
  if (ok) return End(*job, JobState::kDone);
  if (error == "link lost") return End(*job, JobState::kLinkLost);
  if (error == "timed out") return End(*job, JobState::kTimedOut);
  return End(*job, JobState::kFailed);
}

std::optional<JobState> UpgradeJobs::OnLinkEnded(int handle, std::int64_t) {
  // The SDK fails every transfer of a lost link; whatever it has not
  // reported yet ends here.
  std::optional<JobState> result;
  while (UpgradeJob* job = Active(handle)) result = End(*job, JobState::kLinkLost);
  return result;
}

void UpgradeJobs::OnProgress(int handle, int percent, std::int64_t now_ms) {
  if (UpgradeJob* job = Active(handle)) {
    job->progress = percent;
    job->last_activity_ms = now_ms;
  }
}

std::set<int> UpgradeJobs::ExpireStalled(std::int64_t now_ms, std::int64_t limit_ms) {
  std::set<int> out;
  for (auto& [handle, q] : jobs_) {
    for (UpgradeJob& j : q) {
      if (!IsTerminal(j.state) && now_ms - j.last_activity_ms >= limit_ms) {
        End(j, JobState::kTimedOut);
        out.insert(handle);
      }
    }
  }
  return out;
}

void UpgradeJobs::BeginRun() {
  for (auto& [handle, q] : jobs_)
    for (UpgradeJob& j : q)
      if (IsTerminal(j.state)) j.in_run = false;
}

bool UpgradeJobs::RunFinished() const {
  for (const auto& [handle, q] : jobs_)
    for (const UpgradeJob& j : q)
      if (j.in_run && !IsTerminal(j.state)) return false;
  return true;
}

RunSummary UpgradeJobs::Summary() const {
  RunSummary s;
  for (const auto& [handle, q] : jobs_)
    for (const UpgradeJob& j : q)
      if (j.in_run && IsTerminal(j.state)) {
        (j.state == JobState::kDone ? s.done : s.failed) += 1;
        if (j.state != JobState::kDone) s.failures.push_back({j.address, j.serial, j.state});
      }
  return s;
}

bool UpgradeJobs::AlreadyTransferred(const std::string& serial, const ImageId& image) const {
  return transferred_.count({serial, image}) != 0;
}

const UpgradeJob* UpgradeJobs::Find(int handle) const {
  auto it = jobs_.find(handle);
  return it == jobs_.end() || it->second.empty() ? nullptr : &it->second.back();
}

bool UpgradeJobs::Running(int handle) const {
  auto it = jobs_.find(handle);
  if (it == jobs_.end()) return false;
  for (const UpgradeJob& j : it->second)
    if (!IsTerminal(j.state)) return true;
  return false;
}

}  // namespace kelvara::firmware
