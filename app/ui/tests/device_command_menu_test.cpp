// The device-command menu: every entry reaches its command id.
#include "app/ui/device_command_menu.h"

#include <QMenu>
#include <QMenuBar>
#include <gtest/gtest.h>

#include <vector>

namespace kelvara::ui {
namespace {

void TriggerAll(QMenu* menu) {
  for (QAction* a : menu->actions()) {
    if (a->menu() != nullptr) {
      TriggerAll(a->menu());
    } else if (!a->isSeparator()) {
      a->trigger();
    }
  }
}

TEST(DeviceCommandMenu, EveryEntryRunsItsCommand) {
  QMenuBar bar;
  std::vector<int> ran;
  QMenu* menu = AddDeviceCommandMenu(bar, [&ran](int command) { ran.push_back(command); });
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(bar.actions().size(), 1);
  EXPECT_FALSE(menu->title().isEmpty());
  TriggerAll(menu);
  EXPECT_EQ(ran, (std::vector<int>{1307, 12, 32794, 32795, 32797}));
}

}  // namespace
}  // namespace kelvara::ui
