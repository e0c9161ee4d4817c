#pragma once
// A read-only TFTP server for one folder: read requests of regular files
// inside it (octet and netascii, with blksize, timeout and tsize), one thread
// per transfer up to a bound (in all and per client address), each transfer
// from its own port (its TID) and ended when the client stays silent through
// the retransmissions or, after its first minute, moves too few bytes. Write
// requests are refused with a TFTP error.
#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace kelvara::tftp {

struct ServerOptions {
  std::string folder = ".";
  std::uint16_t port = 69;
  std::uint32_t bind_address = INADDR_ANY;  // network order
  int max_transfers = 64;
  int max_per_address = 4;  // transfers of one client address at once
  int retries = 5;          // retransmissions of one packet before a transfer ends
  // A transfer whose client acknowledges fewer bytes than this per second
  // over a window is ended, from its first window on (0: no floor). Each
  // ACK is progress, so without a floor a client that acknowledges a tiny
  // block now and then holds its slot for ever. The floor lets a boot loader
  // asking for 8-byte blocks through with a round trip of up to 15 ms.
  std::uint32_t min_bytes_per_second = 512;
  std::chrono::milliseconds rate_window{60000};
};

class TftpServer {
 public:
  explicit TftpServer(ServerOptions options);
  ~TftpServer();
  TftpServer(const TftpServer&) = delete;
  TftpServer& operator=(const TftpServer&) = delete;

  // Opens the folder and binds the port; false with `error` set when either fails.
  bool Open(std::string& error);
  // After a failed Open: whether the port was refused (not the folder).
  bool port_refused() const { return port_refused_; }
  // The bound port (useful with port 0).
  std::uint16_t port() const { return bound_port_; }
  // Serves until Stop(); then waits for the running transfers to end.
  void Run();
  void Stop() { stop_.store(true); }
  // One line per finished or refused request.
  void SetLog(std::function<void(const std::string&)> log) { log_ = std::move(log); }
  int active_transfers() const { return active_.load(); }

 private:
  struct Job;
  void HandlePacket(const std::string& packet, const sockaddr_in& peer, const in_addr& local);
  void Transfer(Job job);
  void Log(const std::string& line);

  ServerOptions options_;
  int root_fd_ = -1;
  int socket_ = -1;
  std::uint16_t bound_port_ = 0;
  bool port_refused_ = false;
  std::atomic<bool> stop_{false};
  std::atomic<int> active_{0};
  std::mutex mutex_;
  std::map<std::uint32_t, int> per_address_;  // running transfers by client address (under mutex_)
  std::condition_variable idle_;
  std::function<void(const std::string&)> log_;
};

}  // namespace kelvara::tftp
