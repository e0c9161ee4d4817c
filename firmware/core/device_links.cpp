#include "firmware/core/device_links.h"

namespace kelvara::firmware {

discovery::DeviceListRow* CommandFileWorkers::RowAt(int row) const {
  discovery::DeviceRows* rows = rows_();
  if (rows == nullptr || row < 0 || static_cast<std::size_t>(row) >= rows->Count()) return nullptr;
  return &rows->At(static_cast<std::size_t>(row));
}

int CommandFileWorkers::UploadConfigFileToRow(int row, const std::string& local_path) {
  return commands_.UploadConfigFileToRow(RowAt(row), local_path);
}

int CommandFileWorkers::UploadConfigFile(const discovery::DeviceListRow* record, const std::string& local_path) {
  return commands_.UploadConfigFile(const_cast<discovery::DeviceListRow*>(record), local_path);
}

int CommandFileWorkers::DownloadConfigFile(int row) { return commands_.DownloadConfigFile(RowAt(row)); }

int CommandFileWorkers::DownloadDeviceFile(int row, const std::string& device_path, const std::string& local_name) {
  return commands_.DownloadDeviceFile(RowAt(row), device_path, local_name);
}

void FirmwareDeviceSeams::AutoUploadDefaultConfig(int handle) {
  if (FirmwareActions* a = actions_()) a->AutoUploadDefaultConfig(handle);
}

void FirmwareDeviceSeams::AutoUploadConfig(int handle) {
  if (FirmwareActions* a = actions_()) a->AutoUploadConfig(handle);
}

void FirmwareDeviceSeams::AutoUpgrade(int handle) {
  if (FirmwareActions* a = actions_()) a->AutoUpgrade(handle);
}

void FirmwareDeviceSeams::SetOemDeviceTypeForRow(discovery::DeviceListRow& row, const device::DeviceStatusEvent&) {
  if (FirmwareActions* a = actions_()) a->OnStatusEvent(row.m_loginHandle, event::kModelNameRequest, {});
}

void FirmwareDeviceSeams::ShowUpgradeProgress(int handle) {
  if (FirmwareActions* a = actions_()) a->ShowUpgradeProgress(handle);
}

void FirmwareDeviceSeams::AfterStatusEvent(const device::DeviceStatusEvent& e) {
  FirmwareActions* a = actions_();
  if (a == nullptr) return;
  switch (e.eventType) {
    case event::kUploadDone:
    case event::kUploadFailed:
    case event::kLinkLost:
    case event::kConnectFailed:
    case event::kProtocolError:
    case event::kLoginRefused:
    case event::kHeartbeatLost:
      a->OnStatusEvent(e.loginHandle, e.eventType, e.data);
      break;
    default:
      break;
  }
}

}  // namespace kelvara::firmware
