#pragma once
// The cyclic reboot test: one device rebooted on every tick (once a second)
// until the test is stopped. The test keeps the device's list key and serial
// number, never its row: a search, an import or the batch-debug rows free
// rows, so each tick looks the row up again, and a list clear ends the test.
// The operator's credentials are asked for once, at the start: a missing
// operation password refuses to start instead of showing its message on
// every tick. GUI-free; the owner drives the ticks.
#include <functional>
#include <string>

#include "device/core/device_commands.h"

namespace kelvara::device {

class CyclicRebootTest {
 public:
  explicit CyclicRebootTest(DeviceCommands& commands) : commands_(commands) {}

  enum class StartResult { kStarted, kNoRow, kNoAuth };
  // Starts the test on `row` (nullptr: no row selected). The credentials come
  // from the network seam, which has shown its message when it refuses.
  StartResult Start(const discovery::DeviceListRow* row);
  // Ends the test; nothing more is sent.
  void Stop();
  bool Running() const { return running_; }
  const std::string& Serial() const { return serial_; }

  // One tick: the SDK reboot when reboots do not go by broadcast only and the
  // row is online and logged in (its result is not examined), then the
  // broadcast reboot by serial, whose failure goes to the debug log. Nothing
  // while the row's firmware upgrade runs (the row says so).
  void Step();

  // Called when the test ends by Stop (the owner's button and timer follow).
  std::function<void()> onStopped;

 private:
  DeviceCommands& commands_;
  bool running_ = false;
  std::string key_;
  std::string serial_;
  discovery::OperatorAuth auth_;
};

}  // namespace kelvara::device
