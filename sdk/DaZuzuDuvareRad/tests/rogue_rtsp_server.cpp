#include "rogue_rtsp_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace kelvara::test {

namespace {
std::string Header(const std::string& request, const std::string& name) {
  const std::string key = "\r\n" + name + ":";
  const size_t at = request.find(key);
  if (at == std::string::npos) return "";
  size_t begin = at + key.size();
  while (begin < request.size() && request[begin] == ' ') ++begin;
  return request.substr(begin, request.find("\r\n", begin) - begin);
}

const char kSdp[] =
    "v=0\r\no=- 0 0 IN IP4 127.0.0.1\r\ns=rogue\r\nt=0 0\r\n"
    "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=fmtp:96 packetization-mode=1\r\na=control:track1\r\n";
}  // namespace

RogueRtspServer::~RogueRtspServer() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
  if (listen_fd_ >= 0) close(listen_fd_);
}

void RogueRtspServer::SetLocation(const std::string& location) {
  std::lock_guard lock(mutex_);
  location_ = location;
}

bool RogueRtspServer::Start(const std::string& address, Mode mode) {
  mode_ = mode;
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  if (inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1) return false;
  socklen_t length = sizeof a;
  if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listen_fd_, 16) != 0 ||
      getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &length) != 0)
    return false;
  port_ = ntohs(a.sin_port);
  thread_ = std::thread([this] { Serve(); });
  return true;
}

std::vector<std::string> RogueRtspServer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void RogueRtspServer::Serve() {
  while (!stop_.load()) {
    pollfd p{listen_fd_, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    connections_.fetch_add(1);
    ServeConnection(fd);
    close(fd);
  }
}

bool RogueRtspServer::SendAll(int fd, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    if (stop_.load()) return false;
    pollfd p{fd, POLLOUT, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

void RogueRtspServer::ServeConnection(int fd) {
  std::string buffer;
  char chunk[4096];
  while (!stop_.load()) {
    const size_t end = buffer.find("\r\n\r\n");
    if (end == std::string::npos) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0) return;
      buffer.append(chunk, static_cast<size_t>(n));
      continue;
    }
    const std::string request = buffer.substr(0, end + 2);
    buffer.erase(0, end + 4);
    std::string location;
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(request);
      location = location_;
    }
    const std::string method = request.substr(0, request.find(' '));
    std::string reply = "RTSP/1.0 200 OK\r\nCSeq: " + Header(request, "CSeq") + "\r\n";
    if (Header(request, "Authorization").empty()) {
      reply = "RTSP/1.0 401 Unauthorized\r\nCSeq: " + Header(request, "CSeq") +
              "\r\nWWW-Authenticate: Basic realm=\"rogue\"\r\n\r\n";
    } else if (mode_ == Mode::kRedirect) {
      reply = "RTSP/1.0 302 Moved Temporarily\r\nCSeq: " + Header(request, "CSeq") + "\r\nLocation: " + location +
              "\r\n\r\n";
    } else if (method == "OPTIONS") {
      reply += "Public: OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN\r\n\r\n";
    } else if (method == "DESCRIBE") {
      const std::string url = request.substr(method.size() + 1, request.find(' ', method.size() + 1) - method.size() - 1);
      reply += "Content-Base: " + url + "/\r\nContent-Type: application/sdp\r\nContent-Length: " +
               std::to_string(sizeof kSdp - 1) + "\r\n\r\n" + kSdp;
    } else if (method == "SETUP") {
      reply += "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\nSession: 4711\r\n\r\n";
    } else {
      reply += "Session: 4711\r\n\r\n";
    }
    if (!SendAll(fd, reply)) return;
    if (mode_ == Mode::kEndlessFrame && method == "PLAY" && reply.compare(9, 3, "200") == 0) {
      StreamEndlessFrame(fd);
      return;
    }
  }
}

// One IDR slice in FU-A fragments of about 60 KB that all carry one
// timestamp and never the end bit, interleaved on channel 0, until the client
// goes away.
void RogueRtspServer::StreamEndlessFrame(int fd) {
  constexpr size_t kPayload = 60000;
  std::string packet(4 + 12 + 2 + kPayload, '\x11');
  const size_t rtp_length = packet.size() - 4;
  packet[0] = '$';
  packet[1] = 0;
  packet[2] = static_cast<char>(rtp_length >> 8);
  packet[3] = static_cast<char>(rtp_length & 0xff);
  const unsigned char header[12] = {0x80, 96, 0, 0, 0, 0, 0x10, 0, 0x12, 0x34, 0x56, 0x78};
  std::memcpy(&packet[4], header, sizeof header);
  packet[16] = 0x7c;  // FU-A, NRI 3
  for (unsigned sequence = 0; !stop_.load(); ++sequence) {
    packet[6] = static_cast<char>((sequence >> 8) & 0xff);
    packet[7] = static_cast<char>(sequence & 0xff);
    packet[17] = static_cast<char>(sequence == 0 ? 0x85 : 0x05);  // start bit on the first fragment only
    if (!SendAll(fd, packet)) return;
  }
}

}  // namespace kelvara::test
