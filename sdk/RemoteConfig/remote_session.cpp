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
}

void RemoteSession::Abort() { aborted_ = true; }

bool RemoteSession::SendAll(const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size() && !aborted_) {
    const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (WaitFor(POLLOUT)) continue;
    } else if (n < 0 && errno == EINTR) {
      continue;
    }
    return false;
  }
  return sent == bytes.size();
}

bool RemoteSession::WaitFor(short events) {
  // In short slices, so Abort ends a wait without touching the descriptor.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs_);
  while (!aborted_) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd_, events, 0};
    const int n = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, kAbortSliceMs)));
    if (n == 1) return true;
    if (n < 0 && errno != EINTR) return false;
  }
  return false;
}

bool RemoteSession::ReadFrame(std::uint16_t& type, std::uint32_t& sequence, std::int32_t& result,
                              std::string& payload) {
  for (;;) {
    if (auto frame = parser_.Next()) {
      type = frame->header.type;
      sequence = frame->header.sequence;
      result = frame->header.result;
      payload = std::move(frame->payload);
      return true;
    }
    if (parser_.error() != wire::ParseError::kNone || !WaitFor(POLLIN)) return false;
    char buffer[65536];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0 || !parser_.Feed(buffer, static_cast<std::size_t>(n))) return false;
  }
}

LoginOutcome RemoteSession::Login() {
  Close();
  if (aborted_) return LoginOutcome::kUnreachable;
  const int fd = ConnectWithin(address_, port_, timeoutMs_);
  if (fd < 0) return LoginOutcome::kUnreachable;
  fd_ = fd;
  if (aborted_) {
    Close();
    return LoginOutcome::kUnreachable;
  }
  std::uint16_t type = 0;
  std::uint32_t sequence = 0;
  std::int32_t result = 0;
  std::string payload;
  if (!ReadFrame(type, sequence, result, payload)) {
    Close();
    return LoginOutcome::kUnreachable;
  }
  const auto hello = type == static_cast<std::uint16_t>(wire::FrameType::kHello) ? wire::DecodeHello(payload)
                                                                                   : std::nullopt;
  if (!hello) {
    Close();
    return LoginOutcome::kProtocol;
  }
  // The key exchange of docs/device-protocol.md ("Login"): our share, the
  // device's share, our tag, the verdict with the device's tag. A refusal, a
  // share that is no point and a tag that does not prove the password are all
  // a refused login.
  const std::string nonce = wire::RandomBytes(wire::kNonceSize);
  wire::LoginExchange pake(wire::LoginExchange::Side::kClient, password_, user_, hello->nonce, nonce);
  auto step = [&](wire::FrameType request, const std::string& out, std::size_t reply_size) {
    const std::uint32_t seq = ++sequence_;
    if (!SendAll(wire::EncodeFrame(request, seq, 0, 0, 0, out)) ||
        !ReadFrame(type, sequence, result, payload)) {
      return LoginOutcome::kUnreachable;
    }
    if (type != (static_cast<std::uint16_t>(request) | wire::kReplyBit) || sequence != seq) {
      return LoginOutcome::kProtocol;
    }
    if (result != wire::kResultOk) return LoginOutcome::kRefused;
    return payload.size() == reply_size ? LoginOutcome::kOk : LoginOutcome::kProtocol;
  };
  LoginOutcome outcome = step(wire::FrameType::kLoginShare,
                              wire::EncodeLoginShare({user_, nonce, pake.share()}), wire::kShareSize);
  if (outcome == LoginOutcome::kOk && !pake.TakePeerShare(payload)) outcome = LoginOutcome::kRefused;
  if (outcome == LoginOutcome::kOk) outcome = step(wire::FrameType::kLogin, pake.Tag(), wire::kTagSize);
  if (outcome == LoginOutcome::kOk && !pake.CheckPeerTag(payload)) outcome = LoginOutcome::kRefused;
  if (outcome != LoginOutcome::kOk) Close();
  return outcome;
}

Reply RemoteSession::Exchange(std::uint16_t type, std::uint32_t code, const std::string& payload) {
  if (fd_ < 0) return {};
  const std::uint32_t seq = ++sequence_;
  if (!SendAll(wire::EncodeFrame(type, seq, 0, code, 0, payload))) return {};
  const std::uint16_t replyType = static_cast<std::uint16_t>(type | wire::kReplyBit);
  for (;;) {
    std::uint16_t t = 0;
    std::uint32_t s = 0;
    std::int32_t result = 0;
    std::string text;
    if (!ReadFrame(t, s, result, text)) return {};
    if (t == replyType && s == seq) return {result, std::move(text)};
    // Events and progress the device pushes meanwhile are not ours.
  }
}

Reply RemoteSession::Request(std::uint16_t type, std::uint32_t code, const std::string& payload) {
  Reply reply = Exchange(type, code, payload);
  if (reply.result >= 0 || aborted_) return reply;
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
    case 254: return "failed: the connection was lost" + number;
    case 255: return "failed: no answer in time" + number;
    default: return "refused" + number;
  }
}

}  // namespace remote_config
