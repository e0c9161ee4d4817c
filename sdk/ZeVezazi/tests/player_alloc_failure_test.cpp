// The player's exports with their allocations made to fail one after another:
// each failed call returns its failure value, no exception leaves the library,
// and the player works on afterwards. A player made without a pane (window
// null) keeps the sweeps inside the library's own code.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "kelvara_test/alloc_failure.h"
#include "kelvara_test/export_sweep.h"
#include "kelvara_test/test_env.h"
#include "rivelin.h"
#include "zq_player.h"

namespace {

using kelvara::test::AllocationSweep;
using kelvara::test::SweepAllocationFailures;

using Export = kelvara::test::ExportCase;

void SweepAll(const std::vector<Export>& calls) { kelvara::test::SweepExports(calls); }

int IgnorePictures(ZQ_PLAYER_HANDLE, const unsigned char*, int, const int*, void*, void*) { return 0; }

TEST(PlayerAllocationFailures, EveryCallFailsCleanlyAndThePlayerWorksOn) {
  ASSERT_EQ(ZQ_PLAYER_Init(), 0);
  ZQ_PLAYER_HANDLE player = 0;
  SweepAll({{"CreatePlayer", [&] { return player = ZQ_PLAYER_CreatePlayer(nullptr); }, 0, {}}});
  ASSERT_GT(player, 0);
  MP4_VIDEO_PARAM video{};
  std::strcpy(video.codec, "H264");
  video.width = 160;
  video.height = 120;
  // Not a picture: the decoder refuses it, which is a result, not a failure.
  const std::vector<unsigned char> junk = {0, 0, 0, 1, 0x65, 0x88, 0x84, 0x00, 0x33};
  const std::string folder = kelvara::test::MakeTempDir("snap").string() + "/";
  const std::string grid(16 * 12, '1');
  SweepAll({
      {"SetupDecoder",
       [&] { return ZQ_PLAYER_SetupDecoder(player, ZQ_PLAYER_STREAM_VIDEO, &video, sizeof video, 0); }, -1, 0},
      {"SetDecCallBack", [&] { return ZQ_PLAYER_SetDecCallBack(player, &IgnorePictures, nullptr); }, -1, 0},
      {"DecodeFrame",
       [&] {
         ZQ_PLAYER_DecodeFrame(player, ZQ_PLAYER_STREAM_VIDEO, junk.data(), static_cast<int>(junk.size()), nullptr,
                               0);
         return 0L;
       },
       -1, {}},
      {"SetPlayMode", [&] { return ZQ_PLAYER_SetPlayMode(player, 1); }, -1, 0},
      {"SetDecodeMode", [&] { return ZQ_PLAYER_SetDecodeMode(player, 0); }, -1, 0},
      {"SetFullFillStatus", [&] { return ZQ_PLAYER_SetFullFillStatus(player, 1); }, -1, 0},
      {"SetRecordStatus", [&] { return ZQ_PLAYER_SetRecordStatus(player, 1); }, -1, 0},
      {"SnapShot", [&] { return ZQ_PLAYER_SnapShot(player, 0, folder.c_str()); }, -1, {}},
      {"InputMouseEvent", [&] { return ZQ_PLAYER_InputMouseEvent(player, 1, 10, 10); }, -1, 0},
      {"SetMotionDetectConfig", [&] { return ZQ_PLAYER_SetMotionDetectConfig(player, 16, 12, grid.c_str()); }, -1,
       0},
      {"SetMotionDetectConfigOn", [&] { return ZQ_PLAYER_SetMotionDetectConfigOn(player, 1); }, -1, 0},
      {"GetFrameCounts",
       [&] {
         long long decoded = 0, painted = 0;
         return ZQ_PLAYER_GetFrameCounts(player, &decoded, &painted);
       },
       -1, 0},
      {"SetAudioOff", [] { return ZQ_PLAYER_SetAudioOff(); }, -1, 0},
      {"CloseDecoder", [&] { return ZQ_PLAYER_CloseDecoder(player, ZQ_PLAYER_STREAM_VIDEO); }, -1, 0},
      {"SetupDecoder again",
       [&] { return ZQ_PLAYER_SetupDecoder(player, ZQ_PLAYER_STREAM_VIDEO, &video, sizeof video, 0); }, -1, 0},
      {"ReleaseAll", [] { return ZQ_PLAYER_ReleaseAll(); }, -1, 0},
  });
  EXPECT_EQ(ZQ_PLAYER_SetPlayMode(player, 0), -1);  // released
}

}  // namespace
