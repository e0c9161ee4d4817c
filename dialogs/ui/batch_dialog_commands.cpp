#include "dialogs/ui/batch_dialog_commands.h"

#include <map>

#include "common/language_table.h"
#include "dialogs/core/detection_models.h"
#include "dialogs/core/time_model.h"
#include "dialogs/ui/dialog_media_code.h"
#include "dialogs/ui/dialog_media_light.h"
#include "dialogs/ui/dialog_media_vcapture.h"
#include "dialogs/ui/dialog_pages.h"
#include "dialogs/ui/dialog_pwd.h"
#include "dialogs/ui/dialog_small_settings.h"
#include "dialogs/ui/dialog_time_set.h"
#include "dialogs/ui/dialog_title_setting.h"

namespace kelvara::dialogs {

using discovery::DeviceListRow;
namespace id = batch_dialog_id;

BatchDialogCommands::BatchDialogCommands(device::BatchCommandHost& batch, Hooks hooks)
    : batch_(batch), hooks_(std::move(hooks)) {}

bool BatchDialogCommands::OnCommand(int command) {
  switch (command) {
    case id::kVideoEncode: OnBatchVideoEncode(); return true;
    case id::kAudioEncode: OnBatchAudioEncode(); return true;
    case id::kAudioCapture: OnBatchAudioCapture(); return true;
    case id::kImageParam: OnBatchImageParam(); return true;
    case id::kVideoCapture: OnBatchVideoCapture(); return true;
    case id::kLight: OnBatchLight(); return true;
    case id::kSmartDetection: OnBatchSmartDetection(); return true;
    case id::kOsdTitle: OnBatchOsdTitle(); return true;
    case id::kPlatform: OnBatchPlatform(); return true;
    case id::kMaintenance: OnBatchMaintenance(); return true;
    case id::kTimeConfig: OnBatchTimeConfig(); return true;
    case id::kAlarmClock: OnBatchAlarmClock(); return true;
    case id::kMotionDetect: OnBatchMotionDetect(); return true;
    case id::kPassword: OnBatchPassword(); return true;
    case id::kNightModeDemo: OnNightModeDemo(); return true;
    default: return false;
  }
}

int BatchDialogCommands::Run(QDialog& dialog) {
  if (auto* config = qobject_cast<ConfigDialog*>(&dialog)) config->SetPrompts(hooks_.prompts);
  return hooks_.runDialog ? hooks_.runDialog(dialog) : dialog.exec();
}

bool BatchDialogCommands::Checked() { return batch_.CheckSelection() >= 1; }

void BatchDialogCommands::Save() {
  if (hooks_.saveSettings) hooks_.saveSettings();
}

void BatchDialogCommands::ForChecked(std::function<void(DeviceListRow*)> worker, bool setFollowsGet) {
  device::BatchCommand command = batch_.Runner().FromWorker(std::move(worker));
  command.setFollowsGet = setFollowsGet;
  batch_.Run(batch_.Commands().CheckedRows(), std::move(command));
}

// --- Dialogs whose result is one request text --------------------------------

void BatchDialogCommands::OnBatchVideoEncode() {
  if (!Checked()) return;
  CMediaCode dlg;
  Run(dlg);
  if (dlg.cancelled) return;
  device::DeviceCommands& c = batch_.Commands().Commands();
  ForChecked([&c, xml = dlg.xml](DeviceListRow* row) { c.SetRowVideoEncode(row, xml); });
}

void BatchDialogCommands::OnBatchAudioEncode() {
  if (!Checked()) return;
  CMediaAEncode dlg;
  Run(dlg);
  if (dlg.cancelled) return;
  device::DeviceCommands& c = batch_.Commands().Commands();
  ForChecked([&c, xml = dlg.xml](DeviceListRow* row) { c.SetRowAudioEncode(row, xml); });
}

void BatchDialogCommands::OnBatchAudioCapture() {
  if (!Checked()) return;
  CMediaACapture dlg;
  Run(dlg);
  if (dlg.cancelled) return;
  device::DeviceCommands& c = batch_.Commands().Commands();
  ForChecked([&c, xml = dlg.xml](DeviceListRow* row) { c.SetRowAudioCapture(row, xml); });
}

void BatchDialogCommands::OnBatchImageParam() {
  if (!Checked()) return;
  CImageParamDialog dlg;
  Run(dlg);
  if (dlg.cancelled) return;
  device::DeviceCommands& c = batch_.Commands().Commands();
  ForChecked([&c, text = dlg.request](DeviceListRow* row) { c.SetRowImageParam(row, text); });
}

void BatchDialogCommands::OnBatchVideoCapture() {
  const int n = batch_.CheckSelection();
  if (n < 1) return;
  // The page asks its own question with the number of devices.
  CMediaVCapture dlg(n, hooks_.window);
  Run(dlg);
  if (dlg.cancelled) return;
  device::DeviceCommands& c = batch_.Commands().Commands();
  ForChecked([&c, xml = dlg.xml](DeviceListRow* row) { c.SetRowVideoCapture(row, xml); });
}

void BatchDialogCommands::OnBatchMaintenance() {
  if (!Checked()) return;
  CSYSRMDlg dlg;
  Run(dlg);
  if (dlg.cancelled) return;
  device::DeviceCommands& c = batch_.Commands().Commands();
  ForChecked([&c, xml = dlg.xml](DeviceListRow* row) { c.SetRowMaintenance(row, xml); });
}

void BatchDialogCommands::OnBatchTimeConfig() {
  if (!Checked()) return;
  // The dialog stores and writes its settings itself, on its Save.
  CSaveParam* settings = hooks_.settings;
  auto save = [this, settings](const TimeSettings& s) {
    if (settings) settings->time_settings = s;
    return !hooks_.saveSettings || hooks_.saveSettings();
  };
  CSYSTimeSet dlg(settings ? settings->time_settings : TimeSettings{}, LoadTimeZoneRules(hooks_.timeZoneFile),
                  hooks_.languageCode, save, hooks_.window);
  Run(dlg);
  if (dlg.notSaved) return;
  device::DeviceCommands& c = batch_.Commands().Commands();
  ForChecked([&c, xml = dlg.xml](DeviceListRow* row) { c.SetRowTimeConfig(row, xml); });
}

// --- Dialogs whose record is kept in the settings ------------------------------

void BatchDialogCommands::OnBatchLight() {
  if (!Checked()) return;
  CMediaLight dlg(hooks_.settings ? hooks_.settings->media_light : MediaLightConfig{}, hooks_.window);
  Run(dlg);
  if (dlg.cancelled) return;
  if (hooks_.settings) hooks_.settings->media_light = dlg.record;
  Save();
  device::DeviceCommands& c = batch_.Commands().Commands();
  ForChecked([&c, record = dlg.record](DeviceListRow* row) { c.RequestLightChange(row, record); }, true);
}

void BatchDialogCommands::OnBatchAlarmClock() {
  if (!Checked()) return;
  CSYSClock dlg(hooks_.window);
  if (hooks_.settings) dlg.SetClockSettings(hooks_.settings->alarm_clock);
  Run(dlg);
  if (dlg.cancelled) return;
  if (hooks_.settings) hooks_.settings->alarm_clock = dlg.GetClockSettings();
  Save();
  device::DeviceCommands& c = batch_.Commands().Commands();
  ForChecked([&c, xml = dlg.xml](DeviceListRow* row) { c.SetRowAlarmClock(row, xml); });
}

void BatchDialogCommands::OnBatchOsdTitle() {
  if (!Checked()) return;
  CDialogTitleSetting dlg(hooks_.settings ? hooks_.settings->overlay : OverlayConfig{});
  Run(dlg);
  if (dlg.cancelled) return;
  if (hooks_.settings) hooks_.settings->overlay = dlg.overlay;
  Save();
  // The title of each row is built from the row's own facts.
  const device::OsdTitleChoice choice{dlg.showModel != 0, dlg.showIp != 0, dlg.showSerial != 0};
  device::DeviceCommands& c = batch_.Commands().Commands();
  ForChecked([&c, overlay = dlg.overlay, choice](DeviceListRow* row) { c.SetRowOsdTitle(row, overlay, choice); });
}

// --- Dialogs with values ----------------------------------------------------------

void BatchDialogCommands::OnBatchSmartDetection() {
  if (!Checked()) return;
  CBatchSetPDDlg dlg(hooks_.window);
  if (Run(dlg) != QDialog::Accepted) return;
  device::DeviceCommands& c = batch_.Commands().Commands();
  ForChecked([&c, settings = dlg.settings](DeviceListRow* row) { c.RequestAlarmConfigChange(row, settings); }, true);
}

void BatchDialogCommands::OnBatchPlatform() {
  if (!Checked()) return;
  CDlgIpvsSetting dlg;
  Run(dlg);
  if (dlg.cancelled) return;
  // Each checked row's place among the checked rows numbers its account
  // (0 for the first), whether or not a request goes to it.
  const std::vector<DeviceListRow*> rows = batch_.Commands().CheckedRows();
  std::map<const DeviceListRow*, int> counter;
  for (std::size_t i = 0; i < rows.size(); ++i)
    if (rows[i]) counter.emplace(rows[i], static_cast<int>(i));
  device::DeviceCommands& c = batch_.Commands().Commands();
  batch_.Run(rows, [&c, v = dlg.values, counter](DeviceListRow* row) {
    const auto it = counter.find(row);
    c.SetRowPlatformConfig(row, v.enable ? 1 : 0, v.server, v.port, v.account, v.password, v.playStartTone ? 1 : 0,
                           v.numberAccount ? 1 : 0, it != counter.end() ? it->second : 0);
  });
}

void BatchDialogCommands::OnBatchMotionDetect() {
  if (!Checked()) return;
  CMdAlarmDialog dlg;
  Run(dlg);
  if (dlg.cancelled) return;
  const MotionValues v = dlg.values;
  const int count = MotionBlockCount(v.columns, v.rows);
  const std::string mask = MotionBlockMask(v.columns, v.rows);
  device::DeviceCommands& c = batch_.Commands().Commands();
  ForChecked([&c, v, count, mask](DeviceListRow* row) {
    c.SetRowMotionDetect(row, v.enable, count, mask, v.sensitivity, v.threshold);
  });
}

void BatchDialogCommands::OnBatchPassword() {
  if (!Checked()) return;
  CDialogPwd dlg;
  Run(dlg);
  if (dlg.cancelled) return;
  if (dlg.values.password != dlg.values.repeat) {
    if (hooks_.errorBox) hooks_.errorBox(LangKey("MSGTIP51"));
    return;
  }
  device::DeviceCommands& c = batch_.Commands().Commands();
  ForChecked([&c, password = dlg.values.password](DeviceListRow* row) { c.SetRowAdminPassword(row, password); });
}

// --- Without a dialog ---------------------------------------------------------------

void BatchDialogCommands::OnNightModeDemo() {
  if (!Checked()) return;
  if (hooks_.startNightDemo) hooks_.startNightDemo();
  device::DeviceCommands& c = batch_.Commands().Commands();
  ForChecked([&c](DeviceListRow* row) { c.RequestNightModeDemo(row); }, true);
}

}  // namespace kelvara::dialogs
