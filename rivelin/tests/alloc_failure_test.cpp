// Every export with its allocations made to fail one after another: each
// failed call returns its documented failure value, no exception leaves the
// library, nothing is left behind (no handle, no open file), and the library
// works on afterwards. A playback callback that throws ends its playback, not
// the process.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "kelvara_test/alloc_failure.h"
#include "kelvara_test/export_sweep.h"
#include "kelvara_test/test_env.h"
#include "rivelin.h"
#include "writer_helpers.h"

namespace {

using kelvara::test::AllocationSweep;
using kelvara::test::SweepAllocationFailures;

using Export = kelvara::test::ExportCase;

void SweepAll(const std::vector<Export>& calls) { kelvara::test::SweepExports(calls); }

long IgnoreFrames(long, unsigned long, unsigned char*, unsigned long, uint64_t, bool, void*) { return 0; }

TEST(RivelinAllocationFailures, WriterCallsFailCleanlyAndTheFileIsWhole) {
  const auto dir = kelvara::test::MakeTempDir("alloc");
  MP4_VIDEO_PARAM video = rivelin::test::VideoParam("H264", 160, 120, 25);
  MP4_AUDIO_PARAM audio = rivelin::test::AudioParam("PCMU", 8000, 1);
  const auto units = rivelin::test::VideoFixture(rivelin::test::VideoKind::kH264Main);
  ASSERT_GE(units.size(), 2u);
  std::string path = (dir / "a.mp4").string();
  std::string aac_path = (dir / "b.mp4").string();
  long writer = 0;
  long aac_writer = 0;
  double ts = 1000;
  size_t unit = 0;
  SweepAll({
      {"MP4Create", [&] { return writer = MP4Create(path.data(), &video, &audio, 60); }, 0, {}},
      {"MP4Create_aac", [&] { return aac_writer = MP4Create_aac(aac_path.data(), &video, &audio, 60); }, 0, {}},
      {"WriteMP4Data",
       [&] {
         auto& u = units[unit];
         return WriteMP4Data(writer, 1, const_cast<unsigned char*>(u.data.data()), u.data.size(), u.key, ts);
       },
       -1002, 0},
  });
  // A failed create left no file open (the file of one without a key frame
  // goes with it) and gave no handle: the handles given are the only ones.
  ASSERT_GT(writer, 0);
  ASSERT_GT(aac_writer, 0);
  for (unit = 1; unit < units.size(); ++unit) {
    ts += 40;
    ASSERT_EQ(WriteMP4Data(writer, 1, const_cast<unsigned char*>(units[unit].data.data()), units[unit].data.size(),
                           units[unit].key, ts),
              0);
  }
  SweepAll({{"MP4Close", [&] { return MP4Close(writer); }, 0, 0},
            {"MP4Close aac", [&] { return MP4Close(aac_writer); }, 0, 0}});
  EXPECT_EQ(MP4GetFileFrameCount(path.data()), static_cast<long>(units.size()));
  SweepAll({{"MP4GetFileTimes", [&] { return MP4GetFileTimes(path.data()); }, -1, {}, 0},
            {"MP4GetFileFrameCount", [&] { return MP4GetFileFrameCount(path.data()); }, -1,
             static_cast<long>(units.size()), 0}});
}

TEST(RivelinAllocationFailures, PlayerCallsFailCleanlyAndThePlayerPlaysOn) {
  const auto dir = kelvara::test::MakeTempDir("alloc");
  const auto file = dir / "play.mp4";
  rivelin::test::Record(file, rivelin::test::VideoKind::kH264Main, rivelin::test::AudioKind::kNone, false);
  std::string path = file.string();
  int user = 0;
  long player = -1;
  SweepAll({{"MP4CreatePlayer", [&] { return player = MP4CreatePlayer(&IgnoreFrames, &user); }, -1, {}}});
  ASSERT_GT(player, 0);
  SweepAll({
      {"MP4LoadFile", [&] { return MP4LoadFile(player, path.data(), 0, 0); }, -1, 0, -2},
      {"MP4Pause", [&] { return MP4Pause(player, 1); }, -1, 0},
      {"MP4ChangeSec", [&] { return MP4ChangeSec(player, 1); }, -1, 0},
      {"MP4SetSpeed", [&] { return MP4SetSpeed(player, 2); }, -1, 0},
      {"MP4SetPlayFramerate", [&] { return MP4SetPlayFramerate(player, 25); }, -1, 0},
      {"MP4StopPlay", [&] { return MP4StopPlay(player); }, -1, 0},
      {"MP4LoadFile again", [&] { return MP4LoadFile(player, path.data(), 0, 1); }, -1, 0, -2},
      {"MP4DeletePlayer", [&] { return MP4DeletePlayer(player); }, -1, 0},
  });
  EXPECT_EQ(MP4StopPlay(player), -1);  // gone
}

// The playback thread's callback throws on its first frame: that playback
// ends, the process lives on, and the player can be used and deleted.
TEST(RivelinAllocationFailures, ACallbackThatThrowsEndsItsPlaybackOnly) {
  const auto dir = kelvara::test::MakeTempDir("alloc");
  const auto file = dir / "play.mp4";
  rivelin::test::Record(file, rivelin::test::VideoKind::kH264Main, rivelin::test::AudioKind::kNone, false);
  std::string path = file.string();
  static std::atomic<int> thrown{0};
  auto throwing = [](long, unsigned long type, unsigned char*, unsigned long, uint64_t, bool, void*) -> long {
    if (type == 0 || type == 1) {
      thrown.fetch_add(1);
      throw std::runtime_error("the program's callback failed");
    }
    return 0;
  };
  int user = 0;
  const long player = MP4CreatePlayer(throwing, &user);
  ASSERT_GT(player, 0);
  ASSERT_EQ(MP4LoadFile(player, path.data(), 0, 1), 0);
  for (int i = 0; i < 500 && thrown.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(thrown.load(), 1);
  EXPECT_EQ(MP4StopPlay(player), 0);
  EXPECT_EQ(MP4DeletePlayer(player), 0);
}

}  // namespace
