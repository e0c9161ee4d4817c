#pragma once
// The maintenance commands of the button panel on the main window: the
// popups of buttons 22 (storage), 20 (TV system), 16 (factory mode) and 1299
// (ONVIF all-net), the commands behind them and the bad-pixel, IO output and
// video type commands, and the batch reboot (button 7). Each asks its
// question, picks its rows and runs as a batch job of the BatchCommandHost,
// so every row shows its terminal state. UI thread only.
#include <QPoint>
#include <functional>

#include "common/ui/user_prompts.h"
#include "device/core/maintenance_commands.h"
#include "device/ui/batch_command_host.h"

class QMenu;
class QWidget;

namespace kelvara::device {

class BatchMaintenanceHost {
 public:
  struct Hooks {
    ui::UserPrompts* prompts = nullptr;
    QWidget* owner = nullptr;
  };
  // Hands its commands to `batch` as a command handler, so it must live as
  // long as `batch` takes commands.
  BatchMaintenanceHost(BatchCommandHost& batch, Hooks hooks);

  // A maintenance command id; false for any other id.
  bool OnCommand(int id);
  // Button 7: the operator's credentials, the question, then every checked
  // row by SDK (unless reboots go by broadcast only) and by broadcast.
  void OnBatchReboot();
  // The popup of a panel button, filled with its entries (ids as data);
  // nullptr for a button without one. The caller owns it.
  static QMenu* BuildPopup(int buttonId, QWidget* parent);
  // Shows a button's popup at `at` and runs the chosen entry; false for a
  // button without one.
  bool ShowPopup(int buttonId, const QPoint& at);

 private:
  int Ask(const QString& text, const QString& caption);
  void ErrorBox(const char* key);
  std::vector<discovery::DeviceListRow*> Checked();
  // Runs `command` over `rows` and counts the rows its `send` got 0 for.
  int RunCounting(const std::vector<discovery::DeviceListRow*>& rows, BatchCommand command);

  BatchCommandHost& batch_;
  Hooks hooks_;
};

}  // namespace kelvara::device
