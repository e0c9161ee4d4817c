#pragma once
// The process set-up and release calls of the linked libraries.
#include "app/shell/shell_sdk.h"

namespace kelvara::ui {

class LinkedShellSdk final : public shell::ShellSdk {
 public:
  int PlayerInit() override;
  int PlayerReleaseAll() override;
  int RtspInitLib() override;
  int RtspReleaseLib() override;
  int NetSdkInit() override;
  std::string NetSdkVersion() override;
  std::string NetSdkBuildDate() override;
  int RegisterCallbacks(void* event_sink) override;
  int SetAutoReconnect(int login_handle, int on) override;
  int LogoutAll() override;
  int UnregisterCallbacks() override;
  int NetSdkCleanup() override;
};

}  // namespace kelvara::ui
