#pragma once
// The device SDK's request calls as the command workers and reply handlers
// see them. Every call returns at once: 0 = accepted (its answer comes later
// as an AUX reply or a status event), anything else = refused. Texts are the
// 8-bit bytes sent to the device. ZqCommandSdk (zq_command_sdk.h) is the real
// SDK; tests record the calls.
#include <string>

namespace kelvara::device {

class CommandSdk {
 public:
  virtual ~CommandSdk() = default;
  // ZQ_NETSDK_IPC_SystemControl(handle, code, null, text)
  virtual int SystemControl(int handle, int code, const std::string& text) = 0;
  // ZQ_NETSDK_IPC_GetDVRConfig(handle, code, 0, "", null, 0)
  virtual int GetDVRConfig(int handle, int code) = 0;
  // ZQ_NETSDK_IPC_SetDVRConfig(handle, code, 0, text, byte length)
  virtual int SetDVRConfig(int handle, int code, const std::string& text) = 0;
  // ZQ_NETSDK_IPC_SetDevcieConfig(handle, code, text, byte length)
  virtual int SetDeviceConfig(int handle, int code, const std::string& text) = 0;
  virtual int RebootDVR(int handle) = 0;
  // ZQ_NETSDK_IPC_PTZPreset(handle, operation, preset); its answer is the
  // acceptance (no AUX reply).
  virtual int PTZPreset(int handle, int operation, int preset) = 0;
  virtual int GetConfigFile(int handle, const std::string& localPath) = 0;
  virtual int SetConfigFile(int handle, const std::string& localPath) = 0;
  virtual int GetFileByName(int handle, int kind, const std::string& devicePath,
                            const std::string& localPath) = 0;
};

}  // namespace kelvara::device
