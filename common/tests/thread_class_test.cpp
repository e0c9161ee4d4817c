#include "common/thread_class.h"

#include "common/debug_log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <chrono>
#include <memory>
#include <vector>

namespace {

using namespace std::chrono_literals;

// A body that polls the stop request, as every worker of the program does.
class PollingThread : public CThreadClass {
 public:
  ~PollingThread() override { StopAndWait(); }
  std::atomic<int> runs{0};

 protected:
  int Thread() override {
    ++runs;
    while (IsRunning()) std::this_thread::sleep_for(1ms);
    return 0;
  }
};

// A body that ignores the stop request until the test releases it (bounded).
class StubbornThread : public CThreadClass {
 public:
  ~StubbornThread() override { StopAndWait(); }
  std::atomic<bool> release{false};
  std::atomic<bool> entered{false};
  std::atomic<int> runs{0};
  std::atomic<int> concurrent{0};
  std::atomic<int> max_concurrent{0};

 protected:
  int Thread() override {
    ++runs;
    int now = ++concurrent;
    if (now > max_concurrent) max_concurrent = now;
    entered = true;
    for (int i = 0; i < 10000 && !release; ++i) std::this_thread::sleep_for(1ms);
    --concurrent;
    return 0;
  }
};

bool WaitFor(const std::atomic<bool>& flag) {
  for (int i = 0; i < 5000 && !flag; ++i) std::this_thread::sleep_for(1ms);
  return flag;
}

TEST(ThreadClassTest, NeverStartedIsStoppedAndKillDoesNotWait) {
  PollingThread t;
  EXPECT_EQ(t.IsStopped(), 1);
  EXPECT_EQ(t.IsRunning(), 0);
  auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(t.Kill(10000), 0);
  EXPECT_EQ(t.Stop(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, 1s);
}

TEST(ThreadClassTest, StartRunsStopReturnsAtOnceKillWaitsForTheEnd) {
  PollingThread t;
  ASSERT_EQ(t.Start(), 0);
  EXPECT_EQ(t.IsRunning(), 1);
  EXPECT_EQ(t.IsStopped(), 0);
  EXPECT_EQ(t.Start(), -1);  // refused while running
  EXPECT_EQ(t.Stop(), 0);    // no wait
  EXPECT_EQ(t.IsRunning(), 0);
  EXPECT_EQ(t.Kill(5000), 1);  // polling body ends well within the time
  EXPECT_EQ(t.IsStopped(), 1);
  EXPECT_EQ(t.Kill(5000), 0);  // nothing left to stop
}

TEST(ThreadClassTest, KillWithWaitEndsAPollingBody) {
  PollingThread t;
  ASSERT_EQ(t.Start(), 0);
  EXPECT_EQ(t.Kill(5000), 1);
  EXPECT_EQ(t.IsStopped(), 1);
  EXPECT_EQ(t.runs, 1);
}

TEST(ThreadClassTest, StopRightAfterStartIsNeverLost) {
  PollingThread t;
  for (int i = 0; i < 200; ++i) {
    ASSERT_EQ(t.Start(), 0) << i;
    t.Stop();
    // The body must see the request even when it starts after it.
    ASSERT_NE(t.IsStopped() == 1 || t.Kill(5000) == 1, false) << i;
  }
  EXPECT_EQ(t.runs, 200);
}

TEST(ThreadClassTest, RestartAfterAnEndedRun) {
  PollingThread t;
  ASSERT_EQ(t.Start(), 0);
  ASSERT_EQ(t.Kill(5000), 1);
  ASSERT_EQ(t.Start(), 0);
  EXPECT_EQ(t.IsRunning(), 1);
  EXPECT_EQ(t.Kill(5000), 1);
  EXPECT_EQ(t.runs, 2);
}

TEST(ThreadClassTest, BaseBodyReturnsAtOnce) {
  CThreadClass t;
  ASSERT_EQ(t.Start(), 0);
  t.Kill(5000);
  EXPECT_EQ(t.IsStopped(), 1);
}

TEST(ThreadClassTest, ABodyThatIgnoresTheStopIsLeftRunningAndStaysOwned) {
  StubbornThread t;
  t.SetThreadName("stubborn");
  ASSERT_EQ(t.Start(), 0);
  ASSERT_TRUE(WaitFor(t.entered));
  EXPECT_EQ(t.Kill(30), 0);  // not ended in time: no forced end
  EXPECT_EQ(t.IsStopped(), 0);
  EXPECT_EQ(t.IsRunning(), 0);
  t.release = true;
  EXPECT_EQ(t.Kill(5000), 1);
  EXPECT_EQ(t.IsStopped(), 1);
}

TEST(ThreadClassTest, RestartWaitsForTheEarlierRunAndNeverRunsTwoAtOnce) {
  StubbornThread t;
  ASSERT_EQ(t.Start(), 0);
  ASSERT_TRUE(WaitFor(t.entered));
  t.Stop();
  std::thread releaser([&] {
    std::this_thread::sleep_for(50ms);
    t.release = true;
  });
  EXPECT_EQ(t.Start(), 0);  // waited for the first run to end
  releaser.join();
  t.Kill(5000);  // the second run may already have ended: it is released
  EXPECT_EQ(t.IsStopped(), 1);
  EXPECT_EQ(t.runs, 2);
  EXPECT_EQ(t.max_concurrent, 1);
}

TEST(ThreadClassTest, RestartGivesUpWhenTheEarlierRunDoesNotEnd) {
  StubbornThread t;
  t.SetStopTimeouts(/*restart_ms=*/30, /*destroy_ms=*/30);
  ASSERT_EQ(t.Start(), 0);
  ASSERT_TRUE(WaitFor(t.entered));
  t.Stop();
  EXPECT_EQ(t.Start(), -2);
  EXPECT_EQ(t.runs, 1);
  t.release = true;
}

TEST(ThreadClassTest, DestroyingARunningDerivedObjectWaitsForItsThread) {
  // The body writes the derived object's own members until it is told to stop.
  class Collector : public CThreadClass {
   public:
    ~Collector() override { StopAndWait(); }
    std::vector<int> values;

   protected:
    int Thread() override {
      for (int i = 0; IsRunning() && i < 100000; ++i) {
        values.push_back(i);
        std::this_thread::sleep_for(100us);
      }
      return 0;
    }
  };
  for (int i = 0; i < 20; ++i) {
    auto c = std::make_unique<Collector>();
    ASSERT_EQ(c->Start(), 0);
    std::this_thread::sleep_for(1ms);
    c.reset();  // ASan/TSan catch any use after the members are gone
  }
}

TEST(ThreadClassTest, DestructionOutlastsABodyThatIgnoresTheStop) {
  auto t = std::make_unique<StubbornThread>();
  t->SetStopTimeouts(30, 30);
  ASSERT_EQ(t->Start(), 0);
  ASSERT_TRUE(WaitFor(t->entered));
  std::atomic<bool>* release = &t->release;
  std::thread releaser([release] {
    std::this_thread::sleep_for(100ms);
    *release = true;  // the object still exists: its destructor is waiting
  });
  t.reset();
  releaser.join();
}

TEST(ThreadClassTest, RefusedStartAndLateThreadAreLogged) {
  namespace fs = std::filesystem;
  fs::create_directories(kelvara::DebugLogConfigPath().parent_path());
  std::ofstream(kelvara::DebugLogConfigPath()) << "file=1;";
  kelvara::DebugLogInit();
  {
    StubbornThread t;
    t.SetThreadName("LogWriter_SN1");
    ASSERT_EQ(t.Start(), 0);
    ASSERT_TRUE(WaitFor(t.entered));
    EXPECT_EQ(t.Start(), -1);
    EXPECT_EQ(t.Kill(20), 0);
    t.release = true;
  }
  const fs::path log = kelvara::debug_log_testing::CurrentFile();
  kelvara::DebugLogRelease();
  fs::remove(kelvara::DebugLogConfigPath());
  std::stringstream text;
  text << std::ifstream(log).rdbuf();
  EXPECT_NE(text.str().find("LogWriter_SN1::Start thread is running!"), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("LogWriter_SN1::Kill() thread did not end within 20 ms"), std::string::npos);
}

TEST(ThreadClassTest, NameIsCutAt255Bytes) {
  CThreadClass t;
  t.SetThreadName(std::string(300, 'n'));
  EXPECT_EQ(t.ThreadName().size(), 255u);
  t.SetThreadName("LogWriter_ABC");
  EXPECT_EQ(t.ThreadName(), "LogWriter_ABC");
  // A multi-byte character across the limit is dropped whole.
  t.SetThreadName(std::string(254, 'n') + "\xE4\xBD\xA0");
  EXPECT_EQ(t.ThreadName(), std::string(254, 'n'));
}

}  // namespace
