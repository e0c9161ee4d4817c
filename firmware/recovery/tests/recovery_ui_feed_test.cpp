// The feed from the recovery threads to the window under a flood: one
// announced batch at a time, bounded lines with a count of the dropped ones,
// one record per device.
#include "firmware/recovery/recovery_ui_feed.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace kelvara::firmware {
namespace {

TEST(RecoveryUiFeed, FloodOfLinesIsOneBoundedBatch) {
  RecoveryUiFeed feed(100);
  std::atomic<int> announced{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 250000; ++i) announced += feed.AddLine("line " + std::to_string(t) + "/" + std::to_string(i));
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(announced.load(), 1);  // one queued call to the UI thread, not a million

  RecoveryUiFeed::Batch batch = feed.Take();
  EXPECT_EQ(batch.lines.size(), 100u);
  EXPECT_EQ(batch.dropped_lines, 1000000u - 100u);
  EXPECT_TRUE(batch.devices.empty());

  // Taken: the next line announces a new batch, which starts empty of drops.
  EXPECT_TRUE(feed.AddLine("after"));
  EXPECT_FALSE(feed.AddLine("again"));
  batch = feed.Take();
  EXPECT_EQ(batch.lines, (std::vector<std::string>{"after", "again"}));
  EXPECT_EQ(batch.dropped_lines, 0u);
}

TEST(RecoveryUiFeed, DeviceRecordsKeepTheNewestPerDevice) {
  RecoveryUiFeed feed(100, 3);
  EXPECT_TRUE(feed.AddDevice({"b", "", "", "", "", 0, 0}));
  for (int step = 0; step <= 12; ++step) {
    EXPECT_FALSE(feed.AddDevice({"a", "", "", "", "", step, 0}));
    EXPECT_FALSE(feed.AddDevice({"b", "", "", "", "", 12 - step, 0}));
  }
  feed.AddDevice({"c", "", "", "", "", 1, 0});
  feed.AddDevice({"d", "", "", "", "", 1, 0});  // past the bound of three devices
  const RecoveryUiFeed::Batch batch = feed.Take();
  ASSERT_EQ(batch.devices.size(), 3u);
  EXPECT_EQ(batch.devices[0].uuid, "b");
  EXPECT_EQ(batch.devices[0].step, 0);
  EXPECT_EQ(batch.devices[1].uuid, "a");
  EXPECT_EQ(batch.devices[1].step, 12);
  EXPECT_EQ(batch.devices[2].uuid, "c");
  EXPECT_EQ(batch.dropped_devices, 1u);
  EXPECT_TRUE(feed.Take().devices.empty());
}

}  // namespace
}  // namespace kelvara::firmware
