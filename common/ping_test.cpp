#include "common/ping_test.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <thread>

#include "common/debug_log.h"
#include "common/local_network.h"

namespace kelvara {
namespace {

constexpr char kFn[] = "PingTest";
constexpr int kAttempts = 2;
constexpr auto kReplyWait = std::chrono::milliseconds(100);
constexpr std::size_t kRequestSize = 12;

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

std::uint16_t Read16(const std::uint8_t* p) {
  std::uint16_t v;
  std::memcpy(&v, p, sizeof(v));
  return v;
}

std::uint32_t TickCountMs() {
  timespec ts{};
  clock_gettime(CLOCK_BOOTTIME, &ts);
  return static_cast<std::uint32_t>(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
}

// Raw sockets see every ICMP message of the host, so each call needs an
// identifier of its own.
std::uint16_t NextIdentifier() {
  static std::atomic<std::uint16_t> counter{static_cast<std::uint16_t>(getpid() * 2654435761u >> 16)};
  return counter.fetch_add(1);
}

}  // namespace

std::uint16_t InternetChecksum(const void* buffer, std::size_t length) {
  const auto* p = static_cast<const std::uint8_t*>(buffer);
  std::uint32_t sum = 0;
  for (; length > 1; p += 2, length -= 2) sum += Read16(p);
  if (length == 1) {
    std::uint16_t last = 0;
    std::memcpy(&last, p, 1);  // the odd byte in the position it has in memory
    sum += last;
  }
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

namespace ping_detail {

namespace {

// Where Debian's iputils-ping lies; never looked up in PATH.
constexpr const char* kPingPrograms[] = {"/usr/bin/ping", "/bin/ping"};

// Waits for the child up to the deadline: its wait status; -2 when waiting
// failed or, with `timed_out` set, when the time ran out (the child is then
// still running).
int WaitChild(pid_t pid, std::chrono::steady_clock::time_point deadline, bool& timed_out) {
  timed_out = false;
  // A pidfd wakes the wait when the child ends; without one, look every 5 ms.
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  for (;;) {
    int status = 0;
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) {
      if (pidfd >= 0) close(pidfd);
      return status;
    }
    if (r < 0 && errno != EINTR) {
      if (pidfd >= 0) close(pidfd);
      return -2;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) {
      if (pidfd >= 0) close(pidfd);
      timed_out = true;
      return -2;
    }
    if (pidfd >= 0) {
      pollfd p{pidfd, POLLIN, 0};
      poll(&p, 1, static_cast<int>(left));
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min<std::int64_t>(left, 5)));
    }
  }
}

}  // namespace

int RunPingProgram(const char* dotted, int limit_ms) {
  const char* program = nullptr;
  for (const char* p : kPingPrograms)
    if (access(p, X_OK) == 0) {
      program = p;
      break;
    }
  if (program == nullptr) return -1;
  char* const argv[] = {const_cast<char*>("ping"), const_cast<char*>("-n"), const_cast<char*>("-c"),
                        const_cast<char*>("1"),    const_cast<char*>("-W"), const_cast<char*>("1"),
                        const_cast<char*>(dotted), nullptr};
  char* const envp[] = {const_cast<char*>("LC_ALL=C"), nullptr};

  // No terminal, no descriptors of ours, default signal handling.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd : {0, 1, 2}) posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigfillset(&defaults);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, program, &actions, &attr, argv, envp);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (spawned != 0) return -1;

  bool timed_out = false;
  const int status = WaitChild(pid, std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms), timed_out);
  if (timed_out) {
    kill(pid, SIGKILL);
    int ignored = 0;
    while (waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {}
    return -1;
  }
  if (status == -2 || !WIFEXITED(status)) return -1;
  switch (WEXITSTATUS(status)) {
    case 0: return 1;
    case 1: return 0;
    default: return -1;
  }
}

ReplyCheck CheckEchoReply(const std::uint8_t* data, std::size_t length, bool with_ip_header, std::uint32_t sender,
                          std::uint32_t expected_sender, std::uint16_t identifier, std::uint16_t last_sequence) {
  std::size_t offset = 0;
  if (with_ip_header) {
    if (length < 20) return ReplyCheck::kShort;
    std::memcpy(&sender, data + 12, 4);
    offset = static_cast<std::size_t>(data[0] & 0x0F) * 4;
  }
  if (sender != expected_sender) return ReplyCheck::kOtherSender;
  if (length < offset + 8) return ReplyCheck::kShort;
  const std::uint8_t* icmp = data + offset;
  if (icmp[0] != 0 || icmp[1] != 0) return ReplyCheck::kNotEchoReply;
  if (Read16(icmp + 4) != identifier || Read16(icmp + 6) > last_sequence) return ReplyCheck::kOtherRequest;
  return ReplyCheck::kReply;
}

}  // namespace ping_detail

int PingTest(std::uint32_t address) {
  using ping_detail::ReplyCheck;
  const std::string ip = IpToString(address);
  // An ICMP datagram socket needs no privilege (within ping_group_range);
  // a raw socket needs CAP_NET_RAW.
  bool raw = false;
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (fd < 0) {
    fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    raw = true;
  }
  if (fd < 0) {
    // No socket for this user: the system's ping has its own right to one.
    const int socket_error = errno;
    switch (ping_detail::RunPingProgram(ip.c_str())) {
      case 1:
        DebugLogPrintf("%s got replay from ip: %s\n", kFn, ip.c_str());
        return 1;
      case 0:
        DebugLogPrintf("%s no replay recv, ip %s is usable.\n", kFn, ip.c_str());
        return 0;
      default:
        DebugLogPrintf("%s cannot open an ICMP socket (%s) and the ping program gave no answer for %s\n", kFn,
                       std::strerror(socket_error), ip.c_str());
        return -1;
    }
  }
  Fd socket_fd(fd);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = address;

  std::uint16_t identifier = NextIdentifier();
  for (std::uint16_t sequence = 0; sequence < kAttempts; ++sequence) {
    std::uint8_t request[kRequestSize] = {8, 0};
    std::memcpy(request + 4, &identifier, 2);
    std::memcpy(request + 6, &sequence, 2);
    const std::uint32_t tick = TickCountMs();
    std::memcpy(request + 8, &tick, 4);
    const std::uint16_t checksum = InternetChecksum(request, sizeof(request));
    std::memcpy(request + 2, &checksum, 2);
    const ssize_t sent =
        sendto(fd, request, sizeof(request), 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    if (sent != static_cast<ssize_t>(sizeof(request))) {
      DebugLogPrintf("%s sendto failed.\n", kFn);
      return -1;
    }
    if (!raw) {
      // The kernel puts the socket's port in the identifier field and hands
      // this socket only replies that carry it.
      sockaddr_in local{};
      socklen_t len = sizeof(local);
      if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) == 0) {
        std::memcpy(&identifier, &local.sin_port, 2);
      }
    }

    const auto deadline = std::chrono::steady_clock::now() + kReplyWait;
    while (true) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      // Past the deadline the socket is still looked at once without waiting:
      // a thread held off the CPU after sending finds its reply already queued.
      pollfd p{fd, POLLIN, 0};
      const int ready = poll(&p, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
      if (ready < 0) {
        if (errno == EINTR) continue;
        DebugLogPrintf("%s select failed.\n", kFn);
        return -1;
      }
      if (ready == 0) break;
      std::uint8_t reply[256];
      sockaddr_in from{};
      socklen_t from_len = sizeof(from);
      const ssize_t n = recvfrom(fd, reply, sizeof(reply), 0, reinterpret_cast<sockaddr*>(&from), &from_len);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n <= 0) {
        DebugLogPrintf("%s recvfrom failed.\n", kFn);
        return -1;
      }
      switch (ping_detail::CheckEchoReply(reply, static_cast<std::size_t>(n), raw, from.sin_addr.s_addr, address,
                                          identifier, sequence)) {
        case ReplyCheck::kReply:
          DebugLogPrintf("%s got replay from ip: %s\n", kFn, ip.c_str());
          return 1;
        case ReplyCheck::kOtherSender: {
          std::uint32_t sender = from.sin_addr.s_addr;
          if (raw && n >= 16) std::memcpy(&sender, reply + 12, 4);
          DebugLogPrintf("%s recv packet not from dest ip, but from: %s\n", kFn, IpToString(sender).c_str());
          break;
        }
        case ReplyCheck::kShort:
          DebugLogPrintf("%s recv bad length.\n", kFn);
          break;
        case ReplyCheck::kNotEchoReply:
          DebugLogPrintf("%s recv not icmp packet.\n", kFn);
          break;
        case ReplyCheck::kOtherRequest:
          break;  // someone else's ping
      }
      // Not our reply: keep waiting for it until this attempt's time is up.
    }
  }
  DebugLogPrintf("%s no replay recv, ip %s is usable.\n", kFn, ip.c_str());
  return 0;
}

}  // namespace kelvara
