// Process-wide state of the RTSP client. Streaming is added by the live view;
// until then a play cannot start, so callers take their failure paths.
#include "zq_rtsp_client.h"

#include <atomic>
#include <cstddef>

static_assert(offsetof(ZQ_RTSP_FRAME_INFO, timestamp) == 8 && offsetof(ZQ_RTSP_FRAME_INFO, user) == 16,
              "frame information layout is fixed");

namespace {
std::atomic<bool> g_initialised{false};
}

extern "C" {

int ZQ_RTSP_CLINET_LIB_InitLib(void) {
  g_initialised.store(true);
  return 0;
}

int ZQ_RTSP_CLINET_LIB_ReleaseLib(void) {
  g_initialised.store(false);
  return 0;
}

ZQ_RTSP_PLAY_HANDLE ZQ_RTSP_CLINET_LIB_RealPlayByUrl(const char*, const char*, const char*, int,
                                                     ZQ_RTSP_DATA_CALLBACK, void*) {
  return 0;
}

ZQ_RTSP_PLAY_HANDLE ZQ_RTSP_CLINET_LIB_RealPlayBySimple(const char*, const char*, const char*,
                                                        ZQ_RTSP_DATA_CALLBACK, int, int, int, void*, int) {
  return 0;
}

int ZQ_RTSP_CLINET_LIB_StopRealPlay(ZQ_RTSP_PLAY_HANDLE) { return 0; }

}  // extern "C"
