#pragma once
// The devices the boot-recovery server has seen, keyed by UUID (byte order).
// Bounded: past its capacity the entry that finished longest ago (step 10 to
// 12) goes first, and only when none has finished the one touched longest ago.
// Not locked: its owner guards it.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace kelvara::firmware {

struct BootDeviceInfo {
  std::string uuid;           // at most 31 bytes
  std::string state_text;     // language text of the last step (UTF-8)
  std::string firmware_file;  // the FIRMWARE_FILE sent
  std::string address;        // first address handed out
  std::string mac;            // MAC text handed out
  int step = 0;
  int restore_attempts = 0;  // factory restores sent since the last success report
  bool operator==(const BootDeviceInfo&) const = default;
};

inline constexpr std::size_t kBootDeviceTableCapacity = 4096;

class BootDeviceTable {
 public:
  explicit BootDeviceTable(std::size_t capacity = kBootDeviceTableCapacity) : capacity_(capacity ? capacity : 1) {}

  BootDeviceInfo* Find(const std::string& uuid);
  // Stores the record under its UUID (replacing one there), evicting when full.
  BootDeviceInfo& Put(const BootDeviceInfo& info);
  // Marks an entry as changed now (its age for eviction).
  void Touch(const std::string& uuid);
  void Clear() { entries_.clear(); }
  void ResetRestoreAttempts();
  std::size_t size() const { return entries_.size(); }
  std::size_t capacity() const { return capacity_; }
  template <typename F>
  void ForEach(F&& f) const {
    for (const auto& [uuid, entry] : entries_) f(entry.info);
  }

 private:
  struct Entry {
    BootDeviceInfo info;
    std::uint64_t touched = 0;
  };
  void EvictOne();

  std::size_t capacity_;
  std::map<std::string, Entry> entries_;
  std::uint64_t clock_ = 0;
};

}  // namespace kelvara::firmware
