#include "app/ui/linked_shell_sdk.h"

#include "zq_player.h"
#include "zq_rtsp_client.h"

namespace kelvara::ui {

int LinkedShellSdk::PlayerInit() { return ZQ_PLAYER_Init(); }
int LinkedShellSdk::PlayerReleaseAll() { return ZQ_PLAYER_ReleaseAll(); }
int LinkedShellSdk::RtspInitLib() { return ZQ_RTSP_CLINET_LIB_InitLib(); }
int LinkedShellSdk::RtspReleaseLib() { return ZQ_RTSP_CLINET_LIB_ReleaseLib(); }

// The device SDK joins here once its library is part of the build; until then
// the program runs without device logins.
int LinkedShellSdk::NetSdkInit() { return 0; }
std::string LinkedShellSdk::NetSdkVersion() { return {}; }
std::string LinkedShellSdk::NetSdkBuildDate() { return {}; }
int LinkedShellSdk::RegisterCallbacks(void*) { return 0; }
int LinkedShellSdk::SetAutoReconnect(int, int) { return 0; }
int LinkedShellSdk::LogoutAll() { return 0; }
int LinkedShellSdk::UnregisterCallbacks() { return 0; }
int LinkedShellSdk::NetSdkCleanup() { return 0; }

}  // namespace kelvara::ui
