#include "device/ui/batch_popup_menus.h"

#include <QCursor>
#include <QMenu>

#include "common/language_table.h"

namespace kelvara::device {

const int BatchPopupMenus::kButtons[7] = {panel_button::kBadPixels, panel_button::kIoOutput, panel_button::kLan,
                                          panel_button::kMedia,     panel_button::kVideoType, panel_button::kTime,
                                          panel_button::kLanguage};

namespace {

void AddEntries(QMenu* menu, const std::vector<discovery::MenuEntry>& entries) {
  for (const auto& e : entries) {
    switch (e.kind) {
      case discovery::MenuEntry::Kind::kSeparator: menu->addSeparator(); break;
      case discovery::MenuEntry::Kind::kPopup:
        AddEntries(menu->addMenu(QString::fromStdString(e.text)), e.children);
        break;
      case discovery::MenuEntry::Kind::kCommand:
        menu->addAction(QString::fromStdString(e.text))->setData(e.id);
        break;
    }
  }
}

}  // namespace

BatchPopupMenus::BatchPopupMenus(Hooks hooks) : hooks_(std::move(hooks)) {
  if (!hooks_.lookup) hooks_.lookup = [](const char* key) { return LangText(key); };
}

std::unique_ptr<QMenu> BatchPopupMenus::BuildMenu(int buttonId) const {
  const auto entries = PanelPopupMenu(buttonId, hooks_.lookup);
  if (!entries) return nullptr;
  auto menu = std::make_unique<QMenu>(hooks_.owner);
  menu->setObjectName(QStringLiteral("PanelPopup%1").arg(buttonId));
  AddEntries(menu.get(), *entries);
  return menu;
}

bool BatchPopupMenus::OnButton(int buttonId) {
  std::unique_ptr<QMenu> menu = BuildMenu(buttonId);
  if (!menu) return false;
  // Left-aligned at the cursor; the command runs after the menu has closed,
  // as a command the window receives.
  const QPoint at = hooks_.cursor ? hooks_.cursor() : QCursor::pos();
  QAction* chosen = menu->exec(at);
  const int id = chosen != nullptr ? chosen->data().toInt() : 0;
  menu.reset();
  if (id != 0 && hooks_.runCommand) hooks_.runCommand(id);
  return true;
}

}  // namespace kelvara::device
