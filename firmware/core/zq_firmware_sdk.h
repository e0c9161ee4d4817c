#pragma once
// The firmware and file calls over the device SDK library.
#include "firmware/core/firmware_actions.h"

namespace kelvara::firmware {

class ZqFirmwareSdk final : public FirmwareSdk {
 public:
  int Upgrade(int handle, const std::string& image_path) override;
  int GetUpgradeProgress(int handle) override;
  int UploadOemAppFile(int handle, const std::string& local_path) override;
};

}  // namespace kelvara::firmware
