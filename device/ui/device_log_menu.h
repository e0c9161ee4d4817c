#pragma once
// The five device-log entries of the device list's context menu: log folder,
// open it, log command, logging on and off. Each changes the settings and
// brings every receiver in line. UI thread only.
#include <QString>
#include <functional>
#include <optional>
#include <string>

#include "common/settings_records.h"
#include "device/core/device_logs.h"

class QWidget;

namespace kelvara::ui {
class UserPrompts;
}

namespace kelvara::device {

class DeviceLogMenu {
 public:
  static constexpr int kSetFolder = 33455, kOpenFolder = 33451, kSetCommand = 33452, kOn = 33453, kOff = 33454;

  struct Hooks {
    QWidget* owner = nullptr;
    ui::UserPrompts* prompts = nullptr;
    std::function<discovery::DeviceRows&()> rows;
    std::function<SlogFilterSettings&()> settings;  // the live settings record
    std::function<void()> saveSettings;
    // The value input dialog: the entered text, or nothing when cancelled.
    std::function<std::optional<std::string>(const QString& caption, const std::string& value)> askText;
    // Opens a folder in the desktop's file manager; false when nothing opened it.
    std::function<bool(const QString& folder)> openFolder;
  };

  DeviceLogMenu(DeviceLogs& logs, Hooks hooks);

  // True when the id is one of the five (and it was handled).
  bool OnCommand(int id);
  // Whether the menu shows the entry checked (the on and off entries).
  bool IsChecked(int id) const;

 private:
  void Refresh();

  DeviceLogs& logs_;
  Hooks hooks_;
};

}  // namespace kelvara::device
