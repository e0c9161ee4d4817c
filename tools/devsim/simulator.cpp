#include "simulator.h"

#include <fstream>
#include <map>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <tinyxml.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "discovery_request.h"
#include "firmware_intake.h"
#include "digest.h"
#include "lan_addresses.h"
#include "link_seal.h"
#include "login_handshake.h"
#include "wire_frame.h"

namespace kelvara::devsim {
namespace wire = varurovodiv::wire;
using wire::FrameType;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kPollMs = 100;
// Longest wait of an idle served link; the device wakes it for anything else.
constexpr int kIdleWaitMs = 1000;
constexpr uint64_t kMaxUpload = 64ull << 20;
constexpr auto kSendTimeout = std::chrono::seconds(5);
constexpr auto kLoginTimeout = std::chrono::seconds(10);

int Listen(const std::string& ip, uint16_t port, uint16_t& bound) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  // A device may be given an address the LAN namespace routes locally
  // (AnyIP) but does not carry on an interface.
  setsockopt(fd, IPPROTO_IP, IP_FREEBIND, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  if (inet_pton(AF_INET, ip.c_str(), &a.sin_addr) != 1 ||
      bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 64) != 0) {
    close(fd);
    return -1;
  }
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  bound = ntohs(a.sin_port);
  return fd;
}

bool SendAll(int fd, const std::string& bytes, const std::atomic<bool>& stop) {
  const auto deadline = Clock::now() + kSendTimeout;
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    if (stop.load() || Clock::now() >= deadline) return false;
    pollfd p{fd, POLLOUT, 0};
    poll(&p, 1, kPollMs);
  }
  return true;
}

// Sleeps in short steps so a stopping simulator is not held up.
bool Nap(std::chrono::milliseconds total, const std::atomic<bool>& stop) {
  const auto end = Clock::now() + total;
  while (Clock::now() < end) {
    if (stop.load()) return false;
    std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(
        std::chrono::milliseconds(20),
        std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now())));
  }
  return !stop.load();
}

std::string HexEncode(const std::string& s) { return wire::ToHex(s); }

bool HexDecode(const std::string& hex, std::string& out) {
  if (hex.size() % 2 != 0) return false;
  out.clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    const std::string byte = hex.substr(i, 2);
    char* end = nullptr;
    const long v = std::strtol(byte.c_str(), &end, 16);
    if (end != byte.c_str() + 2) return false;
    out.push_back(static_cast<char>(v));
  }
  return true;
}

// The 168-byte alarm record of the status event: time at 16, code at 28, AI
// kind at 36, detail text at 40 (little-endian, as the SDK hands it on).
std::string AlarmRecord(int code, int ai_kind, const std::string& detail) {
  std::string r(168, '\0');
  const time_t now = time(nullptr);
  tm t{};
  localtime_r(&now, &t);
  auto put = [&r](size_t at, int32_t v) { std::memcpy(&r[at], &v, 4); };
  put(16, t.tm_hour);
  put(20, t.tm_min);
  put(24, t.tm_sec);
  put(28, code);
  put(36, ai_kind);
  std::memcpy(&r[40], detail.data(), std::min<size_t>(detail.size(), 127));
  return r;
}

}  // namespace

Simulator::Simulator(SimConfig config)
    : config_(std::move(config)), addresses_([this](const std::string& line) { Notice(line); }) {
  for (size_t i = 0; i < config_.devices.size(); ++i) {
    devices_.push_back(std::make_unique<Device>(static_cast<int>(i), config_.devices[i]));
  }
  listeners_.resize(devices_.size());
}

Simulator::~Simulator() { Stop(); }

uint16_t Simulator::command_port(int index) const {
  std::lock_guard lock(listeners_mutex_);
  return listeners_[static_cast<size_t>(index)].sdk_port;
}

uint16_t Simulator::log_port(int index) const {
  std::lock_guard lock(listeners_mutex_);
  return listeners_[static_cast<size_t>(index)].log_port;
}

std::string Simulator::Start() {
  for (size_t i = 0; i < devices_.size(); ++i) {
    if (!Reconcile(i)) {
      return "cannot listen on " + devices_[i]->ip() + " for device " + devices_[i]->serial();
    }
  }
  ReportMissingAddresses();
  if (config_.discovery_port > 0) {
    if (!InPrivateNamespace()) {
      return "refusing to answer discovery in the machine's own network namespace: run devsim "
             "in the test LAN (docs/devsim.md), or without discovery (--discovery-port 0)";
    }
    discovery_fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(discovery_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    setsockopt(discovery_fd_, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    setsockopt(discovery_fd_, IPPROTO_IP, IP_PKTINFO, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(config_.discovery_port));
    if (inet_pton(AF_INET, config_.discovery_bind.c_str(), &a.sin_addr) != 1 ||
        bind(discovery_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      return "cannot bind UDP " + config_.discovery_bind + ":" +
             std::to_string(config_.discovery_port) + ": " + std::strerror(errno);
    }
    socklen_t len = sizeof a;
    getsockname(discovery_fd_, reinterpret_cast<sockaddr*>(&a), &len);
    discovery_port_ = ntohs(a.sin_port);
    discovery_thread_ = std::thread([this] { DiscoveryLoop(); });
  }
  accept_thread_ = std::thread([this] { AcceptLoop(); });
  return {};
}

void Simulator::Stop() {
  stop_.store(true);
  for (auto& d : devices_) d->WakeLinks();
  recovery_.StopAll();
  if (accept_thread_.joinable()) accept_thread_.join();
  if (discovery_thread_.joinable()) discovery_thread_.join();
  std::list<Worker> workers;
  {
    std::lock_guard lock(workers_mutex_);
    workers.swap(workers_);
  }
  for (Worker& w : workers) {
    if (w.thread.joinable()) w.thread.join();
  }
  {
    std::lock_guard lock(listeners_mutex_);
    for (Listener& l : listeners_) CloseListener(l);
    if (discovery_fd_ >= 0) close(discovery_fd_);
    discovery_fd_ = -1;
  }
  addresses_.RemoveAdded();
}

// A device whose address no interface carries cannot be reached (the LAN and
// devsim's numbering disagree): said once at start, naming the first few.
void Simulator::ReportMissingAddresses() {
  std::vector<std::string> missing;
  for (auto& d : devices_) {
    const std::string ip = d->ip();
    if (!IsLocalAddress(ip)) missing.push_back("device " + std::to_string(d->index()) + " " + d->serial() + " " + ip);
  }
  if (missing.empty()) return;
  std::string line = std::to_string(missing.size()) + " of " + std::to_string(devices_.size()) +
                     " devices have an address on no interface of this namespace (unreachable): ";
  constexpr size_t kNamed = 5;
  for (size_t k = 0; k < missing.size() && k < kNamed; ++k) line += (k > 0 ? ", " : "") + missing[k];
  if (missing.size() > kNamed) line += ", ...";
  Notice(line);
}

void Simulator::Notice(const std::string& line) {
  if (config_.notice) {
    config_.notice(line);
  } else {
    std::fprintf(stderr, "devsim: %s\n", line.c_str());
  }
}

void Simulator::CloseListener(Listener& l) {
  if (l.sdk_fd >= 0) close(l.sdk_fd);
  if (l.log_fd >= 0) close(l.log_fd);
  l.sdk_fd = l.log_fd = -1;
  l.bound_ip.clear();
}

// Brings device i's listening sockets in line with its state: closed while it
// reboots (connections are refused), rebound when its address changed.
bool Simulator::Reconcile(size_t i) {
  Device& d = *devices_[i];
  const bool up = d.Up();
  const std::string ip = d.ip();
  const DeviceConfig c = d.config();
  std::lock_guard lock(listeners_mutex_);
  Listener& l = listeners_[i];
  if (!up) {
    CloseListener(l);
    return true;
  }
  if (l.sdk_fd >= 0 && l.bound_ip == ip) {
    // A refusing log port has no listener: connects to it are refused.
    const bool refuse = d.log_stream().mode() == LogStream::Mode::kRefuse;
    if (refuse && l.log_fd >= 0) {
      close(l.log_fd);
      l.log_fd = -1;
    } else if (!refuse && l.log_fd < 0) {
      l.log_fd = Listen(ip, l.log_port, l.log_port);
    }
    return true;
  }
  CloseListener(l);
  // A device told a new address takes it (on the LAN interface when it may).
  if (!l.checked_ip.empty() && l.checked_ip != ip) {
    addresses_.Ensure(ip, "device " + std::to_string(i) + " " + c.serial);
  }
  l.checked_ip = ip;
  // A port chosen by the system once stays the device's port.
  const uint16_t sdk_port = l.sdk_port != 0 ? l.sdk_port : static_cast<uint16_t>(c.command_port);
  const uint16_t log_port = l.log_port != 0 ? l.log_port : static_cast<uint16_t>(c.log_port);
  l.sdk_fd = Listen(ip, sdk_port, l.sdk_port);
  l.log_fd = Listen(ip, log_port, l.log_port);
  if (l.sdk_fd < 0 || l.log_fd < 0) {
    CloseListener(l);
    return false;
  }
  l.bound_ip = ip;
  return true;
}

void Simulator::Spawn(void (Simulator::*fn)(Device&, int), Device& d, int fd) {
  auto done = std::make_shared<std::atomic<bool>>(false);
  std::lock_guard lock(workers_mutex_);
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (it->done->load()) {
      it->thread.join();
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
  workers_.push_back(Worker{std::thread([this, fn, &d, fd, done] {
                              // Whatever a connection's handling throws ends
                              // that connection only: the device and its
                              // neighbours go on.
                              try {
                                (this->*fn)(d, fd);
                              } catch (const std::exception& e) {
                                Notice("device " + std::to_string(d.index()) +
                                       ": connection ended: " + e.what());
                              }
                              close(fd);
                              done->store(true);
                            }),
                            done});
}

void Simulator::AcceptLoop() {
  auto next_reconcile = Clock::now();
  while (!stop_.load()) {
    if (Clock::now() >= next_reconcile) {
      for (size_t i = 0; i < devices_.size(); ++i) Reconcile(i);
      next_reconcile = Clock::now() + std::chrono::milliseconds(kPollMs);
    }
    std::vector<pollfd> fds;
    std::vector<std::pair<size_t, bool>> owners;  // device, is log port
    {
      std::lock_guard lock(listeners_mutex_);
      for (size_t i = 0; i < listeners_.size(); ++i) {
        if (listeners_[i].sdk_fd >= 0) {
          fds.push_back({listeners_[i].sdk_fd, POLLIN, 0});
          owners.emplace_back(i, false);
          if (listeners_[i].log_fd >= 0) {
            fds.push_back({listeners_[i].log_fd, POLLIN, 0});
            owners.emplace_back(i, true);
          }
        }
      }
    }
    if (poll(fds.data(), fds.size(), kPollMs) <= 0) continue;
    for (size_t k = 0; k < fds.size(); ++k) {
      if (!(fds[k].revents & POLLIN)) continue;
      const int fd = accept4(fds[k].fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) continue;
      const int one = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      Device& d = *devices_[owners[k].first];
      Spawn(owners[k].second ? &Simulator::ServeLog : &Simulator::ServeSdk, d, fd);
    }
  }
}

void Simulator::ServeSdk(Device& d, int fd) {
  const uint64_t generation = d.generation();
  const wire::Hello hello = d.NewHello();
  if (!SendAll(fd, wire::EncodeFrame(FrameType::kHello, 0, 0, 0, 0, wire::EncodeHello(hello)),
               stop_)) {
    return;
  }
  wire::FrameParser parser;
  // Until the login is made the peer's frames are the login's small messages:
  // a longer announced frame ends the connection before it is buffered, so a
  // half-open login holds little memory.
  parser.set_payload_limit(wire::kMaxLoginMessage);
  bool logged_in = false;
  // What this connection had journaled before its login (bounded).
  size_t unauthenticated_kept = 0;
  // The key exchange under way: made on LOGIN_SHARE, judged on LOGIN.
  std::unique_ptr<wire::LoginExchange> exchange;
  bool account_known = false;
  // The logged-in link's keys: every frame after the login is sealed.
  std::unique_ptr<wire::LinkSeal> seal;
  // A text one frame cannot carry (a block put through the control
  // interface, say) goes as no text with result 3: the device answers, and
  // nothing it holds can fail its link.
  auto frame = [&](uint16_t type, uint32_t sequence, int32_t handle, uint32_t command,
                   int32_t result, std::string_view payload) {
    if (!wire::FitsOneFrame(payload.size())) {
      result = wire::kResultBadRequest;
      payload = {};
    }
    return seal->Seal(type, sequence, handle, command, result, payload);
  };
  auto frame_of = [&](FrameType type, uint32_t command, int32_t result, std::string_view payload) {
    return frame(static_cast<uint16_t>(type), 0, 0, command, result, payload);
  };
  const auto login_deadline = Clock::now() + kLoginTimeout;
  uint64_t events_sent = d.last_event();

  // Upload in progress.
  struct Upload {
    bool active = false;
    uint32_t kind = 0;
    std::string name;
    uint64_t size = 0;
    uint64_t received = 0;
    std::string data;  // kept for files; an image is checked as it arrives
    std::unique_ptr<ImageIntake> image;
    wire::Sha256 hash;
    int last_progress = -1;
  } up;
  // The talk session of this link; it closes with the link.
  struct TalkOnLink {
    TalkSink& sink;
    int id = -1;
    ~TalkOnLink() { sink.LinkClosed(id); }
  } talk{d.talk()};
  uint64_t transfer_bytes = 0;  // for the drop-mid-transfer fault
  bool conn_stalled = false;    // this link stopped mid-transfer (stall_after_bytes)

  auto reply = [&](const wire::Frame& req, int result, const std::string& text) -> bool {
    const Faults f = d.faults();
    if (f.delay_ms > 0 && !Nap(std::chrono::milliseconds(f.delay_ms), stop_)) return false;
    std::string bytes = frame(req.header.type | wire::kReplyBit, req.header.sequence,
                              req.header.handle, req.header.command, result, text);
    if (f.malformed_reply) {
      bytes[0] = 'X';
    } else if (f.oversize_reply) {
      bytes = frame(req.header.type | wire::kReplyBit, req.header.sequence, req.header.handle,
                    req.header.command, result, {});
      const uint32_t too_long = htonl(wire::kMaxWirePayload + 1);
      std::memcpy(&bytes[24], &too_long, 4);
    }
    return SendAll(fd, bytes, stop_);
  };

  // Between frames the link waits for its socket or a wake-up from the device
  // (an event, a fault, a drop); a bounded wait covers what needs neither.
  const int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  struct WakeRegistration {
    Device& d;
    int fd;
    ~WakeRegistration() {
      if (fd < 0) return;
      d.RemoveLinkWake(fd);
      close(fd);
    }
  } wake_registration{d, wake};
  if (wake >= 0) d.AddLinkWake(wake);
  auto wait_ms = [&] {
    if (wake < 0) return kPollMs;
    auto until = Clock::now() + std::chrono::milliseconds(kIdleWaitMs);
    if (!logged_in) until = std::min(until, login_deadline);
    until = std::min(until, d.NextEventDue());
    const auto ms =
        std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(ms, 0, kIdleWaitMs));
  };
  char buf[64 * 1024];
  while (!stop_.load() && d.generation() == generation && d.Up()) {
    if (!logged_in && Clock::now() >= login_deadline) return;
    if (d.faults().stall || conn_stalled) {
      Nap(std::chrono::milliseconds(kPollMs), stop_);
      continue;
    }
    bool flooding = false;
    if (logged_in && !d.faults().drop_replies) {
      d.ReleaseDueEvents();
      for (auto& [seq, code, data] : d.EventsSince(events_sent)) {
        events_sent = seq;
        // An event too long for a frame (a control command's text) is not sent.
        if (!wire::FitsOneFrame(data.size())) continue;
        if (!SendAll(fd, frame_of(FrameType::kEvent, code, 0, data), stop_)) return;
      }
      uint32_t code = 0;
      std::string data;
      if (const uint64_t n = d.TakeFlood(256, code, data); n > 0 && wire::FitsOneFrame(data.size())) {
        // Each copy is sealed on its own: it is a frame of its own on the link.
        std::string burst;
        burst.reserve((wire::kHeaderSize + data.size() + wire::kSealTagSize) * n);
        for (uint64_t i = 0; i < n; ++i) {
          if (!seal->Append(burst, FrameType::kEvent, 0, 0, code, 0, data)) return;
        }
        if (!SendAll(fd, burst, stop_)) return;
        flooding = true;
      }
    }
    // While flooding, requests are looked at between bursts without waiting.
    pollfd p[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
    if (poll(p, wake >= 0 ? 2 : 1, flooding ? 0 : wait_ms()) <= 0) continue;
    if (wake >= 0 && p[1].revents & POLLIN) {
      uint64_t v;
      [[maybe_unused]] ssize_t drained = read(wake, &v, sizeof v);
    }
    if (!(p[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n == 0) return;
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      return;
    }
    if (!parser.Feed(buf, static_cast<size_t>(n))) {
      if (logged_in) {
        d.Record("sdk", std::string(buf, static_cast<size_t>(n)));
      } else {
        d.RecordUnauthenticated("sdk", std::string_view(buf, static_cast<size_t>(n)), unauthenticated_kept);
      }
      return;  // a malformed frame closes the connection
    }
    while (auto next = parser.Next()) {
      // A frame of the logged-in link that does not open (altered, replayed,
      // moved, or injected by someone without the key) ends the connection.
      if (seal && !seal->Open(*next)) return;
      const wire::Frame& f = *next;
      const auto type = static_cast<FrameType>(f.header.type);
      if (type != FrameType::kPutData && type != FrameType::kTalkData) {
        std::string bytes = wire::EncodeFrame(f.header.type, f.header.sequence, f.header.handle,
                                              f.header.command, f.header.result, f.payload);
        if (logged_in) {
          d.Record("sdk", std::move(bytes));
        } else {
          d.RecordUnauthenticated("sdk", bytes, unauthenticated_kept);
        }
      }
      const Faults faults = d.faults();
      // A device that answers nothing: the peer sees it go by its time-outs.
      if (faults.drop_replies) continue;
      if (!logged_in) {
        // LOGIN_SHARE, then LOGIN; anything else ends the connection. A
        // LOGIN without a share of this connection before it (a replay) is
        // refused.
        auto answer = [&](int32_t result, std::string_view payload) {
          return SendAll(fd, wire::EncodeFrame(f.header.type | wire::kReplyBit, f.header.sequence,
                                               f.header.handle, 0, result, payload),
                         stop_);
        };
        if (type == FrameType::kLoginShare && !exchange) {
          const auto share = wire::DecodeLoginShare(f.payload);
          if (!share) {
            d.CountLogin(false);
            answer(wire::kResultBadCredentials, {});
            return;
          }
          const auto password = d.LoginPassword(share->user);
          account_known = password.has_value();
          exchange = std::make_unique<wire::LoginExchange>(
              wire::LoginExchange::Side::kDevice,
              password ? *password : wire::RandomBytes(32), share->user, hello.nonce,
              share->nonce);
          if (!exchange->TakePeerShare(share->share)) {
            d.CountLogin(false);
            answer(wire::kResultBadCredentials, {});
            return;
          }
          if (!answer(wire::kResultOk, exchange->share())) return;
          continue;
        }
        if (type != FrameType::kLogin) return;
        // The tag is checked for an unknown user too (against the exchange
        // run with a random secret), and the verdict combines both without a
        // branch, so its timing does not tell an unknown user from a wrong
        // password.
        const bool tag_ok = exchange && exchange->CheckPeerTag(f.payload);
        const bool ok = tag_ok & account_known;
        d.CountLogin(ok);
        if (!answer(ok ? wire::kResultOk : wire::kResultBadCredentials,
                    ok ? exchange->Tag() : std::string()) ||
            !ok) {
          return;
        }
        seal = std::make_unique<wire::LinkSeal>(*exchange);
        exchange.reset();
        parser.set_payload_limit(wire::kMaxWirePayload);
        logged_in = true;
        continue;
      }
      switch (type) {
        case FrameType::kHeartbeat:
          d.PushFocusReport();
          if (!SendAll(fd, frame(f.header.type | wire::kReplyBit, f.header.sequence,
                                 f.header.handle, 0, 0, {}),
                       stop_)) {
            return;
          }
          break;
        case FrameType::kSystemControl:
        case FrameType::kGetConfig:
        case FrameType::kSetConfig:
        case FrameType::kSetDeviceConfig: {
          // The switches of this command code (config_store.h) come first.
          const CodeFault code_fault = d.code_fault(f.header.command);
          if (!code_fault.alarm_record.empty()) d.PushEvent(23, code_fault.alarm_record);
          if (code_fault.kind == CodeFault::Kind::kRefuse) {
            if (!SendAll(fd, frame(f.header.type | wire::kReplyBit, f.header.sequence, f.header.handle,
                                   f.header.command, wire::kResultUnsupported, {}),
                         stop_)) {
              return;
            }
            break;
          }
          if (code_fault.kind == CodeFault::Kind::kDrop) break;
          SdkAnswer a;
          if (code_fault.kind == CodeFault::Kind::kResult) {
            // A failure answer: a get still carries its block, nothing changes.
            if (type == FrameType::kGetConfig) a = d.GetConfig(f.header.command);
            a.result = code_fault.result;
          } else if (type == FrameType::kSystemControl) {
            a = d.SystemControl(f.header.command, f.payload);
          } else if (type == FrameType::kGetConfig) {
            a = d.GetConfig(f.header.command);
          } else {
            a = d.SetConfig(f.header.command, f.payload);
          }
          if (code_fault.kind == CodeFault::Kind::kMalformed) a = {0, MalformedBlock(a.text)};
          if (!reply(f, a.result, a.text)) return;
          break;
        }
        case FrameType::kReboot:
          reply(f, 0, {});
          d.Reboot();
          return;
        case FrameType::kRestoreConfig:
          d.RestoreConfig();
          if (!reply(f, 0, {})) return;
          break;
        case FrameType::kPutBegin: {
          uint64_t size = 0;
          if (up.active || !wire::GetU64(f.payload, 0, size) || size > kMaxUpload) {
            if (!reply(f, up.active ? wire::kResultBusy : wire::kResultBadRequest, {})) return;
            break;
          }
          // The OEM stores take only names they can keep, and refuse on request.
          if (const auto refused = d.oem_files().AcceptUpload(f.header.command, f.payload.substr(8));
              refused && *refused != 0) {
            if (!reply(f, *refused, {})) return;
            break;
          }
          up = Upload{};
          up.active = true;
          up.kind = f.header.command;
          up.name = f.payload.substr(8);
          up.size = size;
          if (up.kind == static_cast<uint32_t>(wire::TransferKind::kFirmware))
            up.image = std::make_unique<ImageIntake>(size);
          if (!reply(f, 0, {})) return;
          break;
        }
        case FrameType::kPutData: {
          if (!up.active || up.received + f.payload.size() > up.size) return;
          up.received += f.payload.size();
          if (up.image) {
            up.image->Feed(f.payload);
          } else {
            up.data += f.payload;
          }
          up.hash.Update(f.payload);
          transfer_bytes += f.payload.size();
          if (faults.drop_after_bytes >= 0 &&
              transfer_bytes >= static_cast<uint64_t>(faults.drop_after_bytes)) {
            return;
          }
          if (faults.stall_after_bytes >= 0 &&
              transfer_bytes >= static_cast<uint64_t>(faults.stall_after_bytes)) {
            conn_stalled = true;
            break;
          }
          // Progress of the reception: 0-90 % for firmware, 0-100 % otherwise.
          const bool firmware = up.kind == static_cast<uint32_t>(wire::TransferKind::kFirmware);
          const int pct = static_cast<int>(up.received * (firmware ? 90 : 100) /
                                           std::max<uint64_t>(up.size, 1));
          if (pct / 10 != up.last_progress / 10) {
            up.last_progress = pct;
            if (!SendAll(fd, frame_of(FrameType::kProgress, up.kind, pct, {}),
                         stop_)) {
              return;
            }
          }
          break;
        }
        case FrameType::kPutEnd: {
          if (!up.active) {
            if (!reply(f, wire::kResultBadRequest, {})) return;
            break;
          }
          up.active = false;
          const std::string digest = wire::DigestBytes(up.hash.Final());
          if (up.received != up.size || !wire::DigestEqual(digest, f.payload)) {
            if (!reply(f, wire::kResultChecksum, {})) return;
            break;
          }
          // Every file the device received whole, with its SHA-256.
          d.Record("file", ReceivedFileJournalText(up.kind, up.size, wire::ToHex(digest), up.name));
          if (up.kind == static_cast<uint32_t>(wire::TransferKind::kFirmware)) {
            // The device checks the image before it writes anything.
            std::string version, error;
            if (!up.image->Finish(version, error)) {
              d.CountRefusedImage(error);
              if (!reply(f, wire::kResultBadRequest, {})) return;
              break;
            }
            // "Writing flash": progress 90-100 over the device's upgrade time.
            const int ms = d.config().upgrade_ms;
            for (int pct = 92; pct <= 100; pct += 2) {
              if (!Nap(std::chrono::milliseconds(ms / 5), stop_)) return;
              if (!SendAll(fd, frame_of(FrameType::kProgress, up.kind, pct, {}),
                           stop_)) {
                return;
              }
            }
            d.CountUpgrade(wire::ToHex(digest), up.size);
            d.ApplyFirmwareVersion(version);
            // A device that resets at the end drops the link before it answers.
            if (!d.faults().reset_at_end) reply(f, 0, {});
            d.Reboot();
            return;
          }
          d.StoreUploadedFile(up.kind, up.name, up.data);
          up.data.clear();
          if (!reply(f, 0, {})) return;
          break;
        }
        case FrameType::kGetFile: {
          std::string content;
          if (!d.ReadDeviceFile(f.header.command, f.payload, content)) {
            if (!reply(f, wire::kResultNotFound, {})) return;
            break;
          }
          if (!reply(f, 0, {})) return;
          for (size_t at = 0; at < content.size(); at += wire::kChunkSize) {
            const std::string chunk = content.substr(at, wire::kChunkSize);
            transfer_bytes += chunk.size();
            if (faults.drop_after_bytes >= 0 &&
                transfer_bytes >= static_cast<uint64_t>(faults.drop_after_bytes)) {
              return;
            }
            if (!SendAll(fd, frame_of(FrameType::kFileData, f.header.command, 0, chunk), stop_)) {
              return;
            }
          }
          if (!SendAll(fd, frame_of(FrameType::kFileEnd, f.header.command, 0,
                                    wire::DigestBytes(wire::Sha256Of(content))),
                       stop_)) {
            return;
          }
          break;
        }
        case FrameType::kTalkStart: {
          int id = -1;
          // Busy while any session of the device is open, this link's too.
          const int result = d.talk().Begin(f.header.handle, f.payload, id);
          if (result == wire::kResultOk) talk.id = id;
          if (!reply(f, result, {})) return;
          break;
        }
        case FrameType::kTalkData:
          d.talk().Data(talk.id, f.header.command, f.payload);
          break;
        case FrameType::kTalkStop: {
          const bool was_open = d.talk().Stop(talk.id);
          talk.id = -1;
          if (!reply(f, was_open ? wire::kResultOk : wire::kResultNotFound, {})) return;
          break;
        }
        default:
          if (!reply(f, wire::kResultUnsupported, {})) return;
      }
    }
    if (parser.error() != wire::ParseError::kNone) return;
  }
}

void Simulator::ServeLog(Device& d, int fd) {
  const uint64_t close_gen = d.log_close_generation();
  const std::string serial = d.serial();
  LogStream& stream = d.log_stream();
  const LogStream::Mode mode = stream.mode();
  const bool raw = mode != LogStream::Mode::kNormal;
  const bool silent = mode == LogStream::Mode::kSilent;
  const uint64_t reset_after = stream.reset_after();
  uint64_t conn_sent = 0;
  size_t journal_kept = 0;  // of what this connection sent (the log port has no login)
  // Sends what fits before the reset point; false when the link is to end.
  auto send = [&](std::string out) {
    bool reset = false;
    if (reset_after > 0 && conn_sent + out.size() >= reset_after) {
      const size_t keep = static_cast<size_t>(reset_after - conn_sent);
      out.resize(keep);
      reset = true;
    }
    if (!out.empty()) {
      if (!SendAll(fd, out, stop_)) return false;
      stream.NoteSent(out);
      conn_sent += out.size();
    }
    return !reset;
  };
  // Mark where this connection starts reading before greeting the peer: a line
  // pushed right after the greeting arrives must not be skipped.
  uint64_t sent = 0;
  for (const auto& l : d.LogSince(0)) sent = l.first;  // only lines pushed from now on
  if (!raw && !send("devsim " + serial + ": log opened\r\n")) return;
  int tick = 0;
  auto next_tick = Clock::now() + std::chrono::seconds(1);
  char buf[4096];
  constexpr size_t kStreamChunk = 64 * 1024;
  while (!stop_.load() && d.log_close_generation() == close_gen && d.Up()) {
    std::string out;
    bool full_chunk = false;
    if (!silent) {
      for (const auto& [seq, line] : d.LogSince(sent)) {
        sent = seq;
        out += line;
      }
      if (!raw && Clock::now() >= next_tick) {
        out += "devsim " + serial + ": tick " + std::to_string(++tick) + "\r\n";
        next_tick += std::chrono::seconds(1);
      }
      // Stream bytes not yet sent on any connection; those cut off by a reset
      // go back, so the next connection carries on where this one stopped.
      std::string due = stream.TakeDue(kStreamChunk);
      full_chunk = due.size() == kStreamChunk;
      if (reset_after > 0 && conn_sent + out.size() + due.size() > reset_after) {
        const uint64_t room = reset_after > conn_sent + out.size() ? reset_after - conn_sent - out.size() : 0;
        stream.GiveBack(due.size() - static_cast<size_t>(room));
        due.resize(static_cast<size_t>(room));
      }
      out += due;
    }
    if (!out.empty() && !send(std::move(out))) return;
    if (reset_after > 0 && conn_sent >= reset_after) return;
    pollfd p{fd, POLLIN, 0};
    // A stream that filled its chunk has more due at once: only look for input.
    const int wait_ms = full_chunk ? 0 : stream.StreamPending() && !silent ? 2 : kPollMs;
    if (poll(&p, 1, wait_ms) <= 0) continue;
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n == 0) return;
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      return;
    }
    d.RecordUnauthenticated("log", std::string_view(buf, static_cast<size_t>(n)), journal_kept);
    if (raw) continue;
    if (!send("devsim " + serial + ": command received (" + std::to_string(n) + " bytes)\r\n")) return;
  }
}

void Simulator::DiscoveryLoop() {
  char buf[65536];
  char control[256];
  while (!stop_.load()) {
    pollfd p{discovery_fd_, POLLIN, 0};
    if (poll(&p, 1, kPollMs) <= 0) continue;
    sockaddr_in from{};
    iovec iov{buf, sizeof buf - 1};
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = recvmsg(discovery_fd_, &msg, 0);
    if (n <= 0) continue;
    HandleDatagram(std::string(buf, static_cast<size_t>(n)), from);
  }
}

Device* Simulator::Find(const std::string& key) {
  for (auto& d : devices_) {
    if (d->serial() == key) return d.get();
  }
  char* end = nullptr;
  const long i = std::strtol(key.c_str(), &end, 10);
  if (!key.empty() && *end == '\0' && i >= 0 && i < static_cast<long>(devices_.size())) {
    return devices_[static_cast<size_t>(i)].get();
  }
  return nullptr;
}

void Simulator::HandleDatagram(const std::string& text, const sockaddr_in& from) {
  const auto request = ParseDiscoveryRequest(text);
  if (!request) return;

  if (request->code == 1) {
    for (auto& d : devices_) {
      if (!d->Up()) continue;
      size_t kept = 0;
      d->RecordUnauthenticated("udp", text, kept);
      if (d->faults().drop_replies) continue;
      const std::string reply = d->SearchReplyText();
      // Answer from the device's own address, to the sender.
      const std::string ip = d->ip();
      iovec iov{const_cast<char*>(reply.data()), reply.size()};
      char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
      msghdr msg{};
      sockaddr_in to = from;
      msg.msg_name = &to;
      msg.msg_namelen = sizeof to;
      msg.msg_iov = &iov;
      msg.msg_iovlen = 1;
      msg.msg_control = control;
      msg.msg_controllen = sizeof control;
      cmsghdr* cm = CMSG_FIRSTHDR(&msg);
      cm->cmsg_level = IPPROTO_IP;
      cm->cmsg_type = IP_PKTINFO;
      cm->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
      in_pktinfo info{};
      inet_pton(AF_INET, ip.c_str(), &info.ipi_spec_dst);
      std::memcpy(CMSG_DATA(cm), &info, sizeof info);
      if (sendmsg(discovery_fd_, &msg, 0) < 0) {
        sendto(discovery_fd_, reply.data(), reply.size(), 0,
               reinterpret_cast<const sockaddr*>(&from), sizeof from);
      }
    }
    return;
  }
  if (request->key.empty()) return;
  Device* target = nullptr;
  for (auto& d : devices_) {
    const DeviceConfig c = d->config();
    if ((request->code == 5898 ? c.uuid : c.serial) == request->key) target = d.get();
  }
  if (target == nullptr || !target->Up()) return;
  size_t kept = 0;
  target->RecordUnauthenticated("udp", text, kept);
  // Every command must carry the device's account as operator credentials.
  const DeviceConfig c = target->config();
  if (!request->user || !request->password || *request->user != c.user ||
      *request->password != c.password) {
    return;
  }
  switch (request->code) {
    case 2:
      if (request->lan) {
        target->ApplyLan(*request->lan);
      } else if (request->intercom) {
        target->ApplyIntercom(*request->intercom);
      }
      break;
    case 5:
    case 5898:
      target->Restore(request->code == 5 && request->retain_network);
      break;
    case 7:
      target->Reboot();
      break;
    case 9:
      target->SetFactoryMode(request->flag);
      break;
    default:
      break;
  }
}

std::string Simulator::Control(const std::string& line) {
  std::istringstream in(line);
  std::string cmd, who;
  in >> cmd;
  if (cmd.empty()) return "";
  if (cmd == "help") {
    return "ok list|state D|journal D [clear]|get D CODE|set D CODE HEX|fault D NAME VALUE|"
           "alarm D CODE [DETAIL]|event D CODE [TEXT]|flood D CODE COUNT [TEXT]|log D TEXT|loghex D HEX|logmode D normal|raw|silent|refuse|logreset D BYTES|logstream D RATE TOTAL HEX|logsent D [PATH]|log_close D|reboot D|drop D|"
           "offline D|online D|codefault D CODE NAME [VALUE]|file D PATH HEX|madefile D picture NAME|video NAME|delay MS|recover D [ARGS]|recovery D|"
           "oem D put mp3|app NAME [HEX]|oem D list mp3|app|oem D play|oem D fault upload|delete|listen|repeat_pages 0|1|quit";
  }
  if (cmd == "list") {
    std::string out = "ok " + std::to_string(devices_.size());
    for (int i = 0; i < device_count(); ++i) {
      out += "\ndevice " + std::to_string(i) + " " + devices_[i]->serial() + " " +
             devices_[i]->ip() + " sdk=" + std::to_string(command_port(i)) +
             " log=" + std::to_string(log_port(i));
    }
    return out;
  }
  static const char* const kPerDevice[] = {"state", "journal", "get", "set", "fault", "alarm",
                                          "event", "flood", "log", "log_close", "reboot", "drop", "file",
                                          "offline", "online", "codefault", "loghex", "logmode",
                                          "logreset", "logstream", "logsent", "recover",
                                          "recovery", "madefile", "oem", "talk"};
  if (std::find(std::begin(kPerDevice), std::end(kPerDevice), cmd) == std::end(kPerDevice)) {
    return "err unknown command '" + cmd + "'";
  }
  in >> who;
  Device* d = Find(who);
  if (d == nullptr) return "err unknown device '" + who + "'";
  std::string rest;
  std::getline(in, rest);
  if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
  std::istringstream args(rest);
  if (cmd == "state") return "ok " + d->StateText();
  if (cmd == "recover") return RecoverControl(recovery_, *d, rest);
  if (cmd == "recovery") return "ok " + recovery_.State(d->index());
  if (cmd == "talk") return TalkControl(*d, rest);
  if (cmd == "journal") {
    const auto entries = d->Journal(rest == "clear");
    std::string out = "ok " + std::to_string(entries.size());
    for (const auto& e : entries) out += "\n" + e.channel + " " + HexEncode(e.bytes);
    return out;
  }
  if (cmd == "get") {
    uint32_t code = 0;
    args >> code;
    const SdkAnswer a = d->GetConfig(code);
    return a.result == 0 ? "ok " + HexEncode(a.text) : "err no block " + std::to_string(code);
  }
  if (cmd == "set") {
    uint32_t code = 0;
    std::string hex, text;
    args >> code >> hex;
    if (!HexDecode(hex, text)) return "err bad hex";
    if (code == 305) {
      // The live LAN block: the device takes the settings (a new address
      // moves its sockets and its discovery answers).
      return d->ApplyLanText(text) ? "ok" : "err bad LAN block";
    }
    d->PutBlock(code, text);
    return "ok";
  }
  if (cmd == "fault") {
    std::string name, value;
    args >> name >> value;
    if (name == "result") {
      // `fault D result CODE N`: that command code is answered with N.
      uint32_t code = 0;
      int n = 0;
      std::istringstream code_args(value);
      if (!(code_args >> code) || !(args >> n)) return "err fault D result CODE N";
      const std::string error = d->SetCodeFault(code, "result " + std::to_string(n));
      return error.empty() ? "ok" : "err " + error;
    }
    return d->SetFault(name, value) ? "ok" : "err unknown fault '" + name + "'";
  }
  if (cmd == "codefault") {
    std::istringstream fault_args(rest);
    uint32_t code = 0;
    if (!(fault_args >> code)) return "err codefault D CODE NAME [VALUE]";
    std::string spec;
    std::getline(fault_args, spec);
    const std::string error = d->SetCodeFault(code, spec);
    return error.empty() ? "ok" : "err " + error;
  }
  if (cmd == "alarm") {
    int code = 0;
    args >> code;
    std::string detail;
    std::getline(args, detail);
    if (!detail.empty() && detail[0] == ' ') detail.erase(0, 1);
    d->PushEvent(23, AlarmRecord(code, 0, detail));
    return "ok";
  }
  if (cmd == "flood") {
    uint32_t code = 0;
    uint64_t count = 0;
    if (!(args >> code >> count)) return "err flood D CODE COUNT [TEXT]";
    std::string text;
    std::getline(args, text);
    if (!text.empty() && text[0] == ' ') text.erase(0, 1);
    d->SetFlood(code, code == 23 ? AlarmRecord(0, 0, text) : text, count);
    return "ok";
  }
  if (cmd == "event") {
    uint32_t code = 0;
    args >> code;
    std::string text;
    std::getline(args, text);
    if (!text.empty() && text[0] == ' ') text.erase(0, 1);
    d->PushEvent(code, text);
    return "ok";
  }
  if (cmd == "log") {
    d->PushLog(rest + "\r\n");
    return "ok";
  }
  if (cmd == "loghex") {
    std::string hex, bytes;
    args >> hex;
    if (!HexDecode(hex, bytes)) return "err bad hex";
    d->PushLog(bytes);
    return "ok";
  }
  if (cmd == "logmode") {
    std::string m;
    args >> m;
    static const std::map<std::string, LogStream::Mode> modes = {{"normal", LogStream::Mode::kNormal},
                                                                 {"raw", LogStream::Mode::kRaw},
                                                                 {"silent", LogStream::Mode::kSilent},
                                                                 {"refuse", LogStream::Mode::kRefuse}};
    const auto it = modes.find(m);
    if (it == modes.end()) return "err mode is normal, raw, silent or refuse";
    d->log_stream().SetMode(it->second);
    return "ok";
  }
  if (cmd == "logreset") {
    uint64_t n = 0;
    if (!(args >> n)) return "err logreset D BYTES";
    d->log_stream().SetResetAfter(n);
    return "ok";
  }
  if (cmd == "logstream") {
    uint64_t rate = 0, total = 0;
    std::string hex, pattern;
    if (!(args >> rate >> total >> hex) || !HexDecode(hex, pattern) || pattern.empty())
      return "err logstream D RATE TOTAL HEX";
    d->log_stream().StartStream(pattern, total, rate);
    return "ok";
  }
  if (cmd == "logsent") {
    std::string path;
    args >> path;
    const std::string bytes = d->log_stream().Sent();
    if (!path.empty()) {
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      if (!out) return "err cannot write " + path;
    }
    return "ok " + std::to_string(bytes.size());
  }
  if (cmd == "log_close") {
    d->CloseLogs();
    return "ok";
  }
  if (cmd == "reboot") {
    d->Reboot();
    return "ok";
  }
  if (cmd == "drop") {
    d->DropLinks();
    return "ok";
  }
  if (cmd == "offline" || cmd == "online") {
    d->SetOffline(cmd == "offline");
    return "ok";
  }
  if (cmd == "madefile") {
    const std::string error = d->SetMadeFileSetting(rest);
    return error.empty() ? "ok" : "err " + error;
  }
  if (cmd == "oem") {
    std::string sub, kind, name, hex, content;
    if (!(args >> sub) || sub != "put") return d->oem_files().Command(rest);
    args >> kind >> name >> hex;
    if (!HexDecode(hex, content)) return "err bad hex";
    return d->oem_files().Put(kind, name, content);
  }
  if (cmd == "file") {
    std::string path, hex, content;
    args >> path >> hex;
    if (!HexDecode(hex, content)) return "err bad hex";
    d->PutDeviceFile(path, content);
    return "ok";
  }
  return "err unknown command '" + cmd + "'";
}

}  // namespace kelvara::devsim
