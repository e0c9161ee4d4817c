#pragma once
// A bare connection to a device's port on loopback for the tests' own
// clients: it sends bytes of the test's making and reads whole frames, each
// wait bounded by 3 s.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <string_view>

#include "wire_frame.h"

namespace varurovodiv::test {

class RawClient {
 public:
  explicit RawClient(uint16_t port) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    timeval tv{3, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  }
  ~RawClient() { close(fd_); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;
  bool Send(std::string_view bytes) {
    return send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  // The next whole frame; none once the peer closed, stayed silent or sent
  // no frame.
  std::optional<wire::Frame> Next() {
    char buf[4096];
    for (;;) {
      if (auto f = parser_.Next()) return f;
      const ssize_t n = recv(fd_, buf, sizeof buf, 0);
      if (n <= 0 || !parser_.Feed(buf, static_cast<size_t>(n))) return std::nullopt;
    }
  }
  // Whether the device closed the connection (within 3 s).
  bool ClosedByPeer() {
    char byte;
    return recv(fd_, &byte, 1, 0) == 0;
  }
  // For a port that speaks no frames (the device log).
  int fd() const { return fd_; }

 private:
  int fd_;
  wire::FrameParser parser_;
};

}  // namespace varurovodiv::test
