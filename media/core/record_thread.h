#pragma once
// CRecordThread: records one live view's stream into MP4 segments. The stream
// thread queues copies of frames (PushFrame); a worker writes them. The queue
// lock is held only to add a frame or to take the whole queue, never while the
// disk is written, so the stream thread never waits for the disk.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/core/mp4_sink.h"
#include "rivelin.h"

namespace kelvara::media {

// One queued frame; data is a copy owned by the entry.
struct tagRecordMediaData {
  int type = 0;  // 0 video, 1 audio
  int length = 0;
  int keyFrame = 0;
  double timestampMs = 0;
  std::unique_ptr<unsigned char[]> data;
};

struct RecordOptions {
  std::filesystem::path base_folder;  // empty: the common documents folder
  int pre_record_s = 2;
  int segment_s = 600;
  long file_limit_s = 1800;  // the writer's limit for one file
  // The queue's bounds: when the disk cannot keep up, frames are dropped up to
  // the next key frame instead of growing memory without end.
  std::size_t max_queue_bytes = 64u << 20;
  int max_queue_ms = 10000;
  std::function<std::uint64_t()> now_ms;  // steady milliseconds; empty: the system clock
  Mp4Sink* sink = nullptr;                // empty: Rivelin
};

class CRecordThread {
 public:
  explicit CRecordThread(RecordOptions options = {});
  ~CRecordThread();
  CRecordThread(const CRecordThread&) = delete;
  CRecordThread& operator=(const CRecordThread&) = delete;

  // -1 without video, when the file cannot be made or the worker not started;
  // modes above 1 only arm pre-recording. Once running, a further Start
  // changes nothing and returns 0.
  int Start(const std::string& deviceName, const MEDIA_STREAM_INFO* info, int mode, int keyFrameOnly);
  void PushFrame(int type, const unsigned char* data, int length, int keyFrame, double timestampMs);
  // Ends the worker (it writes what is queued first) and closes the file.
  int Stop();
  // Modes 2 and 3: a file starts (or the running one is extended).
  int OpenFile();

  // Running: started and not stopped by a failure.
  bool IsRunning() const;
  bool KeyFrameOnly() const { return key_frame_only_; }
  // Why the recording stopped by itself (empty while it runs or after Stop).
  std::string FailureReason() const;
  // Called once, on the worker thread, when the recording stops by itself.
  void SetFailureCallback(std::function<void(const std::string& reason)> callback);
  // Files made so far, in order.
  std::vector<std::filesystem::path> Files() const;
  std::uint64_t DroppedFrames() const;

 private:
  void Worker();
  void WriteQueued(std::deque<tagRecordMediaData>& batch);
  // kSegmentClosed: modes 2 and 3 closed the file at the end of a segment.
  enum class VideoOutcome { kDone, kSegmentClosed };
  VideoOutcome WriteVideo(tagRecordMediaData& frame);
  bool OpenFileLocked();  // worker or not-yet-running only
  void CloseFile();
  bool NextSegment();
  void Fail(const std::string& reason);
  bool failed() const;
  void TrimPreRecord();
  std::uint64_t Now() const;
  bool QueueFull(const tagRecordMediaData& incoming) const;

  RecordOptions options_;
  Mp4Sink& sink_;
  std::filesystem::path base_folder_;
  std::string device_name_;
  MEDIA_STREAM_INFO info_{};
  int mode_ = 0;
  bool key_frame_only_ = false;

  // Worker-owned file state (the UI thread touches it only before the worker
  // starts and after it has ended).
  long handle_ = 0;
  bool got_key_frame_ = false;
  std::uint64_t file_start_tick_ = 0;
  std::uint64_t first_write_tick_ = 0;
  int video_frames_written_ = 0;

  mutable std::mutex mutex_;  // the queue and the flags below
  std::condition_variable wake_;
  std::deque<tagRecordMediaData> queue_;
  std::size_t queued_bytes_ = 0;
  int queued_video_ = 0, queued_audio_ = 0, last_audio_length_ = 0;
  bool run_ = false;
  bool accepting_ = false;  // a recording runs: frames are queued for the file
  bool armed_ = false;      // modes 2 and 3: frames are kept for pre-recording
  bool open_requested_ = false;
  bool dropping_ = false;
  bool drop_logged_ = false;
  bool failed_ = false;
  std::string failure_;
  std::function<void(const std::string&)> on_failure_;
  std::vector<std::filesystem::path> files_;
  std::uint64_t dropped_ = 0;
  std::thread worker_;
};

}  // namespace kelvara::media
