#pragma once
// The discovered devices, keyed by the serial number exactly as the device
// sent it, and the new-device map keyed by UUID. One lock guards both: the
// search thread writes, the UI thread's list refresh takes what changed.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "discovery/core/device_records.h"

namespace kelvara::discovery {

// Caps that keep a flood of spoofed replies from exhausting memory or
// starting thousands of logins. When the map is full a new device takes the
// place of the one seen least recently among those of the sender address
// that answers for the most devices (of any device when none answers for
// more than one); one sender address holds at most a quarter of the map, so
// a single host cannot crowd out the others. The device list keeps the same
// bounds for its rows (DeviceRows).
inline constexpr std::size_t kMaxDevices = 2048;
inline constexpr std::size_t kMaxDevicesPerSender = kMaxDevices / 4;
inline constexpr std::size_t kMaxTrackedUuids = 8192;

struct DefaultLogin {
  std::string userName;  // 8-bit, as sent to the SDK
  std::string password;
};

class DeviceMap {
 public:
  // Stores or replaces the record (see the .cpp for the rules that keep the
  // adapter address and fill a default login). `senderAddress` is where the
  // reply came from (empty: unknown, not bounded). Returns false when a new
  // device was refused because its sender holds its share of the map.
  bool AddOrUpdateDevice(DeviceSearchInfo record, const std::string& adapterAddress,
                         std::uint32_t now_ms, const std::string& senderAddress = {});

  // New-device mode: true when the record's UUID had not been seen in this
  // program run (the caller then restores the device once).
  bool TrackNewDevice(DeviceSearchInfo record, const std::string& adapterAddress);

  // The default login for devices whose reply carries no account.
  void SetDefaultLogin(DefaultLogin login);
  DefaultLogin GetDefaultLogin() const;

  // A copy of the record stored under `serialNumber` (exact key).
  std::optional<DeviceSearchInfo> CopyDeviceRecord(const std::string& serialNumber) const;

  // Records stored or replaced since the last call, in key order. Each is
  // shared with the map and never changes: a later reply stores a new one.
  std::vector<std::shared_ptr<const DeviceSearchInfo>> TakeChanged();

  // Every record, in key order, shared with the map (production mode).
  std::vector<std::shared_ptr<const DeviceSearchInfo>> AllRecords() const;

  // Runs `fn` on the stored record under the lock; false when not found.
  bool Modify(const std::string& serialNumber, const std::function<void(DeviceSearchInfo&)>& fn);

  // Runs `fn` on the stored record under the lock without changing it (a
  // command sent for exactly the record the map holds); false when not found.
  bool Read(const std::string& serialNumber, const std::function<void(const DeviceSearchInfo&)>& fn) const;

  // Runs `fn` on every record in key order under the lock (production mode,
  // exports). `fn` must not call back into the map.
  void ForEach(const std::function<void(const DeviceSearchInfo&)>& fn) const;

  // Empties the serial-number map (the UUID map lives for the program run).
  void Clear();

  std::size_t Size() const;

 private:
  struct CaseLess {
    bool operator()(const std::string& a, const std::string& b) const;
  };
  mutable std::mutex mutex_;
  // Removes the device seen least recently (the map is full).
  void EvictLeastRecentlySeen(std::uint32_t now_ms);

  std::map<std::string, std::shared_ptr<const DeviceSearchInfo>> devices_;
  std::map<std::string, std::string> senderOf_;        // serial -> sender address
  std::map<std::string, std::size_t> devicesOfSender_;  // sender address -> devices
  std::map<std::string, DeviceSearchInfo, CaseLess> byUuid_;
  std::set<std::string> changed_;
  DefaultLogin defaultLogin_{"admin", ""};
  bool fullLogged_ = false;
  bool senderLogged_ = false;
};

// Monotonic milliseconds, wrapping like a 32-bit tick count.
std::uint32_t TickCount_ms();

}  // namespace kelvara::discovery
