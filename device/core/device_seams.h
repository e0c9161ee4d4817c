#pragma once
// What the device commands, status events and AUX replies call in other parts
// of the program. Each interface has do-nothing defaults, so the commands run
// before those parts exist; the parts fill them in by deriving and handing an
// object to DeviceCommands::Options::seams (docs/device-commands.md). All calls
// come on the UI thread.
#include <string>
#include <utility>
#include <vector>

#include "device/core/sdk_bridge.h"
#include "discovery/core/body_builders.h"
#include "discovery/core/device_list_row.h"

namespace kelvara::device {

// Actions other parts run for a device that has just logged in (status event
// 4), after the time sync and the queries: automatic configuration upload and
// upgrade (firmware and files), the device log.
class LoginActions {
 public:
  virtual ~LoginActions() = default;
  virtual void AutoUploadDefaultConfig(int /*handle*/) {}
  virtual void AutoUploadConfig(int /*handle*/) {}
  virtual void AutoUpgrade(int /*handle*/) {}
  virtual void OpenDeviceSlog(int /*handle*/) {}
  // The serial number read over the login was stored in the row: a running
  // device-log receiver takes it up (UpdateNetLogReceiver of the device log).
  virtual void UpdateNetLogReceiver(discovery::DeviceListRow& /*row*/) {}
};

// Transfer events that belong to firmware and files.
class TransferEvents {
 public:
  virtual ~TransferEvents() = default;
  // Event 14 (upload done): the default-configuration table entry of the
  // row's serial number, when there is one, is marked done under its lock.
  virtual void OnUploadDone(discovery::DeviceListRow& /*row*/) {}
  // Event 24, for the first row with the event's handle.
  virtual void SetOemDeviceTypeForRow(discovery::DeviceListRow& /*row*/, const DeviceStatusEvent& /*event*/) {}
  // Events 54 and 55.
  virtual void ShowUpgradeProgress(int /*handle*/) {}
  // Every status event, after its own handling above: the upgrades' terminal
  // states follow upload outcomes (14, 15) and the events that end a login.
  virtual void AfterStatusEvent(const DeviceStatusEvent& /*event*/) {}
};

// One attribute change of a configuration block: name and decimal value.
using AttributeEdit = std::pair<std::string, long long>;

// The intercom (audio broadcast) dialog while it exists.
class IntercomDialog {
 public:
  virtual ~IntercomDialog() = default;
  virtual bool Exists() const { return false; }
  // Event 14 of a device: the next file of a broadcast.
  virtual void UploadNextFile(int /*handle*/) {}
  // Event 15 of a device: an upload failed (text: the SDK's RESPONSE_PARAM
  // naming the transfer kind).
  virtual void OnUploadFailed(int /*handle*/, const std::string& /*text*/) {}
  // Talk results (events 6, 7, 8, 35, 36, 37).
  virtual void OnDeviceTalkEvent(int /*handle*/, int /*eventType*/) {}
  // Replies 504, 507, 1021, 1022 and 1024 (file delete), also for handles no
  // row holds.
  virtual void OnConfigReply(int /*handle*/, int /*command*/, int /*result*/, const std::string& /*text*/) {}
  // Changes the dialog waits to make in the video-capture block of this
  // handle (picture flips). They are applied together with the row's own
  // pending changes from the same reply and sent once; the dialog hands them
  // over (and forgets them) by returning true. It learns the outcome from
  // OnVideoCaptureWritten (result of the set, or -1 when the reply was a
  // failure and nothing was sent).
  virtual bool TakeVideoCaptureEdits(int /*handle*/, std::vector<AttributeEdit>& /*edits*/) { return false; }
  virtual void OnVideoCaptureWritten(int /*handle*/, int /*result*/) {}
};

// The manual lens-focusing dialog while it exists.
class FocusDialog {
 public:
  virtual ~FocusDialog() = default;
  virtual bool Exists() const { return false; }
  // The whole detail text of an alarm 201 carrying "{mfocus:", with the
  // login handle it came on (the dialog takes only its own device's).
  virtual void OnFocusResult(int /*handle*/, const std::string& /*detail*/) {}
};

// The operator's authorisation and the login-free reboot of the network
// settings.
class NetworkCommands {
 public:
  virtual ~NetworkCommands() = default;
  // Asks for the operator's user name and password; false when refused.
  virtual bool GetOperatorAuth(discovery::OperatorAuth& /*auth*/) { return false; }
  // Broadcast reboot of the device with this serial number; 0 when sent.
  virtual long RebootDevByBD(const std::string& /*serial*/, const discovery::OperatorAuth& /*auth*/) { return -1; }
  // Broadcast factory mode (on 1 / off 0) of the device with this serial; 0 when sent.
  virtual long SetFactoryModeByBD(const std::string& /*serial*/, int /*mode*/) { return -1; }
};

// The seams together; a null member means the do-nothing default.
struct DeviceSeams {
  LoginActions* login = nullptr;
  TransferEvents* transfers = nullptr;
  IntercomDialog* intercom = nullptr;
  FocusDialog* focus = nullptr;
  NetworkCommands* network = nullptr;

  LoginActions& Login() const;
  TransferEvents& Transfers() const;
  IntercomDialog& Intercom() const;
  FocusDialog& Focus() const;
  NetworkCommands& Network() const;
};

}  // namespace kelvara::device
