#include "device/core/row_login.h"

#include "device/core/row_texts.h"

namespace kelvara::device {

LoginTarget RowLoginTarget(const discovery::DeviceListRow& row, const LoginDefaults& defaults) {
  const DeviceSearchInfo& info = row.m_searchInfo;
  LoginTarget target{info.lanConfig.ipAddress, info.userConfig.accounts[0].userName,
                     info.userConfig.accounts[0].password};
  if (info.hasAccounts == 0) {
    // The SDK takes at most 255 bytes of each.
    target.user = defaults.userName.substr(0, 255);
    target.password = defaults.password.substr(0, 255);
  }
  return target;
}

int LoginRow(discovery::DeviceRows& rows, discovery::DeviceListRow& row, DeviceSdk& sdk,
             const LoginDefaults& defaults) {
  const LoginTarget target = RowLoginTarget(row, defaults);
  const auto port = static_cast<unsigned short>(row.m_searchInfo.streamAccess.ptzPort & 0xFFFF);
  const int handle = sdk.Login(target.address, port, target.user, target.password);
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

namespace {

// One automatic login of a row whose handle is 0.
void AutoLoginRow(discovery::DeviceRows& rows, discovery::DeviceListRow& row, const AutoLogin& login) {
  if (login.gate == nullptr) {
    rows.SetLoginHandle(row, LoginRow(rows, row, login.sdk, login.defaults));
    return;
  }
  const LoginTarget target = RowLoginTarget(row, login.defaults);
  switch (login.gate->Admit(rows, row, target)) {
    case AutoLoginGate::Verdict::kLogIn: {
      const int handle = LoginRow(rows, row, login.sdk, login.defaults);
      rows.SetLoginHandle(row, handle);
      login.gate->LoginMade(row, handle, target, false);
      break;
    }
    case AutoLoginGate::Verdict::kWait:
      break;
    case AutoLoginGate::Verdict::kRefused:
      SetRowStatus(rows, row, login.refusedText);
      break;
  }
}

}  // namespace

void LogInReadyRows(discovery::DeviceRows& rows, const AutoLogin& login) {
  if (login.gate == nullptr) return;
  // Each round either starts a login at a target (which then takes no more
  // rows) or takes a row out of the gate: it ends.
  for (auto ready = login.gate->TakeReady(rows); !ready.empty(); ready = login.gate->TakeReady(rows)) {
    for (discovery::DeviceListRow* row : ready) AutoLoginRow(rows, *row, login);
  }
}

void ProcessReloginQueue(discovery::DeviceRows& rows, const std::vector<discovery::ReloginEntry>& queue,
                         const AutoLogin& login) {
  for (const auto& entry : queue) {
    if (entry.oldHandle != 0) login.sdk.Logout(entry.oldHandle);
    AutoLoginRow(rows, *entry.row, login);
  }
  LogInReadyRows(rows, login);
}

void ProcessReloginQueue(discovery::DeviceRows& rows, const std::vector<discovery::ReloginEntry>& queue,
                         DeviceSdk& sdk, const LoginDefaults& defaults) {
  ProcessReloginQueue(rows, queue, AutoLogin{sdk, defaults, nullptr, {}});
}

void OnAutoLoginEvent(discovery::DeviceRows& rows, const AutoLogin& login, int handle, int eventType) {
  if (login.gate == nullptr) return;
  for (discovery::DeviceListRow* row : login.gate->OnStatusEvent(handle, eventType))
    SetRowStatus(rows, *row, login.refusedText);
  LogInReadyRows(rows, login);
}

void LoginRowByHand(discovery::DeviceRows& rows, discovery::DeviceListRow& row, const AutoLogin& login) {
  if (row.m_loginHandle != 0) login.sdk.Logout(row.m_loginHandle);
  rows.SetLoginHandle(row, 0);
  const int handle = LoginRow(rows, row, login.sdk, login.defaults);
  rows.SetLoginHandle(row, handle);
  if (login.gate != nullptr) login.gate->LoginMade(row, handle, RowLoginTarget(row, login.defaults), true);
}

}  // namespace kelvara::device
