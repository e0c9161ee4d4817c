#pragma once
// A read-only TFTP server for one folder: read requests of regular files
// inside it (octet and netascii, with blksize, timeout and tsize), one thread
// per transfer up to a bound (in all and per client address), each transfer
// from its own port (its TID) and ended when the client stays silent through
// the retransmissions (15 s at most for the first ACK) or, after its first
// minute, moves too few bytes. When every slot is taken, a newcomer may take
// the slot of a transfer whose client has not acknowledged for 2 s
// (ChooseSlotToTake). Write requests are refused with a TFTP error.
#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "server_log.h"

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
  // When every slot is taken, a request from an address with no transfer
  // takes the slot of a transfer that has waited this long for an ACK (see
  // ChooseSlotToTake); a client that acknowledges within it keeps its slot
  // however small its blocks, and a newcomer is refused while all do.
  std::chrono::milliseconds min_wait_to_take_slot{2000};
  // The first packet's ACK (of the OACK, or of DATA 1) is awaited at most
  // this long, whatever time-out the client asked for: a request from a
  // spoofed source is never acknowledged, and holds its slot no longer.
  std::chrono::milliseconds first_ack_wait{15000};
  // Output lines (ServerLog): lines about refused requests and lines about
  // transfers each at most this many per client address (until the address
  // has been quiet for a window) and per window in all; the rest are counted
  // in one line per window. An honest recovery writes a few lines per device.
  int log_per_address = 30;
  int log_per_window = 100;  // 0: no bound in all
  std::chrono::milliseconds log_window{60000};
};

// A running transfer as a request that finds every slot taken sees it.
struct SlotState {
  bool first_acknowledged = false;  // its client acknowledged the first packet
  // Since the packet whose ACK it awaits was first sent.
  std::chrono::steady_clock::duration waiting{};
};

// The slot a newcomer takes among `slots`: of the transfers that have waited
// at least `min_wait` for an ACK, one whose first packet is unacknowledged
// (the client may not exist), the longest waiting of those, else the longest
// waiting of all; nullopt when none has waited that long.
std::optional<std::size_t> ChooseSlotToTake(std::span<const SlotState> slots,
                                            std::chrono::steady_clock::duration min_wait);

// How long after its first send a packet's ACK is awaited before the
// transfer ends: the retransmissions' time (retries + 1 time-outs), for the
// first packet of a transfer at most `first_ack_wait`.
std::chrono::milliseconds AckWait(const ServerOptions& options, int timeout_seconds, bool first_packet);

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
  // One line per finished or refused request, within the flood guard's bounds
  // (ServerOptions), and the counts of the lines held back.
  void SetLog(std::function<void(const std::string&)> log) { log_.SetSink(std::move(log)); }
  // Transfers holding a slot (one whose slot was taken is no longer counted,
  // though its thread may take a moment to end).
  int active_transfers() const { return active_.load(); }

 private:
  struct Job;
  struct Slot;
  void HandlePacket(const std::string& packet, const sockaddr_in& peer, const in_addr& local);
  void Transfer(Job job);
  // Registers the transfer's socket with its slot; false when the slot was
  // taken before (the transfer then ends at once).
  bool AttachSocket(Slot& slot, int socket);
  // Ends the slot's hold (when still held) and its thread's count.
  void Release(const std::shared_ptr<Slot>& slot);

  ServerOptions options_;
  int root_fd_ = -1;
  int socket_ = -1;
  std::uint16_t bound_port_ = 0;
  bool port_refused_ = false;
  std::atomic<bool> stop_{false};
  std::atomic<int> active_{0};  // slots_.size()
  std::mutex mutex_;
  std::vector<std::shared_ptr<Slot>> slots_;  // the transfers holding a slot (under mutex_)
  int threads_ = 0;                           // transfer threads alive (under mutex_)
  std::condition_variable idle_;              // threads_ reached 0
  ServerLog log_;
};

}  // namespace kelvara::tftp
