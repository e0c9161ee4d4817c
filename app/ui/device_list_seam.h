#pragma once
// The device search and list as the main window's device-list seam.
#include "app/ui/main_dialog_seams.h"
#include "device/ui/device_command_host.h"
#include "discovery/ui/device_list_controller.h"

namespace kelvara::discovery {

class DeviceListSeamImpl : public ui::DeviceListSeam {
 public:
  explicit DeviceListSeamImpl(DeviceListController::Options options);
  QWidget* CreateListWidget(QWidget* parent) override;
  void InitColumns() override;
  void StartSearch() override;
  void StopSearch() override;
  void SendSearchRequest() override;
  void RefreshDeviceList() override;
  void SetNewDeviceMode(bool on) override { controller_.SetNewDeviceMode(on); }
  int CheckedRowCount() override;
  void SetAllChecked(bool on) override { controller_.SetAllChecked(on); }
  QString FirstSelectedP2pId() override;
  QString P2pIdOfRow(int row) override;
  void ForEachRow(const std::function<bool(int row, shell::RowTimerState&)>& fn) override;
  void OnSdkStatusEvent(device::DeviceStatusEvent event) override;
  void OnSdkAuxResponse(device::DeviceAuxResponse response) override;
  void ClearRows() override;
  void RestoreDayMode(int row) override {
    if (commands_) commands_->RestoreDayMode(row);
  }
  // The device commands, once the window made them.
  void SetCommandHost(device::DeviceCommandHost* commands) { commands_ = commands; }

  DeviceListController& Controller() { return controller_; }

 private:
  DeviceListController controller_;
  device::DeviceCommandHost* commands_ = nullptr;
};

}  // namespace kelvara::discovery
