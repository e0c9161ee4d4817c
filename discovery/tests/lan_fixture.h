#pragma once
// A LAN inside the machine for broadcast tests: this test process moves into
// a network namespace of its own (the "PC") and gets a second namespace (the
// "LAN") joined to it by one veth pair per network card. Card i has
// 10.(77+i).0.1/16 on the PC side and 10.(77+i).0.2/16 on the LAN side. The
// PC has no default route. Nothing here can reach the machine's own network.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kelvara::discovery::test {

class LanFixture {
 public:
  // Sets the LAN up once per process (idempotent). False, with the reason,
  // when namespaces cannot be made here (not root): the test then skips.
  static bool Enter(int cards, std::string* why);
  static std::string PcAddress(int card);  // "10.77.0.1", ...
  static std::string LanNamespace();
  // Adds an address (/16) to the LAN side of a card, for a simulated device.
  static bool AddLanAddress(int card, const std::string& address);
  // Runs fn on a thread inside the LAN namespace (threads it starts stay
  // there). False when the thread could not enter.
  static bool RunInLan(const std::function<void()>& fn);
  // Runs `cmd` through the shell; true on exit status 0.
  static bool Shell(const std::string& cmd);
};

// Devices in the LAN namespace, answering discovery on UDP 3001 of one card.
class FakeDevices {
 public:
  // `replyFor` gives the reply datagrams to a search request (Msg_code 1).
  FakeDevices(int card, std::function<std::vector<std::string>()> replies);
  ~FakeDevices();
  // Request texts received so far.
  std::vector<std::string> Received();
  bool Ready() const { return ready_; }
  void SetReplies(std::function<std::vector<std::string>()> replies);

 private:
  void Loop(int card);
  std::mutex mutex_;
  std::function<std::vector<std::string>()> replies_;
  std::vector<std::string> received_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> ready_{false};
  int wakeFd_ = -1;
  std::thread thread_;
};

}  // namespace kelvara::discovery::test
