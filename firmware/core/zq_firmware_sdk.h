#pragma once
// The firmware and file calls over the device SDK library.
#include "firmware/core/firmware_actions.h"
#include "firmware/core/sdk_file_workers.h"

namespace kelvara::firmware {

class ZqFirmwareSdk final : public FirmwareSdk, public FileSdk {
 public:
  int Upgrade(int handle, const std::string& image_path) override;
  int GetUpgradeProgress(int handle) override;
  int UploadOemAppFile(int handle, const std::string& local_path) override;
  int SetConfigFile(int handle, const std::string& local_path) override;
  int GetConfigFile(int handle, const std::string& local_path) override;
  int GetFileByName(int handle, int kind, const std::string& device_path, const std::string& local_path) override;
};

}  // namespace kelvara::firmware
