#pragma once
// The login-free commands the device list sends by itself: production mode's
// restore and DHCP switch, the one restore of a device first seen in
// new-device mode, and the restore of a device the boot-recovery server
// marked. Each builds its body and hands the request text to `send` (the
// search thread's queue while a search runs, else a direct broadcast).
// Credentials are the 8-bit (GBK) texts devices expect.
#include <functional>
#include <string>

#include "discovery/core/body_builders.h"
#include "discovery/core/device_records.h"

namespace kelvara::discovery {

using SendRequest = std::function<void(std::string text)>;

// Results: 0 when the request went to `send`, -3 when its body was not built
// (nothing is sent).
inline constexpr int kBodyNotBuilt = -3;

// Restore defaults (Msg_code 5, three times) for the record's serial number,
// keeping the network settings when keepNetwork > 0.
int RestoreDevByBD(const DeviceSearchInfo& record, int keepNetwork, const OperatorAuth& auth,
                   const SendRequest& send);

// The record's network settings (Msg_code 2, once).
int SetLanConfigByBD(const DeviceSearchInfo& record, const OperatorAuth& auth, const SendRequest& send);

// Reboot (Msg_code 7, once) of the device with this serial number.
int RebootRecordByBD(const std::string& serialNumber, const OperatorAuth& auth, const SendRequest& send);

// Factory mode (Msg_code 9, three times, Msg_flag = mode) with the default login.
int SetFactoryModeRecordByBD(const std::string& serialNumber, int mode, const OperatorAuth& defaults,
                             const SendRequest& send);

// Restore by UUID (Msg_code 5898, three times) with the default login.
int RestoreNewDeviceByBD(const DeviceSearchInfo& record, const OperatorAuth& defaults,
                         const SendRequest& send);

// What the boot-recovery server knows about devices it recovered. Nothing
// implements it until that server exists; without it no device is restored.
class RecoveryMarks {
 public:
  virtual ~RecoveryMarks() = default;
  // The device with this UUID was marked for a factory restore.
  virtual bool NeedsFactoryRestore(const std::string& uuid) = 0;
  // One restore was sent for it.
  virtual void CountFactoryRestore(const std::string& uuid) = 0;
};

// For a record the list refresh saw within the last 2 s: when `marks` says
// its UUID needs a factory restore, restore defaults (Msg_code 5, three
// times, no keep-network) with the default login and count it. Returns 0 (also
// when nothing was due) or -3.
int RestoreRecoveredDevice(const DeviceSearchInfo& record, RecoveryMarks* marks,
                           const OperatorAuth& defaults, const SendRequest& send);

}  // namespace kelvara::discovery
