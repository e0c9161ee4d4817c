// The paced file feeders of a broadcast: decoded PCM in 40 ms pieces and
// MP3 frames one per frame duration, on an absolute schedule, with pause,
// resume and one end-of-file report.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "kelvara_test/test_env.h"
#include "media/core/audio_capture_source.h"
#include "media/core/audio_file_feeders.h"
#include "media/core/paced_timer.h"
#include "mp3_fixtures.h"

namespace kelvara::media {
namespace {

using Clock = std::chrono::steady_clock;
using test::EncodedMp3Dir;

// What a feeder hands out, with arrival times.
struct Received {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::vector<std::uint8_t>> pieces;
  std::vector<Clock::time_point> times;
  int finished = 0;

  AudioDataCallback Data() {
    return [this](const std::uint8_t* d, std::size_t n) {
      std::lock_guard lock(mutex);
      pieces.emplace_back(d, d + n);
      times.push_back(Clock::now());
      changed.notify_all();
    };
  }
  FileFinishedCallback Finished() {
    return [this] {
      std::lock_guard lock(mutex);
      ++finished;
      changed.notify_all();
    };
  }
  bool WaitFor(const std::function<bool()>& done) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(20), done);
  }
  std::vector<std::uint8_t> Joined() {
    std::lock_guard lock(mutex);
    std::vector<std::uint8_t> all;
    for (const auto& p : pieces) all.insert(all.end(), p.begin(), p.end());
    return all;
  }
};

// The timer under the feeders: no tick before its time on the schedule
// (the sleep's time-out is read on the monotonic clock), a stop from another
// thread wakes a long sleep at once, a stop from inside a tick ends the
// ticks, and a stopped timer starts again.
TEST(PacedTimerTest, NoTickEarlyAndStopsAtOnce) {
  PacedTimer timer;
  std::mutex mutex;
  std::condition_variable ticked;
  std::vector<Clock::time_point> ticks;
  const auto start = Clock::now();
  ASSERT_TRUE(timer.Start(0.02, [&]() -> std::optional<double> {
    std::lock_guard lock(mutex);
    ticks.push_back(Clock::now());
    ticked.notify_all();
    if (ticks.size() == 5) return std::nullopt;
    return 0.02;
  }));
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(ticked.wait_for(lock, std::chrono::seconds(30), [&] { return ticks.size() == 5; }));
  }
  for (std::size_t k = 0; k < ticks.size(); ++k)
    EXPECT_GE(ticks[k] - start, std::chrono::milliseconds(20 * (k + 1))) << "tick " << k << " came early";
  timer.Stop();
  EXPECT_FALSE(timer.Running());

  // A sleep of an hour ends with the stop.
  ASSERT_TRUE(timer.Start(3600, [] { return std::optional<double>(3600); }));
  EXPECT_TRUE(timer.Running());
  const auto stopping = Clock::now();
  timer.Stop();
  EXPECT_LT(Clock::now() - stopping, std::chrono::seconds(60));
  EXPECT_FALSE(timer.Running());

  // Stopped from inside its own tick.
  std::atomic<int> count{0};
  ASSERT_TRUE(timer.Start(0.001, [&]() -> std::optional<double> {
    if (++count == 3) timer.Stop();
    return 0.001;
  }));
  const auto until = Clock::now() + std::chrono::seconds(30);
  while (timer.Running() && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_FALSE(timer.Running());
  timer.Stop();
  EXPECT_EQ(count.load(), 3);
}

TEST(AudioFeedersTest, ChunkBytesAreFortyMilliseconds) {
  EXPECT_EQ(CAudioDecodeMp3::ChunkBytes(16000, 1), 1280);
  EXPECT_EQ(CAudioDecodeMp3::ChunkBytes(32000, 1), 2560);
  EXPECT_EQ(CAudioDecodeMp3::ChunkBytes(44100, 1), 3528);
  EXPECT_EQ(CAudioDecodeMp3::ChunkBytes(16000, 2), 2560);
}

TEST(AudioFeedersTest, DecodedPcmIsPacedInFortyMillisecondPiecesAndResumes) {
  const std::string path = (EncodedMp3Dir() / "vbr_44100_stereo.mp3").string();
  std::vector<std::uint8_t> whole;
  ASSERT_EQ(DecodeMp3FileWhole(path, 32000, 1, whole), Mp3DecodeStatus::Ok);
  Received got;
  CAudioDecodeMp3 feeder(path, 32000, 1, got.Data(), got.Finished());
  ASSERT_EQ(feeder.Decode(), Mp3DecodeStatus::Ok);
  const auto start = Clock::now();
  ASSERT_TRUE(feeder.StartTimer());
  ASSERT_TRUE(got.WaitFor([&] { return got.pieces.size() >= 5; }));
  feeder.StopTimer();  // pause: nothing arrives once this returns
  std::size_t paused;
  {
    std::lock_guard lock(got.mutex);
    paused = got.pieces.size();
    // 20 silent ticks, then one piece per tick.
    EXPECT_GE(got.times.front() - start, std::chrono::milliseconds(21 * 40));
  }
  ASSERT_TRUE(feeder.StartTimer());
  ASSERT_TRUE(got.WaitFor([&] { return got.finished > 0; }));
  feeder.StopTimer();
  EXPECT_GT(got.pieces.size(), paused);
  EXPECT_EQ(got.finished, 1);
  EXPECT_TRUE(got.Joined() == whole);
  for (std::size_t i = 0; i + 1 < got.pieces.size(); ++i) ASSERT_EQ(got.pieces[i].size(), 2560u);
  EXPECT_LE(got.pieces.back().size(), 2560u);
}

// The silent lead-in is one wait of the timer; a pause during it keeps the
// silent ticks that had passed, so the resumed feeder does not start it over.
// The ticks are read from the feeder; time only gives lower bounds, which a
// loaded machine cannot break.
TEST(AudioFeedersTest, APauseDuringTheLeadInKeepsTheTicksThatPassed) {
  constexpr auto kTick = std::chrono::milliseconds(CAudioDecodeMp3::kPeriodMs);
  const std::string path = (EncodedMp3Dir() / "vbr_44100_stereo.mp3").string();
  Received got;
  CAudioDecodeMp3 feeder(path, 32000, 1, got.Data(), got.Finished());
  ASSERT_EQ(feeder.Decode(), Mp3DecodeStatus::Ok);
  ASSERT_TRUE(feeder.StartTimer());
  std::this_thread::sleep_for(8 * kTick);  // 8 of the 20 silent ticks, at least
  feeder.StopTimer();
  const unsigned kept = feeder.TicksPassed();
  EXPECT_GE(kept, 8u);
  if (kept < CAudioDecodeMp3::kLeadInTicks) {
    std::lock_guard lock(got.mutex);
    EXPECT_TRUE(got.pieces.empty());
  }
  // A resume followed at once by a pause neither starts the count over nor loses it.
  ASSERT_TRUE(feeder.StartTimer());
  feeder.StopTimer();
  const unsigned before_resume = feeder.TicksPassed();
  EXPECT_GE(before_resume, kept);

  const auto resumed = std::chrono::steady_clock::now();
  ASSERT_TRUE(feeder.StartTimer());
  ASSERT_TRUE(got.WaitFor([&] { return !got.pieces.empty(); }));
  feeder.StopTimer();
  std::lock_guard lock(got.mutex);
  // The silent ticks still due and the first piece's.
  const unsigned due = CAudioDecodeMp3::kLeadInTicks - std::min(before_resume, CAudioDecodeMp3::kLeadInTicks);
  EXPECT_GE(got.times.front() - resumed, static_cast<int>(due) * kTick);
}

std::vector<std::vector<std::uint8_t>> FramesOf(const std::string& path) {
  CMPAFile file(path);
  const auto bytes = test::ReadFileBytes(path);
  std::vector<std::vector<std::uint8_t>> frames;
  for (auto f = file.GetFrame(CMPAFile::First); f; f = file.GetFrame(CMPAFile::Next, f.get())) {
    if (f->GetSubsequentHeaderOffset() > static_cast<std::int64_t>(bytes.size())) break;
    frames.emplace_back(bytes.begin() + f->GetOffset(), bytes.begin() + f->GetSubsequentHeaderOffset());
  }
  return frames;
}

TEST(AudioFeedersTest, FramesGoOutOnAnAbsoluteScheduleAndResumeWithTheHeldFrame) {
  const std::string path = (EncodedMp3Dir() / "cbr_44100_mono.mp3").string();
  const auto frames = FramesOf(path);
  ASSERT_GT(frames.size(), 30u);
  Received got;
  CMp3Player player(path, got.Data(), got.Finished());
  ASSERT_TRUE(player.Open());
  const auto start = Clock::now();
  ASSERT_TRUE(player.Start());
  ASSERT_TRUE(got.WaitFor([&] { return got.pieces.size() >= 10; }));
  player.Stop();
  const auto resumed = Clock::now();
  std::size_t paused;
  {
    std::lock_guard lock(got.mutex);
    paused = got.pieces.size();
    // Frame k is due at (40 + k) frame durations (39 silent ticks first):
    // never before, whatever the timer's granularity.
    const double frame = 1152.0 / 44100.0;
    for (std::size_t k = 0; k < paused; ++k)
      EXPECT_GE(std::chrono::duration<double>(got.times[k] - start).count(), (40 + k) * frame) << k;
  }
  ASSERT_TRUE(player.Start());
  ASSERT_TRUE(got.WaitFor([&] { return got.finished > 0; }));
  player.Stop();
  EXPECT_EQ(got.finished, 1);
  EXPECT_EQ(got.pieces, frames);  // each frame once, the held one included
  const double frame = 1152.0 / 44100.0;
  const std::size_t after = got.pieces.size() - paused;
  EXPECT_GE(std::chrono::duration<double>(got.times.back() - resumed).count(), after * frame);
}

TEST(AudioFeedersTest, AFrameCutShortByTheEndIsNotSent) {
  const std::string source = (EncodedMp3Dir() / "plain_44100_stereo.mp3").string();
  auto bytes = test::ReadFileBytes(source);
  const auto frames = FramesOf(source);
  bytes.resize(bytes.size() - frames.back().size() / 2);
  const auto dir = kelvara::test::MakeTempDir("cut");
  test::WriteFileBytes(dir / "cut.mp3", bytes);
  // Only the tail matters: start from a short file.
  Received got;
  CMp3Player player((dir / "cut.mp3").string(), got.Data(), got.Finished());
  ASSERT_TRUE(player.Open());
  ASSERT_TRUE(player.Start());
  ASSERT_TRUE(got.WaitFor([&] { return got.finished > 0; }));
  player.Stop();
  std::vector<std::vector<std::uint8_t>> expected(frames.begin(), frames.end() - 1);
  EXPECT_EQ(got.pieces, expected);

  CMp3Player missing((dir / "none.mp3").string(), got.Data(), got.Finished());
  EXPECT_FALSE(missing.Open());
  test::WriteFileBytes(dir / "noise.mp3", std::vector<std::uint8_t>(3000, 0x33));
  CMp3Player noise((dir / "noise.mp3").string(), got.Data(), got.Finished());
  EXPECT_FALSE(noise.Open());
}

TEST(AudioFeedersTest, FileCaptureStandsInForTheMicrophone) {
  const auto dir = kelvara::test::MakeTempDir("capture");
  std::vector<std::uint8_t> pcm(16000 * 2 / 10);  // 100 ms of 16 kHz mono
  for (std::size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<std::uint8_t>(i);
  test::WriteFileBytes(dir / "mic.raw", pcm);
  Received got;
  FileCaptureSource source((dir / "mic.raw").string());
  ASSERT_EQ(source.Start(16000, 16, 1, got.Data()), 0);
  ASSERT_TRUE(got.WaitFor([&] { return got.pieces.size() >= 4; }));
  source.Stop();  // returns with no callback running
  for (const auto& piece : got.pieces) EXPECT_EQ(piece.size(), 1280u);  // 40 ms
  // Two whole pieces fit the file; the third starts it again.
  EXPECT_TRUE(std::equal(got.pieces[0].begin(), got.pieces[0].end(), pcm.begin()));
  EXPECT_TRUE(std::equal(got.pieces[1].begin(), got.pieces[1].end(), pcm.begin() + 1280));
  EXPECT_EQ(got.pieces[2], got.pieces[0]);

  NoCaptureSource none;
  EXPECT_NE(none.Start(16000, 16, 1, got.Data()), 0);
  FileCaptureSource missing((dir / "none.raw").string());
  EXPECT_NE(missing.Start(16000, 16, 1, got.Data()), 0);
}

}  // namespace
}  // namespace kelvara::media
