#pragma once
// The boot-recovery listener: one UDP socket on the any-address at port
// 25000 (a socket bound to a unicast address never sees broadcasts), which
// accepts only datagrams that arrived on the chosen adapter (IP_PKTINFO).
// Progress reports are handled on the receive thread; firmware requests,
// whose address probes take time, go to a bounded pool of workers, each of
// which answers its device once the address is known. A reply goes to the
// sender and to 255.255.255.255 at the sender's port, out of the chosen
// adapter; a sender of 0.0.0.0 or outside the adapter's subnet gets the
// broadcast only. Log lines about datagrams pass a flood guard: the first
// datagrams of each sender are logged in full, the rest counted once per
// window, and malformed datagrams are dropped with a counted line.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/log_flood_guard.h"
#include "firmware/recovery/recovery_server.h"

namespace kelvara::firmware {

struct ListenerOptions {
  std::uint16_t port = kRecoveryPort;
  int workers = 8;         // firmware requests answered at once
  std::size_t queue = 256; // waiting firmware requests; more are dropped
  // Datagrams logged in full per sender (one device's whole recovery is about
  // 15), then one count per sender and window; past 256 senders one shared count.
  LogFloodGuard::Limits log_limits{.first_per_source = 30, .window_ms = 60'000, .max_sources = 256};
};

class RecoveryListener {
 public:
  RecoveryListener(RecoveryServer& server, ListenerOptions options, std::function<void(const std::string&)> log);
  ~RecoveryListener();

  // The chosen adapter: its address and mask (network order) and interface
  // index; address 0 accepts nothing.
  void SetAdapter(std::uint32_t address, std::uint32_t mask, int ifindex);
  // Opens the socket and starts the threads; false with `error` when the
  // socket cannot be opened or bound. False without error when already running.
  bool Start(std::string& error);
  // Ends the threads (probes in progress are cut short); false when not running.
  bool Stop();
  bool running() const { return running_.load(); }
  // Datagrams dropped as malformed (no CMD_CODE, or longer than any request).
  std::uint64_t malformed() const { return malformed_.load(); }

 private:
  struct Pending {
    std::uint32_t sender = 0;  // network order
    std::uint16_t port = 0;    // network order
    std::string datagram;
    bool quiet = false;        // past the flood guard: handled without log lines
  };
  void ReceiveLoop();
  void WorkerLoop();
  void Answer(const Pending& request);
  void Send(const std::string& reply, std::uint32_t to, std::uint16_t port);

  RecoveryServer& server_;
  ListenerOptions options_;
  std::function<void(const std::string&)> log_;
  std::atomic<std::uint32_t> adapter_{0}, mask_{0};
  std::atomic<int> ifindex_{0};
  std::atomic<bool> running_{false};
  std::atomic<std::uint64_t> malformed_{0};
  int socket_ = -1;
  std::thread receiver_;
  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Pending> queue_;
};

}  // namespace kelvara::firmware
