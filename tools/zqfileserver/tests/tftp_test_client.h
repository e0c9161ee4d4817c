#pragma once
// Clients of the tests' own for what curl and tftp-hpa cannot play: a boot
// loader fetching in 8-byte blocks, and the raw requests of hostile hosts.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>

#include "tftp_packets.h"

namespace kelvara::tftp::test_client {

// A read request for `name` in octet mode with the given options.
inline std::string ReadRequest(const std::string& name,
                               std::initializer_list<std::pair<const char*, std::string>> options = {}) {
  std::string rrq("\0\1", 2);
  rrq += name;
  rrq.push_back('\0');
  rrq += "octet";
  rrq.push_back('\0');
  for (const auto& [option, value] : options) {
    rrq += option;
    rrq.push_back('\0');
    rrq += value;
    rrq.push_back('\0');
  }
  return rrq;
}

inline void SendAck(int fd, const sockaddr_in& to, std::uint16_t block) {
  const char ack[4] = {0, kAck, static_cast<char>(block >> 8), static_cast<char>(block & 0xFF)};
  sendto(fd, ack, sizeof ack, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

// A UDP socket bound to `address` (any port); -1 when the address is not local.
inline int SocketOn(const std::string& address) {
  const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  inet_pton(AF_INET, address.c_str(), &a.sin_addr);
  if (s >= 0 && bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(s);
    return -1;
  }
  return s;
}

struct SmallBlockFetch {
  bool ok = false;
  std::string data;
  std::string error;  // the server's error text, or why the client gave up
  std::chrono::milliseconds took{0};
};

// A boot loader's fetch on socket `fd`: blksize 8, each block acknowledged
// as soon as it arrives (after `pause`, a slower but still prompt client),
// the last ACK (or the request) repeated after each second of silence, given
// up after 10 s of it. Packets from another port than the transfer's are
// ignored.
inline SmallBlockFetch FetchInSmallBlocks(int fd, const sockaddr_in& server, const std::string& name,
                                          std::chrono::microseconds pause = {}) {
  const auto start = std::chrono::steady_clock::now();
  SmallBlockFetch result;
  const std::string rrq = ReadRequest(name, {{"blksize", "8"}, {"timeout", "3"}});
  sendto(fd, rrq.data(), rrq.size(), 0, reinterpret_cast<const sockaddr*>(&server), sizeof server);
  sockaddr_in tid{};
  bool have_tid = false;
  std::uint16_t expected = 1;
  int silent_seconds = 0;
  auto finish = [&] {
    result.took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    return result;
  };
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 1000) != 1) {
      if (++silent_seconds >= 10) {
        result.error = "no answer for 10 s";
        return finish();
      }
      if (!have_tid)
        sendto(fd, rrq.data(), rrq.size(), 0, reinterpret_cast<const sockaddr*>(&server), sizeof server);
      else
        SendAck(fd, tid, static_cast<std::uint16_t>(expected - 1));
      continue;
    }
    char buffer[600];
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const ssize_t n = recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
    if (n < 4) continue;
    if (have_tid && (from.sin_port != tid.sin_port || from.sin_addr.s_addr != tid.sin_addr.s_addr)) continue;
    silent_seconds = 0;
    if (!have_tid) {
      tid = from;
      have_tid = true;
    }
    const std::uint16_t block =
        static_cast<std::uint16_t>((static_cast<unsigned char>(buffer[2]) << 8) | static_cast<unsigned char>(buffer[3]));
    switch (buffer[1]) {
      case kOack:
        if (expected == 1) SendAck(fd, tid, 0);
        break;
      case kData:
        if (block == expected) {
          result.data.append(buffer + 4, static_cast<std::size_t>(n - 4));
          if (pause.count() > 0) std::this_thread::sleep_for(pause);
          SendAck(fd, tid, block);
          ++expected;
          if (n - 4 < 8) {
            result.ok = true;
            return finish();
          }
        } else if (block == static_cast<std::uint16_t>(expected - 1)) {
          SendAck(fd, tid, block);  // our ACK was lost
        }
        break;
      case kError:
        result.error = std::string(buffer + 4, strnlen(buffer + 4, static_cast<std::size_t>(n - 4)));
        return finish();
      default:
        break;
    }
  }
}

}  // namespace kelvara::tftp::test_client
