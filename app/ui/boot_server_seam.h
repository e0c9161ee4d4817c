#pragma once
// The boot-recovery window as the main window makes it: the window's calls
// on its host go to the device list and the main window's search button, and
// while the window exists the device list asks its server which recovered
// devices still want a factory restore.
#include <functional>

#include "firmware/recovery/ui/boot_server_dlg.h"

class CSaveParam;
class QWidget;

namespace kelvara::discovery {
class DeviceListSeamImpl;
}

namespace kelvara::ui {

class BootServerSeam : public firmware::BootServerHost {
 public:
  struct SearchButton {
    std::function<void()> press;     // the main window's search button
    std::function<bool()> running;   // whether a search runs
  };
  BootServerSeam(discovery::DeviceListSeamImpl& list, SearchButton search);

  // A new window (a child of `parent`, initialised), handed to the device
  // list as its recovered-device marks until it is destroyed.
  firmware::CBootServerDlg* Make(QWidget* parent, CSaveParam* settings, firmware::BootServerOptions options);

  void ClearDevicesForSearch() override;
  void OnSearchButton() override;
  bool IsSearchRunning() override;

 private:
  discovery::DeviceListSeamImpl& list_;
  SearchButton search_;
};

}  // namespace kelvara::ui
