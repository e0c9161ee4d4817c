#pragma once
// A hostile RTSP server on a loopback address, for the client's tests: it
// asks for Basic authentication and then misbehaves in the chosen way. One
// thread serves one connection at a time and notes every request.
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kelvara::test {

class RogueRtspServer {
 public:
  enum class Mode {
    kRedirect,      // every authorised request is answered 302 to the given location
    kEndlessFrame,  // plays an H.264 stream whose one picture never ends
  };

  RogueRtspServer() = default;
  ~RogueRtspServer();
  RogueRtspServer(const RogueRtspServer&) = delete;
  RogueRtspServer& operator=(const RogueRtspServer&) = delete;

  // Listens on address (any free port) and starts serving; false on failure.
  bool Start(const std::string& address, Mode mode);
  // Where kRedirect sends the client.
  void SetLocation(const std::string& location);
  int port() const { return port_; }
  int connections() const { return connections_.load(); }
  // Every request's header block, in arrival order.
  std::vector<std::string> Requests() const;

 private:
  void Serve();
  void ServeConnection(int fd);
  bool SendAll(int fd, const std::string& bytes);
  void StreamEndlessFrame(int fd);

  Mode mode_ = Mode::kRedirect;
  std::string location_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

}  // namespace kelvara::test
