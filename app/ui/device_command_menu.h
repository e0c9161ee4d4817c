#pragma once
// The menu-bar menu for the device commands the window has no button for:
// the manual PTZ speed request (1307), the factory reset of the checked
// devices (12) and the device-language menu (32794 English, 32795
// Simplified Chinese, 32797 Traditional Chinese).
#include <functional>

class QMenu;
class QMenuBar;

namespace kelvara::ui {

// Adds the menu to the bar; each entry calls `run` with its command id (also
// the action's data).
QMenu* AddDeviceCommandMenu(QMenuBar& bar, std::function<void(int command)> run);

}  // namespace kelvara::ui
