#pragma once
// Firmware upgrades and the files sent to devices as the main window's
// firmware seam: the firmware handlers over the device list's rows, the
// device SDK and the window's fields, prompts and settings.
#include <memory>
#include <vector>

#include "app/shell/shell_settings.h"
#include "app/ui/main_dialog_seams.h"
#include "device/core/sdk_bridge.h"
#include "discovery/ui/device_list_controller.h"
#include "firmware/core/firmware_actions.h"
#include "firmware/core/device_links.h"
#include "firmware/core/zq_firmware_sdk.h"
#include "firmware/ui/qt_firmware_window.h"

namespace kelvara::ui {

class CZqDevSearchToolDlg;

class FirmwareSeamImpl final : public FirmwareSeam {
 public:
  FirmwareSeamImpl(discovery::DeviceListController& list, shell::ShellSettings& settings);
  ~FirmwareSeamImpl() override;
  // The window and the device commands exist: the handlers start working.
  void AttachWindow(CZqDevSearchToolDlg& window, device::DeviceCommands& commands);
  // The firmware's parts of the device commands' seams.
  firmware::FirmwareDeviceSeams& DeviceSeams() { return seams_; }

  bool OnCommand(int id) override;
  void OnDropFiles(const QStringList& paths) override;
  bool UpgradeWatchTick() override;
  void UpgradeRunEnded() override;

  firmware::FirmwareActions* Actions() { return actions_.get(); }

 private:
  int FirstSelectedRow() const;
  std::vector<int> RowsInListOrder() const;

  discovery::DeviceListController& list_;
  shell::ShellSettings& settings_;
  firmware::ZqFirmwareSdk sdk_;
  firmware::FirmwareDeviceSeams seams_{[this] { return actions_.get(); }};
  std::unique_ptr<firmware::CommandFileWorkers> workers_;
  std::unique_ptr<firmware::ui::QtFirmwareWindow> window_;
  std::unique_ptr<firmware::FirmwareActions> actions_;
};

}  // namespace kelvara::ui
