#include "device/core/sdk_event_queue.h"

#include "common/debug_log.h"

namespace kelvara::device {
namespace {

int HandleOf(const SdkRecord& r) {
  return std::visit([](const auto& x) { return x.loginHandle; }, r);
}

std::size_t BytesOf(const SdkRecord& r) {
  if (const auto* e = std::get_if<DeviceStatusEvent>(&r)) return e->data.size();
  return std::get<DeviceAuxResponse>(r).text.size();
}

// The status event's type, or -1 for a reply.
int EventTypeOf(const SdkRecord& r) {
  const auto* e = std::get_if<DeviceStatusEvent>(&r);
  return e != nullptr ? e->eventType : -1;
}

}  // namespace

EventKeeping KeepingOf(int eventType) {
  switch (eventType) {
    case 2: case 3: case 4: case 5: case 31: case 34:  // login and link state
    case 14: case 15: case 16: case 17:                // transfer outcomes
      return EventKeeping::kAlways;
    case 6: case 8: case 35: case 36: case 37:         // talk results
      return EventKeeping::kMerged;
    default:
      return EventKeeping::kDroppable;
  }
}

bool FairSdkEventQueue::CountDrop(int handle, std::uint64_t& report) {
  Drops& d = drops_[handle];
  ++d.total;
  ++d.unreported;
  const auto now = Clock::now();
  if (d.reported != Clock::time_point{} && now - d.reported < limits_.report_interval) return false;
  report = d.unreported;
  d.unreported = 0;
  d.reported = now;
  return true;
}

bool FairSdkEventQueue::Push(SdkRecord record) {
  const int handle = HandleOf(record);
  const int type = EventTypeOf(record);
  const EventKeeping keeping = type < 0 ? EventKeeping::kAlways : KeepingOf(type);
  const std::size_t bytes = BytesOf(record);
  std::uint64_t report = 0;
  bool dropped = false;
  bool schedule = false;
  {
    std::lock_guard lock(mutex_);
    Login& login = logins_[handle];
    if (keeping == EventKeeping::kDroppable &&
        (login.droppable >= limits_.droppable_per_login ||
         login.droppable_bytes + bytes > limits_.droppable_bytes_per_login)) {
      dropped = true;
    } else if (keeping == EventKeeping::kMerged && login.talk[type] > 0) {
      dropped = true;  // the same result still waits: this one says nothing new
    }
    if (dropped) {
      if (login.records.empty()) logins_.erase(handle);
      if (!CountDrop(handle, report)) report = 0;
    } else {
      if (login.records.empty()) turns_.push_back(handle);
      if (keeping == EventKeeping::kDroppable) {
        ++login.droppable;
        login.droppable_bytes += bytes;
      } else if (keeping == EventKeeping::kMerged) {
        ++login.talk[type];
      }
      login.records.push_back(std::move(record));
      ++pending_;
      schedule = !scheduled_;
      scheduled_ = true;
    }
  }
  if (report != 0) {
    DebugLogPrintf("SDK events: login %d: %llu device events dropped, its queue to the window is full\n", handle,
                   static_cast<unsigned long long>(report));
  }
  return schedule;
}

std::optional<SdkRecord> FairSdkEventQueue::Take(bool& schedule) {
  schedule = false;
  std::lock_guard lock(mutex_);
  if (turns_.empty()) return std::nullopt;
  const int handle = turns_.front();
  turns_.pop_front();
  const auto it = logins_.find(handle);
  Login& login = it->second;
  SdkRecord record = std::move(login.records.front());
  login.records.pop_front();
  --pending_;
  const int type = EventTypeOf(record);
  const EventKeeping keeping = type < 0 ? EventKeeping::kAlways : KeepingOf(type);
  if (keeping == EventKeeping::kDroppable) {
    --login.droppable;
    login.droppable_bytes -= BytesOf(record);
  } else if (keeping == EventKeeping::kMerged && --login.talk[type] == 0) {
    login.talk.erase(type);
  }
  if (login.records.empty()) {
    logins_.erase(it);
  } else {
    turns_.push_back(handle);
  }
  if (pending_ > 0 && !scheduled_) {
    scheduled_ = true;
    schedule = true;
  }
  return record;
}

void FairSdkEventQueue::DrainStarted() {
  std::lock_guard lock(mutex_);
  scheduled_ = false;
}

std::uint64_t FairSdkEventQueue::Dropped(int handle) const {
  std::lock_guard lock(mutex_);
  const auto it = drops_.find(handle);
  return it == drops_.end() ? 0 : it->second.total;
}

std::size_t FairSdkEventQueue::Pending() const {
  std::lock_guard lock(mutex_);
  return pending_;
}

void FairSdkEventSink::PostStatusEvent(DeviceStatusEvent event) { Push(std::move(event)); }

void FairSdkEventSink::PostAuxResponse(DeviceAuxResponse response) { Push(std::move(response)); }

void FairSdkEventSink::Push(SdkRecord record) {
  if (queue_.Push(std::move(record))) post_([this] { Drain(); });
}

void FairSdkEventSink::Drain() {
  queue_.DrainStarted();
  const auto end = std::chrono::steady_clock::now() + budget_;
  for (std::size_t i = 0; i < batch_ && (i == 0 || std::chrono::steady_clock::now() < end); ++i) {
    bool schedule = false;
    std::optional<SdkRecord> record = queue_.Take(schedule);
    // Scheduled before the record is handed on: a handler that runs a nested
    // event loop still sees the records after it.
    if (schedule) post_([this] { Drain(); });
    if (!record) return;
    deliver_(*record);
  }
}

}  // namespace kelvara::device
