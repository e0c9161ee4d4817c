#pragma once
// Button 1305 of the main window: starts the cyclic reboot test on the
// selected row and stops it again; a one-second timer drives the test. The
// test also ends when a search stops or the list is emptied (the owner calls
// Stop), and the button then shows its start text again. UI thread only.
#include <QObject>
#include <QTimer>
#include <functional>

#include "common/ui/user_prompts.h"
#include "device/core/cyclic_reboot.h"
#include "device/ui/device_command_host.h"

class QWidget;

namespace kelvara::device {

class CyclicRebootHost : public QObject {
 public:
  // The button's texts, stored as they are (not language keys).
  static constexpr const char* kStartText = "开始循环重启";
  static constexpr const char* kStopText = "停止循环重启";

  struct Hooks {
    // The list's selected row index, or -1.
    std::function<int()> selectedIndex;
    std::function<void(const QString&)> setButtonText;
    ui::UserPrompts* prompts = nullptr;
    QWidget* owner = nullptr;
    int periodMs = 1000;
  };
  CyclicRebootHost(DeviceCommandHost& commands, Hooks hooks);

  void OnButton();
  void Stop() { test_.Stop(); }
  CyclicRebootTest& Test() { return test_; }
  bool TimerActive() const { return timer_.isActive(); }

 private:
  DeviceCommandHost& commands_;
  Hooks hooks_;
  CyclicRebootTest test_;
  QTimer timer_;
};

}  // namespace kelvara::device
