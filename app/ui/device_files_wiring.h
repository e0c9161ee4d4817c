#pragma once
// The window's snapshot, time-lapse and record-export commands: button 19,
// menus 32790, 33382 and 33383 (through OnCommand), the date dialog, the
// snapshot timer's late pictures and the list's clears.
#include <memory>

#include "device/ui/batch_file_commands.h"

namespace kelvara::discovery {
class DeviceListSeamImpl;
}

namespace kelvara::ui {

class CZqDevSearchToolDlg;
class UserPrompts;

class DeviceFilesWiring {
 public:
  DeviceFilesWiring(CZqDevSearchToolDlg& dlg, discovery::DeviceListSeamImpl& list, device::DeviceCommandHost& commands,
                    UserPrompts* prompts);
  ~DeviceFilesWiring();

  bool OnCommand(int id) { return files_->OnCommand(id); }

 private:
  discovery::DeviceListSeamImpl& list_;
  std::unique_ptr<device::BatchFileCommands> files_;
};

}  // namespace kelvara::ui
