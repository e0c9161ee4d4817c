#pragma once
// Receives one device's system log from its TCP log port (9999) and hands
// every chunk, byte for byte, to the device's own log writer. It connects,
// sends the configured log command after each connect, reads until the link
// ends, and connects again with a growing pause while the device cannot be
// reached. The writer gets the receiver's own lines too, so the file shows
// every outage once.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "common/thread_class.h"
#include "device/core/log_writer.h"
#include "discovery/core/device_list_row.h"

namespace kelvara::device {

inline constexpr std::uint16_t kDeviceLogPort = 9999;

// The device's log folder: base folder / "<address with '_' for '.'>_<name>",
// the component made safe with the common sanitiser.
std::filesystem::path DeviceLogFolder(const std::filesystem::path& baseFolder, std::uint32_t addressNetOrder,
                                      const std::string& name);

class NetLogRecverThread : public CThreadClass, public discovery::RowResource {
 public:
  struct Options {
    LogWriterThread::Options writer;
    // Pause after a failed connect: doubled after each further failure.
    std::chrono::milliseconds firstRetry{1000};
    std::chrono::milliseconds maxRetry{10000};
    // How long one connect attempt may take before it counts as failed.
    std::chrono::milliseconds connectTimeout{5000};
  };

  // Starts the writer at once; the owner starts the receiver (Start).
  NetLogRecverThread(std::uint32_t addressNetOrder, std::uint16_t port, std::string name,
                     std::filesystem::path baseFolder);
  NetLogRecverThread(std::uint32_t addressNetOrder, std::uint16_t port, std::string name,
                     std::filesystem::path baseFolder, Options options);
  // Stops the receiving thread (within about 200 ms), then the writer, which
  // writes what is queued first.
  ~NetLogRecverThread() override;

  // A changed command is sent by the receiving thread: at once when
  // connected, else after the next connect. Any thread.
  void SetAutoCommand(const std::string& command);
  std::string AutoCommand() const;

  std::uint32_t GetIp() const { return address_; }
  std::uint16_t GetPort() const { return port_; }
  const std::string& GetName() const { return name_; }
  const std::filesystem::path& GetBaseDir() const { return base_; }
  std::filesystem::path GetLogFolder() const { return DeviceLogFolder(base_, address_, name_); }
  LogWriterThread& Writer() { return *writer_; }
  bool Connected() const { return connected_.load(); }
  void RequestStop() override { Stop(); }

 protected:
  int Thread() override;

 private:
  int TcpConnectThread();
  // A non-blocking connect, waited for in short slices that watch the stop
  // request. The connected socket, or -1 (errno_out set).
  int Connect(int& errno_out);
  // Sends "\r\n" + command + "\r\n" when there is a command, and notes the
  // outcome in the log.
  void SendAutoCommand(int fd, const std::string& command);
  void WriteText(const std::string& text);
  std::string Endpoint() const;

  const std::uint32_t address_;
  const std::uint16_t port_;
  const std::string name_;
  const std::filesystem::path base_;
  const Options options_;
  std::unique_ptr<LogWriterThread> writer_;
  mutable std::mutex command_mutex_;
  std::string command_;
  bool command_changed_ = false;  // to be sent by the receiving thread
  std::atomic<bool> connected_{false};
};

}  // namespace kelvara::device
