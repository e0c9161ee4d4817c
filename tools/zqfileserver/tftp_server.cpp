#include "tftp_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/time.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <algorithm>
#include <optional>
#include <span>
#include <system_error>
#include <thread>
#include <vector>

#include "common/log_text.h"
#include "common/served_file.h"
#include "tftp_packets.h"

namespace kelvara::tftp {
namespace {

std::string PeerText(const sockaddr_in& peer) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
  return std::string(text) + ":" + std::to_string(ntohs(peer.sin_port));
}

// The file's bytes in netascii: LF as CR LF, CR as CR NUL.
class NetasciiReader {
 public:
  explicit NetasciiReader(int fd) : fd_(fd) {}
  // Fills up to `n` bytes; fewer only at the end. -1 on a read error.
  long Read(char* out, std::size_t n) {
    while (pending_.size() - start_ < n && !eof_) {
      char chunk[8192];
      const ssize_t r = read(fd_, chunk, sizeof chunk);
      if (r < 0) return -1;
      if (r == 0) eof_ = true;
      pending_.erase(0, start_);
      start_ = 0;
      for (ssize_t i = 0; i < r; ++i) {
        if (chunk[i] == '\n') {
          pending_ += "\r\n";
        } else if (chunk[i] == '\r') {
          pending_.push_back('\r');
          pending_.push_back('\0');
        } else {
          pending_.push_back(chunk[i]);
        }
      }
    }
    const std::size_t take = std::min(n, pending_.size() - start_);
    std::memcpy(out, pending_.data() + start_, take);
    start_ += take;
    return static_cast<long>(take);
  }

 private:
  int fd_;
  std::string pending_;
  std::size_t start_ = 0;
  bool eof_ = false;
};

// The file read in large pieces, handed out a block at a time: one read per
// 256 KiB instead of one per block.
class ReadAhead {
 public:
  explicit ReadAhead(int fd) : fd_(fd), buffer_(256 * 1024) {}
  long Read(char* out, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
      if (pos_ == len_) {
        if (eof_) break;
        const ssize_t r = read(fd_, buffer_.data(), buffer_.size());
        if (r < 0) return -1;
        if (r == 0) {
          eof_ = true;
          break;
        }
        pos_ = 0;
        len_ = static_cast<std::size_t>(r);
      }
      const std::size_t take = std::min(n - done, len_ - pos_);
      std::memcpy(out + done, buffer_.data() + pos_, take);
      pos_ += take;
      done += take;
    }
    return static_cast<long>(done);
  }

 private:
  int fd_;
  std::vector<char> buffer_;
  std::size_t pos_ = 0, len_ = 0;
  bool eof_ = false;
};

using Clock = std::chrono::steady_clock;

// The bytes a client acknowledged in the current window; after each full
// window, whether they came to the floor (bytes per second over the window).
class RateFloor {
 public:
  RateFloor(std::uint32_t bytes_per_second, std::chrono::milliseconds window)
      : floor_(bytes_per_second), window_(window), start_(Clock::now()) {}
  void Acknowledged(std::uint64_t bytes) { bytes_ += bytes; }
  bool TooSlow(Clock::time_point now) {
    if (floor_ == 0 || now - start_ < window_) return false;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    if (static_cast<double>(bytes_) < floor_ * seconds) return true;
    start_ = now;
    bytes_ = 0;
    return false;
  }

 private:
  const std::uint32_t floor_;
  const std::chrono::milliseconds window_;
  Clock::time_point start_;
  std::uint64_t bytes_ = 0;
};

}  // namespace

std::optional<std::size_t> ChooseSlotToTake(std::span<const SlotState> slots, Clock::duration min_wait) {
  std::optional<std::size_t> best;
  for (std::size_t i = 0; i < slots.size(); ++i) {
    const SlotState& candidate = slots[i];
    if (candidate.waiting < min_wait) continue;
    if (best) {
      const SlotState& chosen = slots[*best];
      if (candidate.first_acknowledged != chosen.first_acknowledged) {
        if (candidate.first_acknowledged) continue;
      } else if (candidate.waiting <= chosen.waiting) {
        continue;
      }
    }
    best = i;
  }
  return best;
}

std::chrono::milliseconds AckWait(const ServerOptions& options, int timeout_seconds, bool first_packet) {
  const std::chrono::milliseconds all = std::chrono::seconds(timeout_seconds) * (options.retries + 1);
  return first_packet ? std::min(all, options.first_ack_wait) : all;
}

// A running transfer as the request handler sees it. Its thread writes the
// atomics; the handler reads them under mutex_ when every slot is taken.
struct TftpServer::Slot {
  std::uint32_t address = 0;  // the client's, network order
  std::string who;            // the client and file, for the log
  std::atomic<bool> first_acknowledged{false};
  // When the packet whose ACK the transfer awaits was first sent (steady_clock ticks).
  std::atomic<Clock::rep> waiting_since{0};
  // Set when a newcomer took the slot: the transfer sends an error and ends.
  std::atomic<bool> taken{false};
  // The transfer's socket (under mutex_, -1 before it exists and once it is
  // closed): shut down for reading when the slot is taken, so the transfer's
  // blocking receive returns at once.
  int socket = -1;
};

struct TftpServer::Job {
  Request request;
  sockaddr_in peer{};
  in_addr local{};
  ServedFile file;
  std::shared_ptr<Slot> slot;
};

namespace {
LogFloodGuard::Limits LogLimits(const ServerOptions& options) {
  return {.first_per_source = options.log_per_address,
          .window_ms = options.log_window.count(),
          .max_sources = 256,
          .max_per_window = static_cast<std::size_t>(std::max(options.log_per_window, 0))};
}
}  // namespace

TftpServer::TftpServer(ServerOptions options) : options_(std::move(options)), log_(LogLimits(options_)) {}

TftpServer::~TftpServer() {
  Stop();
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [&] { return threads_ == 0; });
  if (socket_ >= 0) close(socket_);
  if (root_fd_ >= 0) close(root_fd_);
}

bool TftpServer::Open(std::string& error) {
  root_fd_ = open(options_.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (root_fd_ < 0) {
    error = "cannot open folder " + options_.folder + ": " + std::strerror(errno);
    return false;
  }
  socket_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (socket_ < 0) {
    error = std::string("cannot create a UDP socket: ") + std::strerror(errno);
    return false;
  }
  const int on = 1;
  // No SO_REUSEADDR: a second server on the same port (a stale helper) must
  // fail to bind rather than share the requests.
  setsockopt(socket_, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(options_.port);
  address.sin_addr.s_addr = options_.bind_address;
  if (bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    const int e = errno;
    error = "cannot bind UDP port " + std::to_string(options_.port) + ": " + std::strerror(e);
    if (e == EACCES && options_.port < 1024) error += " (the port needs CAP_NET_BIND_SERVICE, see the README)";
    if (e == EADDRINUSE) error += " (another program, such as a TFTP server, holds it: end that one first)";
    port_refused_ = true;
    return false;
  }
  socklen_t length = sizeof address;
  getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length);
  bound_port_ = ntohs(address.sin_port);
  return true;
}

void TftpServer::Run() {
  char buffer[2048];
  char control[256];
  while (!stop_.load()) {
    log_.EndWindowIfDue();
    pollfd p{socket_, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    sockaddr_in peer{};
    iovec iov{buffer, sizeof buffer};
    msghdr msg{};
    msg.msg_name = &peer;
    msg.msg_namelen = sizeof peer;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = recvmsg(socket_, &msg, 0);
    if (n < 0) continue;
    in_addr local{options_.bind_address};
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c))
      if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO)
        local = reinterpret_cast<const in_pktinfo*>(CMSG_DATA(c))->ipi_spec_dst;
    HandlePacket(std::string(buffer, static_cast<std::size_t>(n)), peer, local);
  }
  {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] { return threads_ == 0; });
  }
  // What the last window held back is said before the server goes.
  log_.EndWindowNow();
}

bool TftpServer::AttachSocket(Slot& slot, int socket) {
  std::lock_guard lock(mutex_);
  if (slot.taken.load()) return false;
  slot.socket = socket;
  return true;
}

void TftpServer::Release(const std::shared_ptr<Slot>& slot) {
  std::lock_guard lock(mutex_);
  slot->socket = -1;
  std::erase(slots_, slot);
  active_.store(static_cast<int>(slots_.size()));
  if (--threads_ == 0) idle_.notify_all();
}

void TftpServer::HandlePacket(const std::string& packet, const sockaddr_in& peer, const in_addr& local) {
  auto refuse = [&](ErrorCode code, const std::string& message) {
    const std::string error = BuildError(code, message);
    sendto(socket_, error.data(), error.size(), 0, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
    // The name is the client's bytes: escaped, it cannot forge a log line.
    log_.Write(ServerLog::Kind::kRefusal, peer.sin_addr.s_addr,
               PeerText(peer) + " refused: " + EscapeForLog(message, 1024));
  };
  const std::optional<Request> request = ParseRequest(packet);
  if (!request) {
    // Stray ACKs or DATA for ended transfers are dropped without an answer.
    if (packet.size() >= 2 && packet[0] == 0 && (packet[1] == kAck || packet[1] == kData || packet[1] == kError))
      return;
    refuse(kIllegalOperation, "illegal TFTP operation");
    return;
  }
  if (request->opcode == kWrq) {
    refuse(kAccessViolation, "write requests are refused");
    return;
  }
  if (request->mode != "octet" && request->mode != "netascii") {
    refuse(kIllegalOperation, "unsupported mode " + request->mode);
    return;
  }
  ServedFile file;
  switch (OpenServedFile(root_fd_, request->filename, file)) {
    case OpenResult::kOk:
      break;
    case OpenResult::kNotFound:
      refuse(kFileNotFound, "file not found: " + request->filename);
      return;
    case OpenResult::kRefused:
      refuse(kAccessViolation, "access violation: " + request->filename);
      return;
  }
  const std::uint32_t address = peer.sin_addr.s_addr;
  auto slot = std::make_shared<Slot>();
  slot->address = address;
  slot->who = PeerText(peer) + " " + EscapeForLog(request->filename, 1024);
  slot->waiting_since.store(Clock::now().time_since_epoch().count());  // its first packet is due at once
  const char* full = nullptr;
  std::shared_ptr<Slot> taken;
  Clock::duration taken_wait{};
  {
    std::lock_guard lock(mutex_);
    const auto from_address = std::count_if(slots_.begin(), slots_.end(),
                                            [&](const std::shared_ptr<Slot>& s) { return s->address == address; });
    if (from_address >= options_.max_per_address) {
      full = "too many transfers from this address";
    } else if (slots_.size() >= static_cast<std::size_t>(std::max(options_.max_transfers, 0))) {
      // Only a client with no transfer may take a slot: a host cannot take
      // back and forth the slots of its own transfers, nor grow past one
      // slot per address this way.
      if (from_address == 0) {
        const auto now = Clock::now().time_since_epoch().count();
        std::vector<SlotState> states;
        states.reserve(slots_.size());
        for (const auto& s : slots_)
          states.push_back({s->first_acknowledged.load(), Clock::duration(now - s->waiting_since.load())});
        if (const auto i = ChooseSlotToTake(states, options_.min_wait_to_take_slot)) {
          taken = slots_[*i];
          taken_wait = states[*i].waiting;
          taken->taken.store(true);
          if (taken->socket >= 0) shutdown(taken->socket, SHUT_RD);
          slots_.erase(slots_.begin() + static_cast<std::ptrdiff_t>(*i));
        }
      }
      if (!taken) full = "too many transfers";
    }
    if (full == nullptr) {
      slots_.push_back(slot);
      active_.store(static_cast<int>(slots_.size()));
      ++threads_;
    }
  }
  if (full != nullptr) {
    close(file.fd);
    refuse(kNotDefined, full);
    return;
  }
  if (taken) {
    log_.Write(ServerLog::Kind::kTransfer, taken->address,
               taken->who + " ended: its slot went to " + PeerText(peer) + " after " +
                   std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(taken_wait).count()) +
                   " ms without an acknowledgement");
  }
  Job job{*request, peer, local, file, slot};
  try {
    std::thread([this, job = std::move(job)]() mutable {
      const std::shared_ptr<Slot> slot = job.slot;
      Transfer(std::move(job));
      Release(slot);
    }).detach();
  } catch (const std::system_error&) {
    // No thread to be had: the request goes unserved, like a refused one.
    close(file.fd);
    Release(slot);
    refuse(kNotDefined, "cannot start a transfer");
  }
}

void TftpServer::Transfer(Job job) {
  const int fd = job.file.fd;
  Slot& slot = *job.slot;
  const bool octet = job.request.mode == "octet";
  const std::optional<std::uint64_t> size = octet ? std::optional(job.file.size) : std::nullopt;
  const Negotiated n = Negotiate(job.request, size);
  const std::string& who = slot.who;

  const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in self{};
  self.sin_family = AF_INET;
  self.sin_addr = job.local;
  if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(&self), sizeof self) != 0 ||
      connect(s, reinterpret_cast<const sockaddr*>(&job.peer), sizeof job.peer) != 0) {
    if (s >= 0) close(s);
    close(fd);
    log_.Write(ServerLog::Kind::kTransfer, slot.address, who + " failed: no transfer socket");
    return;
  }
  const std::string taken_error = BuildError(kNotDefined, "no acknowledgement in time: the slot went to another client");
  if (!AttachSocket(slot, s)) {  // taken before its first packet (a thread that started late)
    send(s, taken_error.data(), taken_error.size(), 0);
    close(s);
    close(fd);
    return;
  }

  // Sends `packet` and waits for the ACK of `block`, sending it again after
  // each time-out. The ACK must come within AckWait of the first send, the
  // last progress: whatever else arrives (stale or repeated ACKs) is no
  // progress and never keeps a transfer alive. A connected socket only sees
  // the client's TID, and a stale ACK brings no second copy. The wait is a
  // blocking receive with a short receive time-out (a stop is seen within
  // one slice; a slot taken by a newcomer at once, its socket being shut
  // down for reading): one send and one receive per block while the client
  // keeps up. The first send's time is what a newcomer sees of the wait.
  // The rate floor is checked after each ACK and, while the client is late,
  // after each slice.
  constexpr int kSliceMs = 200;
  const timeval slice{0, kSliceMs * 1000};
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &slice, sizeof slice);
  const std::chrono::seconds timeout(n.timeout_seconds);
  char in[1024];
  RateFloor rate(options_.min_bytes_per_second, options_.rate_window);
  enum class End { kDone, kFailed, kTooSlow, kTaken };
  End end = End::kDone;
  bool first_packet = true;
  auto exchange = [&](const std::string& packet, std::uint16_t block) -> bool {
    const auto sent_at = Clock::now();
    slot.waiting_since.store(sent_at.time_since_epoch().count(), std::memory_order_relaxed);
    const auto give_up_at = sent_at + AckWait(options_, n.timeout_seconds, first_packet);
    auto resend_at = sent_at + timeout;
    end = End::kFailed;
    if (slot.taken.load(std::memory_order_relaxed)) {
      end = End::kTaken;
      return false;
    }
    if (send(s, packet.data(), packet.size(), 0) < 0 && errno != ECONNREFUSED) return false;
    for (;;) {
      const ssize_t r = recv(s, in, sizeof in, 0);
      if (slot.taken.load(std::memory_order_relaxed)) {
        end = End::kTaken;
        return false;
      }
      if (r >= 0) {
        const std::string_view reply(in, static_cast<std::size_t>(r));
        if (reply.size() >= 2 && reply[0] == 0 && reply[1] == kError) return false;  // the client gave up
        if (const auto ack = ParseAck(reply); ack && *ack == block) {
          if (first_packet) slot.first_acknowledged.store(true, std::memory_order_relaxed);
          first_packet = false;
          end = End::kDone;
          return true;
        }
      } else {
        // A time-out slice, or an ICMP error (retried until the time-out).
        const int error = errno;
        if (error != EAGAIN && error != EWOULDBLOCK && error != EINTR && error != ECONNREFUSED) return false;
      }
      if (stop_.load()) return false;
      const auto now = Clock::now();
      if (rate.TooSlow(now)) {
        end = End::kTooSlow;
        return false;
      }
      if (now >= give_up_at) return false;
      if (now >= resend_at) {
        if (send(s, packet.data(), packet.size(), 0) < 0 && errno != ECONNREFUSED) return false;
        resend_at += timeout;
      }
    }
  };

  bool ok = true;
  if (n.any) ok = exchange(BuildOack(n, size), 0);
  std::uint64_t sent = 0;
  std::uint16_t block = 1;
  std::string packet;
  packet.reserve(4 + n.block_size);
  NetasciiReader netascii(fd);
  ReadAhead ahead(fd);
  while (ok) {
    packet.clear();
    BuildDataHeader(block, packet);
    packet.resize(4 + n.block_size);
    long got = 0;
    if (octet) {
      got = ahead.Read(packet.data() + 4, n.block_size);
    } else {
      got = netascii.Read(packet.data() + 4, n.block_size);
    }
    if (got < 0) {
      const std::string error = BuildError(kNotDefined, "read error");
      send(s, error.data(), error.size(), 0);
      ok = false;
      end = End::kFailed;
      break;
    }
    packet.resize(4 + static_cast<std::size_t>(got));
    ok = exchange(packet, block);
    if (ok && static_cast<std::size_t>(got) == n.block_size) {  // a block follows
      rate.Acknowledged(static_cast<std::uint64_t>(got));
      if (rate.TooSlow(Clock::now())) {
        end = End::kTooSlow;
        ok = false;
      }
    }
    sent += static_cast<std::uint64_t>(got);
    ++block;  // wraps from 65535 to 0
    if (static_cast<std::size_t>(got) < n.block_size) break;
  }
  if (end == End::kTooSlow || end == End::kTaken) {
    // The client learns why its transfer ended (the handler logged the taking).
    const std::string error = end == End::kTooSlow ? BuildError(kNotDefined, "transfer too slow") : taken_error;
    send(s, error.data(), error.size(), 0);
  }
  {
    // Closed under the lock: the request handler never shuts down a socket
    // number that was closed and reused.
    std::lock_guard lock(mutex_);
    slot.socket = -1;
    close(s);
  }
  close(fd);
  auto log = [&](const std::string& line) { log_.Write(ServerLog::Kind::kTransfer, slot.address, line); };
  switch (end) {
    case End::kDone:
      log(who + " sent " + std::to_string(sent) + " bytes");
      break;
    case End::kTooSlow:
      log(who + " ended: fewer than " + std::to_string(options_.min_bytes_per_second) + " bytes per second");
      break;
    case End::kFailed:
      log(who + " ended without completion");
      break;
    case End::kTaken:
      break;
  }
}

}  // namespace kelvara::tftp
