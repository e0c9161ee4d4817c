#include "device/core/auto_login_gate.h"

#include <algorithm>

#include "device/core/login_events.h"

namespace kelvara::device {

AutoLoginGate::Verdict AutoLoginGate::Admit(const discovery::DeviceRows& rows, discovery::DeviceListRow& row,
                                            const LoginTarget& target) {
  StopWaiting(row);
  auto it = places_.find(target);
  if (it == places_.end()) {
    if (places_.size() >= kMaxTargets) return Verdict::kRefused;
    return Verdict::kLogIn;
  }
  Place& place = it->second;
  if (place.refused) return Verdict::kRefused;
  DropStale(rows, place);
  if (place.pending.empty()) return Verdict::kLogIn;
  place.waiting.push_back(&row);
  waitingAt_.emplace(&row, target);
  return Verdict::kWait;
}

void AutoLoginGate::LoginMade(discovery::DeviceListRow& row, int handle, const LoginTarget& target, bool byHand) {
  StopWaiting(row);
  if (handle <= 0) return;  // no login was made: nothing is under way
  auto [it, added] = places_.try_emplace(target);
  if (byHand) it->second.refused = false;
  it->second.pending.push_back(handle);
  targetOf_[handle] = target;
}

std::vector<discovery::DeviceListRow*> AutoLoginGate::OnStatusEvent(int handle, int eventType) {
  std::vector<discovery::DeviceListRow*> refusedRows;
  if (eventType != kEventLoginOk && eventType != kEventLoginRefused) return refusedRows;
  auto known = targetOf_.find(handle);
  if (known == targetOf_.end()) return refusedRows;
  auto it = places_.find(known->second);
  if (it == places_.end()) {
    // Established before and forgotten since: only a refusal is news.
    if (eventType != kEventLoginRefused) return refusedRows;
    it = places_.try_emplace(known->second).first;
  }
  Place& place = it->second;
  std::erase(place.pending, handle);
  if (eventType == kEventLoginRefused) {
    place.refused = true;
    for (discovery::DeviceListRow* row : place.waiting) {
      waitingAt_.erase(row);
      refusedRows.push_back(row);
    }
    place.waiting.clear();
  }
  // An established login stays known: its device may refuse it later (a
  // reconnection after the password changed).
  Prune(it);
  return refusedRows;
}

std::vector<discovery::DeviceListRow*> AutoLoginGate::TakeReady(const discovery::DeviceRows& rows) {
  std::vector<discovery::DeviceListRow*> ready;
  if (!waitingAt_.empty()) {
    for (auto it = places_.begin(); it != places_.end();) {
      auto next = std::next(it);
      Place& place = it->second;
      if (!place.waiting.empty()) {
        DropStale(rows, place);
        if (place.pending.empty()) {
          discovery::DeviceListRow* row = place.waiting.front();
          place.waiting.pop_front();
          waitingAt_.erase(row);
          ready.push_back(row);
          Prune(it);
        }
      }
      it = next;
    }
  }
  // Logins no row holds any more (logged out, replaced) are forgotten now and
  // then, so a long search that logs in again and again does not grow this.
  if (targetOf_.size() > 2 * rows.Count() + 64) {
    for (auto it = targetOf_.begin(); it != targetOf_.end();)
      it = rows.FindByHandle(it->first) == nullptr ? targetOf_.erase(it) : std::next(it);
  }
  return ready;
}

void AutoLoginGate::Reset() {
  places_.clear();
  targetOf_.clear();
  waitingAt_.clear();
}

bool AutoLoginGate::Refused(const LoginTarget& target) const {
  auto it = places_.find(target);
  return it != places_.end() && it->second.refused;
}

void AutoLoginGate::DropStale(const discovery::DeviceRows& rows, Place& place) {
  std::erase_if(place.pending, [&](int handle) {
    if (rows.FindByHandle(handle) != nullptr) return false;
    targetOf_.erase(handle);
    return true;
  });
}

void AutoLoginGate::StopWaiting(discovery::DeviceListRow& row) {
  auto at = waitingAt_.find(&row);
  if (at == waitingAt_.end()) return;
  auto it = places_.find(at->second);
  waitingAt_.erase(at);
  if (it == places_.end()) return;
  std::erase(it->second.waiting, &row);
  Prune(it);
}

void AutoLoginGate::Prune(std::map<LoginTarget, Place>::iterator it) {
  const Place& place = it->second;
  if (!place.refused && place.pending.empty() && place.waiting.empty()) places_.erase(it);
}

}  // namespace kelvara::device
