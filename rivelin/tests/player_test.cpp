// The player exports: callbacks in time order, pause, seek, speed, and stop
// and delete from any thread, including the callback itself.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "kelvara_test/test_env.h"
#include "media_fixtures.h"
#include "rivelin.h"
#include "writer_helpers.h"

namespace rivelin::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Event {
  unsigned long type;
  uint64_t ts;
  bool key;
  Clock::time_point at;
};

// Collects callbacks; an optional hook runs inside the callback.
struct Sink {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<Event> events;
  MEDIA_STREAM_INFO info{};
  std::function<void(long handle, const Event&)> hook;
  std::atomic<bool> deleted{false};
  std::atomic<int> afterDelete{0};
  std::atomic<int> inCallback{0};

  // A player stopped from inside its callback finishes that callback on its
  // own thread: wait for it before the sink goes away.
  ~Sink() {
    for (int i = 0; i < 2000 && inCallback.load(std::memory_order_acquire) > 0; ++i)
      std::this_thread::sleep_for(1ms);
  }

  static long Callback(long handle, unsigned long type, unsigned char* data, unsigned long length,
                       uint64_t ts, bool key, void* user) {
    auto* s = static_cast<Sink*>(user);
    s->inCallback.fetch_add(1, std::memory_order_acq_rel);
    struct Leave {
      Sink* s;
      ~Leave() { s->inCallback.fetch_sub(1, std::memory_order_release); }
    } leave{s};
    if (s->deleted) s->afterDelete++;
    Event e{type, ts, key, Clock::now()};
    {
      std::lock_guard g(s->lock);
      if (type == 2 && length == sizeof(MEDIA_STREAM_INFO)) std::memcpy(&s->info, data, length);
      s->events.push_back(e);
    }
    s->changed.notify_all();
    if (s->hook) s->hook(handle, e);
    return 0;
  }

  // Waits (bounded) until pred holds over the events.
  bool WaitFor(const std::function<bool(const std::vector<Event>&)>& pred,
               std::chrono::milliseconds limit = 10s) {
    // Re-checks every few ms too: some predicates look at state that the
    // hooks change after the event was recorded.
    const auto end = Clock::now() + limit;
    std::unique_lock lk(lock);
    while (!pred(events)) {
      if (Clock::now() >= end) return false;
      changed.wait_for(lk, 5ms);
    }
    return true;
  }
  size_t Count(unsigned long type) {
    std::lock_guard g(lock);
    size_t n = 0;
    for (const auto& e : events) n += e.type == type;
    return n;
  }
  std::vector<Event> Snapshot() {
    std::lock_guard g(lock);
    return events;
  }
};

bool HasEnd(const std::vector<Event>& ev) {
  return !ev.empty() && ev.back().type == 3;
}

// A two-second H.264 + G.711 recording, made once.
const std::filesystem::path& AvFile() {
  static const std::filesystem::path path = [] {
    auto p = kelvara::test::MakeTempDir("player") / "av.mp4";
    Record(p, VideoKind::kH264Main, AudioKind::kPcmu, false);
    return p;
  }();
  return path;
}

char* C(const std::filesystem::path& p) { return const_cast<char*>(p.c_str()); }

TEST(PlayerTest, DeliversDescriptionThenFramesInTimeOrderThenEnd) {
  Sink sink;
  const long h = MP4CreatePlayer(&Sink::Callback, &sink);
  ASSERT_GT(h, 0);
  ASSERT_EQ(MP4LoadFile(h, C(AvFile()), 0, 1), 0);
  ASSERT_TRUE(sink.WaitFor(HasEnd));
  const auto ev = sink.Snapshot();
  ASSERT_EQ(ev.front().type, 2u);
  EXPECT_STREQ(sink.info.name, "Rivelin");
  EXPECT_EQ(sink.info.hasVideo, 1);
  EXPECT_EQ(sink.info.hasAudio, 1);
  EXPECT_STREQ(sink.info.video.codec, "H264");
  EXPECT_EQ(sink.info.video.width, 160u);
  EXPECT_EQ(sink.info.video.framerate, 25u);
  EXPECT_GT(sink.info.video.extraLength, 8u);
  EXPECT_EQ(sink.info.video.extra[3], 1);  // parameter sets in start-code form
  EXPECT_STREQ(sink.info.audio.codec, "PCMU");
  EXPECT_EQ(sink.info.audio.sampleRate, 8000u);
  uint64_t last = 0;
  for (size_t i = 1; i + 1 < ev.size(); ++i) {
    EXPECT_LE(last, ev[i].ts);
    last = ev[i].ts;
  }
  EXPECT_EQ(sink.Count(0), 50u);
  EXPECT_EQ(sink.Count(1), 50u);
  EXPECT_EQ(sink.Count(3), 1u);
  EXPECT_EQ(MP4DeletePlayer(h), 0);
  EXPECT_EQ(MP4Pause(h, 1), -1);
}

TEST(PlayerTest, ExportEdgeCases) {
  Sink sink;
  EXPECT_EQ(MP4CreatePlayer(&Sink::Callback, nullptr), -1);
  EXPECT_EQ(MP4CreatePlayer(nullptr, &sink), -1);
  const long h = MP4CreatePlayer(&Sink::Callback, &sink);
  ASSERT_GT(h, 0);
  char empty[] = "";
  EXPECT_EQ(MP4LoadFile(h, empty, 0, 1), -1);
  EXPECT_EQ(MP4LoadFile(h, nullptr, 0, 1), -1);
  const auto missing = kelvara::test::MakeTempDir("edge") / "none.mp4";
  EXPECT_EQ(MP4LoadFile(h, C(missing), 0, 1), -2);
  AudioPackets(AudioKind::kAacAdts);
  const auto audioOnly =
      Fixture("audio_only.mp4", "-i '" + (Fixture("a.aac", "").string()) + "' -c copy");
  EXPECT_EQ(MP4LoadFile(h, C(audioOnly), 0, 1), -2);
  EXPECT_EQ(MP4LoadFile(999999, C(AvFile()), 0, 1), -1);
  EXPECT_EQ(MP4LoadFile(0, C(AvFile()), 0, 1), -1);
  EXPECT_EQ(MP4ChangeSec(h, -1), -1);
  EXPECT_EQ(MP4ChangeSec(h, 1), -1);  // nothing loaded
  EXPECT_EQ(MP4SetSpeed(h, 0), -1);
  EXPECT_EQ(MP4SetSpeed(h, 2), 0);
  EXPECT_EQ(MP4Pause(h, -1), -1);
  EXPECT_EQ(MP4SetPlayFramerate(h, 30), 0);
  EXPECT_EQ(MP4StopPlay(h), 0);
  EXPECT_EQ(MP4GetFileTimes(C(AvFile())), 2);
  EXPECT_EQ(MP4GetFileTimes(C(missing)), 0);
  EXPECT_EQ(MP4GetFileTimes(empty), -1);
  EXPECT_EQ(MP4GetFileFrameCount(C(AvFile())), 50);
  EXPECT_EQ(MP4GetFileFrameCount(empty), -1);
  EXPECT_EQ(MP4DeletePlayer(h), 0);
  EXPECT_EQ(MP4DeletePlayer(h), -1);
  EXPECT_EQ(sink.Count(0), 0u);
}

TEST(PlayerTest, StartSecondAndSeekToZeroRewind) {
  Sink sink;
  const long h = MP4CreatePlayer(&Sink::Callback, &sink);
  ASSERT_GT(h, 0);
  std::atomic<bool> rewound{false};
  sink.hook = [&](long handle, const Event& e) {
    // Rewind once, from inside the callback, when playback passes 1.4 s.
    if (e.type == 0 && e.ts >= 1400 && !rewound.exchange(true)) {
      EXPECT_EQ(MP4ChangeSec(handle, 0), 0);
    }
  };
  ASSERT_EQ(MP4LoadFile(h, C(AvFile()), 1, 1), 0);
  ASSERT_TRUE(sink.WaitFor(HasEnd));
  std::vector<uint64_t> video;
  for (const auto& e : sink.Snapshot())
    if (e.type == 0) video.push_back(e.ts);
  ASSERT_FALSE(video.empty());
  EXPECT_EQ(video.front(), 960u);  // key frame at or before 1 s
  // After the rewind the whole file plays from 0.
  auto zero = std::find(video.begin() + 1, video.end(), 0u);
  ASSERT_NE(zero, video.end());
  EXPECT_EQ(video.end() - zero, 50);
  MP4DeletePlayer(h);
}

TEST(PlayerTest, PausedPlayerDeliversNothingUntilResumed) {
  Sink sink;
  const long h = MP4CreatePlayer(&Sink::Callback, &sink);
  ASSERT_GT(h, 0);
  ASSERT_EQ(MP4LoadFile(h, C(AvFile()), 0, 0), 0);
  ASSERT_TRUE(sink.WaitFor([](const auto& ev) { return ev.size() >= 5; }));
  ASSERT_EQ(MP4Pause(h, 1), 0);
  // Only the one frame already past the pause check and in delivery may still
  // land, however late its thread gets the CPU back.
  const size_t paused = sink.Snapshot().size() + 1;
  std::this_thread::sleep_for(400ms);
  EXPECT_LE(sink.Snapshot().size(), paused);
  ASSERT_EQ(MP4Pause(h, 2), 0);  // any value but 1 resumes
  EXPECT_TRUE(sink.WaitFor([&](const auto& ev) { return ev.size() > paused; }));
  MP4StopPlay(h);
  MP4DeletePlayer(h);
}

TEST(PlayerTest, SpeedScalesThePacing) {
  Sink sink;
  const long h = MP4CreatePlayer(&Sink::Callback, &sink);
  ASSERT_GT(h, 0);
  ASSERT_EQ(MP4SetSpeed(h, 8), 0);
  const auto loaded = Clock::now();
  ASSERT_EQ(MP4LoadFile(h, C(AvFile()), 0, 0), 0);
  ASSERT_TRUE(sink.WaitFor(HasEnd));
  const auto ev = sink.Snapshot();
  // 1960 ms of media at 8x: at least 245 ms, and well under real time. The
  // schedule starts when the first frame is read, which comes before its
  // callback, so the lower bound counts from the load: a first callback
  // held off the CPU must not make the pacing look too fast.
  EXPECT_GE(ev.back().at - loaded, 240ms);
  EXPECT_LT(ev.back().at - ev[1].at, 1500ms);
  MP4DeletePlayer(h);
}

TEST(PlayerTest, StopAndDeleteFromInsideTheCallback) {
  for (const bool del : {false, true}) {
    Sink sink;
    const long h = MP4CreatePlayer(&Sink::Callback, &sink);
    ASSERT_GT(h, 0);
    std::atomic<int> frames{0};
    sink.hook = [&](long handle, const Event& e) {
      if (e.type > 1 || ++frames != 10) return;
      if (del) {
        EXPECT_EQ(MP4DeletePlayer(handle), 0);
        sink.deleted = true;
      } else {
        EXPECT_EQ(MP4StopPlay(handle), 0);
      }
    };
    ASSERT_EQ(MP4LoadFile(h, C(AvFile()), 0, 1), 0);
    ASSERT_TRUE(sink.WaitFor([&](const auto&) { return frames >= 10; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(frames, 10) << del;
    EXPECT_EQ(sink.Count(3), 0u);  // a stop sends no end-of-file
    EXPECT_EQ(sink.afterDelete, 0);
    EXPECT_EQ(MP4DeletePlayer(h), del ? -1 : 0);
  }
}

// A callback that stops its own player and goes on running: a delete from
// another thread meanwhile waits for that callback to return, since the
// caller frees what the callback uses once the delete returns.
TEST(PlayerTest, DeleteWaitsForACallbackThatStoppedItsOwnPlayer) {
  Sink sink;
  const long h = MP4CreatePlayer(&Sink::Callback, &sink);
  ASSERT_GT(h, 0);
  std::atomic<bool> stopped{false}, release{false}, callbackDone{false}, deleteReturned{false};
  sink.hook = [&](long handle, const Event& e) {
    if (e.type > 1 || stopped) return;
    EXPECT_EQ(MP4StopPlay(handle), 0);
    stopped = true;
    for (int i = 0; i < 5000 && !release; ++i) std::this_thread::sleep_for(1ms);
    callbackDone = true;
  };
  ASSERT_EQ(MP4LoadFile(h, C(AvFile()), 0, 1), 0);
  ASSERT_TRUE(sink.WaitFor([&](const auto&) { return stopped.load(); }));
  std::thread deleter([&] {
    EXPECT_EQ(MP4DeletePlayer(h), 0);
    deleteReturned = true;
    EXPECT_TRUE(callbackDone);
  });
  std::this_thread::sleep_for(100ms);
  EXPECT_FALSE(deleteReturned);  // still inside the callback
  release = true;
  deleter.join();
  EXPECT_TRUE(deleteReturned);
}

TEST(PlayerTest, DeleteFromAnotherThreadWhilePlayingEndsCallbacks) {
  Sink sink;
  const long h = MP4CreatePlayer(&Sink::Callback, &sink);
  ASSERT_GT(h, 0);
  sink.hook = [](long, const Event&) { std::this_thread::sleep_for(2ms); };
  ASSERT_EQ(MP4LoadFile(h, C(AvFile()), 0, 1), 0);
  ASSERT_TRUE(sink.WaitFor([](const auto& ev) { return ev.size() >= 5; }));
  std::thread other([&] {
    EXPECT_EQ(MP4DeletePlayer(h), 0);
    sink.deleted = true;
  });
  other.join();
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(sink.afterDelete, 0);
}

TEST(PlayerTest, SecondLoadReplacesTheFirst) {
  const auto h265 = kelvara::test::MakeTempDir("reload") / "h265.mp4";
  Record(h265, VideoKind::kH265, AudioKind::kNone, false);
  Sink sink;
  const long h = MP4CreatePlayer(&Sink::Callback, &sink);
  ASSERT_GT(h, 0);
  ASSERT_EQ(MP4LoadFile(h, C(AvFile()), 0, 0), 0);
  ASSERT_EQ(MP4LoadFile(h, C(h265), 0, 1), 0);
  ASSERT_TRUE(sink.WaitFor(HasEnd));
  const auto ev = sink.Snapshot();
  // Everything after the second description belongs to the second file.
  auto second = std::find_if(ev.rbegin(), ev.rend(), [](const Event& e) { return e.type == 2; });
  ASSERT_NE(second, ev.rend());
  EXPECT_STREQ(sink.info.video.codec, "H265");
  const auto after = static_cast<size_t>(second - ev.rbegin());
  EXPECT_EQ(after, 51u);  // 50 frames and the end
  for (auto it = ev.rbegin(); it != second; ++it) EXPECT_NE(it->type, 1u);
  MP4DeletePlayer(h);
}

// Many players driven from many threads at once.
TEST(PlayerTest, ConcurrentPlayersAndControls) {
  constexpr int kPlayers = 6;
  std::vector<std::unique_ptr<Sink>> sinks;
  std::vector<long> handles;
  for (int i = 0; i < kPlayers; ++i) {
    sinks.push_back(std::make_unique<Sink>());
    handles.push_back(MP4CreatePlayer(&Sink::Callback, sinks.back().get()));
    ASSERT_GT(handles.back(), 0);
  }
  std::vector<std::thread> threads;
  for (int i = 0; i < kPlayers; ++i) {
    threads.emplace_back([&, i] {
      const long h = handles[static_cast<size_t>(i)];
      EXPECT_EQ(MP4LoadFile(h, C(AvFile()), 0, 1), 0);
      for (int k = 0; k < 20; ++k) {
        MP4Pause(h, k % 2);
        MP4ChangeSec(h, k % 3);
        MP4SetSpeed(h, 1 + k % 4);
      }
      MP4Pause(h, 0);
      if (i % 2) MP4StopPlay(h);
      EXPECT_EQ(MP4DeletePlayer(h), 0);
    });
  }
  for (auto& t : threads) t.join();
}

}  // namespace
}  // namespace rivelin::test
