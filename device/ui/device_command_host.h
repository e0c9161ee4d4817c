#pragma once
// The device commands on the main window: the workers, the status-event and
// AUX-reply handlers over the window's device list, rows by list index, and
// the direct commands of the buttons and the context menu. UI thread only.
#include <memory>
#include <vector>

#include "common/ui/user_prompts.h"
#include "device/core/aux_replies.h"
#include "device/core/device_commands.h"
#include "device/core/sdk_tap.h"
#include "device/core/status_events.h"
#include "discovery/ui/device_list_controller.h"

class QWidget;

namespace kelvara::device {

class DeviceCommandHost {
 public:
  // `options.lookup`, `confirm`, `errorBox` and the network seam are filled
  // here when empty (language table, message boxes through `prompts`, the
  // list's operator authorisation and broadcast reboot). Credentials are UTF-8.
  DeviceCommandHost(discovery::DeviceListController& list, DeviceCommands::Options options, ui::UserPrompts* prompts,
                    QWidget* owner);
  ~DeviceCommandHost();

  DeviceCommands& Commands() { return *commands_; }
  AuxReplyHandler& Replies() { return *replies_; }
  StatusEventHandler& Events() { return *events_; }
  // Every request the workers make passes here (batch jobs watch it).
  SdkTap& Tap() { return tap_; }
  // Called after each AUX reply and status event was handled.
  std::function<void(const DeviceAuxResponse&)> afterAuxResponse;
  std::function<void(const DeviceStatusEvent&)> afterStatusEvent;

  // The record of a list row; nullptr when the list has none there.
  discovery::DeviceListRow* RowAt(int index) const;
  // Records of the checked rows in list order (nullptr for a row without one).
  std::vector<discovery::DeviceListRow*> CheckedRows() const;

  // Context menu 32778, button 8, and the two test buttons 1307 and 29
  // (after the window's CheckSelection). Button 7 (batch reboot) is a batch
  // job of BatchMaintenanceHost.
  void OnMenuRebootDevice();
  void OnBatchSyncTime();
  void OnSetManualSpeed();
  void OnPrivacyMaskCommand();
  // The night-mode demonstration's end for a list row (demo timer).
  void RestoreDayMode(int index);

 private:
  // The operator's authorisation and the broadcast reboot of the list.
  class ListNetworkCommands : public NetworkCommands {
   public:
    explicit ListNetworkCommands(discovery::DeviceListController& list) : list_(list) {}
    bool GetOperatorAuth(discovery::OperatorAuth& auth) override;
    long RebootDevByBD(const std::string& serial, const discovery::OperatorAuth& auth) override;
    long SetFactoryModeByBD(const std::string& serial, int mode) override;

   private:
    discovery::DeviceListController& list_;
  };

  discovery::DeviceListController& list_;
  ListNetworkCommands network_{list_};
  SdkTap tap_;
  std::unique_ptr<DeviceCommands> commands_;
  std::unique_ptr<AuxReplyHandler> replies_;
  std::unique_ptr<StatusEventHandler> events_;
};

}  // namespace kelvara::device
