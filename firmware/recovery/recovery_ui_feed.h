#pragma once
// What the recovery threads hand to the window: log lines in a bounded queue
// and device records coalesced by UUID, taken by the UI thread in one batch.
// Only one batch is announced at a time, so a flood of datagrams costs the UI
// thread one queued call per batch, never one per datagram, and the memory
// held for it stays bounded; lines past the bound are dropped and counted.
// Thread-safe.
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "firmware/recovery/boot_device_table.h"

namespace kelvara::firmware {

class RecoveryUiFeed {
 public:
  static constexpr std::size_t kMaxLines = 2000;

  explicit RecoveryUiFeed(std::size_t max_lines = kMaxLines, std::size_t max_devices = kBootDeviceTableCapacity)
      : max_lines_(max_lines), max_devices_(max_devices) {}

  // Any thread. True when the caller is to announce a batch to the UI thread
  // (none is announced yet); false when one is already on its way.
  bool AddLine(std::string line);
  bool AddDevice(const BootDeviceInfo& device);

  struct Batch {
    std::vector<std::string> lines;       // in arrival order
    std::uint64_t dropped_lines = 0;      // past the bound since the last batch
    std::vector<BootDeviceInfo> devices;  // the newest record of each device, in first-arrival order
    std::uint64_t dropped_devices = 0;    // records of devices past the bound
  };
  // UI thread: everything waiting; the next Add announces a new batch.
  Batch Take();

 private:
  bool AnnounceLocked();

  const std::size_t max_lines_, max_devices_;
  std::mutex mutex_;
  Batch pending_;
  std::map<std::string, std::size_t> device_index_;  // UUID -> position in pending_.devices
  bool announced_ = false;
};

}  // namespace kelvara::firmware
