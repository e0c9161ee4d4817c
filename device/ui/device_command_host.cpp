#include "device/ui/device_command_host.h"

#include "common/language_table.h"
#include "device/core/command_codes.h"
#include "device/core/request_builders.h"

namespace kelvara::device {

DeviceCommandHost::DeviceCommandHost(discovery::DeviceListController& list, DeviceCommands::Options options,
                                     ui::UserPrompts* prompts, QWidget* owner)
    : list_(list) {
  if (!options.lookup) options.lookup = [](const char* key) { return LangText(key); };
  if (!options.confirm && prompts) {
    options.confirm = [prompts, owner](const char* textKey, const char* captionKey) {
      return prompts->MessageBox(owner, QString::fromStdString(LangText(textKey)),
                                 QString::fromStdString(LangText(captionKey)), ui::PromptIcon::kQuestion,
                                 ui::PromptButtons::kYesNo) == ui::kAnswerYes;
    };
  }
  if (!options.errorBox && prompts) {
    options.errorBox = [prompts, owner](const char* textKey) {
      prompts->MessageBox(owner, QString::fromStdString(LangText(textKey)), QStringLiteral("ERROR"),
                          ui::PromptIcon::kError);
    };
  }
  if (!options.seams.network) options.seams.network = &network_;
  tap_.SetInner(options.sdk);
  options.sdk = &tap_;
  commands_ = std::make_unique<DeviceCommands>([&list]() -> discovery::DeviceRows& { return list.Rows(); },
                                               std::move(options));
  replies_ = std::make_unique<AuxReplyHandler>(*commands_);
  events_ = std::make_unique<StatusEventHandler>(*commands_, *replies_);
  list_.onStatusEvent = [this](const DeviceStatusEvent& e) {
    events_->OnDeviceStatusEvent(e);
    if (afterStatusEvent) afterStatusEvent(e);
  };
  list_.onAuxResponse = [this](const DeviceAuxResponse& r) {
    replies_->OnDeviceAuxResponse(r);
    if (afterAuxResponse) afterAuxResponse(r);
  };
}

DeviceCommandHost::~DeviceCommandHost() {
  list_.onStatusEvent = nullptr;
  list_.onAuxResponse = nullptr;
}

bool DeviceCommandHost::ListNetworkCommands::GetOperatorAuth(discovery::OperatorAuth& auth) {
  return list_.GetOperatorAuth(auth.userName, auth.password) > 0;
}

long DeviceCommandHost::ListNetworkCommands::RebootDevByBD(const std::string& serial,
                                                           const discovery::OperatorAuth& auth) {
  return list_.RebootDevByBD(serial, auth.userName, auth.password);
}

long DeviceCommandHost::ListNetworkCommands::SetFactoryModeByBD(const std::string& serial, int mode) {
  return list_.SetFactoryModeByBD(serial, mode);
}

discovery::DeviceListRow* DeviceCommandHost::RowAt(int index) const {
  controls::CReportCtrl* control = list_.List();
  if (!control || index < 0 || index >= control->GetItemCount()) return nullptr;
  return static_cast<discovery::DeviceListRow*>(control->GetItemData(index));
}

std::vector<discovery::DeviceListRow*> DeviceCommandHost::CheckedRows() const {
  std::vector<discovery::DeviceListRow*> out;
  controls::CReportCtrl* control = list_.List();
  if (!control) return out;
  for (int i = 0; i < control->GetItemCount(); ++i) {
    if (control->GetCheck(i)) out.push_back(RowAt(i));
  }
  return out;
}

void DeviceCommandHost::OnMenuRebootDevice() {
  controls::CReportCtrl* control = list_.List();
  if (!control) return;
  commands_->RebootSelectedRow(RowAt(control->GetFirstSelectedItem()));
}

void DeviceCommandHost::OnBatchSyncTime() { commands_->BatchSyncTime(CheckedRows()); }

void DeviceCommandHost::OnSetManualSpeed() {
  commands_->SendToChecked(CheckedRows(), SYS_CTRL_SET_MANUAL_SPEED, BuildManualSpeedRequest());
}

void DeviceCommandHost::OnPrivacyMaskCommand() {
  commands_->SendToChecked(CheckedRows(), SYS_CTRL_PRIVACY_MASK, BuildPrivacyMaskRequest());
}

void DeviceCommandHost::RestoreDayMode(int index) {
  if (discovery::DeviceListRow* row = RowAt(index)) commands_->EndNightModeDemo(*row);
}

}  // namespace kelvara::device
