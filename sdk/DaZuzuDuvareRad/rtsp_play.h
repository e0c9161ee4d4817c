#pragma once
// One play: a thread that opens the RTSP stream with libavformat, hands the
// media description and every frame to the caller's callback, and reconnects
// after a loss until it is stopped.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "picture_budget.h"
#include "zq_rtsp_client.h"

struct AVFormatContext;

namespace zq_rtsp {

// What one play may hold: a picture being assembled (far above any real
// access unit; a main-stream key frame is a few hundred KiB to a few MiB), and
// the frames held back until the media description is complete. A picture
// past its bound ends the connection, which is then made again.
constexpr std::size_t kMaxFrameBytes = std::size_t{16} << 20;
constexpr std::size_t kMaxHeldBytes = std::size_t{16} << 20;
// What all plays of the process may hold together (see picture_budget.h): a
// full grid of 64 panes has 4 MiB each, several times a main-stream key
// frame, and a grid of streams that never end a picture stays far below 512 MB.
constexpr std::size_t kSharedPictureBytes = std::size_t{256} << 20;

struct PlayRequest {
  std::string url;      // with percent-encoded credentials
  std::string log_url;  // the same without them
  bool tcp = true;      // RTP interleaved on the RTSP connection; else RTP over UDP
  bool audio_only = false;
  ZQ_RTSP_DATA_CALLBACK callback = nullptr;
  void* user = nullptr;
};

// How long a stream may stay silent before it counts as lost, and the pause
// before a reconnection attempt.
struct PlayTimings {
  std::chrono::milliseconds stall_timeout{5000};
  std::chrono::milliseconds reconnect_delay{1000};
  std::chrono::milliseconds open_timeout{5000};
};

class RtspPlay : public std::enable_shared_from_this<RtspPlay> {
 public:
  // `budget` is shared by the plays and outlives them.
  RtspPlay(ZQ_RTSP_PLAY_HANDLE handle, PlayRequest request, PlayTimings timings, PictureBudget& budget);
  ~RtspPlay();
  RtspPlay(const RtspPlay&) = delete;
  RtspPlay& operator=(const RtspPlay&) = delete;

  void Start();
  // Ends the thread; when it returns no callback runs or will run. Called from
  // the play's own thread (inside the callback) it only asks the thread to end.
  void Stop();

  // Connections made so far (the first one included).
  int connections() const { return connections_.load(); }
  // The most bytes the play has held at once (a picture being assembled and
  // the frames held for the description).
  long long peak_buffered_bytes() const { return peak_buffered_.load(); }

 private:
  void Run();
  // One connection: open, describe, deliver until the stream ends or fails.
  void PlayOnce();
  bool Stopping() const { return stop_.load(std::memory_order_relaxed); }
  static int InterruptCallback(void* opaque);
  // Called when the connection being opened makes its first I/O: no further
  // TCP connection may be opened for it (see rtsp_play.cpp).
  bool RestrictToOneConnection();
  // The timestamp the first packet of a connection gets: 40 on the first
  // connection, later the last delivered timestamp plus the time since it.
  long long ConnectionOrigin() const;

  const ZQ_RTSP_PLAY_HANDLE handle_;
  const PlayRequest request_;
  const PlayTimings timings_;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::atomic<long long> peak_buffered_{0};
  // This play's part of the budget the plays share.
  PictureBudget::Share share_;
  // The context being opened, and whether its connection is still to be restricted.
  AVFormatContext* opening_ = nullptr;
  std::atomic<bool> restrict_pending_{false};
  std::atomic<bool> restrict_failed_{false};
  // The last timestamp delivered and when (the play's thread only).
  long long last_timestamp_ms_ = -1;
  std::chrono::steady_clock::time_point last_delivery_{};
  std::atomic<long long> deadline_ns_{0};
  std::mutex wait_mutex_;
  std::condition_variable wait_cv_;
  std::thread thread_;
};

}  // namespace zq_rtsp
