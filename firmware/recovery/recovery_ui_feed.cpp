#include "firmware/recovery/recovery_ui_feed.h"

namespace kelvara::firmware {

bool RecoveryUiFeed::AnnounceLocked() {
  if (announced_) return false;
  announced_ = true;
  return true;
}

bool RecoveryUiFeed::AddLine(std::string line) {
  std::lock_guard lock(mutex_);
  if (pending_.lines.size() < max_lines_)
    pending_.lines.push_back(std::move(line));
  else
    ++pending_.dropped_lines;
  return AnnounceLocked();
}

bool RecoveryUiFeed::AddDevice(const BootDeviceInfo& device) {
  std::lock_guard lock(mutex_);
  if (const auto it = device_index_.find(device.uuid); it != device_index_.end()) {
    pending_.devices[it->second] = device;  // only the newest state matters
  } else if (pending_.devices.size() < max_devices_) {
    device_index_.emplace(device.uuid, pending_.devices.size());
    pending_.devices.push_back(device);
  } else {
    // More devices at once than the table holds.
    ++pending_.dropped_devices;
  }
  return AnnounceLocked();
}

RecoveryUiFeed::Batch RecoveryUiFeed::Take() {
  std::lock_guard lock(mutex_);
  Batch out = std::move(pending_);
  pending_ = Batch{};
  device_index_.clear();
  announced_ = false;
  return out;
}

}  // namespace kelvara::firmware
