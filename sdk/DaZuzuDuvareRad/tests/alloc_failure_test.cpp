// The RTSP client's exports with their allocations made to fail one after
// another: each failed call returns its failure value, no exception leaves
// the library, a failed start leaves no play behind, and the library plays on.
// The plays point at a loopback port nobody serves: they only try to connect.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "kelvara_test/alloc_failure.h"
#include "kelvara_test/export_sweep.h"
#include "zq_rtsp_client.h"

namespace {

using kelvara::test::AllocationSweep;
using kelvara::test::SweepAllocationFailures;

using Export = kelvara::test::ExportCase;

void SweepAll(const std::vector<Export>& calls) { kelvara::test::SweepExports(calls); }

int IgnoreFrames(ZQ_RTSP_PLAY_HANDLE, int, const unsigned char*, int, const ZQ_RTSP_FRAME_INFO*) { return 0; }

TEST(RtspClientAllocationFailures, FailedStartsLeaveNoPlayAndTheLibraryPlaysOn) {
  SweepAll({{"InitLib", [] { return ZQ_RTSP_CLINET_LIB_InitLib(); }, -1, 0}});
  ZQ_RTSP_PLAY_HANDLE by_url = 0;
  ZQ_RTSP_PLAY_HANDLE simple = 0;
  SweepAll({
      {"RealPlayByUrl",
       [&] {
         return by_url = ZQ_RTSP_CLINET_LIB_RealPlayByUrl("rtsp://127.0.0.1:9/stream", "admin", "a long password!",
                                                          1, &IgnoreFrames, nullptr);
       },
       0, {}},
      {"RealPlayBySimple",
       [&] {
         return simple = ZQ_RTSP_CLINET_LIB_RealPlayBySimple("127.0.0.1", "admin", "a long password!", &IgnoreFrames,
                                                             0, 9, 1, nullptr, 0);
       },
       0, {}},
  });
  ASSERT_GT(by_url, 0);
  ASSERT_GT(simple, by_url);
  // Handles are counted up: those the failed starts took are unknown.
  for (ZQ_RTSP_PLAY_HANDLE h = 1; h < simple; ++h) {
    if (h != by_url) {
      EXPECT_EQ(ZQ_RTSP_CLINET_LIB_GetConnectionCount(h), -1) << h;
    }
  }
  SweepAll({
      {"GetConnectionCount", [&] { return ZQ_RTSP_CLINET_LIB_GetConnectionCount(by_url) >= 0 ? 1 : 0; }, -1, 1},
      {"GetPeakBufferedBytes", [&] { return ZQ_RTSP_CLINET_LIB_GetPeakBufferedBytes(by_url) >= 0 ? 1 : 0; }, -1, 1},
      {"GetPeakTotalBufferedBytes", [] { return ZQ_RTSP_CLINET_LIB_GetPeakTotalBufferedBytes() >= 0 ? 1 : 0; }, -1,
       1},
      {"StopRealPlay", [&] { return ZQ_RTSP_CLINET_LIB_StopRealPlay(by_url); }, -1, 0},
      {"ReleaseLib", [] { return ZQ_RTSP_CLINET_LIB_ReleaseLib(); }, -1, 0},
  });
  EXPECT_EQ(ZQ_RTSP_CLINET_LIB_GetConnectionCount(simple), -1);  // released with the library
}

}  // namespace
