#pragma once
// The addresses of the namespace devsim plays in. A device told a new address
// (LAN settings, a restore) takes it as a camera would: devsim puts the address
// on the interface whose network holds it, so the PC reaches the device there,
// and takes off at the end only what it put on itself. It does so only inside a
// namespace made for tests (never in the machine's own) and when it may
// (root there); otherwise, and for an address outside every network of the
// namespace, it says why the device stays unreachable.
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace kelvara::devsim {

// True when the calling thread runs in a network namespace made for tests: a
// named one (ip netns, the test LAN) or, where process 1 can be seen, any other
// than the machine's own. A simulator must never answer a real network.
bool InPrivateNamespace();

// True when `ip` is an address of the calling thread's namespace (on an
// interface, loopback or a local route): a socket can be bound to it.
bool IsLocalAddress(const std::string& ip);

class InterfaceAddresses {
 public:
  enum class Outcome {
    kPresent,         // already an address of the namespace
    kAdded,           // put on the interface of its network
    kOutsideNetwork,  // no interface's network holds it (or no host address of it)
    kInUse,           // another host of the LAN answers for it
    kNotAllowed,      // not a test namespace, or devsim may not change addresses
    kFailed,          // the kernel refused for another reason
  };
  // `notice` gets one line per address that is added, kept or left unreachable.
  explicit InterfaceAddresses(std::function<void(const std::string&)> notice);
  ~InterfaceAddresses();
  InterfaceAddresses(const InterfaceAddresses&) = delete;
  InterfaceAddresses& operator=(const InterfaceAddresses&) = delete;

  // Makes `ip` an address of the calling thread's namespace for device `who`.
  // The added address gets the prefix of the interface address whose network
  // holds it (a secondary address: removing it later touches no other).
  Outcome Ensure(const std::string& ip, const std::string& who);

  // Removes the addresses Ensure added, in the namespace they were added to,
  // from any thread; one a listening socket still uses (another simulator in
  // the namespace) stays. Call after closing this simulator's own listeners.
  void RemoveAdded();

  std::vector<std::string> added() const;

 private:
  struct Added {
    uint32_t ip;  // host byte order
    int ifindex;
    int prefix;
  };
  bool OpenSockets();
  bool ChangeAddress(bool add, const Added& a, int& error);
  bool Listening(uint32_t ip);

  std::function<void(const std::string&)> notice_;
  mutable std::mutex mutex_;
  int route_fd_ = -1;  // rtnetlink and sock_diag, both opened inside the namespace
  int diag_fd_ = -1;
  std::vector<Added> added_;
};

}  // namespace kelvara::devsim
