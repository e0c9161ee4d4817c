#include "firmware/recovery/recovery_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace kelvara::firmware {

RecoveryListener::RecoveryListener(RecoveryServer& server, ListenerOptions options,
                                   std::function<void(const std::string&)> log)
    : server_(server), options_(options), log_(std::move(log)) {}

RecoveryListener::~RecoveryListener() { Stop(); }

void RecoveryListener::SetAdapter(std::uint32_t address, std::uint32_t mask, int ifindex) {
  adapter_.store(address);
  mask_.store(mask);
  ifindex_.store(ifindex);
}

bool RecoveryListener::Start(std::string& error) {
  if (running_.load()) return false;
  socket_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (socket_ < 0) {
    error = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  const int on = 1, buffer = 0x20000;
  setsockopt(socket_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
  setsockopt(socket_, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_port = htons(options_.port);
  any.sin_addr.s_addr = htonl(INADDR_ANY);
  if (bind(socket_, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
    error = "bind UDP " + std::to_string(options_.port) + ": " + std::strerror(errno);
    close(socket_);
    socket_ = -1;
    return false;
  }
  server_.SetCancelled(false);
  running_.store(true);
  receiver_ = std::thread([this] { ReceiveLoop(); });
  for (int i = 0; i < std::max(1, options_.workers); ++i) workers_.emplace_back([this] { WorkerLoop(); });
  return true;
}

bool RecoveryListener::Stop() {
  if (!running_.exchange(false)) return false;
  server_.SetCancelled(true);  // probes in progress give up
  wake_.notify_all();
  receiver_.join();
  for (auto& worker : workers_) worker.join();
  workers_.clear();
  {
    std::lock_guard lock(mutex_);
    queue_.clear();
  }
  close(socket_);
  socket_ = -1;
  return true;
}

void RecoveryListener::ReceiveLoop() {
  std::vector<char> buffer(kRecoveryBufferSize);
  char control[256];
  // Owned by this thread: a flood of datagrams costs a count, not a line each.
  LogFloodGuard flood(options_.log_limits);
  const auto log = [this](const std::string& line) {
    if (log_) log_(line);
  };
  const auto report = [&](const std::string& source, std::uint64_t held) {
    log(source + ": " + std::to_string(held) + " more datagrams not logged in the last " +
        std::to_string(options_.log_limits.window_ms / 1000) + " s");
  };
  const auto now_ms = [] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  };
  while (running_.load()) {
    flood.Flush(now_ms(), report);
    pollfd p{socket_, POLLIN, 0};
    if (poll(&p, 1, 200) <= 0 || !(p.revents & POLLIN)) continue;
    sockaddr_in from{};
    iovec iov{buffer.data(), buffer.size()};
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    // MSG_TRUNC: the datagram's real length, so one longer than the buffer shows.
    const ssize_t n = recvmsg(socket_, &msg, MSG_TRUNC);
    if (n < 0) continue;
    int arrived_on = 0;
    std::uint32_t local = 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
      if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO) continue;
      in_pktinfo info;
      std::memcpy(&info, CMSG_DATA(c), sizeof info);
      arrived_on = info.ipi_ifindex;
      local = info.ipi_spec_dst.s_addr;
    }
    // Only the chosen adapter's datagrams: by interface when it is known,
    // else by the local address the datagram would be answered from.
    const std::uint32_t adapter = adapter_.load();
    const int ifindex = ifindex_.load();
    if (adapter == 0 || (ifindex > 0 ? arrived_on != ifindex : local != adapter)) continue;

    char dotted[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &from.sin_addr, dotted, sizeof dotted);
    const std::string sender(dotted);
    const bool full = flood.Admit(sender, now_ms());
    const auto length = static_cast<std::size_t>(n);
    const std::string_view text(buffer.data(), std::min(length, buffer.size()));
    const RecoveryRequest parsed = ParseRecoveryRequest(text);
    if (length > buffer.size() || parsed.cmd_code < 0) {
      // No request at all: nothing to answer, one counted line.
      const std::uint64_t count = ++malformed_;
      if (full)
        log(sender + ": malformed datagram of " + std::to_string(length) + " bytes dropped (" + std::to_string(count) +
            " so far)");
      continue;
    }
    if (full) log(sender + ": datalen " + std::to_string(n));
    Pending request{from.sin_addr.s_addr, from.sin_port, std::string(text), !full};
    if (parsed.cmd_code != kCmdFirmwareRequest) {
      Answer(request);  // progress reports: no probes, no reply
      continue;
    }
    std::lock_guard lock(mutex_);
    if (queue_.size() >= options_.queue) {
      if (full) log(sender + ": too many requests waiting, dropped");
      continue;
    }
    queue_.push_back(std::move(request));
    wake_.notify_one();
  }
}

void RecoveryListener::WorkerLoop() {
  for (;;) {
    Pending request;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return !running_.load() || !queue_.empty(); });
      if (!running_.load()) return;
      request = std::move(queue_.front());
      queue_.pop_front();
    }
    Answer(request);
  }
}

void RecoveryListener::Answer(const Pending& request) {
  const std::string reply = server_.HandleRequest(request.sender, request.datagram, request.quiet);
  if (reply.empty() || !running_.load()) return;
  const std::uint32_t mask = mask_.load();
  const bool reachable = request.sender != 0 && (request.sender & mask) == (adapter_.load() & mask);
  if (reachable) Send(reply, request.sender, request.port);
  Send(reply, htonl(INADDR_BROADCAST), request.port);
}

void RecoveryListener::Send(const std::string& reply, std::uint32_t to, std::uint16_t port) {
  sockaddr_in destination{};
  destination.sin_family = AF_INET;
  destination.sin_port = port;
  destination.sin_addr.s_addr = to;
  iovec iov{const_cast<char*>(reply.data()), reply.size()};
  msghdr msg{};
  msg.msg_name = &destination;
  msg.msg_namelen = sizeof destination;
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  // Out of the chosen adapter, from its address: the limited broadcast would
  // otherwise leave by the default route's interface.
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
  const int ifindex = ifindex_.load();
  if (ifindex > 0) {
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_ifindex = ifindex;
    info.ipi_spec_dst.s_addr = adapter_.load();
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
  }
  sendmsg(socket_, &msg, 0);
}

}  // namespace kelvara::firmware
