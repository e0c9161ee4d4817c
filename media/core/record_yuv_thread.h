#pragma once
// CRecordYuvThread: dumps a live view's received elementary stream (H.264 or
// H.265 as it arrives) or its decoded pictures (planar I420) into plain files.
// Like the MP4 recorder: the pushing thread only queues a copy, a worker
// writes outside the queue lock, the queue is bounded, names never collide and
// a write error stops the dump visibly.
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kelvara::media {

struct MediaBufferStruct {
  int length = 0;
  int kind = 0;  // stream frames: key flag; pictures: 1
  double timestamp = 0.0;
  std::unique_ptr<unsigned char[]> data;
};

struct RecordYuvOptions {
  std::filesystem::path base_folder;  // empty: the common documents folder
  std::size_t max_queue_bytes = 256u << 20;
  // Called on the worker before each frame is written (tests stall the disk here).
  std::function<void()> before_write;
};

class CRecordYuvThread {
 public:
  // format: 0 YUV pictures, 1 H.264 stream, 2 H.265 stream, other raw data.
  explicit CRecordYuvThread(int format, RecordYuvOptions options = {});
  ~CRecordYuvThread();
  CRecordYuvThread(const CRecordYuvThread&) = delete;
  CRecordYuvThread& operator=(const CRecordYuvThread&) = delete;

  int Start(const std::string& deviceName, int width, int height);
  void PushFrame(const unsigned char* data, int length, int kind, int width, int height);
  void Stop();

  bool IsRunning() const;
  std::string FailureReason() const;
  void SetFailureCallback(std::function<void(const std::string& reason)> callback);
  std::vector<std::filesystem::path> Files() const;
  int format() const { return format_; }
  // Frames per file before the next one starts.
  int FrameLimit() const { return format_ == 0 ? 1000 : 3000; }

  // I420 of width x height from a decoded picture buffer (four words: luma
  // stride, first and second chroma stride, 0; then Y, the second chroma
  // plane, the first chroma plane). Empty when the buffer is too short.
  static std::vector<unsigned char> AssembleI420(const unsigned char* data, int length, int width, int height);

 private:
  void Worker();
  bool OpenFile();
  void CloseFile();
  void WriteFrame(const unsigned char* data, std::size_t length);
  void Fail(const std::string& reason);

  const int format_;
  RecordYuvOptions options_;
  std::filesystem::path base_folder_;
  std::string device_name_;
  int width_ = 0, height_ = 0;

  // Worker-owned (the UI thread touches them only before the worker starts and after it ended).
  std::FILE* file_ = nullptr;
  int frames_written_ = 0;
  bool got_key_frame_ = false;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<MediaBufferStruct> queue_;
  std::size_t queued_bytes_ = 0;
  bool run_ = false;
  bool failed_ = false;
  bool drop_logged_ = false;
  bool dropping_ = false;  // frames were dropped: wait for a key frame
  std::string failure_;
  std::function<void(const std::string&)> on_failure_;
  std::vector<std::filesystem::path> files_;
  std::thread worker_;
};

}  // namespace kelvara::media
