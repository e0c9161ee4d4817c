#pragma once
// Logging list rows in to the device SDK, on the UI thread. The SDK sits
// behind DeviceSdk so the logic runs in tests without devices.
#include <string>
#include <vector>

#include "discovery/core/device_rows.h"

namespace kelvara::device {

class DeviceSdk {
 public:
  virtual ~DeviceSdk() = default;
  // A handle > 0, or the SDK's failure value (<= 0).
  virtual int Login(const std::string& address, unsigned short port, const std::string& user,
                    const std::string& password) = 0;
  virtual void Logout(int handle) = 0;
  virtual void LogoutAll() = 0;
  virtual void SetAutoReconnect(int handle, int on) = 0;
};

struct LoginDefaults {
  std::string userName;  // the settings' default login, as sent to devices
  std::string password;
};

// The text written into the status column when a login fails.
inline constexpr const char* kLoginFailedText = "ZQ_NETSDK_IPC_Login FAILED";

// Logs the row in with account 0 of its reply (or the defaults when the reply
// had none) at the low 16 bits of its PTZ port; turns on automatic reconnect
// for a handle > 0, writes the failure text otherwise. Returns the result,
// which the caller stores with DeviceRows::SetLoginHandle.
int LoginRow(discovery::DeviceRows& rows, discovery::DeviceListRow& row, DeviceSdk& sdk,
             const LoginDefaults& defaults);

// Logs a row with a non-zero handle out and in again; a row with handle 0 is
// left alone. Returns 0.
int ReloginRow(discovery::DeviceRows& rows, discovery::DeviceListRow& row, DeviceSdk& sdk,
               const LoginDefaults& defaults);

// The refresh's re-login queue, in order: the old handle (when not 0) is
// logged out, then the row logged in and the result stored.
void ProcessReloginQueue(discovery::DeviceRows& rows, const std::vector<discovery::ReloginEntry>& queue,
                         DeviceSdk& sdk, const LoginDefaults& defaults);

}  // namespace kelvara::device
