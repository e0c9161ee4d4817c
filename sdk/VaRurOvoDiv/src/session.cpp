#include "session.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include "sdk_log.h"
#include "session_starter.h"

namespace varurovodiv {
namespace {

using wire::FrameType;
using Clock = std::chrono::steady_clock;

// Requests of one login waiting to be sent or answered: each will produce one
// AUX response, which is never dropped, so their number is bounded here.
constexpr size_t kMaxQueuedRequests = 1024;

// The status events a device may send in an EVENT frame: talk results (6, 7,
// 8, 35, 36, 37), the record events (23, 24, 25, 30) and the text event 32.
// Every other code belongs to the SDK (login state, transfer outcomes,
// progress): a device forging one could end a transfer twice or name a file
// the SDK never wrote.
bool IsDeviceEventCode(uint32_t code) {
  switch (code) {
    case 6: case 7: case 8:
    case STATUS_EVENT_ALARM: case 24: case 25: case 30:
    case 32:
    case 35: case 36: case 37:
      return true;
    default:
      return false;
  }
}

// Events whose data is a fixed-size record: callers read the whole record, so
// a short payload from the device is zero-padded and a long one cut.
size_t RecordEventSize(uint32_t code) {
  switch (code) {
    case STATUS_EVENT_ALARM: return 168;  // DeviceAlarmInfo
    case 24: return 536;                  // MP4_VIDEO_PARAM
    case 25: return 276;                  // MP4_AUDIO_PARAM
    case 30: return 1360;                 // MEDIA_STREAM_INFO
    default: return 0;
  }
}
constexpr size_t kMaxQueuedTransfers = 16;
// Keep at most this much file data waiting in the send buffer, so replies and
// heartbeats are not stuck behind a whole firmware image.
constexpr size_t kTransferWindow = 4 * wire::kChunkSize;
// Largest file the SDK accepts from a device.
constexpr uint64_t kMaxDownload = 256ull << 20;
// The link's reads and upload chunks; a read takes at most one whole chunk.
constexpr size_t kIoBufferSize = wire::kChunkSize;

// A session thread's stack. Its deepest path (a frame handled while the
// link is served, posting an event) uses a few KiB; the buffers live on the
// heap. Small stacks keep thousands of logins cheap to start and end.
// Sanitizer builds keep the default, as their instrumentation needs more.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr size_t kSessionStackSize = 0;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr size_t kSessionStackSize = 0;
#else
constexpr size_t kSessionStackSize = 256 * 1024;
#endif
#else
constexpr size_t kSessionStackSize = 256 * 1024;
#endif

int MsUntil(Clock::time_point t) {
  const auto d = std::chrono::duration_cast<std::chrono::milliseconds>(t - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(d, 0, 60000));
}

std::string XmlEscape(const std::string& in) {
  std::string out;
  for (char c : in) {
    switch (c) {
      case '"': out += "&quot;"; break;
      case '&': out += "&amp;"; break;
      case '\'': out += "&apos;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
  return out;
}

// The failure of a transfer whose frame could not be built.
constexpr const char* kNotSentText = "<RESPONSE_PARAM Error=\"cannot be sent\" />";

bool IsUploadProgressFirmware(const TransferJob& job) {
  return job.upload && job.kind == wire::TransferKind::kFirmware;
}

// The text of an upload's terminal event: the failure's RESPONSE_PARAM (or an
// empty one) with the transfer kind added, so the caller can tell an upgrade's
// outcome from that of a file upload queued on the same login.
std::string UploadOutcomeText(const TransferJob& job, const std::string& text) {
  const std::string kind = " Kind=\"" + std::to_string(static_cast<int>(job.kind)) + "\"";
  const std::string base = text.empty() ? "<RESPONSE_PARAM />" : text;
  const auto close = base.rfind("/>");
  if (close == std::string::npos) return base;
  std::string out = base.substr(0, close);
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out + kind + " />";
}

}  // namespace

Session::Session(int handle, LoginParams params, const Timeouts& timeouts, bool auto_reconnect,
                 EventDispatcher& dispatcher)
    : handle_(handle),
      params_(std::move(params)),
      timeouts_(timeouts),
      dispatcher_(dispatcher),
      auto_reconnect_(auto_reconnect) {}

Session::~Session() {
  Stop();
  if (wake_fd_ >= 0) close(wake_fd_);
}

bool Session::IoBuffer::Map() {
  void* p = mmap(nullptr, kIoBufferSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return false;
  data = static_cast<char*>(p);
  return true;
}

void Session::IoBuffer::Unmap() {
  if (data != nullptr) munmap(data, kIoBufferSize);
  data = nullptr;
}

Session::IoBuffer::~IoBuffer() { Unmap(); }

void* Session::ThreadMain(void* session) {
  pthread_setname_np(pthread_self(), "vrod-login");
  auto* self = static_cast<Session*>(session);
  // Nothing thrown on a login's thread may end the process. The requests
  // and the served link handle their own failures; what still gets here
  // (memory running out while logging in) ends this login alone.
  try {
    self->Run();
  } catch (const std::exception& e) {
    self->Abandon(e.what());
  }
  // A thread that ended by itself (a refused login) is joined by the
  // starter, which takes a reference: the session outlives the join. Every
  // other end is a Stop, which joins the thread itself. Nothing of the
  // session is touched after the hand-over.
  if (self->ended_by_itself_ && self->joiner_ != nullptr && !self->stop_.load()) {
    if (std::shared_ptr<Session> owner = self->weak_from_this().lock()) self->joiner_->Join(std::move(owner));
  }
  return nullptr;
}

void Session::Start(SessionStarter* joiner) {
  std::lock_guard lock(start_mutex_);
  if (stop_.load()) return;
  joiner_ = joiner;
  // The wake-up descriptor and the buffer are made here, not by the
  // constructor, which runs on the thread that logs in: a new descriptor or
  // mapping may wait for the process's descriptor table or address space,
  // which the other logins' threads are busy growing.
  int err = io_buffer_.Map() ? 0 : ENOMEM;
  if (err == 0) {
    const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) err = errno;
    wake_fd_ = fd;
  }
  if (err == 0) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    if (kSessionStackSize != 0) pthread_attr_setstacksize(&attr, kSessionStackSize);
    err = pthread_create(&thread_, &attr, &Session::ThreadMain, this);
    pthread_attr_destroy(&attr);
  }
  thread_started_ = err == 0;
  if (!thread_started_) {
    SdkLog("handle %d: no thread for the login: %s", handle_, std::strerror(err));
    stop_.store(true);
    PostStatus(STATUS_EVENT_CONNECT_FAILED);
  }
}

void Session::Wake() {
  std::lock_guard lock(wake_mutex_);
  const int fd = wake_fd_.load();
  if (fd < 0) return;
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(fd, &one, sizeof one);
}

void Session::RequestStop() {
  MarkStopped();
  Wake();
}

void Session::Stop() {
  RequestStop();
  JoinEnded();
}

void Session::JoinEnded() {
  std::lock_guard lock(start_mutex_);
  if (thread_started_) pthread_join(thread_, nullptr);
  thread_started_ = false;
}

void Session::ReleaseAfterRefusal() {
  io_buffer_.Unmap();
  std::lock_guard lock(wake_mutex_);
  const int fd = wake_fd_.exchange(-1);
  if (fd >= 0) close(fd);
}

void Session::SetAutoReconnect(bool enable) {
  // Only a change wakes the thread: programs switch it on after every login,
  // most often to the value the login was made with.
  if (auto_reconnect_.exchange(enable) == enable) return;
  Wake();
}

int Session::Submit(Request request) {
  SessionQueue<Request> one;
  one.push_back(std::move(request));
  return Submit(one);
}

int Session::Submit(SessionQueue<Request>& one) {
  if (stop_.load()) return ZQ_NETSDK_ERR_BAD_HANDLE;
  if (!online_.load()) return ZQ_NETSDK_ERR_NOT_ONLINE;
  {
    std::lock_guard lock(queue_mutex_);
    if (requests_.size() + pending_count_.load() >= kMaxQueuedRequests) {
      return ZQ_NETSDK_ERR_QUEUE_FULL;
    }
    requests_.splice(requests_.end(), one);
  }
  Wake();
  return 0;
}

int Session::SubmitTransfer(TransferJob job) {
  if (stop_.load()) return ZQ_NETSDK_ERR_BAD_HANDLE;
  if (!online_.load()) return ZQ_NETSDK_ERR_NOT_ONLINE;
  // Made before the lock: a job that cannot be queued changes nothing.
  SessionQueue<TransferJob> one;
  one.push_back(std::move(job));
  const bool upgrade = one.front().upload && one.front().kind == wire::TransferKind::kFirmware;
  {
    std::lock_guard lock(queue_mutex_);
    if (transfers_.size() >= kMaxQueuedTransfers) return ZQ_NETSDK_ERR_QUEUE_FULL;
    if (upgrade) upgrade_progress_.store(0);
    transfers_.splice(transfers_.end(), one);
  }
  Wake();
  return 0;
}

void Session::PostStatus(int code, std::string data) {
  SdkEvent e;
  e.kind = SdkEvent::Kind::kStatus;
  e.handle = handle_;
  e.status_code = code;
  e.data = std::move(data);
  dispatcher_.Post(std::move(e));
}

void Session::PostDeviceStatus(int code, std::string data) {
  SdkEvent e;
  e.kind = SdkEvent::Kind::kStatus;
  e.handle = handle_;
  e.status_code = code;
  e.data = std::move(data);
  dispatcher_.Post(std::move(e), EventOrigin::kDevice);
}

void Session::PostAux(int result, uint32_t command, std::string text) {
  SdkEvent e;
  e.kind = SdkEvent::Kind::kAux;
  e.handle = handle_;
  e.result_and_command = (static_cast<unsigned>(result & 0xFF) << 24) | (command & 0xFFFFFF);
  e.data = std::move(text);
  dispatcher_.Post(std::move(e));
}

void Session::DrainWake() {
  uint64_t v;
  while (read(wake_fd_, &v, sizeof v) > 0) {
  }
}

bool Session::WaitWake(std::chrono::milliseconds timeout) {
  pollfd p{wake_fd_, POLLIN, 0};
  poll(&p, 1, static_cast<int>(timeout.count()));
  DrainWake();
  return !stop_.load();
}

void Session::Run() {
  auto backoff = timeouts_.reconnect;
  bool reported_outage = false;
  while (!stop_.load()) {
    const LoginOutcome outcome = ConnectAndLogin();
    if (outcome == LoginOutcome::kStopped) break;
    if (outcome == LoginOutcome::kOk) {
      backoff = timeouts_.reconnect;
      reported_outage = false;
      online_.store(true);
      PostStatus(STATUS_EVENT_LOGIN_OK);
      const LinkEnd end = Serve();
      online_.store(false);
      FailAllOnLinkLoss();
      CloseLink();
      if (end == LinkEnd::kStopped) break;
      PostStatus(end == LinkEnd::kHeartbeat  ? STATUS_EVENT_HEARTBEAT_LOST
                 : end == LinkEnd::kProtocol ? STATUS_EVENT_PROTOCOL_ERROR
                                             : STATUS_EVENT_LINK_LOST);
    } else if (outcome == LoginOutcome::kRefused) {
      FailAllOnLinkLoss();
      // Retrying a refused password only risks locking the account: stay down
      // until the caller logs in again with other credentials. The handle
      // stays valid (calls on it answer "not online") until the logout, but
      // nothing more happens on it, so it keeps no thread, descriptor or
      // buffer: a host that answers many spoofed serials with refusals must
      // not use up the process's threads and descriptors.
      PostStatus(STATUS_EVENT_LOGIN_REFUSED);
      ReleaseAfterRefusal();
      ended_by_itself_ = true;
      break;
    } else {
      // Requests accepted just before the link went down get their answer now,
      // not after an outage of unknown length.
      FailAllOnLinkLoss();
      if (!reported_outage) {
        PostStatus(outcome == LoginOutcome::kProtocol ? STATUS_EVENT_PROTOCOL_ERROR
                                                      : STATUS_EVENT_CONNECT_FAILED);
        reported_outage = true;
      }
    }
    // A login whose events the callback has not taken yet (a device that
    // flooded it) connects again only once they have mostly been delivered.
    while (!stop_.load() && dispatcher_.QueuedBytes(handle_) > kLoginEventBudget / 2) {
      WaitWake(std::chrono::milliseconds(20));
    }
    // Without automatic reconnection the login rests until reconnection is
    // switched on or the login ends.
    while (!stop_.load() && !auto_reconnect_.load()) WaitWake(std::chrono::milliseconds(60000));
    if (stop_.load()) break;
    if (!WaitWake(backoff)) break;
    backoff = std::min(backoff * 2, timeouts_.reconnect_max);
  }
  online_.store(false);
  CloseLink();
  if (active_ && active_->fd >= 0) close(active_->fd);
  if (active_ && !active_->part_path.empty()) unlink(active_->part_path.c_str());
  active_.reset();
}

void Session::CloseLink() {
  if (socket_ >= 0) close(socket_);
  socket_ = -1;
  parser_ = wire::FrameParser();
  seal_.reset();
  outbuf_.clear();
  throttled_ = false;
}

bool Session::SendAll(const std::string& bytes, Clock::time_point deadline) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = send(socket_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
    pollfd p[2] = {{socket_, POLLOUT, 0}, {wake_fd_, POLLIN, 0}};
    if (poll(p, 2, MsUntil(deadline)) <= 0 && Clock::now() >= deadline) return false;
    if (stop_.load()) return false;
  }
  return true;
}

std::optional<wire::Frame> Session::ReadFrame(wire::FrameParser& parser,
                                              Clock::time_point deadline) {
  for (;;) {
    if (auto f = parser.Next()) return f;
    if (parser.error() != wire::ParseError::kNone || stop_.load()) return std::nullopt;
    if (Clock::now() >= deadline) return std::nullopt;
    pollfd p[2] = {{socket_, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
    if (poll(p, 2, MsUntil(deadline)) < 0 && errno != EINTR) return std::nullopt;
    if (p[1].revents & POLLIN) {
      if (stop_.load()) return std::nullopt;
      // Wake-ups from Submit are consumed by the serving loop later.
    }
    if (p[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      char* buf = io_buffer_.data;
      const ssize_t n = recv(socket_, buf, kIoBufferSize, 0);
      if (n == 0) return std::nullopt;
      if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) continue;
        return std::nullopt;
      }
      parser.Feed(buf, static_cast<size_t>(n));
    } else if (p[1].revents & POLLIN) {
      // Avoid a busy loop on a pending wake-up while the handshake waits.
      pollfd q{socket_, POLLIN, 0};
      poll(&q, 1, std::min(MsUntil(deadline), 20));
    }
  }
}

Session::LoginOutcome Session::ConnectAndLogin() {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(params_.port);
  if (inet_pton(AF_INET, params_.address.c_str(), &addr.sin_addr) != 1) {
    SdkLog("handle %d: bad address '%s'", handle_, params_.address.c_str());
    return LoginOutcome::kUnreachable;
  }
  socket_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (socket_ < 0) return LoginOutcome::kUnreachable;
  const int one = 1;
  setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  setsockopt(socket_, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
  // A fixed receive buffer: what a device can make the kernel hold for a link
  // the SDK is not reading (see Serve) stays small.
  const int receive_buffer = 1 << 20;
  setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);

  const auto connect_deadline = Clock::now() + timeouts_.connect;
  if (connect(socket_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    if (errno != EINPROGRESS) {
      CloseLink();
      return LoginOutcome::kUnreachable;
    }
    for (;;) {
      pollfd p[2] = {{socket_, POLLOUT, 0}, {wake_fd_, POLLIN, 0}};
      poll(p, 2, MsUntil(connect_deadline));
      if (stop_.load()) {
        CloseLink();
        return LoginOutcome::kStopped;
      }
      if (p[1].revents & POLLIN) DrainWake();
      if (p[0].revents) break;
      if (Clock::now() >= connect_deadline) {
        CloseLink();
        return LoginOutcome::kUnreachable;
      }
    }
    int err = 0;
    socklen_t len = sizeof err;
    getsockopt(socket_, SOL_SOCKET, SO_ERROR, &err, &len);
    if (err != 0) {
      SdkLog("handle %d: connect %s:%u failed: %s", handle_, params_.address.c_str(), params_.port,
             std::strerror(err));
      CloseLink();
      return LoginOutcome::kUnreachable;
    }
  }

  // The key exchange (docs/device-protocol.md, "Login"): HELLO, our share,
  // the device's share, our tag, the verdict with the device's tag.
  const auto deadline = Clock::now() + timeouts_.reply;
  // Before our tag goes out, anything but a well-formed message of the
  // exchange within the time is a device breaking the protocol (status event
  // 5); silence is unreachability. Both are retried by the reconnection.
  auto fail = [this](bool got_frame) {
    const bool malformed = got_frame || parser_.error() != wire::ParseError::kNone;
    if (malformed) SdkLog("handle %d: bad handshake from %s", handle_, params_.address.c_str());
    CloseLink();
    return stop_.load() ? LoginOutcome::kStopped
           : malformed  ? LoginOutcome::kProtocol
                        : LoginOutcome::kUnreachable;
  };
  // A device that refuses, sends a share that is no point or a tag that does
  // not prove the password: the one outcome a wrong password has too.
  auto refused = [this](const char* why) {
    SdkLog("handle %d: login refused by %s (%s)", handle_, params_.address.c_str(), why);
    CloseLink();
    return LoginOutcome::kRefused;
  };
  // Sends one message of the exchange and reads the next frame; `answers`
  // tells whether it is the reply to that message.
  auto exchange = [&](FrameType type, const std::string& payload, bool& answers) {
    const uint32_t seq = NextSequence();
    answers = false;
    if (!SendAll(wire::EncodeFrame(type, seq, handle_, 0, 0, payload), deadline)) {
      return std::optional<wire::Frame>();
    }
    auto reply = ReadFrame(parser_, deadline);
    answers = reply && reply->header.type == (static_cast<uint16_t>(type) | wire::kReplyBit) &&
              reply->header.sequence == seq;
    return reply;
  };
  auto hello_frame = ReadFrame(parser_, deadline);
  if (!hello_frame || hello_frame->header.type != static_cast<uint16_t>(FrameType::kHello)) {
    return fail(hello_frame.has_value());
  }
  // Only the sealed link's method: a device that offers another (the link
  // in clear) fails the login rather than getting a link it could take over.
  const auto hello = wire::DecodeHello(hello_frame->payload);
  if (!hello) return fail(true);
  const std::string nonce = wire::RandomBytes(wire::kNonceSize);
  wire::LoginExchange pake(wire::LoginExchange::Side::kClient, params_.password, params_.user,
                           hello->nonce, nonce);
  bool answers = false;
  auto share = exchange(FrameType::kLoginShare,
                        wire::EncodeLoginShare({params_.user, nonce, pake.share()}), answers);
  if (!answers) return fail(share.has_value());
  if (share->header.result != wire::kResultOk) return refused("account");
  if (share->payload.size() != wire::kShareSize) return fail(true);
  if (!pake.TakePeerShare(share->payload)) return refused("the device's share is no point");
  // Once our tag goes out, the device can test one password guess against
  // it. Whatever it does then short of a tag that proves the password
  // (hanging up, garbage, silence) is a refused login, which is not retried:
  // else a device that knows no password would get a guess per reconnection.
  auto verdict = exchange(FrameType::kLogin, pake.Tag(), answers);
  if (stop_.load()) {
    CloseLink();
    return LoginOutcome::kStopped;
  }
  if (!answers) return refused("no verdict for the tag");
  if (verdict->header.result != wire::kResultOk) return refused("password");
  if (!pake.CheckPeerTag(verdict->payload)) return refused("the device did not prove the password");
  seal_ = std::make_unique<wire::LinkSeal>(pake);
  // What the device sent behind its verdict is of the sealed link: the parser
  // keeps it, and Serve opens it.
  last_received_ = Clock::now();
  next_heartbeat_ = last_received_ + timeouts_.heartbeat;
  return LoginOutcome::kOk;
}

void Session::TakeQueuedRequests() {
  SessionQueue<Request> taken;
  {
    std::lock_guard lock(queue_mutex_);
    taken.swap(requests_);
  }
  const auto now = Clock::now();
  for (Request& r : taken) {
    // Audio that cannot go counts as dropped, as a piece its full queue refused.
    for (const auto& [audio, tag] : r.audio_before) {
      if (!QueueFrame(FrameType::kTalkData, NextSequence(), tag, *audio)) talk_dropped_.fetch_add(1);
    }
    const uint32_t seq = NextSequence();
    if (r.talk == Request::Talk::kStart) talk_start_sequence_ = seq;
    // A request that cannot be sent fails alone; the link and the other
    // requests go on.
    try {
      if (!QueueFrame(r.type, seq, r.command, r.payload)) {
        FailUnsent(seq, r);
        continue;
      }
      pending_[seq] = Pending{r.command, r.wants_aux, now + timeouts_.reply, r.talk};
    } catch (const std::bad_alloc&) {
      SdkLog("handle %d: no memory for request %u", handle_, r.command);
      FailUnsent(seq, r);
    }
  }
  pending_count_.store(pending_.size());
  if (!active_) StartNextTransfer();
}

void Session::StartNextTransfer() {
  TransferJob job;
  {
    std::lock_guard lock(queue_mutex_);
    if (transfers_.empty()) return;
    job = std::move(transfers_.front());
    transfers_.pop_front();
  }
  auto t = std::make_unique<ActiveTransfer>();
  t->job = std::move(job);
  t->last_activity = Clock::now();
  t->started = t->last_activity;
  const uint32_t seq = NextSequence();
  t->sequence = seq;
  std::string payload;
  if (t->job.upload) {
    t->fd = open(t->job.local_path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (t->fd < 0 || fstat(t->fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      active_ = std::move(t);
      FinishTransfer(false, "<RESPONSE_PARAM Error=\"cannot read the local file\" />");
      return;
    }
    t->size = static_cast<uint64_t>(st.st_size);
    wire::PutU64(payload, t->size);
  }
  payload += t->job.device_path;
  const bool queued = QueueFrame(t->job.upload ? FrameType::kPutBegin : FrameType::kGetFile, seq,
                                 static_cast<uint32_t>(t->job.kind), payload);
  active_ = std::move(t);
  if (!queued) FinishTransfer(false, kNotSentText);
}

void Session::PumpTransfer() {
  ActiveTransfer* t = active_.get();
  if (t == nullptr || !t->job.upload || t->phase != ActiveTransfer::Phase::kSending) return;
  char* chunk = io_buffer_.data;
  while (outbuf_.size() < kTransferWindow && t->done < t->size) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kIoBufferSize, t->size - t->done));
    const ssize_t n = read(t->fd, chunk, want);
    if (n <= 0) {
      FinishTransfer(false, "<RESPONSE_PARAM Error=\"local file read failed\" />");
      return;
    }
    t->hash.Update(chunk, static_cast<size_t>(n));
    t->done += static_cast<uint64_t>(n);
    if (!QueueFrame(FrameType::kPutData, NextSequence(), static_cast<uint32_t>(t->job.kind),
                    std::string_view(chunk, static_cast<size_t>(n)))) {
      FinishTransfer(false, kNotSentText);
      return;
    }
    t->last_activity = Clock::now();
  }
  if (t->done >= t->size) {
    t->phase = ActiveTransfer::Phase::kEnding;
    t->sequence = NextSequence();
    if (!QueueFrame(FrameType::kPutEnd, t->sequence, static_cast<uint32_t>(t->job.kind),
                    wire::DigestBytes(t->hash.Final()))) {
      FinishTransfer(false, kNotSentText);
      return;
    }
    close(t->fd);
    t->fd = -1;
  }
}

void Session::FinishTransfer(bool ok, const std::string& text) {
  if (!active_) return;
  ActiveTransfer& t = *active_;
  if (t.fd >= 0) close(t.fd);
  t.fd = -1;
  int code;
  if (t.job.upload) {
    code = ok ? STATUS_EVENT_UPLOAD_DONE : STATUS_EVENT_UPLOAD_FAILED;
    if (ok && IsUploadProgressFirmware(t.job)) upgrade_progress_.store(100);
  } else {
    // A download is done only as a checked file under its final name.
    if (t.part_path.empty()) ok = false;
    code = ok ? STATUS_EVENT_DOWNLOAD_DONE : STATUS_EVENT_DOWNLOAD_FAILED;
    if (!t.part_path.empty()) {
      if (ok && rename(t.part_path.c_str(), t.job.local_path.c_str()) != 0) {
        ok = false;
        code = STATUS_EVENT_DOWNLOAD_FAILED;
      }
      if (!ok) unlink(t.part_path.c_str());
    }
  }
  std::string data = text;
  if (ok && !t.job.upload) {
    data = "<RESPONSE_PARAM LocalFileName=\"" + XmlEscape(t.job.local_path) + "\" />";
  } else if (t.job.upload) {
    data = UploadOutcomeText(t.job, text);
  }
  active_.reset();
  PostStatus(code, std::move(data));
  StartNextTransfer();
}

void Session::FailAllOnLinkLoss() {
  for (auto& [seq, p] : pending_) {
    if (p.talk != Request::Talk::kNone) TalkRequestDone(seq, p, ZQ_AUX_RESULT_LINK_LOST);
    if (p.wants_aux) PostAux(ZQ_AUX_RESULT_LINK_LOST, p.command, {});
  }
  pending_.clear();
  pending_count_.store(0);
  SessionQueue<Request> left;
  SessionQueue<TransferJob> jobs;
  {
    std::lock_guard lock(queue_mutex_);
    left.swap(requests_);
    jobs.swap(transfers_);
  }
  for (const Request& r : left) {
    if (r.wants_aux) PostAux(ZQ_AUX_RESULT_LINK_LOST, r.command, {});
  }
  TalkLinkLost();
  const std::string lost = "<RESPONSE_PARAM Error=\"link lost\" />";
  if (active_) {
    const bool upload = active_->job.upload;
    ActiveTransfer& t = *active_;
    if (t.fd >= 0) close(t.fd);
    if (!t.part_path.empty()) unlink(t.part_path.c_str());
    const std::string why = transfer_timed_out_ ? "<RESPONSE_PARAM Error=\"timed out\" />" : lost;
    const TransferJob job = t.job;
    active_.reset();
    PostStatus(upload ? STATUS_EVENT_UPLOAD_FAILED : STATUS_EVENT_DOWNLOAD_FAILED,
               upload ? UploadOutcomeText(job, why) : why);
  }
  transfer_timed_out_ = false;
  for (const TransferJob& j : jobs) {
    PostStatus(j.upload ? STATUS_EVENT_UPLOAD_FAILED : STATUS_EVENT_DOWNLOAD_FAILED,
               j.upload ? UploadOutcomeText(j, lost) : lost);
  }
}

void Session::Abandon(const char* why) {
  SdkLog("handle %d: the login ended: %s", handle_, why);
  const bool was_online = online_.exchange(false);
  stop_.store(true);
  try {
    CloseLink();
    FailAllOnLinkLoss();
    PostStatus(was_online ? STATUS_EVENT_LINK_LOST : STATUS_EVENT_CONNECT_FAILED);
  } catch (const std::exception&) {
    // Out of memory still: the login ends without its last events.
  }
}

void Session::ExpireReplies(Clock::time_point now) {
  for (auto it = pending_.begin(); it != pending_.end();) {
    if (it->second.deadline <= now) {
      if (it->second.talk != Request::Talk::kNone) TalkRequestDone(it->first, it->second, ZQ_AUX_RESULT_TIMEOUT);
      if (it->second.wants_aux) PostAux(ZQ_AUX_RESULT_TIMEOUT, it->second.command, {});
      it = pending_.erase(it);
    } else {
      ++it;
    }
  }
  pending_count_.store(pending_.size());
}

bool Session::QueueFrame(FrameType type, uint32_t sequence, uint32_t command,
                         std::string_view payload) {
  try {
    if (seal_ && seal_->Append(outbuf_, type, sequence, handle_, command, 0, payload)) return true;
  } catch (const std::bad_alloc&) {
    // The send buffer did not grow: it holds what it held.
  }
  SdkLog("handle %d: a frame of type %u (%zu bytes) cannot be sent", handle_,
         static_cast<unsigned>(type), payload.size());
  return false;
}

void Session::FailUnsent(uint32_t sequence, const Request& r) {
  const Pending p{r.command, r.wants_aux, Clock::now(), r.talk};
  if (r.talk != Request::Talk::kNone) TalkRequestDone(sequence, p, ZQ_AUX_RESULT_NOT_SENT);
  if (r.wants_aux) PostAux(ZQ_AUX_RESULT_NOT_SENT, r.command, {});
}

bool Session::HandleFrame(const wire::Frame& f) {
  const uint16_t type = f.header.type;
  if ((type & wire::kReplyBit) != 0) return HandleReply(f);
  ActiveTransfer* t = active_.get();
  // Transfer frames count only for the active transfer of their direction
  // and kind.
  const bool receiving = t != nullptr && !t->job.upload &&
                         t->phase == ActiveTransfer::Phase::kReceiving &&
                         f.header.command == static_cast<uint32_t>(t->job.kind);

  switch (static_cast<FrameType>(type)) {
    case FrameType::kEvent: {
      if (!IsDeviceEventCode(f.header.command)) {
        SdkLog("handle %d: device sent the SDK's own event code %d; ignored", handle_,
               static_cast<int32_t>(f.header.command));
        return true;
      }
      TalkEndedByDevice(f.header.command);
      std::string data = f.payload;
      if (const size_t size = RecordEventSize(f.header.command)) data.resize(size, '\0');
      // Beyond the login's budget the dispatcher drops and counts the event;
      // the link stays up and is read again once the callback caught up.
      PostDeviceStatus(static_cast<int>(f.header.command), std::move(data));
      return true;
    }
    case FrameType::kProgress:
      if (t != nullptr && f.header.command == static_cast<uint32_t>(t->job.kind)) {
        const int pct = std::clamp(f.header.result, 0, 100);
        t->last_activity = Clock::now();
        if (pct != t->progress) {
          t->progress = pct;
          const bool firmware = IsUploadProgressFirmware(t->job);
          if (firmware) upgrade_progress_.store(pct);
          PostDeviceStatus(firmware ? STATUS_EVENT_PROGRESS_A : STATUS_EVENT_PROGRESS_B,
                           std::to_string(pct));
        }
      }
      return true;
    case FrameType::kFileData:
      if (receiving) {
        t->last_activity = Clock::now();
        t->done += f.payload.size();
        if (t->done > kMaxDownload ||
            write(t->fd, f.payload.data(), f.payload.size()) !=
                static_cast<ssize_t>(f.payload.size())) {
          FinishTransfer(false, "<RESPONSE_PARAM Error=\"local write failed\" />");
          return true;
        }
        t->hash.Update(f.payload);
      }
      return true;
    case FrameType::kFileEnd:
      if (receiving) {
        // The data reaches the disk before the file takes its final name.
        const bool ok = wire::DigestEqual(wire::DigestBytes(t->hash.Final()), f.payload) &&
                        fsync(t->fd) == 0;
        FinishTransfer(ok, ok ? std::string() : "<RESPONSE_PARAM Error=\"checksum mismatch\" />");
      }
      return true;
    default:
      SdkLog("handle %d: unexpected frame type %u", handle_, type);
      return true;
  }
}

bool Session::HandleReply(const wire::Frame& f) {
  const auto base = static_cast<FrameType>(f.header.type & ~wire::kReplyBit);
  if (base == FrameType::kHeartbeat) return true;
  ActiveTransfer* t = active_.get();
  if (t != nullptr && f.header.sequence == t->sequence) {
    // Only the reply the transfer waits for in its current step: a reply of
    // another type (or a repeated one) must not open, finish or rename files.
    using Phase = ActiveTransfer::Phase;
    const FrameType awaited = t->job.upload ? (t->phase == Phase::kBegin    ? FrameType::kPutBegin
                                               : t->phase == Phase::kEnding ? FrameType::kPutEnd
                                                                            : FrameType::kHello)
                                            : (t->phase == Phase::kBegin ? FrameType::kGetFile
                                                                         : FrameType::kHello);
    if (base != awaited || f.header.command != static_cast<uint32_t>(t->job.kind)) {
      SdkLog("handle %d: reply type %u does not answer the transfer; ignored", handle_,
             f.header.type);
      return true;
    }
    t->last_activity = Clock::now();
    const std::string refused = "<RESPONSE_PARAM Error=\"refused by the device\" Result=\"" +
                                std::to_string(f.header.result) + "\" />";
    if (base == FrameType::kPutBegin) {
      if (f.header.result != wire::kResultOk) {
        FinishTransfer(false, refused);
      } else {
        t->phase = Phase::kSending;
      }
    } else if (base == FrameType::kPutEnd) {
      FinishTransfer(f.header.result == wire::kResultOk,
                     "<RESPONSE_PARAM Result=\"" + std::to_string(f.header.result) + "\" />");
    } else if (f.header.result != wire::kResultOk) {
      FinishTransfer(false, refused);
    } else {
      OpenPartFile();
    }
    return true;
  }
  auto it = pending_.find(f.header.sequence);
  if (it == pending_.end()) return true;  // late reply after its time-out
  const Pending p = it->second;
  pending_.erase(it);
  pending_count_.store(pending_.size());
  if (p.talk != Request::Talk::kNone) TalkRequestDone(f.header.sequence, p, f.header.result);
  if (p.wants_aux) PostAux(f.header.result, p.command, f.payload);
  return true;
}

void Session::OpenPartFile() {
  ActiveTransfer& t = *active_;
  // A new file only: an existing "<name>.part" (or a link of that name) is not
  // ours to truncate or follow.
  const std::string part = t.job.local_path + ".part";
  t.fd = open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (t.fd < 0) {
    const int err = errno;
    FinishTransfer(false, err == EEXIST
                              ? "<RESPONSE_PARAM Error=\"a file of the temporary name exists\" />"
                              : "<RESPONSE_PARAM Error=\"cannot write the local file\" />");
    return;
  }
  t.part_path = part;
  t.phase = ActiveTransfer::Phase::kReceiving;
}

bool Session::Throttled() { return dispatcher_.QueuedBytes(handle_) >= kLoginEventBudget; }

Session::LinkEnd Session::Serve() {
  try {
    return ServeLink();
  } catch (const std::exception& e) {
    SdkLog("handle %d: serving the link failed: %s", handle_, e.what());
    return LinkEnd::kLost;
  }
}

Session::LinkEnd Session::ServeLink() {
  char* buf = io_buffer_.data;
  for (;;) {
    if (stop_.load()) return LinkEnd::kStopped;
    TakeQueuedRequests();
    PumpTalk();
    PumpTransfer();
    const auto now = Clock::now();
    if (now >= next_heartbeat_) {
      // One that cannot be queued is not made up for: a link that stays
      // silent ends by its own time-out.
      static_cast<void>(QueueFrame(FrameType::kHeartbeat, NextSequence(), 0, {}));
      next_heartbeat_ = now + timeouts_.heartbeat;
    }
    // While the callback has not taken this login's events the link is not
    // read (the device waits in TCP flow control), and its silence is ours.
    const bool throttled = Throttled();
    if (throttled) {
      throttled_ = true;
      last_received_ = now;
      if (active_) active_->last_activity = now;
    } else if (throttled_) {
      // Replies may have waited unread in the socket: each waiting request
      // gets a whole reply time-out from the moment the link is read again.
      for (auto& [seq, p] : pending_) p.deadline = std::max(p.deadline, now + timeouts_.reply);
      throttled_ = false;
    }
    if (now - last_received_ >= timeouts_.link_dead) return LinkEnd::kHeartbeat;
    if (!throttled) ExpireReplies(now);
    // A transfer ends when it stops moving, and in any case after twenty idle
    // periods (10 minutes by default), however busy the device pretends to be.
    if (active_ && (now - active_->last_activity >= timeouts_.transfer ||
                    now - active_->started >= timeouts_.transfer * 20)) {
      // The device no longer moves the transfer: its state is unknown, so the
      // link is closed and the transfer fails.
      SdkLog("handle %d: transfer timed out", handle_);
      transfer_timed_out_ = true;
      return LinkEnd::kLost;
    }

    auto wake_at = std::min(next_heartbeat_, last_received_ + timeouts_.link_dead);
    for (const auto& [seq, p] : pending_) wake_at = std::min(wake_at, p.deadline);
    if (active_) wake_at = std::min(wake_at, active_->last_activity + timeouts_.transfer);
    if (throttled) wake_at = std::min(next_heartbeat_, now + std::chrono::milliseconds(20));
    const short events = static_cast<short>((throttled ? 0 : POLLIN) | (outbuf_.empty() ? 0 : POLLOUT));
    pollfd p[2] = {{socket_, events, 0}, {wake_fd_, POLLIN, 0}};
    if (poll(p, 2, std::max(1, MsUntil(wake_at))) < 0 && errno != EINTR) return LinkEnd::kLost;
    if (p[1].revents & POLLIN) DrainWake();
    if (p[0].revents & POLLNVAL) return LinkEnd::kLost;
    // Read before anything else: a device that answers and then resets the
    // link (it reboots after an upgrade) leaves its answer readable, and the
    // error is reported only once the answer has been taken.
    if (!throttled && p[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      const ssize_t n = recv(socket_, buf, kIoBufferSize, 0);
      if (n == 0) return LinkEnd::kLost;
      if (n < 0) {
        if (errno != EAGAIN && errno != EINTR) return LinkEnd::kLost;
        continue;
      }
      if (!parser_.Feed(buf, static_cast<size_t>(n))) {
        SdkLog("handle %d: %s from %s", handle_, wire::ParseErrorText(parser_.error()),
               params_.address.c_str());
        return LinkEnd::kProtocol;
      }
      // Only whole frames show the device alive: bytes dribbled in without
      // ever completing a frame (or a heartbeat reply) do not.
      while (auto f = parser_.Next()) {
        // A frame that does not open was altered, moved, repeated or made by
        // someone without the link's key: nothing of it is used, and the
        // link ends.
        if (!seal_->Open(*f)) {
          SdkLog("handle %d: a frame from %s did not open", handle_, params_.address.c_str());
          return LinkEnd::kProtocol;
        }
        last_received_ = Clock::now();
        if (!HandleFrame(*f)) return LinkEnd::kProtocol;
        if (stop_.load()) return LinkEnd::kStopped;
      }
      if (parser_.error() != wire::ParseError::kNone) {
        SdkLog("handle %d: %s from %s", handle_, wire::ParseErrorText(parser_.error()),
               params_.address.c_str());
        return LinkEnd::kProtocol;
      }
      // Data may still be waiting behind a reset: the next round reads it.
      if (p[0].revents & POLLERR) continue;
    } else if (throttled && p[0].revents & (POLLHUP | POLLERR)) {
      return LinkEnd::kLost;
    }
    if (p[0].revents & POLLOUT && !outbuf_.empty()) {
      const ssize_t n = send(socket_, outbuf_.data(), outbuf_.size(), MSG_NOSIGNAL);
      if (n > 0) {
        outbuf_.erase(0, static_cast<size_t>(n));
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        return LinkEnd::kLost;
      }
    }
  }
}

}  // namespace varurovodiv
