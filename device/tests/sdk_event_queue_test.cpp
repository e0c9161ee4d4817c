// The way of SDK records to the UI thread: logins take turns, a device's
// unasked events are bounded per login, dropped and counted, nothing that
// ends a request or changes a login is dropped, and each login's records keep
// their order. The UI thread is a queue of calls run by the test.
#include "device/core/sdk_event_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace kelvara::device {
namespace {

constexpr int kA = 11, kB = 12;

struct Got {
  int handle = 0;
  bool aux = false;
  int code = 0;  // event type, or the reply's command
  std::string data;
};

// The UI thread's queue of posted calls, run by the test.
class Loop {
 public:
  FairSdkEventSink::Post Poster() {
    return [this](std::function<void()> fn) {
      std::lock_guard lock(mutex_);
      calls_.push_back(std::move(fn));
      most_ = std::max(most_, calls_.size());
    };
  }
  // Runs the calls posted so far and those they post; false when none ran.
  bool RunAll() {
    bool ran = false;
    while (RunOne()) ran = true;
    return ran;
  }
  // Runs the first call waiting; false when there is none.
  bool RunOne() {
    std::function<void()> fn;
    {
      std::lock_guard lock(mutex_);
      if (calls_.empty()) return false;
      fn = std::move(calls_.front());
      calls_.pop_front();
    }
    fn();
    return true;
  }
  // Most calls waiting at once.
  std::size_t most() {
    std::lock_guard lock(mutex_);
    return most_;
  }

 private:
  std::mutex mutex_;
  std::deque<std::function<void()>> calls_;
  std::size_t most_ = 0;
};

class SinkFixture : public ::testing::Test {
 protected:
  FairSdkEventSink::Deliver Recorder() {
    return [this](SdkRecord& r) {
      if (const auto* e = std::get_if<DeviceStatusEvent>(&r)) {
        got.push_back({e->loginHandle, false, e->eventType, e->data});
      } else {
        const auto& a = std::get<DeviceAuxResponse>(r);
        got.push_back({a.loginHandle, true, a.command, a.text});
      }
      if (onDeliver) onDeliver();
    };
  }
  void Event(int handle, int type, std::string data) {
    sink.PostStatusEvent(DeviceStatusEvent{handle, type, std::move(data)});
  }
  void Reply(int handle, int command, std::string text) {
    sink.PostAuxResponse(DeviceAuxResponse{handle, 0, command, std::move(text)});
  }
  std::vector<Got> Of(int handle) const {
    std::vector<Got> out;
    for (const Got& g : got) {
      if (g.handle == handle) out.push_back(g);
    }
    return out;
  }

  Loop loop;
  std::vector<Got> got;
  std::function<void()> onDeliver;
  FairSdkEventSink sink{loop.Poster(), Recorder(), 64};
};

// A floods 10,000 alarms with a link loss, a login, an upload outcome and
// replies among them; B then sends 100 replies. The UI thread's queue never
// holds more than one call of the sink; B's k-th reply is the (2k+2)-th
// record at the latest; A keeps 256 alarms and every record that matters, in
// order; the rest is counted as dropped.
TEST_F(SinkFixture, AFloodIsBoundedAndAnotherLoginsRepliesTakeTurns) {
  int kept = 0;
  for (int i = 0; i < 10000; ++i) {
    if (i == 3000 || i == 6000 || i == 9000) {
      Event(kA, i == 3000 ? 2 : i == 6000 ? 4 : 14, std::to_string(i));
      ++kept;
    } else if (i % 1000 == 500) {
      Reply(kA, 504, std::to_string(i));
      ++kept;
    } else {
      Event(kA, kStatusEventAlarm, std::to_string(i));
    }
  }
  for (int k = 0; k < 100; ++k) Reply(kB, 1019, std::to_string(k));
  loop.RunAll();

  EXPECT_EQ(loop.most(), 1u);
  int k = 0;
  for (std::size_t i = 0; i < got.size(); ++i) {
    if (got[i].handle != kB) continue;
    EXPECT_LE(i, static_cast<std::size_t>(2 * k + 1)) << "reply " << k;
    EXPECT_EQ(got[i].data, std::to_string(k));
    ++k;
  }
  EXPECT_EQ(k, 100);

  const std::vector<Got> a = Of(kA);
  int alarms = 0, others = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (i > 0) {
      EXPECT_LT(std::stoi(a[i - 1].data), std::stoi(a[i].data));
    }
    (a[i].code == kStatusEventAlarm && !a[i].aux ? alarms : others)++;
  }
  EXPECT_EQ(alarms, 256);
  EXPECT_EQ(others, kept);
  EXPECT_EQ(sink.Queue().Dropped(kA), static_cast<std::uint64_t>(10000 - kept - 256));
  EXPECT_EQ(sink.Queue().Dropped(kB), 0u);
  EXPECT_EQ(sink.Queue().Pending(), 0u);

  // Drained, A's alarms are taken again.
  Event(kA, kStatusEventAlarm, "10001");
  loop.RunAll();
  EXPECT_EQ(got.back().data, "10001");
}

// Large texts are bounded by their bytes too; talk results wait once per
// code and login, and come again once the waiting one was handed on.
TEST_F(SinkFixture, TextsAreBoundedByBytesAndTalkResultsMerge) {
  for (int i = 0; i < 20; ++i) Event(kA, 32, std::string(100 * 1024, 'a' + i % 26));
  for (int code : {6, 6, 8, 35, 6, 8}) Event(kB, code, "");
  loop.RunAll();
  EXPECT_EQ(Of(kA).size(), 10u);  // 1 MiB of text
  EXPECT_EQ(sink.Queue().Dropped(kA), 10u);
  std::vector<int> talk;
  for (const Got& g : Of(kB)) talk.push_back(g.code);
  EXPECT_EQ(talk, (std::vector<int>{6, 8, 35}));
  Event(kB, 6, "");
  loop.RunAll();
  EXPECT_EQ(got.back().code, 6);
}

// A handler that runs a nested event loop (a modal dialog) still gets the
// records after its own, each once and in order.
TEST_F(SinkFixture, ANestedEventLoopKeepsTheRecordsFlowingInOrder) {
  bool nested = false;
  onDeliver = [&] {
    if (nested || got.size() != 3) return;
    nested = true;
    Reply(kA, 504, "late");
    loop.RunAll();
  };
  for (int i = 0; i < 200; ++i) Reply(i % 2 ? kA : kB, 504, std::to_string(i));
  loop.RunAll();
  ASSERT_EQ(got.size(), 201u);
  for (int h : {kA, kB}) {
    std::vector<Got> mine = Of(h);
    if (h == kA) {
      EXPECT_EQ(mine.back().data, "late");
      mine.pop_back();
    }
    for (std::size_t i = 1; i < mine.size(); ++i) EXPECT_LT(std::stoi(mine[i - 1].data), std::stoi(mine[i].data));
  }
}

// Thousands of logins made at once: each login event's handling takes the UI
// thread a while (requests, cells), so a drain stops once its time is spent,
// whatever is left of its batch, and the next call goes on in order.
TEST(SinkTimeBudget, ADrainStopsOnceItsTimeIsSpent) {
  Loop loop;
  std::vector<int> handled;
  FairSdkEventSink sink{loop.Poster(),
                        [&](SdkRecord& r) {
                          handled.push_back(std::get<DeviceStatusEvent>(r).loginHandle);
                          const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(4);
                          while (std::chrono::steady_clock::now() < end) {
                          }
                        },
                        64, SdkQueueLimits{}, std::chrono::milliseconds(10)};
  constexpr int kLogins = 40;
  for (int h = 1; h <= kLogins; ++h) sink.PostStatusEvent(DeviceStatusEvent{h, 4, {}});
  int calls = 0;
  std::size_t before = 0;
  while (loop.RunOne()) {
    ++calls;
    // 4 ms each against 10 ms: at most three records, and none only once
    // all were taken (a drain posted while the last ones waited).
    EXPECT_TRUE(handled.size() > before || before == kLogins) << "call " << calls;
    EXPECT_LE(handled.size() - before, 3u);
    before = handled.size();
  }
  ASSERT_EQ(handled.size(), static_cast<std::size_t>(kLogins));
  for (int i = 0; i < kLogins; ++i) EXPECT_EQ(handled[static_cast<std::size_t>(i)], i + 1);
  EXPECT_GE(calls, kLogins / 3);
}

// Two SDK threads post while the UI thread drains: every record arrives or
// is counted, each login's in order, and none is left behind without a
// drain to take it.
TEST_F(SinkFixture, PostsFromThreadsWhileTheUiThreadDrains) {
  std::atomic<int> done{0};
  auto produce = [&](int handle, int type) {
    for (int i = 0; i < 20000; ++i) Event(handle, type, std::to_string(i));
    done.fetch_add(1);
  };
  std::thread a(produce, kA, kStatusEventAlarm);
  std::thread b(produce, kB, 4);  // never dropped
  while (done.load() < 2) loop.RunAll();
  a.join();
  b.join();
  loop.RunAll();
  EXPECT_EQ(sink.Queue().Pending(), 0u);
  EXPECT_EQ(Of(kB).size(), 20000u);
  EXPECT_EQ(Of(kA).size() + sink.Queue().Dropped(kA), 20000u);
  for (int h : {kA, kB}) {
    const std::vector<Got> mine = Of(h);
    for (std::size_t i = 1; i < mine.size(); ++i) ASSERT_LT(std::stoi(mine[i - 1].data), std::stoi(mine[i].data));
  }
}

}  // namespace
}  // namespace kelvara::device
