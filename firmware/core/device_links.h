#pragma once
// Where the firmware handlers meet the device commands: the commands' file
// workers as FileWorkers, and the firmware's parts of the device seams (the
// login steps' automatic actions; upload outcomes, link ends, model-name
// requests and progress among the status events).
#include <functional>

#include "device/core/device_commands.h"
#include "device/core/device_seams.h"
#include "firmware/core/firmware_actions.h"

namespace kelvara::firmware {

// The command table's workers by list row index.
class CommandFileWorkers final : public FileWorkers {
 public:
  CommandFileWorkers(std::function<discovery::DeviceRows*()> rows, device::DeviceCommands& commands)
      : rows_(std::move(rows)), commands_(commands) {}
  int UploadConfigFileToRow(int row, const std::string& local_path) override;
  int UploadConfigFile(const discovery::DeviceListRow* record, const std::string& local_path) override;
  int DownloadConfigFile(int row) override;
  int DownloadDeviceFile(int row, const std::string& device_path, const std::string& local_name) override;

 private:
  discovery::DeviceListRow* RowAt(int row) const;
  std::function<discovery::DeviceRows*()> rows_;
  device::DeviceCommands& commands_;
};

class FirmwareDeviceSeams final : public device::LoginActions, public device::TransferEvents {
 public:
  // `actions` may be null until the window exists (nothing happens then).
  explicit FirmwareDeviceSeams(std::function<FirmwareActions*()> actions) : actions_(std::move(actions)) {}
  void AutoUploadDefaultConfig(int handle) override;
  void AutoUploadConfig(int handle) override;
  void AutoUpgrade(int handle) override;
  void SetOemDeviceTypeForRow(discovery::DeviceListRow& row, const device::DeviceStatusEvent& event) override;
  void ShowUpgradeProgress(int handle) override;
  // Upload outcomes (14, 15; with the default-configuration table) and the
  // events that end a login: each upgrade's terminal state.
  void AfterStatusEvent(const device::DeviceStatusEvent& event) override;

 private:
  std::function<FirmwareActions*()> actions_;
};

}  // namespace kelvara::firmware
