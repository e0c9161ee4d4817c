#pragma once
// The login actions of the device commands, gathered from the parts that
// own them: firmware (automatic uploads and upgrade) and the device log.
#include "device/core/device_logs.h"
#include "device/core/device_seams.h"
#include "discovery/core/device_rows.h"

namespace kelvara::ui {

class AppLoginActions final : public device::LoginActions {
 public:
  AppLoginActions(device::LoginActions& firmware, device::DeviceLogs& logs,
                  std::function<discovery::DeviceRows*()> rows)
      : firmware_(firmware), logs_(logs), rows_(std::move(rows)) {}
  void AutoUploadDefaultConfig(int handle) override { firmware_.AutoUploadDefaultConfig(handle); }
  void AutoUploadConfig(int handle) override { firmware_.AutoUploadConfig(handle); }
  void AutoUpgrade(int handle) override { firmware_.AutoUpgrade(handle); }
  void OpenDeviceSlog(int handle) override {
    if (discovery::DeviceRows* rows = rows_()) logs_.OpenDeviceSlog(*rows, handle);
  }
  void UpdateNetLogReceiver(discovery::DeviceListRow& row) override { logs_.UpdateNetLogReceiver(row, row.checked); }

 private:
  device::LoginActions& firmware_;
  device::DeviceLogs& logs_;
  std::function<discovery::DeviceRows*()> rows_;
};

}  // namespace kelvara::ui
