#pragma once
// A server on a free loopback port for the tests' own devices and relays: it
// serves the connections it accepts one after another on a thread of its own.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

namespace varurovodiv::test {

class LoopbackServer {
 public:
  // `serve` gets each accepted connection and its number, from 0; the
  // connection is closed when it returns.
  using Serve = std::function<void(int fd, int index)>;

  explicit LoopbackServer(Serve serve) : serve_(std::move(serve)) {
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listen_fd_, 8) != 0 ||
        getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
      ADD_FAILURE() << "cannot listen on loopback";
    }
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] {
      for (int n = 0;; ++n) {
        const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return;
        accepted_.fetch_add(1);
        serve_(fd, n);
        close(fd);
        served_.fetch_add(1);
      }
    });
  }
  // Sets stopping(), ends the accept and waits for the connection served.
  ~LoopbackServer() {
    stop_.store(true);
    shutdown(listen_fd_, SHUT_RDWR);
    thread_.join();
    close(listen_fd_);
  }
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  uint16_t port() const { return port_; }
  int accepted() const { return accepted_.load(); }
  int served() const { return served_.load(); }
  // Set once the server is being destroyed: a serving loop ends on it.
  const std::atomic<bool>& stopping() const { return stop_; }

 private:
  Serve serve_;
  int listen_fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  std::atomic<int> served_{0};
  std::thread thread_;
};

}  // namespace varurovodiv::test
