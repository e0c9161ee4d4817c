#pragma once
// The window's maintenance buttons and their batch jobs: the popups of
// buttons 22, 20, 16 and 1299, the batch reboot (button 7), the cyclic
// reboot test (button 1305, ended by a search stop or a list clear).
#include <memory>

#include "device/ui/batch_command_host.h"
#include "device/ui/batch_maintenance_host.h"
#include "device/ui/cyclic_reboot_host.h"

namespace kelvara::discovery {
class DeviceListSeamImpl;
}

namespace kelvara::ui {

class CZqDevSearchToolDlg;
class UserPrompts;

class MaintenanceWiring {
 public:
  MaintenanceWiring(CZqDevSearchToolDlg& dlg, discovery::DeviceListSeamImpl& list, device::BatchCommandHost& batch,
                    UserPrompts* prompts);
  ~MaintenanceWiring();

  device::BatchMaintenanceHost& Maintenance() { return *maintenance_; }
  device::CyclicRebootHost& CyclicReboot() { return *cyclic_; }

 private:
  discovery::DeviceListSeamImpl& list_;
  std::unique_ptr<device::BatchMaintenanceHost> maintenance_;
  std::unique_ptr<device::CyclicRebootHost> cyclic_;
};

}  // namespace kelvara::ui
