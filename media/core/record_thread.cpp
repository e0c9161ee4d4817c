#include "record_thread.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "common/debug_log.h"
#include "common/folder_functions.h"
#include "media/core/record_files.h"

namespace kelvara::media {

namespace {
std::uint64_t SteadyMs() {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}
}  // namespace

CRecordThread::CRecordThread(RecordOptions options)
    : options_(std::move(options)),
      sink_(options_.sink != nullptr ? *options_.sink : RivelinSink()),
      base_folder_(options_.base_folder.empty() ? GetCommonDocumentsFolder() : options_.base_folder) {
  std::memset(&info_, 0, sizeof info_);
}

CRecordThread::~CRecordThread() { Stop(); }

std::uint64_t CRecordThread::Now() const { return options_.now_ms ? options_.now_ms() : SteadyMs(); }

int CRecordThread::Start(const std::string& deviceName, const MEDIA_STREAM_INFO* info, int mode, int keyFrameOnly) {
  {
    std::lock_guard lock(mutex_);
    if (run_ || (armed_ && mode_ > 1)) return 0;  // already recording
    if (info == nullptr || info->hasVideo == 0) return -1;
    device_name_ = deviceName;
    key_frame_only_ = keyFrameOnly > 0;
    std::memcpy(&info_, info, sizeof info_);
    mode_ = mode;
    failed_ = false;
    failure_.clear();
    if (mode > 1) {
      armed_ = true;  // frames are kept for pre-recording until a file starts
      return 0;
    }
  }
  return OpenFile();
}

int CRecordThread::OpenFile() {
  {
    std::lock_guard lock(mutex_);
    if (run_) {  // the worker owns the file: it opens or extends it
      open_requested_ = true;
      wake_.notify_all();
      return 0;
    }
  }
  if (!OpenFileLocked()) return -1;
  std::lock_guard lock(mutex_);
  run_ = true;
  try {
    worker_ = std::thread([this] { Worker(); });
  } catch (const std::system_error&) {
    run_ = false;
    accepting_ = false;
    return -1;
  }
  return 0;
}

bool CRecordThread::OpenFileLocked() {
  if (handle_ != 0) {
    if (mode_ == 2 || mode_ == 3) file_start_tick_ = Now();  // the recording is extended
    return true;
  }
  const std::tm now = LocalNow();
  const std::filesystem::path folder = RecordFolder(base_folder_, device_name_, now);
  if (folder.empty()) return false;
  const bool with_audio = info_.hasAudio != 0;
  const std::string stem = TimeStem(now) + (with_audio ? "--av-" : "--vv-") + std::to_string(mode_);
  const std::filesystem::path path = CreateUniqueFile(folder, stem, ".mp4");
  if (path.empty()) return false;
  const long handle = sink_.Create(path.string(), info_, with_audio, options_.file_limit_s);
  if (handle < 1) {
    std::error_code ec;
    std::filesystem::remove(path, ec);  // the reserved name
    return false;
  }
  handle_ = handle;
  got_key_frame_ = false;
  file_start_tick_ = Now();
  video_frames_written_ = 0;
  std::lock_guard lock(mutex_);
  accepting_ = true;
  files_.push_back(path);
  return true;
}

void CRecordThread::CloseFile() {
  if (handle_ != 0) sink_.Close(handle_);
  handle_ = 0;
  video_frames_written_ = 0;
  first_write_tick_ = 0;
}

bool CRecordThread::NextSegment() {
  CloseFile();
  if (OpenFileLocked()) return true;
  Fail("the next file cannot be created");
  return false;
}

void CRecordThread::Fail(const std::string& reason) {
  CloseFile();
  std::function<void(const std::string&)> callback;
  {
    std::lock_guard lock(mutex_);
    if (failed_) return;
    failed_ = true;
    accepting_ = false;
    armed_ = false;
    failure_ = reason;
    queue_.clear();
    queued_bytes_ = 0;
    queued_video_ = queued_audio_ = 0;
    callback = on_failure_;
  }
  DebugLogPrintf("Record %s stopped: %s\n", device_name_.c_str(), reason.c_str());
  if (callback) callback(reason);
}

int CRecordThread::Stop() {
  {
    std::lock_guard lock(mutex_);
    run_ = false;
    armed_ = false;
    wake_.notify_all();
  }
  if (worker_.joinable()) worker_.join();
  CloseFile();
  std::lock_guard lock(mutex_);
  accepting_ = false;
  queue_.clear();
  queued_bytes_ = 0;
  queued_video_ = queued_audio_ = 0;
  return 0;
}

void CRecordThread::Worker() {
  for (;;) {
    std::deque<tagRecordMediaData> batch;
    bool open = false, last = false;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return !run_ || open_requested_ || (!queue_.empty() && (accepting_ || handle_ != 0)); });
      open = open_requested_;
      open_requested_ = false;
      last = !run_;
      // Without a file (pre-recording in modes 2 and 3) the queue stays for the next file.
      if (accepting_ || open) {
        batch.swap(queue_);
        queued_bytes_ = 0;
        queued_video_ = queued_audio_ = 0;
      }
    }
    if (open && !OpenFileLocked()) Fail("the file cannot be created");
    WriteQueued(batch);
    if (last) return;
  }
}

void CRecordThread::WriteQueued(std::deque<tagRecordMediaData>& batch) {
  for (auto it = batch.begin(); it != batch.end(); ++it) {
    tagRecordMediaData& f = *it;
    if (failed()) return;
    if (f.type == 0 && WriteVideo(f) == VideoOutcome::kSegmentClosed) {
      // Modes 2 and 3 between two files: what the batch still holds, from
      // the key frame that ended the segment, is kept as pre-recording.
      std::lock_guard lock(mutex_);
      for (auto r = batch.end(); r != it;) {
        --r;
        (r->type == 1 ? queued_audio_ : queued_video_) += 1;
        queued_bytes_ += static_cast<std::size_t>(r->length);
        queue_.push_front(std::move(*r));
      }
      accepting_ = false;
      dropping_ = false;
      TrimPreRecord();
      return;
    }
    if (f.type == 1) {
      if (!got_key_frame_ || key_frame_only_ || handle_ == 0) continue;
      const int r = sink_.Write(handle_, 0, f.data.get(), static_cast<unsigned long>(f.length), f.keyFrame,
                                f.timestampMs);
      if (r == kMp4FileFull) NextSegment();  // the new file waits for a key frame
      else if (r < 0 && r != kMp4BadTimestamp && r != kMp4NotReady)
        Fail("the writer failed (" + std::to_string(r) + ")");
    }
  }
}

bool CRecordThread::failed() const {
  std::lock_guard lock(mutex_);
  return failed_;
}

CRecordThread::VideoOutcome CRecordThread::WriteVideo(tagRecordMediaData& f) {
  const bool key = f.keyFrame != 0;
  if (key && handle_ != 0) {
    // A file lasts from its start tick until the first key frame after the
    // segment time.
    if (Now() - file_start_tick_ > static_cast<std::uint64_t>(options_.segment_s) * 1000u) {
      if (mode_ == 2 || mode_ == 3) {
        CloseFile();
        return VideoOutcome::kSegmentClosed;
      }
      if (!NextSegment()) return VideoOutcome::kDone;
    }
  }
  if (key) got_key_frame_ = true;
  if (!got_key_frame_ || (key_frame_only_ && !key)) return VideoOutcome::kDone;
  if (first_write_tick_ == 0) first_write_tick_ = Now();
  if (handle_ == 0) return VideoOutcome::kDone;
  for (int attempt = 0; attempt < 2; ++attempt) {
    // Time-lapse files count 40 ms per key frame, from 40 (0 is refused).
    const double ts = key_frame_only_ ? (video_frames_written_ + 1) * 40.0 : f.timestampMs;
    const int r = sink_.Write(handle_, 1, f.data.get(), static_cast<unsigned long>(f.length), f.keyFrame, ts);
    if (r == 0) {
      ++video_frames_written_;
      return VideoOutcome::kDone;
    }
    if (r == kMp4BadTimestamp || r == kMp4NotReady) return VideoOutcome::kDone;  // this frame only
    if (r != kMp4FileFull) {
      Fail("the writer failed (" + std::to_string(r) + ")");
      return VideoOutcome::kDone;
    }
    // The file is full: the next segment starts at once; a key frame begins it.
    if (!NextSegment()) return VideoOutcome::kDone;
    if (!key) return VideoOutcome::kDone;
    got_key_frame_ = true;
  }
  return VideoOutcome::kDone;
}



bool CRecordThread::QueueFull(const tagRecordMediaData& incoming) const {
  if (queued_bytes_ + static_cast<std::size_t>(incoming.length) > options_.max_queue_bytes) return true;
  return !queue_.empty() && incoming.timestampMs - queue_.front().timestampMs > options_.max_queue_ms;
}

void CRecordThread::PushFrame(int type, const unsigned char* data, int length, int keyFrame, double timestampMs) {
  if ((type != 0 && type != 1) || data == nullptr || length <= 0) return;
  std::lock_guard lock(mutex_);
  if (failed_ || !(accepting_ || (armed_ && mode_ > 1))) return;
  tagRecordMediaData f;
  f.type = type;
  f.length = length;
  f.keyFrame = keyFrame;
  f.timestampMs = timestampMs;
  if (accepting_) {
    if (dropping_) {
      // Resume only at a key frame, with room in the queue.
      if (type != 0 || keyFrame == 0 || QueueFull(f)) {
        ++dropped_;
        return;
      }
      dropping_ = false;
    } else if (QueueFull(f)) {
      dropping_ = true;
      ++dropped_;
      if (!drop_logged_) {
        drop_logged_ = true;
        DebugLogPrintf("Record %s: the disk does not keep up, frames dropped up to the next key frame\n",
                       device_name_.c_str());
      }
      return;
    }
  }
  const std::size_t size = (static_cast<std::size_t>(length) + 16 + 1023) / 1024 * 1024;
  f.data.reset(new (std::nothrow) unsigned char[size]());
  if (!f.data) return;
  std::memcpy(f.data.get(), data, static_cast<std::size_t>(length));
  if (type == 1) {
    ++queued_audio_;
    last_audio_length_ = length;
  } else {
    ++queued_video_;
  }
  queued_bytes_ += static_cast<std::size_t>(length);
  queue_.push_back(std::move(f));
  if (!accepting_) TrimPreRecord();
  wake_.notify_one();
}

void CRecordThread::TrimPreRecord() {
  const int fps = info_.video.framerate > 0 ? static_cast<int>(info_.video.framerate) : 25;
  const int max_video = std::max(0, fps * options_.pre_record_s - 1);
  int max_audio = -1;
  if (last_audio_length_ > 0 && info_.audio.sampleRate > 0) {
    const int packet_ms = static_cast<int>(static_cast<long long>(last_audio_length_) * 1000 / info_.audio.sampleRate);
    if (packet_ms > 0) max_audio = options_.pre_record_s * 1000 / packet_ms;
  }
  auto drop_head = [this] {
    tagRecordMediaData& h = queue_.front();
    int& count = h.type == 1 ? queued_audio_ : queued_video_;
    count = std::max(0, count - 1);
    queued_bytes_ -= static_cast<std::size_t>(h.length);
    queue_.pop_front();
  };
  while (!queue_.empty() && (queued_video_ > max_video || (max_audio >= 0 && queued_audio_ > max_audio))) drop_head();
  while (!queue_.empty() && !(queue_.front().type == 0 && queue_.front().keyFrame != 0) && queued_video_ > 0)
    drop_head();
}

bool CRecordThread::IsRunning() const {
  std::lock_guard lock(mutex_);
  return !failed_ && (accepting_ || (armed_ && mode_ > 1));
}

std::string CRecordThread::FailureReason() const {
  std::lock_guard lock(mutex_);
  return failure_;
}

void CRecordThread::SetFailureCallback(std::function<void(const std::string&)> callback) {
  std::lock_guard lock(mutex_);
  on_failure_ = std::move(callback);
}

std::vector<std::filesystem::path> CRecordThread::Files() const {
  std::lock_guard lock(mutex_);
  return files_;
}

std::uint64_t CRecordThread::DroppedFrames() const {
  std::lock_guard lock(mutex_);
  return dropped_;
}

}  // namespace kelvara::media
