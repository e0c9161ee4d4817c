#pragma once
// The UI-thread handler of SDK status events: the row's status text and
// flags, then what must follow an event (the on-login queries and actions,
// alarm pictures and announced files, the next file of a broadcast, the
// re-save of a downloaded configuration file, upgrade progress).
#include "device/core/aux_replies.h"
#include "device/core/device_commands.h"
#include "device/core/event_texts.h"
#include "device/core/sdk_bridge.h"

namespace kelvara::device {

class StatusEventHandler {
 public:
  StatusEventHandler(DeviceCommands& commands, AuxReplyHandler& replies) : commands_(commands), replies_(replies) {}

  void OnDeviceStatusEvent(const DeviceStatusEvent& event);

 private:
  void LoginSteps(int handle);
  void AlarmSteps(int handle, const DeviceAlarmInfo& alarm);
  void DownloadDone(const DeviceStatusEvent& event);

  DeviceCommands& commands_;
  AuxReplyHandler& replies_;
};

}  // namespace kelvara::device
