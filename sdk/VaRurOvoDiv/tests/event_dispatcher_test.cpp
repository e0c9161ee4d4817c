// The SDK's event dispatcher on its own: logins are served in turn, each
// login's events keep their order, a flooding login's device events are
// bounded, dropped and counted, and what the SDK generates is never dropped.
// Delays are counted in events served, not in wall time.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "event_dispatcher.h"

namespace varurovodiv {
namespace {

using namespace std::chrono_literals;

struct Served {
  int handle = 0;
  bool aux = false;
  int code = 0;
  long seq = 0;  // the post's number within its login (the event's text)
};

// Records every callback; can hold the first one until released, and can
// spin a while in each to be a slow callback.
class Recorder {
 public:
  explicit Recorder(EventDispatcher& d) {
    d.SetStatusCallback(&Recorder::OnStatus, this);
    d.SetAuxCallback(&Recorder::OnAux, this);
  }
  void HoldFirst() { hold_ = true; }
  void WaitHeld() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return held_; });
  }
  void Release() {
    {
      std::lock_guard lock(mutex_);
      hold_ = false;
    }
    cv_.notify_all();
  }
  bool WaitFor(size_t count, std::chrono::milliseconds timeout = 20s) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, timeout, [&] { return served_.size() >= count; });
  }
  std::vector<Served> Snapshot() {
    std::lock_guard lock(mutex_);
    return served_;
  }
  // Callbacks that have started so far.
  size_t started() const { return started_.load(); }
  std::chrono::microseconds spin{0};

 private:
  static int OnStatus(int h, int code, const char* data, void* user) {
    static_cast<Recorder*>(user)->Add({h, false, code, std::stol(data)});
    return 0;
  }
  static int OnAux(int h, unsigned int rc, const char* data, void* user) {
    static_cast<Recorder*>(user)->Add({h, true, static_cast<int>(rc & 0xFFFFFF), std::stol(data)});
    return 0;
  }
  void Add(Served s) {
    started_.fetch_add(1);
    {
      std::unique_lock lock(mutex_);
      held_ = true;
      cv_.notify_all();
      cv_.wait(lock, [this] { return !hold_; });
      served_.push_back(s);
    }
    cv_.notify_all();
    if (spin.count() > 0) {
      const auto end = std::chrono::steady_clock::now() + spin;
      while (std::chrono::steady_clock::now() < end) {
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable cv_;
  bool hold_ = false;
  bool held_ = false;
  std::vector<Served> served_;
  std::atomic<size_t> started_{0};
};

SdkEvent Status(int handle, int code, long seq, size_t pad = 0) {
  SdkEvent e;
  e.kind = SdkEvent::Kind::kStatus;
  e.handle = handle;
  e.status_code = code;
  e.data = std::to_string(seq) + std::string(pad, ' ');
  return e;
}

SdkEvent Aux(int handle, unsigned command, long seq) {
  SdkEvent e;
  e.kind = SdkEvent::Kind::kAux;
  e.handle = handle;
  e.result_and_command = command;
  e.data = std::to_string(seq);
  return e;
}

// Each login's events in the order they were served.
std::vector<Served> Of(const std::vector<Served>& all, int handle) {
  std::vector<Served> out;
  for (const Served& s : all) {
    if (s.handle == handle) out.push_back(s);
  }
  return out;
}

bool Increasing(const std::vector<Served>& events) {
  for (size_t i = 1; i < events.size(); ++i) {
    if (events[i].seq <= events[i - 1].seq) return false;
  }
  return true;
}

constexpr int kA = 1, kB = 2;

// Login A floods device events (and, within them, replies and an upload
// outcome of its own) behind a callback that is held; login B then posts 100
// replies. Once the callback runs again, A and B take turns: B's k-th reply
// is served at most 2k+2 events after the held one. A's device events beyond its budget
// are dropped and counted; none of A's SDK events is.
TEST(EventDispatcher, AFloodingLoginTakesTurnsAndKeepsItsOwnEventsWithinItsBudget) {
  EventDispatcher d;
  d.Start();
  Recorder rec(d);
  rec.HoldFirst();
  ASSERT_TRUE(d.Post(Status(kA, 32, 0), EventOrigin::kDevice));
  rec.WaitHeld();

  constexpr long kFlood = 60000;
  constexpr size_t kPad = 100;
  long sdk_posted = 0, device_posted = 0, refused = 0;
  for (long seq = 1; seq <= kFlood; ++seq) {
    if (seq % 1000 == 0) {
      // Replies and an outcome in the midst of the flood, over the budget.
      EXPECT_TRUE(d.Post(seq % 2000 == 0 ? Aux(kA, 504, seq) : Status(kA, STATUS_EVENT_UPLOAD_DONE, seq)));
      ++sdk_posted;
    } else {
      refused += !d.Post(Status(kA, STATUS_EVENT_ALARM, seq, kPad), EventOrigin::kDevice);
      ++device_posted;
    }
  }
  EXPECT_LE(d.QueuedBytes(kA), kLoginEventBudget + sdk_posted * (kEventOverhead + 8));
  EXPECT_GT(refused, 0);
  EXPECT_EQ(d.DroppedEvents(kA), static_cast<uint64_t>(refused));
  for (long k = 0; k < 100; ++k) ASSERT_TRUE(d.Post(Aux(kB, 1019, k)));
  EXPECT_EQ(d.DroppedEvents(kB), 0u);

  const size_t expected = 1 + static_cast<size_t>(device_posted - refused + sdk_posted) + 100;
  rec.Release();
  ASSERT_TRUE(rec.WaitFor(expected));
  std::this_thread::sleep_for(20ms);
  const std::vector<Served> all = rec.Snapshot();
  ASSERT_EQ(all.size(), expected);

  // After the held event: B's k-th reply is served within 2k+2 events.
  long k = 0;
  for (size_t i = 1; i < all.size() && k < 100; ++i) {
    if (all[i].handle != kB) continue;
    EXPECT_LE(i, static_cast<size_t>(2 * k + 2)) << "reply " << k;
    EXPECT_EQ(all[i].seq, k);
    ++k;
  }
  EXPECT_EQ(k, 100);

  const std::vector<Served> a = Of(all, kA);
  EXPECT_TRUE(Increasing(a));
  long sdk_served = 0;
  for (const Served& s : a) sdk_served += s.aux || s.code == STATUS_EVENT_UPLOAD_DONE;
  EXPECT_EQ(sdk_served, sdk_posted);
  // The device events held fit the budget (one more was in the callback).
  EXPECT_LE(static_cast<size_t>(device_posted - refused),
            kLoginEventBudget / (kEventOverhead + kPad + 1) + 1);
  EXPECT_EQ(d.QueuedBytes(kA), 0u);
  d.Stop();
}

// Both logins post from their own threads while the callback is slow:
// B's events are each served within a bound counted in events served since
// it was posted, whatever the timing; each login's order is kept and every
// device event of A is either served or counted as dropped.
TEST(EventDispatcher, AnotherLoginIsServedWithinABoundWhileOneFloods) {
  EventDispatcher d;
  d.Start();
  Recorder rec(d);
  rec.spin = 50us;
  std::atomic<bool> stop{false};
  std::atomic<long> a_posted{0};
  std::thread flood([&] {
    for (long seq = 0; !stop.load(); ++seq) {
      d.Post(Status(kA, STATUS_EVENT_ALARM, seq, 200), EventOrigin::kDevice);
      a_posted.store(seq + 1);
    }
  });
  // Until A's queue is full.
  while (d.DroppedEvents(kA) == 0) std::this_thread::yield();

  constexpr int kReplies = 100;
  std::vector<size_t> posted_at(kReplies);
  std::thread other([&] {
    for (int k = 0; k < kReplies; ++k) {
      d.Post(Aux(kB, 1019, k));
      posted_at[static_cast<size_t>(k)] = rec.started();
      if (k % 10 == 9) std::this_thread::sleep_for(1ms);
    }
  });
  other.join();
  auto b_done = [&] { return Of(rec.Snapshot(), kB).size() == kReplies; };
  for (int i = 0; i < 2000 && !b_done(); ++i) std::this_thread::sleep_for(5ms);
  stop.store(true);
  flood.join();
  ASSERT_TRUE(b_done());

  // Drained: everything A posted was served or dropped.
  for (int i = 0; i < 4000 && d.QueuedBytes(kA) != 0; ++i) std::this_thread::sleep_for(5ms);
  ASSERT_EQ(d.QueuedBytes(kA), 0u);
  std::this_thread::sleep_for(20ms);
  const std::vector<Served> all = rec.Snapshot();
  const std::vector<Served> a = Of(all, kA);
  EXPECT_TRUE(Increasing(a));
  EXPECT_TRUE(Increasing(Of(all, kB)));
  EXPECT_EQ(a.size() + d.DroppedEvents(kA), static_cast<size_t>(a_posted.load()));
  EXPECT_GT(d.DroppedEvents(kA), 0u);

  // B's k-th event: at most k of its own ahead of it, one of A's between
  // two of B's, one of A's in the callback and one ahead in the line.
  for (size_t i = 0, k = 0; i < all.size(); ++i) {
    if (all[i].handle != kB) continue;
    const long waited = static_cast<long>(i + 1) - static_cast<long>(posted_at[k]);
    EXPECT_LE(waited, static_cast<long>(2 * k + 3)) << "reply " << k;
    ++k;
  }
  d.Stop();
}

// Forgetting a login whose events wait in line: none of them is served
// afterwards, and the other login's events still are.
TEST(EventDispatcher, AForgottenLoginLeavesTheLine) {
  EventDispatcher d;
  d.Start();
  Recorder rec(d);
  rec.HoldFirst();
  ASSERT_TRUE(d.Post(Status(kB, 4, 0)));
  rec.WaitHeld();
  for (long seq = 0; seq < 50; ++seq) {
    d.Post(Status(kA, STATUS_EVENT_ALARM, seq), EventOrigin::kDevice);
    d.Post(Aux(kB, 504, seq + 1));
  }
  std::thread forget([&] { d.Forget(kA); });
  // Forget waits for the callback running now; the line no longer holds A.
  while (d.QueuedBytes(kA) != 0) std::this_thread::yield();
  rec.Release();
  forget.join();
  ASSERT_TRUE(rec.WaitFor(51));
  std::this_thread::sleep_for(20ms);
  const std::vector<Served> all = rec.Snapshot();
  EXPECT_TRUE(Of(all, kA).empty());
  EXPECT_EQ(Of(all, kB).size(), 51u);
  EXPECT_TRUE(d.Post(Status(kA, STATUS_EVENT_ALARM, 99), EventOrigin::kDevice));  // ignored
  EXPECT_EQ(d.QueuedBytes(kA), 0u);
  d.Stop();
}

// A callback that throws (the program's code is C++) loses its own event
// only: the dispatcher's thread goes on with the next ones, in order.
TEST(EventDispatcher, ACallbackThatThrowsLosesOnlyItsEvent) {
  struct Seen {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<long> seqs;
  } seen;
  EventDispatcher d;
  d.Start();
  d.SetStatusCallback(
      [](int, int, const char* data, void* user) -> int {
        auto* s = static_cast<Seen*>(user);
        const long seq = std::stol(data);
        if (seq % 2 == 0) throw std::runtime_error("the program's callback failed");
        {
          std::lock_guard lock(s->mutex);
          s->seqs.push_back(seq);
        }
        s->cv.notify_all();
        return 0;
      },
      &seen);
  for (long seq = 0; seq < 6; ++seq) ASSERT_TRUE(d.Post(Status(kA, 4, seq)));
  {
    std::unique_lock lock(seen.mutex);
    ASSERT_TRUE(seen.cv.wait_for(lock, 20s, [&] { return seen.seqs.size() >= 3; }));
    EXPECT_EQ(seen.seqs, (std::vector<long>{1, 3, 5}));
  }
  d.Stop();
}

}  // namespace
}  // namespace varurovodiv
