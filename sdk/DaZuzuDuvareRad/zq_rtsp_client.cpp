// The RTSP client: plays by handle, each on its own thread (rtsp_play).
#include "zq_rtsp_client.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "common/c_boundary.h"
#include "rtsp_play.h"
#include "rtsp_url.h"

static_assert(offsetof(ZQ_RTSP_FRAME_INFO, timestamp) == 8 && offsetof(ZQ_RTSP_FRAME_INFO, user) == 16,
              "frame information layout is fixed");

namespace {

struct Registry {
  std::mutex mutex;
  std::map<ZQ_RTSP_PLAY_HANDLE, std::shared_ptr<zq_rtsp::RtspPlay>> plays;
  ZQ_RTSP_PLAY_HANDLE next = 1;
};

Registry& Plays() {
  static Registry r;
  return r;
}

// Never destroyed: a play that ended itself may still hold its share while
// the process exits.
zq_rtsp::PictureBudget& Budget() {
  static auto* budget = new zq_rtsp::PictureBudget(zq_rtsp::kSharedPictureBytes);
  return *budget;
}

// Tests shorten the silence after which a stream counts as lost.
zq_rtsp::PlayTimings Timings() {
  zq_rtsp::PlayTimings t;
  if (const char* v = std::getenv("ZQ_RTSP_STALL_MS"); v != nullptr && std::atoi(v) > 0)
    t.stall_timeout = std::chrono::milliseconds(std::atoi(v));
  return t;
}

ZQ_RTSP_PLAY_HANDLE StartPlay(zq_rtsp::PlayRequest request) {
  if (request.callback == nullptr) return 0;
  Registry& r = Plays();
  std::lock_guard lock(r.mutex);
  const ZQ_RTSP_PLAY_HANDLE handle = r.next++;
  auto play = std::make_shared<zq_rtsp::RtspPlay>(handle, std::move(request), Timings(), Budget());
  // Registered before the thread starts, so the handle is known to the
  // library before any callback carries it; taken out again when no thread
  // can be made, so a failed start leaves no play behind.
  const auto it = r.plays.emplace(handle, play).first;
  try {
    play->Start();
  } catch (...) {
    r.plays.erase(it);
    throw;
  }
  return handle;
}

// The edge of every C function: what its body throws becomes its failure value.
template <class Result, class Body>
Result Guarded(Result failure, Body&& body) noexcept {
  return kelvara::CallAtCBoundary(failure, std::forward<Body>(body));
}

}  // namespace

extern "C" {

int ZQ_RTSP_CLINET_LIB_InitLib(void) {
  return Guarded(-1, [] {
    av_log_set_level(AV_LOG_QUIET);  // stream chatter would flood the terminal
    avformat_network_init();
    Budget().ResetPeak();
    return 0;
  });
}

int ZQ_RTSP_CLINET_LIB_ReleaseLib(void) {
  return Guarded(-1, [] {
    std::map<ZQ_RTSP_PLAY_HANDLE, std::shared_ptr<zq_rtsp::RtspPlay>> left;
    {
      std::lock_guard lock(Plays().mutex);
      left.swap(Plays().plays);
    }
    for (auto& [handle, play] : left) play->Stop();
    avformat_network_deinit();
    return 0;
  });
}

// transport: 0 RTP over UDP, anything else RTP interleaved on the RTSP connection.
ZQ_RTSP_PLAY_HANDLE ZQ_RTSP_CLINET_LIB_RealPlayByUrl(const char* url, const char* user, const char* password,
                                                     int transport, ZQ_RTSP_DATA_CALLBACK callback,
                                                     void* user_value) {
  return Guarded(ZQ_RTSP_PLAY_HANDLE{0}, [&]() -> ZQ_RTSP_PLAY_HANDLE {
    if (url == nullptr) return 0;
    zq_rtsp::PlayRequest request;
    request.url = zq_rtsp::WithCredentials(url, user ? user : "", password ? password : "");
    request.log_url = zq_rtsp::Redacted(url);
    request.tcp = transport != 0;
    request.callback = callback;
    request.user = user_value;
    return StartPlay(std::move(request));
  });
}

// stream: 0 main, 1 sub, 2 the main stream's audio only.
ZQ_RTSP_PLAY_HANDLE ZQ_RTSP_CLINET_LIB_RealPlayBySimple(const char* address, const char* user, const char* password,
                                                        ZQ_RTSP_DATA_CALLBACK callback, int stream, int rtsp_port,
                                                        int rtp_over_rtsp, void* user_value, int) {
  return Guarded(ZQ_RTSP_PLAY_HANDLE{0}, [&]() -> ZQ_RTSP_PLAY_HANDLE {
    if (address == nullptr || rtsp_port <= 0 || rtsp_port > 65535) return 0;
    const std::string url = zq_rtsp::SimpleUrl(address, rtsp_port, stream);
    zq_rtsp::PlayRequest request;
    request.url = zq_rtsp::WithCredentials(url, user ? user : "", password ? password : "");
    request.log_url = url;
    request.tcp = rtp_over_rtsp != 0;
    request.audio_only = stream == 2;
    request.callback = callback;
    request.user = user_value;
    return StartPlay(std::move(request));
  });
}

int ZQ_RTSP_CLINET_LIB_StopRealPlay(ZQ_RTSP_PLAY_HANDLE handle) {
  return Guarded(-1, [&] {
    std::shared_ptr<zq_rtsp::RtspPlay> play;
    {
      std::lock_guard lock(Plays().mutex);
      auto it = Plays().plays.find(handle);
      if (it == Plays().plays.end()) return -1;
      play = std::move(it->second);
      Plays().plays.erase(it);
    }
    play->Stop();
    return 0;
  });
}

int ZQ_RTSP_CLINET_LIB_GetConnectionCount(ZQ_RTSP_PLAY_HANDLE handle) {
  return Guarded(-1, [&] {
    std::lock_guard lock(Plays().mutex);
    auto it = Plays().plays.find(handle);
    return it == Plays().plays.end() ? -1 : it->second->connections();
  });
}

long long ZQ_RTSP_CLINET_LIB_GetPeakBufferedBytes(ZQ_RTSP_PLAY_HANDLE handle) {
  return Guarded(-1LL, [&] {
    std::lock_guard lock(Plays().mutex);
    auto it = Plays().plays.find(handle);
    return it == Plays().plays.end() ? -1LL : it->second->peak_buffered_bytes();
  });
}

long long ZQ_RTSP_CLINET_LIB_GetPeakTotalBufferedBytes(void) {
  return Guarded(-1LL, [] { return static_cast<long long>(Budget().peak()); });
}

}  // extern "C"
