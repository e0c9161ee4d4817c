#include "firmware/core/zq_firmware_sdk.h"

#include <VaRurOvoDiv/zq_netsdk_ipc.h>

namespace kelvara::firmware {

int ZqFirmwareSdk::Upgrade(int handle, const std::string& image_path) {
  return ZQ_NETSDK_IPC_Upgrade(handle, image_path.c_str());
}
int ZqFirmwareSdk::GetUpgradeProgress(int handle) { return ZQ_NETSDK_IPC_GetUpgradeProgress(handle); }
int ZqFirmwareSdk::UploadOemAppFile(int handle, const std::string& local_path) {
  return ZQ_NETSDK_IPC_UploadOEMAppFile(handle, local_path.c_str());
}
}  // namespace kelvara::firmware
