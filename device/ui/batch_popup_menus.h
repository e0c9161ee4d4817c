#pragma once
// The popups of the button panel on screen: the button's menu (panel_menus.h)
// as a QMenu shown at the mouse cursor, owned by the main window; the chosen
// entry goes to `runCommand` as an ordinary command once the menu has closed.
#include <QPoint>
#include <functional>
#include <memory>

#include "device/core/panel_menus.h"

class QMenu;
class QWidget;

namespace kelvara::device {

class BatchPopupMenus {
 public:
  struct Hooks {
    QWidget* owner = nullptr;
    // Language texts by key (the language table when empty).
    std::function<std::string(const char* key)> lookup;
    // A chosen entry's command id.
    std::function<void(int id)> runCommand;
    // Where the menu opens (the cursor when empty).
    std::function<QPoint()> cursor;
  };
  explicit BatchPopupMenus(Hooks hooks);

  // The panel buttons with a popup.
  static const int kButtons[7];

  // The popup of `buttonId` as a menu whose actions carry their command ids
  // (data); nullptr when the button has none.
  std::unique_ptr<QMenu> BuildMenu(int buttonId) const;
  // Shows the popup and runs the chosen entry; false when the button has none.
  bool OnButton(int buttonId);

 private:
  Hooks hooks_;
};

}  // namespace kelvara::device
