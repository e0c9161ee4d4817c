#pragma once
// The popups of the button panel as data: for a panel button, the entries of
// its menu in the menu's own order, each with its command id and its shown
// text (a language text by key, or the menu's stored text). A chosen entry
// reaches the window as an ordinary command of that id. The Qt glue
// (device/ui/batch_popup_menus.h) shows them at the mouse cursor.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "discovery/core/context_menu.h"

namespace kelvara::device {

// Panel buttons that open a popup.
namespace panel_button {
inline constexpr int kBadPixels = 1028, kIoOutput = 1029, kLan = 1030, kMedia = 1034, kVideoType = 32988,
                     kTime = 1035, kLanguage = 15;
}  // namespace panel_button

// The popup of `buttonId`, or nullopt when the button opens none. `lookup`
// gives a key's language text.
std::optional<std::vector<discovery::MenuEntry>> PanelPopupMenu(
    int buttonId, const std::function<std::string(const char* key)>& lookup);

// Every command id a popup entry carries, in menu order (for the handlers'
// own checks).
std::vector<int> PanelPopupCommands(const std::vector<discovery::MenuEntry>& entries);

}  // namespace kelvara::device
