#include "firmware/recovery/boot_device_table.h"

namespace kelvara::firmware {
namespace {
bool Finished(int step) { return step >= 10 && step <= 12; }
}  // namespace

BootDeviceInfo* BootDeviceTable::Find(const std::string& uuid) {
  const auto it = entries_.find(uuid);
  return it == entries_.end() ? nullptr : &it->second.info;
}

BootDeviceInfo& BootDeviceTable::Put(const BootDeviceInfo& info) {
  if (entries_.find(info.uuid) == entries_.end() && entries_.size() >= capacity_) EvictOne();
  Entry& entry = entries_[info.uuid];
  entry.info = info;
  entry.touched = ++clock_;
  return entry.info;
}

void BootDeviceTable::Touch(const std::string& uuid) {
  if (const auto it = entries_.find(uuid); it != entries_.end()) it->second.touched = ++clock_;
}

void BootDeviceTable::ResetRestoreAttempts() {
  for (auto& [uuid, entry] : entries_) entry.info.restore_attempts = 0;
}

void BootDeviceTable::EvictOne() {
  auto victim = entries_.end();
  bool victim_finished = false;
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    const bool finished = Finished(it->second.info.step);
    if (victim == entries_.end() || (finished && !victim_finished) ||
        (finished == victim_finished && it->second.touched < victim->second.touched)) {
      victim = it;
      victim_finished = finished;
    }
  }
  if (victim != entries_.end()) entries_.erase(victim);
}

}  // namespace kelvara::firmware
