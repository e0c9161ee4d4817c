#include "record_yuv_thread.h"

#include <cstring>

#include "common/debug_log.h"
#include "common/folder_functions.h"
#include "media/core/record_files.h"

namespace kelvara::media {

CRecordYuvThread::CRecordYuvThread(int format, RecordYuvOptions options)
    : format_(format),
      options_(std::move(options)),
      base_folder_(options_.base_folder.empty() ? GetCommonDocumentsFolder() : options_.base_folder) {}

CRecordYuvThread::~CRecordYuvThread() { Stop(); }

int CRecordYuvThread::Start(const std::string& deviceName, int width, int height) {
  {
    std::lock_guard lock(mutex_);
    if (run_) return 0;
    device_name_ = deviceName;
    width_ = width;
    height_ = height;
    failed_ = false;
    failure_.clear();
  }
  if (!OpenFile()) return -1;
  std::lock_guard lock(mutex_);
  run_ = true;
  try {
    worker_ = std::thread([this] { Worker(); });
  } catch (const std::system_error&) {
    run_ = false;
    CloseFile();
    return -1;
  }
  return 0;
}

bool CRecordYuvThread::OpenFile() {
  const char* ext = format_ == 0 ? "YUV" : format_ == 1 ? "H264" : format_ == 2 ? "H265" : "dat";
  const std::tm now = LocalNow();
  const std::filesystem::path folder = RecordFolder(base_folder_, device_name_, now);
  if (folder.empty()) return false;
  const std::string stem = std::string(ext) + "_" + TimeStem(now) + "-" + std::to_string(static_cast<unsigned>(width_)) +
                           "X" + std::to_string(static_cast<unsigned>(height_));
  const std::filesystem::path path = CreateUniqueFile(folder, stem, std::string(".") + ext);
  if (path.empty()) return false;
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) return false;
  frames_written_ = 0;
  got_key_frame_ = false;
  std::lock_guard lock(mutex_);
  files_.push_back(path);
  return true;
}

void CRecordYuvThread::CloseFile() {
  if (file_ != nullptr) {
    if (std::fclose(file_) != 0) {
      file_ = nullptr;
      Fail("the file cannot be completed");
    }
    file_ = nullptr;
  }
  frames_written_ = 0;
  got_key_frame_ = false;
}

void CRecordYuvThread::Fail(const std::string& reason) {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  std::function<void(const std::string&)> callback;
  {
    std::lock_guard lock(mutex_);
    if (failed_) return;
    failed_ = true;
    failure_ = reason;
    queue_.clear();
    queued_bytes_ = 0;
    callback = on_failure_;
  }
  DebugLogPrintf("Dump %s stopped: %s\n", device_name_.c_str(), reason.c_str());
  if (callback) callback(reason);
}

void CRecordYuvThread::Stop() {
  {
    std::lock_guard lock(mutex_);
    run_ = false;
    wake_.notify_all();
  }
  if (worker_.joinable()) worker_.join();
  CloseFile();
  std::lock_guard lock(mutex_);
  queue_.clear();
  queued_bytes_ = 0;
}

void CRecordYuvThread::PushFrame(const unsigned char* data, int length, int kind, int, int) {
  if (data == nullptr || length <= 0) return;
  std::lock_guard lock(mutex_);
  if (!run_ || failed_) return;
  // After a drop a stream dump resumes only at a key frame, so what follows
  // the gap decodes; pictures stand alone.
  if (dropping_ && format_ != 0 && kind <= 0) return;
  if (queued_bytes_ + static_cast<std::size_t>(length) > options_.max_queue_bytes) {
    dropping_ = true;
    if (!drop_logged_) {
      drop_logged_ = true;
      DebugLogPrintf("Dump %s: the disk does not keep up, frames dropped\n", device_name_.c_str());
    }
    return;
  }
  MediaBufferStruct b;
  b.length = length;
  b.kind = kind;
  const std::size_t size = (static_cast<std::size_t>(length) + 16 + 1023) / 1024 * 1024;
  b.data.reset(new (std::nothrow) unsigned char[size]());
  if (!b.data) return;
  std::memcpy(b.data.get(), data, static_cast<std::size_t>(length));
  dropping_ = false;
  queued_bytes_ += static_cast<std::size_t>(length);
  queue_.push_back(std::move(b));
  wake_.notify_one();
}

std::vector<unsigned char> CRecordYuvThread::AssembleI420(const unsigned char* data, int length, int width,
                                                         int height) {
  if (data == nullptr || width <= 0 || height <= 0 || length < 16) return {};
  std::uint32_t words[4];
  std::memcpy(words, data, sizeof words);
  const std::size_t ys = words[0], c1 = words[1], c2 = words[2];
  const std::size_t w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
  if (ys < w || c1 < w / 2 || c2 < w / 2) return {};
  const std::size_t luma = ys * h, second = c1 * (h / 2), third = c2 * (h / 2);
  if (16 + luma + second + third > static_cast<std::size_t>(length)) return {};
  const unsigned char* y = data + 16;
  const unsigned char* p2 = y + luma;
  const unsigned char* p3 = p2 + second;
  std::vector<unsigned char> out;
  out.reserve(w * h * 3 / 2);
  for (std::size_t r = 0; r < h; ++r) out.insert(out.end(), y + r * ys, y + r * ys + w);
  for (std::size_t r = 0; r < h / 2; ++r) out.insert(out.end(), p3 + r * c1, p3 + r * c1 + w / 2);
  for (std::size_t r = 0; r < h / 2; ++r) out.insert(out.end(), p2 + r * c2, p2 + r * c2 + w / 2);
  return out;
}

void CRecordYuvThread::WriteFrame(const unsigned char* data, std::size_t length) {
  if (file_ == nullptr) return;
  if (std::fwrite(data, 1, length, file_) != length || std::fflush(file_) != 0) {
    Fail("the file cannot be written");
    return;
  }
  ++frames_written_;
}

void CRecordYuvThread::Worker() {
  for (;;) {
    std::deque<MediaBufferStruct> batch;
    bool last = false;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return !run_ || !queue_.empty(); });
      batch.swap(queue_);
      queued_bytes_ = 0;
      last = !run_;
    }
    for (MediaBufferStruct& b : batch) {
      {
        std::lock_guard lock(mutex_);
        if (failed_) return;
      }
      if (options_.before_write) options_.before_write();
      if (frames_written_ >= FrameLimit()) {
        CloseFile();
        if (!OpenFile()) {
          Fail("the next file cannot be created");
          return;
        }
      }
      if (format_ == 0) {
        const std::vector<unsigned char> picture = AssembleI420(b.data.get(), b.length, width_, height_);
        if (!picture.empty()) WriteFrame(picture.data(), picture.size());
      } else {
        if (b.kind > 0) got_key_frame_ = true;
        if (got_key_frame_) WriteFrame(b.data.get(), static_cast<std::size_t>(b.length));
      }
    }
    if (last) return;
  }
}

bool CRecordYuvThread::IsRunning() const {
  std::lock_guard lock(mutex_);
  return run_ && !failed_;
}

std::string CRecordYuvThread::FailureReason() const {
  std::lock_guard lock(mutex_);
  return failure_;
}

void CRecordYuvThread::SetFailureCallback(std::function<void(const std::string&)> callback) {
  std::lock_guard lock(mutex_);
  on_failure_ = std::move(callback);
}

std::vector<std::filesystem::path> CRecordYuvThread::Files() const {
  std::lock_guard lock(mutex_);
  return files_;
}

}  // namespace kelvara::media
