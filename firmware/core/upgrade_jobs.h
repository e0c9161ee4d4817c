#pragma once
// The upgrades Kelvara started in this run of the program, one job per login
// handle (handles are never reused). Every accepted job ends in exactly one
// terminal state: done, failed, link lost or timed out; the first terminal
// event wins and later ones change nothing. The watch timer's run is over when
// every job of the run has its terminal state.
//
// The automatic upgrade on login asks here first: once a transfer of an image
// (by size and modification time) to a device (by serial number) has ended,
// whatever its outcome, the same upgrade is not started on that device again
// in this run of the program, so a device that reboots after its upgrade and
// logs in again is not upgraded in a loop.
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "firmware/core/image_check.h"

namespace kelvara::firmware {

enum class JobState { kRunning, kDone, kFailed, kLinkLost, kTimedOut };
const char* JobStateName(JobState state);
inline bool IsTerminal(JobState s) { return s != JobState::kRunning; }

struct UpgradeJob {
  int handle = 0;
  std::string serial;
  std::string address;  // the device's address when the upgrade started
  ImageId image;
  JobState state = JobState::kRunning;
  int progress = 0;
  std::int64_t last_activity_ms = 0;
  bool in_run = false;  // counted by the watch timer's run
};

struct RunSummary {
  int done = 0;
  int failed = 0;  // failed, link lost and timed out
  struct Failure {
    std::string address;
    std::string serial;
    JobState state = JobState::kFailed;
    bool operator==(const Failure&) const = default;
  };
  std::vector<Failure> failures;  // in the order the jobs were started per handle
};

// The row text key of a job's terminal state.
const char* JobStateTextKey(JobState state);

// The run's summary for the user: the language text "MSG_UPGRADE_SUMMARY"
// (its two "%d" filled with done and failed), then one line per failed
// device, "address  serial  why", at most `maxLines` of them and a line
// "... +N" for the rest.
std::string RunSummaryText(const RunSummary& summary, const std::function<std::string(const char*)>& lookup,
                           std::size_t maxLines = 20);

class UpgradeJobs {
 public:
  // An upgrade was accepted by the SDK. The SDK runs the transfers of one
  // login one after another, so jobs of one handle end in the order started.
  void Start(int handle, const std::string& serial, const std::string& address, const ImageId& image, bool in_run,
             std::int64_t now_ms);

  // Status events of the SDK. `kind` is the transfer kind of an upload's
  // outcome (2 = firmware), `error` its error text. Returns the state the
  // event gave the handle's running job, or nothing.
  std::optional<JobState> OnUploadOutcome(int handle, bool ok, int kind, const std::string& error,
                                          std::int64_t now_ms);
  // A login-ending event (2, 3, 5, 31, 34).
  std::optional<JobState> OnLinkEnded(int handle, std::int64_t now_ms);
  void OnProgress(int handle, int percent, std::int64_t now_ms);

  // Running jobs without any event for `limit_ms` become timed out; returns their handles.
  std::set<int> ExpireStalled(std::int64_t now_ms, std::int64_t limit_ms);

  // The watch timer's run: a new run counts only the jobs started from now on.
  void BeginRun();
  bool RunFinished() const;  // every job of the run is terminal
  RunSummary Summary() const;

  // The automatic upgrade's memory.
  bool AlreadyTransferred(const std::string& serial, const ImageId& image) const;

  // The handle's latest job, or null.
  const UpgradeJob* Find(int handle) const;
  bool Running(int handle) const;

 private:
  UpgradeJob* Active(int handle);  // the handle's oldest running job
  std::optional<JobState> End(UpgradeJob& job, JobState state);

  std::map<int, std::deque<UpgradeJob>> jobs_;
  std::set<std::pair<std::string, ImageId>> transferred_;
};

}  // namespace kelvara::firmware
