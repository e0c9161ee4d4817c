#include "device/core/net_log_receiver.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string_view>
#include <vector>

#include "common/debug_log.h"
#include "common/path_component.h"

namespace kelvara::device {

namespace {

constexpr int kSliceMs = 200;
// One read takes up to this much; the kernel wakes the receiver only once
// kWakeBytes wait in the socket (or the link ends), and a wait that times out
// takes whatever has come. A slow log is then read a few times a second in
// one piece, not once per packet, and the writer is woken once per piece.
constexpr std::size_t kChunkBytes = 64 * 1024;
constexpr int kWakeBytes = 32 * 1024;
constexpr int kBurstEndMs = 10;

std::string Dotted(std::uint32_t addressNetOrder) {
  in_addr a{};
  a.s_addr = addressNetOrder;
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

}  // namespace

std::filesystem::path DeviceLogFolder(const std::filesystem::path& baseFolder, std::uint32_t addressNetOrder,
                                      const std::string& name) {
  std::string address = Dotted(addressNetOrder);
  std::replace(address.begin(), address.end(), '.', '_');
  return baseFolder / SanitizePathComponent(address + "_" + name);
}

NetLogRecverThread::NetLogRecverThread(std::uint32_t addressNetOrder, std::uint16_t port, std::string name,
                                       std::filesystem::path baseFolder)
    : NetLogRecverThread(addressNetOrder, port, std::move(name), std::move(baseFolder), Options{}) {}

NetLogRecverThread::NetLogRecverThread(std::uint32_t addressNetOrder, std::uint16_t port, std::string name,
                                       std::filesystem::path baseFolder, Options options)
    : address_(addressNetOrder), port_(port), name_(std::move(name)), base_(std::move(baseFolder)),
      options_(std::move(options)) {
  SetThreadName("slog_" + Dotted(address_) + "_" + name_);
  writer_ = std::make_unique<LogWriterThread>(GetLogFolder(), options_.writer);
  writer_->Start();
}

NetLogRecverThread::~NetLogRecverThread() {
  // The receiving thread ends before the writer it writes to goes.
  StopAndWait();
  writer_.reset();
}

std::string NetLogRecverThread::Endpoint() const { return Dotted(address_) + ":" + std::to_string(port_); }

void NetLogRecverThread::SetAutoCommand(const std::string& command) {
  std::lock_guard lock(command_mutex_);
  if (command == command_) return;
  command_ = command;
  command_changed_ = true;
}

std::string NetLogRecverThread::AutoCommand() const {
  std::lock_guard lock(command_mutex_);
  return command_;
}

void NetLogRecverThread::WriteText(const std::string& text) {
  if (!text.empty()) writer_->Write(text);
}

void NetLogRecverThread::SendAutoCommand(int fd, const std::string& command) {
  if (command.empty()) return;
  const std::string line = "\r\n" + command + "\r\n";
  std::size_t sent = 0;
  for (int tries = 0; sent < line.size() && tries < 10000 && IsRunning(); ++tries) {
    const ssize_t n = ::send(fd, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      pollfd p{fd, POLLOUT, 0};
      ::poll(&p, 1, kSliceMs);
    } else {
      DebugLogPrintf("NetLogRecverThread %s: send buffer error", Endpoint().c_str());
      break;
    }
  }
  WriteText((sent == line.size() ? "Send autocmd OK: " : "Send autocmd failed: ") + command + "\r\n");
}

int NetLogRecverThread::Connect(int& errno_out) {
  errno_out = 0;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) {
    errno_out = errno;
    return -1;
  }
  const int rcvbuf = 204800, one = 1, idle_s = 5, interval_s = 5;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle_s, sizeof idle_s);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval_s, sizeof interval_s);
  setsockopt(fd, SOL_SOCKET, SO_RCVLOWAT, &kWakeBytes, sizeof kWakeBytes);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port_);
  to.sin_addr.s_addr = address_;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) return fd;
  if (errno != EINPROGRESS) {
    errno_out = errno;
    ::close(fd);
    return -1;
  }
  const auto deadline = std::chrono::steady_clock::now() + options_.connectTimeout;
  while (IsRunning() && std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLOUT, 0};
    const int r = ::poll(&p, 1, kSliceMs);
    if (r < 0 && errno == EINTR) continue;
    if (r == 0) continue;
    int err = 0;
    socklen_t len = sizeof err;
    getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
    if (r > 0 && err == 0) return fd;
    errno_out = r < 0 ? errno : err;
    ::close(fd);
    return -1;
  }
  errno_out = IsRunning() ? ETIMEDOUT : ECANCELED;
  ::close(fd);
  return -1;
}

int NetLogRecverThread::Thread() { return TcpConnectThread(); }

int NetLogRecverThread::TcpConnectThread() {
  DebugLogPrintf("NetLogRecverThread::Thread() Enter Thread!");
  auto retry = options_.firstRetry;
  bool in_outage = false;  // a failed connect has been written for this outage
  std::vector<char> buffer(kChunkBytes);
  while (IsRunning()) {
    int error = 0;
    const int fd = Connect(error);
    if (fd < 0) {
      if (!IsRunning()) break;
      // One line per outage, not per attempt; the pause grows to its limit.
      if (!in_outage) {
        char line[96];
        std::snprintf(line, sizeof line, "connect %s:%u failed: %d.\r\n", Dotted(address_).c_str(), port_, error);
        WriteText(line);
        in_outage = true;
      }
      const auto until = std::chrono::steady_clock::now() + retry;
      while (IsRunning() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min<int>(kSliceMs, int(retry.count()))));
      retry = std::min(retry * 2, options_.maxRetry);
      continue;
    }
    in_outage = false;
    retry = options_.firstRetry;
    {
      char line[96];
      std::snprintf(line, sizeof line, "connect %s:%u OK.\r\n", Dotted(address_).c_str(), port_);
      WriteText(line);
    }
    connected_ = true;
    {
      std::unique_lock lock(command_mutex_);
      const std::string command = command_;
      command_changed_ = false;
      lock.unlock();
      SendAutoCommand(fd, command);
    }
    bool closed_by_peer = false;
    bool streaming = false;
    while (IsRunning()) {
      {
        std::unique_lock lock(command_mutex_);
        if (command_changed_) {
          const std::string command = command_;
          command_changed_ = false;
          lock.unlock();
          SendAutoCommand(fd, command);
        }
      }
      // While the disk is behind, the log waits in the socket and the device
      // (flow control) rather than being dropped.
      if (writer_->QueuedBytes() >= LogWriterThread::kReadPauseBytes) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        continue;
      }
      pollfd p{fd, POLLIN, 0};
      // Right after a full read the log is streaming: the last bytes of a
      // burst (below kWakeBytes) are taken after a short wait, not a slice.
      const int r = ::poll(&p, 1, streaming ? kBurstEndMs : kSliceMs);
      if (r < 0) {
        if (errno == EINTR) continue;
        DebugLogPrintf("NetLogRecverThread::TcpConnectThread() socket error,close it and reconnect,code=%d", errno);
        break;
      }
      // A time-out reads what has come so far (less than kWakeBytes).
      if (!IsRunning()) continue;
      const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        streaming = false;  // nothing came: back to whole slices
        continue;
      }
      if (n <= 0) {
        closed_by_peer = true;
        break;
      }
      // A full read means more follows at once: the writer is woken when a
      // few have queued (or by the read that drains the socket).
      streaming = static_cast<std::size_t>(n) == buffer.size();
      writer_->Write(std::string_view(buffer.data(), static_cast<std::size_t>(n)), !streaming);
    }
    if (!closed_by_peer) {
      // Asked to stop: what has arrived (up to kWakeBytes may wait for the
      // next wake-up) still goes to the file.
      for (int i = 0; i < 64; ++i) {
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n <= 0) break;
        writer_->Write(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
      }
    }
    connected_ = false;
    ::close(fd);
    if (closed_by_peer) {
      WriteText("connection closed.\r\n");
      for (int i = 0; i < 100 / 20 && IsRunning(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  DebugLogPrintf("NetLogRecverThread::TcpConnectThread() Exit Thread!");
  return 0;
}

}  // namespace kelvara::device
