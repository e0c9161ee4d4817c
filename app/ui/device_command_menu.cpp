#include "app/ui/device_command_menu.h"

#include <QMenu>
#include <QMenuBar>

#include "common/language_table.h"

namespace kelvara::ui {
namespace {

QString Text(const char* key) { return QString::fromStdString(LangText(key)); }

}  // namespace

QMenu* AddDeviceCommandMenu(QMenuBar& bar, std::function<void(int command)> run) {
  QMenu* menu = bar.addMenu(Text(LangKey("MENU_DEVICE_COMMANDS")));
  auto add = [&run](QMenu* to, const QString& text, int command) {
    QAction* a = to->addAction(text);
    a->setData(command);
    QObject::connect(a, &QAction::triggered, to, [run, command] { run(command); });
  };
  add(menu, Text(LangKey("MENU_MANUAL_SPEED")), 1307);
  add(menu, Text(LangKey("MENU_FACTORY_RESET")), 12);
  QMenu* language = menu->addMenu(Text(LangKey("MENU_DEVICE_LANGUAGE")));
  add(language, Text(LangKey("LANGAGE_ENGLISH")), 32794);
  add(language, Text(LangKey("LANGAGE_ZH_CN")), 32795);
  add(language, Text(LangKey("LANGAGE_ZH_TW")), 32797);
  return menu;
}

}  // namespace kelvara::ui
