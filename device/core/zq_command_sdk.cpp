#include "device/core/zq_command_sdk.h"

#include <VaRurOvoDiv/zq_netsdk_ipc.h>

namespace kelvara::device {

int ZqCommandSdk::SystemControl(int handle, int code, const std::string& text) {
  return ZQ_NETSDK_IPC_SystemControl(handle, code, nullptr, text.c_str());
}

int ZqCommandSdk::GetDVRConfig(int handle, int code) {
  return ZQ_NETSDK_IPC_GetDVRConfig(handle, code, 0, "", nullptr, 0);
}

int ZqCommandSdk::SetDVRConfig(int handle, int code, const std::string& text) {
  return ZQ_NETSDK_IPC_SetDVRConfig(handle, code, 0, text.c_str(), static_cast<int>(text.size()));
}

int ZqCommandSdk::SetDeviceConfig(int handle, int code, const std::string& text) {
  return ZQ_NETSDK_IPC_SetDevcieConfig(handle, code, text.c_str(), static_cast<int>(text.size()));
}

int ZqCommandSdk::RebootDVR(int handle) { return ZQ_NETSDK_IPC_RebootDVR(handle); }
int ZqCommandSdk::PTZPreset(int handle, int operation, int preset) {
  return ZQ_NETSDK_IPC_PTZPreset(handle, operation, preset);
}

int ZqCommandSdk::GetConfigFile(int handle, const std::string& localPath) {
  return ZQ_NETSDK_IPC_GetConfigFile(handle, localPath.c_str());
}

int ZqCommandSdk::SetConfigFile(int handle, const std::string& localPath) {
  return ZQ_NETSDK_IPC_SetConfigFile(handle, localPath.c_str());
}

int ZqCommandSdk::GetFileByName(int handle, int kind, const std::string& devicePath,
                                const std::string& localPath) {
  return ZQ_NETSDK_IPC_GetFileByName(handle, kind, devicePath.c_str(), localPath.c_str());
}

}  // namespace kelvara::device
