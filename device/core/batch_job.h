#pragma once
// One batch command over the checked rows of the device list, with the truth
// per device: every row the job takes ends in exactly one terminal state,
// shown in its row, and the summary counts those states.
//
// The job keeps serial numbers, never row records: a search, an import or a
// list clear may free a row while the job waits for its reply. Replies are
// matched to a request by login handle and command code; a reply for any
// other handle or code is not the job's. Devices that never acknowledge
// (broadcasts) end as "sent". UI thread only; the job never blocks: the
// owner feeds it replies, link losses and clock ticks.
#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "discovery/core/device_list_row.h"

namespace kelvara::device {

enum class BatchState {
  kPending,         // request accepted, its reply not yet here
  kSkippedOffline,  // the row is offline: nothing sent
  kSkippedBusy,     // a firmware upgrade runs on the device: nothing sent
  kNotLoggedIn,     // no login handle: nothing sent
  kRefused,         // the SDK refused the request at once
  kDone,            // the device answered with result 0
  kFailed,          // the device answered with an error result
  kTimedOut,        // no answer within the job's time-out
  kLinkLost,        // the login ended (or the row went away) before the answer
  kSent,            // sent to a device that never answers (broadcast)
};
constexpr int kBatchStateCount = 10;

// The language key of a terminal state's row text.
const char* BatchStateKey(BatchState state);

// Results the SDK gives a request it got no answer for: the link went down
// (254) or the reply time-out passed (255).
constexpr int kReplyResultLinkLost = 254;
constexpr int kReplyResultTimedOut = 255;

struct BatchSummary {
  int counts[kBatchStateCount] = {};
  int Count(BatchState s) const { return counts[static_cast<int>(s)]; }
  int Total() const;
  int Pending() const { return Count(BatchState::kPending); }
};

// A summary line such as "done 3, failed 1, timed out 1" from the non-zero
// terminal counts, texts by key.
std::string BatchSummaryText(const BatchSummary& summary, const std::function<std::string(const char*)>& lookup);

struct BatchCommand {
  enum class Answer {
    kReply,      // the AUX replies to the row's requests end the row
    kAccepted,   // the SDK's acceptance ends the row (done)
    kBroadcast,  // sent without a login; the row ends as sent
  };
  Answer answer = Answer::kReply;
  int replyCode = 0;
  // Rows whose firmware upgrade runs are skipped (reboot, factory reset,
  // format, factory mode).
  bool skipBusy = false;
  // The row's request is a get whose good reply must start the set that
  // makes the change: a get answered without one (a block that cannot be
  // read) fails the row instead of ending it as done.
  bool setFollowsGet = false;
  // The row text of a row with no login (nothing is sent to it): the
  // worker's own not-logged-in text.
  const char* notLoggedInKey = "MSGTIP40";
  // Sends the request for one row; returns the SDK's immediate result
  // (0 = accepted). Not called for rows that are skipped.
  std::function<int(discovery::DeviceListRow&)> send;
};

class BatchJob {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  // `findRow` looks a row up by serial (nullptr when it is gone).
  BatchJob(BatchCommand command, std::function<discovery::DeviceListRow*(const std::string&)> findRow,
           std::chrono::milliseconds timeout, Clock now = {});

  // Runs the command over the rows in list order (a row may appear once).
  void Start(const std::vector<discovery::DeviceListRow*>& rows);
  // A request went to `handle` (the SDK tap): a waiting row of that handle
  // now waits for the reply to this code as well, so a get whose reply
  // starts follow-up sets ends the row only with the sets' own replies (all
  // of them when one reply starts several). `earlier` requests of the same
  // handle and code were still unanswered: the SDK answers in order (reply,
  // time-out or lost link), so their answers come first and are not this row's.
  void OnRequestSent(int handle, int code, int earlier = 0);
  // An AUX reply; true when it was one a row waited for. A row ends when
  // every reply it waits for is in (done), or at the first error (failed).
  bool OnReply(int handle, int command, int result);
  // A waiting row's own time-out passed before the job's (a device that
  // must answer sooner); true when it ended one of the job's rows.
  bool OnRowTimedOut(int handle, int command);
  // A login of `handle` ended (logout, offline, relogin).
  void OnLinkLost(int handle);
  // The list was cleared: every waiting row has lost its link.
  void OnRowsCleared();
  // Ends the waiting rows whose time-out has passed.
  void OnTick();

  bool Finished() const { return summary_.Pending() == 0; }
  const BatchSummary& Summary() const { return summary_; }
  // Each row's state by serial, in the order taken.
  struct Entry {
    std::string serial;
    int handle = 0;
    std::vector<int> awaiting;  // the codes whose replies the row still waits for
    std::map<int, int> owed;    // per code: answers still owed to earlier requests
    BatchState state = BatchState::kPending;
    bool followUpSent = false;  // a request went out while another was awaited
  };
  const std::vector<Entry>& Entries() const { return entries_; }

  // A row reached its terminal state (the row record; nullptr when gone).
  std::function<void(discovery::DeviceListRow*, BatchState)> onState;
  // Every row has its terminal state (called once).
  std::function<void(const BatchSummary&)> onFinished;

 private:
  void End(Entry& entry, BatchState state);
  void CheckFinished();

  BatchCommand command_;
  std::function<discovery::DeviceListRow*(const std::string&)> findRow_;
  std::chrono::milliseconds timeout_;
  Clock now_;
  std::chrono::steady_clock::time_point deadline_{};
  std::vector<Entry> entries_;
  BatchSummary summary_;
  bool started_ = false;
  bool finishedReported_ = false;
};

}  // namespace kelvara::device
