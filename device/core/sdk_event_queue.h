#pragma once
// The way from the SDK's callback thread to the UI thread, fair between
// logins: each login handle has a queue of its own, and the UI thread takes
// the records of the logins in turn, one each, a batch per queued call. So a
// device that floods events holds up another device's replies by a few
// records, not by its whole flood, and the UI thread's event queue holds one
// pending call instead of one per record.
//
// What a device sends of its own accord (alarms, records, texts, progress) is
// bounded per login: past the bound the newest is dropped and counted, with a
// rate-limited debug-log line. Replies, login-state changes and transfer
// outcomes are never dropped; a talk result is merged with the same result
// still waiting for its login. Each login's records keep their order.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <variant>

#include "device/core/sdk_bridge.h"

namespace kelvara::device {

using SdkRecord = std::variant<DeviceStatusEvent, DeviceAuxResponse>;

// How a status event is held when its login's queue is long.
enum class EventKeeping {
  kAlways,     // ends a request or changes the login: never dropped
  kMerged,     // a talk result: one of each code waits per login
  kDroppable,  // sent by the device unasked: bounded per login
};
EventKeeping KeepingOf(int eventType);

struct SdkQueueLimits {
  std::size_t droppable_per_login = 256;           // records
  std::size_t droppable_bytes_per_login = 1 << 20; // their data
  std::chrono::milliseconds report_interval{1000}; // drop lines per login
};

class FairSdkEventQueue {
 public:
  FairSdkEventQueue() : FairSdkEventQueue(SdkQueueLimits{}) {}
  explicit FairSdkEventQueue(SdkQueueLimits limits) : limits_(limits) {}

  // Any thread. True when the caller must schedule a drain (none is pending).
  bool Push(SdkRecord record);
  // The consumer: the next record, the logins taking turns. `schedule` is set
  // when records remain and no drain is pending: the caller schedules one.
  std::optional<SdkRecord> Take(bool& schedule);
  // The consumer: the drain that was scheduled has started.
  void DrainStarted();

  std::uint64_t Dropped(int handle) const;
  std::size_t Pending() const;

 private:
  using Clock = std::chrono::steady_clock;
  struct Login {
    std::deque<SdkRecord> records;
    std::size_t droppable = 0;        // droppable records waiting
    std::size_t droppable_bytes = 0;  // and their data
    std::map<int, int> talk;          // talk results waiting, by code
  };
  struct Drops {
    std::uint64_t total = 0;
    std::uint64_t unreported = 0;
    Clock::time_point reported{};
  };
  // Counts a dropped record; true when a line is due (`report` set).
  bool CountDrop(int handle, std::uint64_t& report);

  const SdkQueueLimits limits_;
  mutable std::mutex mutex_;
  std::map<int, Login> logins_;  // logins with records waiting
  std::deque<int> turns_;        // those logins, in the order they are served
  std::map<int, Drops> drops_;   // logins that lost records
  std::size_t pending_ = 0;
  bool scheduled_ = false;
};

// An SdkEventSink over the queue, GUI-free: `post` runs a function later on
// the UI thread (a queued call), `deliver` hands one record on there. A drain
// delivers at most `batch` records and stops sooner once it has taken
// `budget` (a record's handling may send requests, write cells, start a
// device log: thousands of logins made at once must not hold the window), so
// other work of the UI thread runs in between; while records remain a drain
// is pending, also while a handler runs a nested event loop.
class FairSdkEventSink final : public SdkEventSink {
 public:
  using Post = std::function<void(std::function<void()>)>;
  using Deliver = std::function<void(SdkRecord&)>;
  FairSdkEventSink(Post post, Deliver deliver, std::size_t batch = 64, SdkQueueLimits limits = {},
                   std::chrono::milliseconds budget = std::chrono::milliseconds(20))
      : post_(std::move(post)), deliver_(std::move(deliver)), batch_(batch), budget_(budget), queue_(limits) {}
  void PostStatusEvent(DeviceStatusEvent event) override;
  void PostAuxResponse(DeviceAuxResponse response) override;
  const FairSdkEventQueue& Queue() const { return queue_; }

 private:
  void Push(SdkRecord record);
  void Drain();

  Post post_;
  Deliver deliver_;
  std::size_t batch_;
  std::chrono::milliseconds budget_;
  FairSdkEventQueue queue_;
};

}  // namespace kelvara::device
