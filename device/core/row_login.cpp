#include "device/core/row_login.h"

#include "device/core/row_texts.h"

namespace kelvara::device {

int LoginRow(discovery::DeviceRows& rows, discovery::DeviceListRow& row, DeviceSdk& sdk,
             const LoginDefaults& defaults) {
  const DeviceSearchInfo& info = row.m_searchInfo;
  std::string user = info.userConfig.accounts[0].userName;
  std::string password = info.userConfig.accounts[0].password;
  if (info.hasAccounts == 0) {
    // The SDK takes at most 255 bytes of each.
    user = defaults.userName.substr(0, 255);
    password = defaults.password.substr(0, 255);
  }
  const auto port = static_cast<unsigned short>(info.streamAccess.ptzPort & 0xFFFF);
  const int handle = sdk.Login(info.lanConfig.ipAddress, port, user, password);
  if (handle > 0)
    sdk.SetAutoReconnect(handle, 1);
  else
    SetRowStatus(rows, row, kLoginFailedText);
  return handle;
}

int ReloginRow(discovery::DeviceRows& rows, discovery::DeviceListRow& row, DeviceSdk& sdk,
               const LoginDefaults& defaults) {
  if (row.m_loginHandle == 0) return 0;
  sdk.Logout(row.m_loginHandle);
  rows.SetLoginHandle(row, 0);
  rows.SetLoginHandle(row, LoginRow(rows, row, sdk, defaults));
  return 0;
}

void ProcessReloginQueue(discovery::DeviceRows& rows, const std::vector<discovery::ReloginEntry>& queue,
                         DeviceSdk& sdk, const LoginDefaults& defaults) {
  for (const auto& entry : queue) {
    if (entry.oldHandle != 0) sdk.Logout(entry.oldHandle);
    rows.SetLoginHandle(*entry.row, LoginRow(rows, *entry.row, sdk, defaults));
  }
}

}  // namespace kelvara::device
