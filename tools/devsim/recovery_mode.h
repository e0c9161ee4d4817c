#pragma once
// Boot recovery of a simulated device: the device drops out of the search as
// if its firmware were broken, asks on UDP 25000 for an image (command 1 with
// its DEV_TYPE and UUID), takes the address from the reply, fetches the image
// over TFTP from TFTP_SERVER, checks its header and part CRCs, reports the
// steps 0 to 12 with command 3, and on success comes back into the search
// with the image's version.
//
// Control: "recover D [tftp_port=P] [server_port=P] [fault=NAME]" with the
// faults "flash_fail" (step 12 after the check), "tftp_timeout" (the fetch
// never answers: the device gives up without a final step), "stall_at:K" (no
// step after K), "none".
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device.h"

namespace kelvara::devsim {

struct RecoveryPlan {
  std::uint16_t server_port = 25000;
  std::uint16_t tftp_port = 69;
  std::string fault = "none";
  int stall_at = -1;
  int request_tries = 20;  // one request a second until a reply
};

// Parses the arguments after the device; an error text or "".
std::string ParseRecoveryPlan(const std::string& args, RecoveryPlan& plan);

// The recoveries of one simulator, each on its own thread (which inherits
// the calling thread's network namespace).
class RecoveryRuns {
 public:
  ~RecoveryRuns();
  void Start(Device& device, RecoveryPlan plan);
  // "recovering", "recovered <version>" or "failed <why>" per device index.
  std::string State(int index) const;
  void StopAll();

 private:
  void Run(Device& device, RecoveryPlan plan);
  void SetState(int index, std::string state);

  mutable std::mutex mutex_;
  std::vector<std::thread> threads_;
  std::vector<std::pair<int, std::string>> states_;
  std::atomic<bool> stop_{false};
};

// Downloads `file` from server:port over TFTP (octet, blksize 1468). False
// with `error` on an error packet or silence through the retransmissions.
bool TftpFetch(const std::string& local_ip, const std::string& server, std::uint16_t port,
               const std::string& file, std::string& out, std::string& error, const std::atomic<bool>& stop);

// The simulator's "recover" control command.
std::string RecoverControl(RecoveryRuns& runs, Device& device, const std::string& args);

}  // namespace kelvara::devsim
