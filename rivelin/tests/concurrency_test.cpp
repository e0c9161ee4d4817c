// Many writers at once (the grid's worst case is 64), and one handle used
// from several threads while it is being closed: every file stays valid and
// nothing crashes or races.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "kelvara_test/test_env.h"
#include "media_fixtures.h"
#include "rivelin.h"
#include "writer_helpers.h"

namespace rivelin::test {
namespace {

TEST(ConcurrentWritersTest, SixtyFourWritersProduceSixtyFourValidFiles) {
  const auto aus = VideoFixture(false);
  const auto dir = kelvara::test::MakeTempDir("many");
  constexpr int kWriters = 64;
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      const auto path = dir / ("w" + std::to_string(w) + ".mp4");
      MP4_VIDEO_PARAM v = VideoParam("H264", 160, 120, 25);
      MP4_AUDIO_PARAM a = AudioParam(w % 2 ? "PCMA" : "PCMU", 8000, 1);
      const long h = (w % 4 == 0 ? MP4Create_aac : MP4Create)(const_cast<char*>(path.c_str()), &v,
                                                               &a, 60);
      if (h <= 0) {
        failures++;
        return;
      }
      std::vector<uint8_t> g711(320, 0xD5);
      for (size_t i = 0; i < aus.size(); ++i) {
        const double ts = 1000.0 + 40.0 * static_cast<double>(i);
        if (WriteMP4Data(h, 1, const_cast<uint8_t*>(aus[i].data.data()), aus[i].data.size(),
                         aus[i].key, ts) != 0 ||
            WriteMP4Data(h, 0, g711.data(), g711.size(), 1, ts) != 0)
          failures++;
      }
      MP4Close(h);
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures, 0);
  // Every file is whole: our reader sees every sample of each.
  for (int w = 0; w < kWriters; ++w) {
    const auto counts = CountSamplesWithReader(dir / ("w" + std::to_string(w) + ".mp4"));
    EXPECT_EQ(counts.first, 50) << w;
    EXPECT_GT(counts.second, 0) << w;
  }
  // And a sample of them with ffprobe.
  for (int w : {0, 1, 63}) {
    const auto streams = Probe(dir / ("w" + std::to_string(w) + ".mp4"));
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].at("nb_read_packets"), "50");
  }
}

TEST(ConcurrentWritersTest, CloseWhileOtherThreadsWriteTheSameHandle) {
  const auto aus = VideoFixture(false);
  const auto dir = kelvara::test::MakeTempDir("race");
  for (int round = 0; round < 5; ++round) {
    const auto path = dir / ("r" + std::to_string(round) + ".mp4");
    MP4_VIDEO_PARAM v = VideoParam("H264", 160, 120, 25);
    const long h = MP4Create(const_cast<char*>(path.c_str()), &v, nullptr, 60);
    ASSERT_GT(h, 0);
    ASSERT_EQ(WriteMP4Data(h, 1, const_cast<uint8_t*>(aus[0].data.data()), aus[0].data.size(), 1,
                           1000.0),
              0);
    std::atomic<bool> go{false};
    std::atomic<int> accepted{1};
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
      writers.emplace_back([&, t] {
        while (!go) std::this_thread::yield();
        for (int i = 1; i < 40; ++i) {
          const auto& au = aus[static_cast<size_t>(i) % aus.size()];
          const int rc = WriteMP4Data(h, 1, const_cast<uint8_t*>(au.data.data()), au.data.size(),
                                      au.key, 1000.0 + 40.0 * (i * 4 + t));
          // Success, or the handle is gone.
          EXPECT_TRUE(rc == 0 || rc == -1000) << rc;
          if (rc == 0) accepted++;
        }
      });
    }
    go = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(MP4Close(h), 0);
    for (auto& t : writers) t.join();
    EXPECT_EQ(WriteMP4Data(h, 1, const_cast<uint8_t*>(aus[0].data.data()), aus[0].data.size(), 1,
                           9000.0),
              -1000);
    // The frames' order is the threads' race, so only the container is
    // checked: every accepted sample is in it.
    EXPECT_EQ(CountSamplesWithReader(path).first, accepted.load());
    const auto streams = Probe(path);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].at("nb_read_packets"), std::to_string(accepted.load()));
  }
}

}  // namespace
}  // namespace rivelin::test
