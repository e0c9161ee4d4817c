#include "remote_session.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <chrono>

#include "link_seal.h"
#include "login_handshake.h"
#include "wire_frame.h"

namespace remote_config {
namespace {

namespace wire = varurovodiv::wire;

int ConnectWithin(const std::string& address, int port, int timeoutMs) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  if (port <= 0 || port > 65535 || inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) return -1;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) return fd;
  if (errno == EINPROGRESS) {
    pollfd p{fd, POLLOUT, 0};
    int err = 0;
    socklen_t len = sizeof err;
    if (::poll(&p, 1, timeoutMs) == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0)
      return fd;
  }
  ::close(fd);
  return -1;
}

}  // namespace

RemoteSession::RemoteSession(std::string address, int port, std::string user, std::string password, int timeoutMs)
    : address_(std::move(address)), user_(std::move(user)), password_(std::move(password)), port_(port),
      timeoutMs_(timeoutMs) {}

RemoteSession::~RemoteSession() { Close(); }

void RemoteSession::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  parser_ = wire::FrameParser();
  seal_.reset();
}

void RemoteSession::Abort() { aborted_ = true; }

bool RemoteSession::SendAll(const std::string& bytes, Clock::time_point deadline) {
  std::size_t sent = 0;
  while (sent < bytes.size() && !aborted_) {
    const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (WaitFor(POLLOUT, deadline)) continue;
    } else if (n < 0 && errno == EINTR) {
      continue;
    }
    return false;
  }
  return sent == bytes.size();
}

bool RemoteSession::WaitFor(short events, Clock::time_point deadline) {
  // In short slices, so Abort ends a wait without touching the descriptor.
  while (!aborted_) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd_, events, 0};
    const int n = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, kAbortSliceMs)));
    if (n == 1) return true;
    if (n < 0 && errno != EINTR) return false;
  }
  return false;
}

std::optional<wire::Frame> RemoteSession::ReadFrame(Clock::time_point deadline) {
  for (;;) {
    if (auto frame = parser_.Next()) {
      // On the sealed link a frame that does not open ends the link: it was
      // altered, moved or made by someone without the key.
      if (seal_ && !seal_->Open(*frame)) {
        Close();
        return std::nullopt;
      }
      return frame;
    }
    if (parser_.error() != wire::ParseError::kNone || !WaitFor(POLLIN, deadline)) return std::nullopt;
    char buffer[65536];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0 || !parser_.Feed(buffer, static_cast<std::size_t>(n))) return std::nullopt;
  }
}

LoginOutcome RemoteSession::Login() {
  Close();
  if (aborted_) return LoginOutcome::kUnreachable;
  if (refused_) return LoginOutcome::kRefused;
  const int fd = ConnectWithin(address_, port_, timeoutMs_);
  if (fd < 0) return LoginOutcome::kUnreachable;
  fd_ = fd;
  // One deadline for the whole exchange: a device that dribbles bytes or
  // sends frames of no use does not hold the login open.
  const LoginOutcome outcome = Handshake(Clock::now() + std::chrono::milliseconds(timeoutMs_));
  if (outcome == LoginOutcome::kRefused) refused_ = true;
  if (outcome != LoginOutcome::kOk) Close();
  return outcome;
}

LoginOutcome RemoteSession::Handshake(Clock::time_point deadline) {
  if (aborted_) return LoginOutcome::kUnreachable;
  const auto hello_frame = ReadFrame(deadline);
  if (!hello_frame) return LoginOutcome::kUnreachable;
  // Only the sealed link's method is taken.
  const auto hello = hello_frame->header.type == static_cast<std::uint16_t>(wire::FrameType::kHello)
                         ? wire::DecodeHello(hello_frame->payload)
                         : std::nullopt;
  if (!hello) return LoginOutcome::kProtocol;
  if (user_.size() > wire::kMaxUserSize) return LoginOutcome::kRefused;
  // The key exchange of docs/device-protocol.md ("Login"): our share, the
  // device's share, our tag, the verdict with the device's tag. A refusal, a
  // share that is no point and a tag that does not prove the password are all
  // a refused login.
  const std::string nonce = wire::RandomBytes(wire::kNonceSize);
  wire::LoginExchange pake(wire::LoginExchange::Side::kClient, password_, user_, hello->nonce, nonce);
  // Sends one message and reads its answer; none when the link failed
  // (`got_frame` false) or the frame read is no answer to it.
  bool got_frame = false;
  auto step = [&](wire::FrameType request, const std::string& out) -> std::optional<wire::Frame> {
    const std::uint32_t seq = ++sequence_;
    got_frame = false;
    if (!SendAll(wire::EncodeFrame(request, seq, 0, 0, 0, out), deadline)) return std::nullopt;
    auto reply = ReadFrame(deadline);
    got_frame = reply.has_value() || parser_.error() != wire::ParseError::kNone;
    if (!reply || reply->header.type != (static_cast<std::uint16_t>(request) | wire::kReplyBit) ||
        reply->header.sequence != seq) {
      return std::nullopt;
    }
    return reply;
  };
  const auto share = step(wire::FrameType::kLoginShare, wire::EncodeLoginShare({user_, nonce, pake.share()}));
  if (!share) return got_frame && !aborted_ ? LoginOutcome::kProtocol : LoginOutcome::kUnreachable;
  if (share->header.result != wire::kResultOk) return LoginOutcome::kRefused;
  if (share->payload.size() != wire::kShareSize) return LoginOutcome::kProtocol;
  if (!pake.TakePeerShare(share->payload)) return LoginOutcome::kRefused;
  // Once our tag has gone out the device can test one guess against it:
  // anything but its tag proving the password (a hang-up, garbage, silence)
  // is a refused login, which is not tried again.
  const auto verdict = step(wire::FrameType::kLogin, pake.Tag());
  if (aborted_) return LoginOutcome::kUnreachable;
  if (!verdict || verdict->header.result != wire::kResultOk || !pake.CheckPeerTag(verdict->payload)) {
    return LoginOutcome::kRefused;
  }
  seal_ = std::make_unique<wire::LinkSeal>(pake);
  return LoginOutcome::kOk;
}

Reply RemoteSession::Exchange(std::uint16_t type, std::uint32_t code, const std::string& payload) {
  if (fd_ < 0 || !seal_) return {};
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs_);
  const std::uint32_t seq = ++sequence_;
  // A text one frame cannot carry (a block whose fields grew when written
  // back) is not sent; the link goes on.
  std::string frame;
  if (!seal_->Append(frame, type, seq, 0, code, 0, payload)) return {kResultNotSent, {}};
  if (!SendAll(frame, deadline)) return {};
  const std::uint16_t replyType = static_cast<std::uint16_t>(type | wire::kReplyBit);
  for (;;) {
    // Events and progress the device pushes meanwhile are not ours; they do
    // not extend the request's time.
    auto frame = ReadFrame(deadline);
    if (!frame) return {};
    if (frame->header.type == replyType && frame->header.sequence == seq) {
      return {frame->header.result, std::move(frame->payload)};
    }
  }
}

Reply RemoteSession::Request(std::uint16_t type, std::uint32_t code, const std::string& payload) {
  Reply reply = Exchange(type, code, payload);
  if (reply.result >= 0 || aborted_ || refused_) return reply;
  // The link was lost since the last request: log in again once.
  Close();
  if (Login() != LoginOutcome::kOk) return {};
  return Exchange(type, code, payload);
}

Reply RemoteSession::GetConfig(std::uint32_t code) {
  return Request(static_cast<std::uint16_t>(wire::FrameType::kGetConfig), code, {});
}

Reply RemoteSession::SetConfig(std::uint32_t code, const std::string& text) {
  return Request(static_cast<std::uint16_t>(wire::FrameType::kSetConfig), code, text);
}

std::string ReplyStateText(const Reply& reply, const char* done) {
  const int r = reply.result;
  if (r == 0) return done;
  if (r < 0) return "no answer";
  const std::string number = " (result " + std::to_string(r) + ")";
  switch (r) {
    case 1: return "refused: wrong user name or password" + number;
    case 2: return "refused: the device has no such setting" + number;
    case 3: return "refused: the device did not accept the values" + number;
    case 4: return "refused: the device is busy, try again" + number;
    case 5: return "refused: checksum mismatch" + number;
    case 6: return "refused: not supported by this device" + number;
    case kResultNotSent: return "failed: too long to send" + number;
    case 254: return "failed: the connection was lost" + number;
    case 255: return "failed: no answer in time" + number;
    default: return "refused" + number;
  }
}

}  // namespace remote_config
