#pragma once
// Logging list rows in to the device SDK, on the UI thread. The SDK sits
// behind DeviceSdk so the logic runs in tests without devices.
#include <string>
#include <vector>

#include "device/core/auto_login_gate.h"
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

// Where and with what LoginRow logs the row in: its address, and account 0
// of its reply (or the defaults when the reply had none).
LoginTarget RowLoginTarget(const discovery::DeviceListRow& row, const LoginDefaults& defaults);

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

// The list's automatic logins, through the gate when there is one (see
// auto_login_gate.h): a row whose target refused shows `refusedText` and gets
// handle 0, one whose target has a login under way waits in the gate.
struct AutoLogin {
  DeviceSdk& sdk;
  LoginDefaults defaults;
  AutoLoginGate* gate = nullptr;  // null: every row is logged in at once
  std::string refusedText;
};

// The refresh's re-login queue, in order: the old handle (when not 0) is
// logged out, then the row logged in (or left waiting, or refused) and the
// result stored; then the waiting rows whose turn has come.
void ProcessReloginQueue(discovery::DeviceRows& rows, const std::vector<discovery::ReloginEntry>& queue,
                         const AutoLogin& login);
void ProcessReloginQueue(discovery::DeviceRows& rows, const std::vector<discovery::ReloginEntry>& queue,
                         DeviceSdk& sdk, const LoginDefaults& defaults);

// Logs in the rows that waited in the gate and whose turn has come.
void LogInReadyRows(discovery::DeviceRows& rows, const AutoLogin& login);

// A status event of a login: the gate learns its outcome; rows that waited
// for a refused login show the refusal, and the next waiting rows go.
void OnAutoLoginEvent(discovery::DeviceRows& rows, const AutoLogin& login, int handle, int eventType);

// The row's login menu: ends the row's login, logs it in again without the
// gate's leave, and lets the gate follow this login (it lifts a refusal there).
void LoginRowByHand(discovery::DeviceRows& rows, discovery::DeviceListRow& row, const AutoLogin& login);

}  // namespace kelvara::device
