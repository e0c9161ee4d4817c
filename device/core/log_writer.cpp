#include "device/core/log_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "common/debug_log.h"

namespace kelvara::device {

LogWriterThread::LogWriterThread(std::filesystem::path folder) : LogWriterThread(std::move(folder), Options{}) {}

LogWriterThread::LogWriterThread(std::filesystem::path folder, Options options)
    : folder_(std::move(folder)), options_(std::move(options)) {
  if (!options_.now) options_.now = [] { return std::time(nullptr); };
  path_ = NewFilePath();
  SetThreadName("LogWriter_" + path_.filename().string());
}

LogWriterThread::~LogWriterThread() {
  {
    std::lock_guard lock(queue_mutex_);
    accepting_ = false;
  }
  wake_.notify_all();
  // The body drains the queue before it returns.
  StopAndWait();
}

std::string LogWriterThread::FileNameFor(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char name[40];
  std::snprintf(name, sizeof name, "%04d%02d%02d_%02d%02d%02d.log", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
  return name;
}

// A name from the current time; when a file of that name exists already (two
// files started in one second), a numeric suffix keeps the earlier one whole.
std::filesystem::path LogWriterThread::NewFilePath() const {
  const std::string name = FileNameFor(options_.now());
  std::filesystem::path p = folder_ / name;
  std::error_code ec;
  for (int n = 1; std::filesystem::exists(p, ec) && n < 1000; ++n) {
    p = folder_ / (name.substr(0, name.size() - 4) + "_" + std::to_string(n) + ".log");
  }
  return p;
}

std::filesystem::path LogWriterThread::CurrentPath() const {
  std::lock_guard lock(path_mutex_);
  return path_;
}

std::uint64_t LogWriterThread::DroppedBytes() const {
  std::lock_guard lock(queue_mutex_);
  return dropped_bytes_;
}

std::uint64_t LogWriterThread::WrittenBytes() const {
  std::lock_guard lock(queue_mutex_);
  return written_bytes_;
}

std::size_t LogWriterThread::QueuedBytes() const {
  std::lock_guard lock(queue_mutex_);
  return queued_bytes_;
}

void LogWriterThread::Write(std::string_view bytes, bool wakeNow) {
  if (bytes.empty()) return;
  bool wake = false;
  {
    std::lock_guard lock(queue_mutex_);
    if (!accepting_) return;
    if (spare_.empty()) {
      queue_.emplace_back(bytes);
    } else {
      // A written text's storage again: no fresh pages for every text.
      queue_.push_back(std::move(spare_.back()));
      spare_.pop_back();
      queue_.back().assign(bytes);
    }
    queued_bytes_ += bytes.size();
    // Only a failing disk lets the queue grow: the oldest texts go first.
    while (queued_bytes_ > options_.queueLimitBytes && queue_.size() > 1) {
      queued_bytes_ -= queue_.front().size();
      dropped_bytes_ += queue_.front().size();
      queue_.pop_front();
    }
    wake = wakeNow || queued_bytes_ >= kWakeBytes;
  }
  if (wake) wake_.notify_one();
}

void LogWriterThread::Report(const std::string& message) {
  DebugLogPrintf("LogWriterThread %s: %s", folder_.string().c_str(), message.c_str());
  if (options_.onError) options_.onError(message);
}

bool LogWriterThread::WriteBatch(std::deque<std::string>& batch, std::size_t& written) {
  written = 0;
  std::error_code ec;
  std::filesystem::create_directories(folder_, ec);
  std::filesystem::path path = CurrentPath();
  std::uintmax_t size = 0;
  int fd = -1;
  auto fail = [&](const char* what, int error) {
    if (fd >= 0) ::close(fd);
    if (!failing_) Report(std::string(what) + " " + path.string() + ": " + std::strerror(error));
    failing_ = true;
    return false;
  };
  while (!batch.empty()) {
    if (fd >= 0 && size > kRollOverBytes) {
      // The file is full: the next text starts a new one.
      ::close(fd);
      fd = -1;
      path = NewFilePath();
      std::lock_guard lock(path_mutex_);
      path_ = path;
    }
    if (fd < 0) {
      fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0644);
      if (fd < 0) return fail("cannot open", errno);
      struct stat st {};
      size = ::fstat(fd, &st) == 0 ? static_cast<std::uintmax_t>(st.st_size) : 0;
      if (size > kRollOverBytes) continue;  // a full file found at start: roll over first
    }
    std::string& text = batch.front();
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        const int error = n < 0 ? errno : ENOSPC;
        // What reached the file stays; the rest waits for the next try.
        text.erase(0, done);
        written += done;
        return fail("cannot write", error);
      }
      done += static_cast<std::size_t>(n);
    }
    size += done;
    written += done;
    if (keep_.size() < kSpareTexts) keep_.push_back(std::move(text));
    batch.pop_front();
  }
  if (fd >= 0) ::close(fd);
  if (failing_) Report("writing again to " + path.string());
  failing_ = false;
  return true;
}

int LogWriterThread::Thread() {
  std::unique_lock lock(queue_mutex_);
  std::deque<std::string> batch;
  for (;;) {
    // Wait for work, for the owner's stop, or at most 100 ms.
    wake_.wait_for(lock, std::chrono::milliseconds(100),
                   [this] { return !queue_.empty() || !accepting_ || !IsRunning(); });
    const bool stopping = !accepting_ || !IsRunning();
    bool failed = false;
    while (!queue_.empty()) {
      // Everything queued goes in one pass over one open file.
      batch.swap(queue_);
      lock.unlock();
      std::size_t written = 0;
      const bool ok = WriteBatch(batch, written);
      lock.lock();
      for (auto& t : keep_)
        if (spare_.size() < kSpareTexts) spare_.push_back(std::move(t));
      keep_.clear();
      queued_bytes_ -= written;
      written_bytes_ += written;
      if (!ok) {
        // The unwritten texts go back in front, in order, to be tried again.
        while (!batch.empty()) {
          queue_.push_front(std::move(batch.back()));
          batch.pop_back();
        }
        failed = true;
        break;
      }
    }
    if (stopping) {
      if (failed && !queue_.empty()) {
        const std::size_t lost = queued_bytes_;
        dropped_bytes_ += lost;
        lock.unlock();
        Report("stopped with " + std::to_string(lost) + " bytes not written");
      }
      return 0;
    }
    if (failed) wake_.wait_for(lock, options_.retryAfterError, [this] { return !accepting_ || !IsRunning(); });
  }
}

}  // namespace kelvara::device
