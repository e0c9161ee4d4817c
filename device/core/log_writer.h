#pragma once
// Appends one device's log to files in its log folder, on a thread of its
// own, so the thread that receives the log never touches the disk. A file is
// named by the local time it was started ("YYYYMMDD_HHMMSS.log"); the next
// text after the file has passed 10,485,759 bytes starts a new one. Bytes are
// stored exactly as they came, zero bytes included.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/thread_class.h"

namespace kelvara::device {

class LogWriterThread : public CThreadClass {
 public:
  // A file holding more than this starts a new one at the next text.
  static constexpr std::uintmax_t kRollOverBytes = 0x9FFFFF;
  // Texts waiting for the disk are kept up to this many bytes; past it the
  // oldest are dropped and counted. The receiver stops reading long before
  // (kReadPauseBytes), so only a producer that ignores it can reach this.
  static constexpr std::size_t kDefaultQueueLimitBytes = 64u << 20;
  // A producer pauses while this much waits for the disk.
  static constexpr std::size_t kReadPauseBytes = 8u << 20;
  // Texts written without wakeNow wake the writer once this much waits.
  static constexpr std::size_t kWakeBytes = 256u << 10;

  using Clock = std::function<std::time_t()>;
  // Told once per failure streak (folder cannot be made, file cannot be
  // written), on the writer's thread.
  using ErrorReport = std::function<void(const std::string& message)>;

  struct Options {
    Clock now;  // local time source for file names; the system clock when empty
    ErrorReport onError;
    std::size_t queueLimitBytes = kDefaultQueueLimitBytes;
    std::chrono::milliseconds retryAfterError{1000};
  };

  explicit LogWriterThread(std::filesystem::path folder);
  LogWriterThread(std::filesystem::path folder, Options options);
  // Writes what is still queued (as far as the disk takes it), then ends.
  ~LogWriterThread() override;

  // Queues the bytes and returns at once; nothing after Stop or for empty text.
  // With `wakeNow` false the writer is woken only once kWakeBytes wait (a
  // producer that knows more follows at once); otherwise it is woken now.
  void Write(std::string_view bytes, bool wakeNow = true);

  const std::filesystem::path& Folder() const { return folder_; }
  std::filesystem::path CurrentPath() const;
  // Bytes dropped because the queue was full while the disk failed.
  std::uint64_t DroppedBytes() const;
  // Texts still waiting (for tests and the benchmark).
  std::size_t QueuedBytes() const;
  // Bytes written to files so far (for the benchmark).
  std::uint64_t WrittenBytes() const;

  // "YYYYMMDD_HHMMSS.log" of a local time.
  static std::string FileNameFor(std::time_t t);

 protected:
  int Thread() override;

 private:
  // Appends the texts in order to the current file, starting a new one when
  // the current has passed the limit before a text. False when the folder or
  // file could not be written: `batch` then holds what is left (the first
  // text without its written part); `written` counts the bytes written.
  bool WriteBatch(std::deque<std::string>& batch, std::size_t& written);
  std::filesystem::path NewFilePath() const;
  void Report(const std::string& message);

  const std::filesystem::path folder_;
  Options options_;
  mutable std::mutex queue_mutex_;
  std::condition_variable wake_;
  std::deque<std::string> queue_;
  // Written texts kept for their storage (under queue_mutex_), and those of
  // the pass in progress (writer thread only).
  static constexpr std::size_t kSpareTexts = 8;
  std::vector<std::string> spare_;
  std::vector<std::string> keep_;
  std::size_t queued_bytes_ = 0;
  std::uint64_t dropped_bytes_ = 0;
  std::uint64_t written_bytes_ = 0;
  bool accepting_ = true;  // false once the owner stops the writer
  // Writer thread only, except path_ which CurrentPath reads under path_mutex_.
  mutable std::mutex path_mutex_;
  std::filesystem::path path_;
  bool failing_ = false;
};

}  // namespace kelvara::device
