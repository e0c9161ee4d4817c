#pragma once
// The command calls over the real device SDK library.
#include "device/core/command_sdk.h"

namespace kelvara::device {

class ZqCommandSdk : public CommandSdk {
 public:
  int SystemControl(int handle, int code, const std::string& text) override;
  int GetDVRConfig(int handle, int code) override;
  int SetDVRConfig(int handle, int code, const std::string& text) override;
  int SetDeviceConfig(int handle, int code, const std::string& text) override;
  int RebootDVR(int handle) override;
  int PTZPreset(int handle, int operation, int preset) override;
  int GetConfigFile(int handle, const std::string& localPath) override;
  int SetConfigFile(int handle, const std::string& localPath) override;
  int GetFileByName(int handle, int kind, const std::string& devicePath,
                    const std::string& localPath) override;
};

}  // namespace kelvara::device
