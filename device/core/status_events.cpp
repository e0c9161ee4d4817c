#include "device/core/status_events.h"

#include <cstdio>

#include "common/language_table.h"
#include "device/core/command_codes.h"
#include "device/core/device_files.h"
#include "device/core/request_builders.h"
#include "device/core/row_texts.h"

namespace kelvara::device {

void StatusEventHandler::OnDeviceStatusEvent(const DeviceStatusEvent& event) {
  const int handle = event.loginHandle;
  discovery::DeviceRows& rows = commands_.Rows();
  const DeviceSeams& seams = commands_.Seams();
  auto lookup = [this](const char* key) { return commands_.Text(key); };
  switch (event.eventType) {
    case 17:
      FormatEventText(rows, handle, event.eventType, nullptr, lookup);
      commands_.TakeRequestedDownload(DownloadedFileName(event.data));
      break;
    case 2: case 3: case 5: case 31: case 34: case 32:
      FormatEventText(rows, handle, event.eventType, nullptr, lookup);
      break;
    case 4:
      FormatEventText(rows, handle, event.eventType, nullptr, lookup);
      // Queries only for a login a row holds.
      if (rows.FindByHandle(handle)) LoginSteps(handle);
      break;
    case 6: case 7: case 8: case 35: case 36: case 37:
      FormatEventText(rows, handle, event.eventType, nullptr, lookup);
      if (seams.Intercom().Exists()) seams.Intercom().OnDeviceTalkEvent(handle, event.eventType);
      break;
    case 14:
      FormatEventText(rows, handle, event.eventType, nullptr, lookup);
      if (seams.Intercom().Exists()) seams.Intercom().UploadNextFile(handle);
      if (discovery::DeviceListRow* row = rows.FindByHandle(handle)) seams.Transfers().OnUploadDone(*row);
      break;
    case 15:
      FormatEventText(rows, handle, event.eventType, nullptr, lookup);
      if (seams.Intercom().Exists()) seams.Intercom().OnUploadFailed(handle, event.data);
      break;
    case 16:
      FormatEventText(rows, handle, event.eventType, nullptr, lookup);
      DownloadDone(event);
      break;
    case 23: {
      const DeviceAlarmInfo alarm = DeviceAlarmInfo::FromRecord(event.data);
      FormatEventText(rows, handle, event.eventType, &alarm, lookup);
      AlarmSteps(handle, alarm);
      break;
    }
    case 24:
      if (discovery::DeviceListRow* row = rows.FindByHandle(handle)) seams.Transfers().SetOemDeviceTypeForRow(*row, event);
      break;
    case 54: case 55:
      seams.Transfers().ShowUpgradeProgress(handle);
      break;
    default:
      break;
  }
  seams.Transfers().AfterStatusEvent(event);
}

void StatusEventHandler::LoginSteps(int handle) {
  CommandSdk& sdk = commands_.Sdk();
  commands_.SendTimeSync(handle);
  if (sdk.SystemControl(handle, SYS_CTRL_GET_VERSION_INFO, kQueryRequest) != 0)
    SetColumnByHandle(commands_.Rows(), handle, discovery::kColVersion, commands_.Text(LangKey("MSGTIP34")));
  sdk.SystemControl(handle, SYS_CTRL_GET_ABILITY, kQueryRequest);
  sdk.SystemControl(handle, SYS_CTRL_GET_SERIAL_NUMBER, kQueryRequest);
  sdk.SystemControl(handle, SYS_CTRL_GET_FS_VERSION, kQueryRequest);
  sdk.SystemControl(handle, SYS_CTRL_GET_STORAGE_INFO, "");
  LoginActions& login = commands_.Seams().Login();
  login.AutoUploadDefaultConfig(handle);
  login.AutoUploadConfig(handle);
  login.AutoUpgrade(handle);
  login.OpenDeviceSlog(handle);
  replies_.RequestOsdTitle(handle);
}

void StatusEventHandler::AlarmSteps(int handle, const DeviceAlarmInfo& alarm) {
  if (alarm.alarmCode == 201 && alarm.detail.find("{mfocus:") != std::string::npos) {
    FocusDialog& focus = commands_.Seams().Focus();
    if (focus.Exists()) focus.OnFocusResult(handle, alarm.detail);
    return;
  }
  discovery::DeviceListRow* row = commands_.Rows().FindByHandle(handle);
  if (!row) return;
  if (alarm.alarmCode == 47) {
    if (row->m_timelapsePending) {
      row->m_timelapsePending = 0;
      commands_.DownloadDeviceFile(row, alarm.detail, "");
    } else if (row->m_recordExportPending) {
      row->m_recordExportPending = 0;
      commands_.DownloadDeviceFile(row, alarm.detail, "");
    }
  }
  const std::tm tm = commands_.LocalTimeNow();
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
  std::string value;
  if (GetEventField(alarm.detail, "@@alarmjpg1=", value))
    commands_.DownloadDeviceFile(row, value, std::string("alarmjpg1_") + stamp + ".jpg");
  if (GetEventField(alarm.detail, "@@alarmjpg2=", value))
    commands_.DownloadDeviceFile(row, value, std::string("alarmjpg2_") + stamp + ".jpg");
  if (alarm.alarmCode == 23 && row->m_snapshotPending) {
    row->m_snapshotPending = 0;
    row->m_snapshotTime = 0;
    commands_.DownloadDeviceFile(row, alarm.detail, "");
  }
}

void StatusEventHandler::DownloadDone(const DeviceStatusEvent& event) {
  const std::string name = DownloadedFileName(event.data);
  // Only a file Kelvara asked for; a device cannot name another file here.
  if (name.empty() || !commands_.TakeRequestedDownload(name)) return;
  if (name.find(".dev.xml") != std::string::npos && name.find("config_") != std::string::npos)
    ResaveConfigDownload(name);
}

}  // namespace kelvara::device
