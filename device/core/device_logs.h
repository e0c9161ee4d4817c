#pragma once
// Keeps one device-log receiver per checked row while device logging is on,
// in line with the rows, their addresses and serial numbers, and the log
// settings (folder and log command); and asks cameras of the type that needs
// it to open their log port at login. UI thread only.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "common/settings_records.h"
#include "device/core/net_log_receiver.h"
#include "discovery/core/device_rows.h"

namespace kelvara::device {

// The command file that makes a camera open its log port.
inline constexpr char kOpenSlogFileText[] =
    "<EXECUTE_USER_CMD><CMD DATA=\"touch /tmp/flag.open.slog.tcp\" /></EXECUTE_USER_CMD>";
// Device types that need it.
inline constexpr char kOpenSlogDeviceType[] = "DAV-ODUVE";

class DeviceLogs {
 public:
  struct Hooks {
    // The log settings as they are now (folder, command).
    std::function<SlogFilterSettings()> settings;
    // Sends a file to the row's device as a configuration file.
    std::function<int(discovery::DeviceListRow& row, const std::string& localPath)> uploadConfigFile;
    // The documents folder ("slog/openslog.xml" lies below it).
    std::function<std::filesystem::path()> documentsFolder;
    // A writer's disk error, once per failure streak, on the UI thread (the
    // owner posts it there).
    std::function<void(std::uint32_t address, const std::string& name, const std::string& message)> writeError;
    NetLogRecverThread::Options receiver;
    std::uint16_t port = kDeviceLogPort;
  };

  explicit DeviceLogs(Hooks hooks);
  // Every receiver is stopped (all told first, then each waited for).
  ~DeviceLogs() = default;

  // The device-log switch: off at start, not saved.
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool on) { enabled_ = on; }

  // Starts, keeps or replaces the row's receiver: none while the switch is
  // off or the row is unchecked; kept while its address, port, name and
  // folder are the same (it then gets the current command); else a new one.
  void UpdateNetLogReceiver(discovery::DeviceListRow& row, bool checked);
  // UpdateNetLogReceiver for every row with its check state. Every receiver
  // that goes is told to stop before any is waited for.
  void RefreshNetLogReceivers(discovery::DeviceRows& rows);
  // At login (status event 4): while the switch is on, a camera of the type
  // that needs it is sent the command file that opens its log port.
  void OpenDeviceSlog(discovery::DeviceRows& rows, int handle);
  // Writes the command file when it does not exist and sends it; 0 when sent.
  int SendOpenSlogFile(int index, discovery::DeviceListRow* row);
  // Ends every receiver of the rows: all are told to stop first, then each
  // is waited for, so N receivers take about one receiver's stop time.
  static void StopAll(discovery::DeviceRows& rows);

  static NetLogRecverThread* ReceiverOf(discovery::DeviceListRow& row);

 private:
  // Whether the row's receiver stays as it is: logging on, the row checked,
  // and the same address, port, name and folder.
  bool KeepsReceiver(discovery::DeviceListRow& row, bool checked, const SlogFilterSettings& settings) const;

  Hooks hooks_;
  bool enabled_ = false;
};

}  // namespace kelvara::device
