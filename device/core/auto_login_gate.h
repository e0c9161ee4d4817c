#pragma once
// Which of the list's automatic logins may be made now. Each login call lets
// the host that answers at the row's address test one password guess (the
// SDK's tag), and search replies are not authenticated: a host that answers
// with many serial numbers at its own address, or moves a listed serial
// number there, would get a guess per row and per move. So the refresh makes
// at most one automatic login at a time to an address with the same
// credentials, and none there after one was refused (status event 31, which
// the SDK also reports for a device that goes silent or hangs up after the
// tag) until the gate is reset (a new search, a list import), the
// credentials differ (the default login changed), or the user logs a row at
// that address in by hand. Rows that come while a login there is under way
// wait for its outcome: an established login lets the next one go, a refusal
// refuses them all without a login. The address is the key, not the port,
// which comes from the reply too.
//
// Logins by hand (the row's login menu) and the re-logins after a login-free
// address change are not gated. UI thread only; rows are the list's and
// must be forgotten (Reset) whenever the list is cleared.
#include <cstddef>
#include <deque>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "discovery/core/device_rows.h"

namespace kelvara::device {

// Where and with what a login is made: the credentials exactly as sent.
struct LoginTarget {
  std::string address;
  std::string user;
  std::string password;
  auto operator<=>(const LoginTarget&) const = default;
};

class AutoLoginGate {
 public:
  // Addresses remembered in one list (each with its credentials); past this
  // many every further one is refused without a login until the next reset,
  // so a flood of addresses cannot grow the gate without bound.
  static constexpr std::size_t kMaxTargets = 16384;

  enum class Verdict {
    kLogIn,    // make the login now, then tell LoginMade
    kWait,     // a login there is under way: the row waits for its outcome
    kRefused,  // refused there: show the refusal, no login
  };

  // An automatic login of `row` to `target`. A row waiting elsewhere stops
  // waiting there.
  Verdict Admit(const discovery::DeviceRows& rows, discovery::DeviceListRow& row, const LoginTarget& target);

  // The login just made for `target` (handle > 0), whose row holds it now.
  // `byHand`: a login the user asked for, which lifts a refusal there.
  void LoginMade(discovery::DeviceListRow& row, int handle, const LoginTarget& target, bool byHand);

  // A status event of a login the gate knows: 4 ends its turn (the next
  // waiting row may go: TakeReady), 31 refuses its target and returns the
  // rows that waited there, which show the refusal without a login.
  std::vector<discovery::DeviceListRow*> OnStatusEvent(int handle, int eventType);

  // Rows whose turn has come, at most one per target, no longer waiting:
  // where no login is under way any more (ended by an event, or logged out
  // without one: no row holds its handle). The caller admits each again.
  std::vector<discovery::DeviceListRow*> TakeReady(const discovery::DeviceRows& rows);

  // Forgets everything (the list was cleared, or a new search began).
  void Reset();

  std::size_t WaitingCount() const { return waitingAt_.size(); }
  bool Refused(const LoginTarget& target) const;

 private:
  struct Place {
    std::vector<int> pending;  // logins under way there, by handle
    std::deque<discovery::DeviceListRow*> waiting;
    bool refused = false;
  };
  // Drops pending logins that no row holds any more.
  void DropStale(const discovery::DeviceRows& rows, Place& place);
  void StopWaiting(discovery::DeviceListRow& row);
  // Forgets a place with nothing left to remember.
  void Prune(std::map<LoginTarget, Place>::iterator it);

  std::map<LoginTarget, Place> places_;
  std::unordered_map<int, LoginTarget> targetOf_;  // handle -> target
  std::unordered_map<discovery::DeviceListRow*, LoginTarget> waitingAt_;
};

}  // namespace kelvara::device
