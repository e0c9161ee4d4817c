#include "app/ui/linked_shell_sdk.h"

#include <string>

#include "VaRurOvoDiv/zq_netsdk_ipc.h"
#include "device/core/sdk_bridge.h"
#include "zq_player.h"
#include "zq_rtsp_client.h"

namespace kelvara::ui {

int LinkedShellSdk::PlayerInit() { return ZQ_PLAYER_Init(); }
int LinkedShellSdk::PlayerReleaseAll() { return ZQ_PLAYER_ReleaseAll(); }
int LinkedShellSdk::RtspInitLib() { return ZQ_RTSP_CLINET_LIB_InitLib(); }
int LinkedShellSdk::RtspReleaseLib() { return ZQ_RTSP_CLINET_LIB_ReleaseLib(); }

int LinkedShellSdk::NetSdkInit() { return ZQ_NETSDK_IPC_Init(); }
std::string LinkedShellSdk::NetSdkVersion() { return std::to_string(ZQ_NETSDK_IPC_GetSDKVersion()); }
std::string LinkedShellSdk::NetSdkBuildDate() { return std::to_string(ZQ_NETSDK_IPC_GetSDKBuildData()); }

// The user value is the device::SdkEventSink that posts to the main window.
int LinkedShellSdk::RegisterCallbacks(void* sink) {
  const int a = ZQ_NETSDK_IPC_SetStatusEventCallBack(device::StatusEventCallBack, sink);
  const int b = ZQ_NETSDK_IPC_SetAUXResponseCallBack(device::AuxResponseCallBack, sink);
  return a != 0 ? a : b;
}

int LinkedShellSdk::SetAutoReconnect(int login_handle, int on) { return ZQ_NETSDK_IPC_SetAutoReconnect(login_handle, on); }
int LinkedShellSdk::LogoutAll() { return ZQ_NETSDK_IPC_LogoutAll(); }

// Once these return, the old callbacks never run again.
int LinkedShellSdk::UnregisterCallbacks() {
  const int a = ZQ_NETSDK_IPC_SetStatusEventCallBack(nullptr, nullptr);
  const int b = ZQ_NETSDK_IPC_SetAUXResponseCallBack(nullptr, nullptr);
  return a != 0 ? a : b;
}

// Ends every login and joins every SDK thread.
int LinkedShellSdk::NetSdkCleanup() { return ZQ_NETSDK_IPC_Cleanup(); }

}  // namespace kelvara::ui
