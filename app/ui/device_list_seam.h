#pragma once
// The device search and list as the main window's device-list seam.
#include <memory>

#include "app/ui/main_dialog_seams.h"
#include "device/core/device_logs.h"
#include "device/ui/device_command_host.h"
#include "discovery/ui/device_list_controller.h"
#include "discovery/ui/list_actions.h"

namespace kelvara::discovery {

class DeviceListSeamImpl : public ui::DeviceListSeam {
 public:
  // `actions`: the hooks of the list's commands; their window is the list's parent.
  DeviceListSeamImpl(DeviceListController::Options options, DeviceListActions::Hooks actions = {});
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
  bool SelectedLabelFields(printing::DeviceLabelFields& out) override;
  QString P2pIdOfRow(int row) override;
  void ForEachRow(const std::function<bool(int row, shell::RowTimerState&)>& fn) override;
  void OnSdkStatusEvent(device::DeviceStatusEvent event) override;
  void OnSdkAuxResponse(device::DeviceAuxResponse response) override;
  void ClearRows() override;
  void StopDeviceLogs() override { device::DeviceLogs::StopAll(controller_.Rows()); }
  void RestoreDayMode(int row) override {
    if (commands_) commands_->RestoreDayMode(row);
  }
  // The device commands, once the window made them.
  void SetCommandHost(device::DeviceCommandHost* commands) { commands_ = commands; }
  void OnCommand(int id) override;
  // Called after a search was stopped.
  std::function<void()> onSearchStopped;
  // The window's snapshot check found a row's picture late (list index).
  void OnSnapshotTimedOut(int row) override {
    if (onSnapshotTimedOut) onSnapshotTimedOut(row);
  }
  std::function<void(int row)> onSnapshotTimedOut;

  DeviceListController& Controller() { return controller_; }
  DeviceListActions* Actions() { return actions_.get(); }

 private:
  DeviceListController controller_;
  device::DeviceCommandHost* commands_ = nullptr;
  DeviceListActions::Hooks actionHooks_;
  std::unique_ptr<DeviceListActions> actions_;
};

}  // namespace kelvara::discovery
