#pragma once
// The online state of a row, kept from the SDK's status events: a login
// established (4) sets it, the events that end a login (link lost, connect
// failed, protocol error, login refused, heartbeat lost) clear it. The login
// handle stays in the row either way; the SDK reconnects by itself.
#include <functional>
#include <string>

#include "device/core/sdk_bridge.h"
#include "discovery/core/device_rows.h"

namespace kelvara::device {

enum LoginEvent : int {
  kEventLinkLost = 2,
  kEventConnectFailed = 3,
  kEventLoginOk = 4,
  kEventProtocolError = 5,
  kEventLoginRefused = 31,
  kEventHeartbeatLost = 34,
};

// The language key of a login-state event's status text; nullptr for other
// events.
const char* LoginEventTextKey(int eventType);

// Applies a login-state event to the row holding its handle: the online and
// busy flags and the status text. Returns the row, or nullptr when the event
// is no login-state event or no row holds the handle.
discovery::DeviceListRow* ApplyLoginStateEvent(discovery::DeviceRows& rows, const DeviceStatusEvent& event,
                                               const std::function<std::string(const char*)>& lookup);

}  // namespace kelvara::device
