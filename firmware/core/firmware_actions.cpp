#include "firmware/core/firmware_actions.h"

#include <tinyxml.h>

#include <algorithm>
#include <cstdio>
#include <system_error>

#include "common/folder_functions.h"
#include "common/language_table.h"
#include "firmware/core/device_files.h"
#include "firmware/core/firmware_list.h"
#include "common/device_reply_xml.h"

namespace kelvara::firmware {
namespace fs = std::filesystem;
using discovery::DeviceListRow;

// --- default-configuration table ---

int DefaultConfigTable::State(const std::string& serial) const {
  std::lock_guard lock(mutex_);
  auto it = states_.find(serial);
  return it == states_.end() ? 0 : it->second;
}

void DefaultConfigTable::Set(const std::string& serial, int state) {
  std::lock_guard lock(mutex_);
  states_[serial] = state;
}

void DefaultConfigTable::MarkDone(const std::string& serial) {
  std::lock_guard lock(mutex_);
  if (auto it = states_.find(serial); it != states_.end()) it->second = 2;
}

void DefaultConfigTable::Clear() {
  std::lock_guard lock(mutex_);
  states_.clear();
}

UploadOutcome ParseUploadOutcome(const std::string& text) {
  UploadOutcome out;
  TiXmlDocument doc;
  const TiXmlElement* root = kelvara::ParseDeviceReplyXml(doc, text, "Upload outcome") ? doc.RootElement() : nullptr;
  if (root == nullptr || std::string(root->Value()) != "RESPONSE_PARAM") return out;
  int kind = -1;
  if (root->QueryIntAttribute("Kind", &kind) == TIXML_SUCCESS) out.kind = kind;
  if (const char* error = root->Attribute("Error")) out.error = error;
  return out;
}

// --- actions ---

FirmwareActions::FirmwareActions(std::function<discovery::DeviceRows*()> rows, FirmwareSdk& sdk,
                                 FileWorkers& workers, FirmwareWindow& window, Lookup lookup, ClockMs clock_ms)
    : rows_(std::move(rows)),
      sdk_(sdk),
      workers_(workers),
      window_(window),
      lookup_(std::move(lookup)),
      clock_ms_(std::move(clock_ms)),
      program_folder_(GetModuleFolder()) {}

DeviceListRow* FirmwareActions::RowAt(int row) const {
  discovery::DeviceRows* rows = Rows();
  if (rows == nullptr || row < 0 || static_cast<std::size_t>(row) >= rows->Count()) return nullptr;
  return &rows->At(static_cast<std::size_t>(row));
}

int FirmwareActions::IndexOf(const DeviceListRow* row) const {
  discovery::DeviceRows* rows = Rows();
  if (rows == nullptr || row == nullptr) return -1;
  for (std::size_t i = 0; i < rows->Count(); ++i)
    if (&rows->At(i) == row) return static_cast<int>(i);
  return -1;
}

// Checked rows in the order the list shows them: runs go down the list the
// user sees.
std::vector<int> FirmwareActions::CheckedRows() const {
  std::vector<int> out;
  discovery::DeviceRows* rows = Rows();
  if (rows == nullptr) return out;
  std::vector<int> order = window_.RowsInListOrder();
  if (order.size() != rows->Count()) {
    order.resize(rows->Count());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  }
  for (int i : order)
    if (i >= 0 && static_cast<std::size_t>(i) < rows->Count() && rows->At(static_cast<std::size_t>(i)).checked)
      out.push_back(i);
  return out;
}

void FirmwareActions::SetStatus(DeviceListRow& row, const std::string& text) {
  if (discovery::DeviceRows* rows = Rows()) rows->SetCellTextIfChanged(row, discovery::kColState, text);
}

std::string FirmwareActions::RefusalText(const ImageVerdict& verdict) const {
  return Text(LangKey("MSG_FIRMWARE_REFUSED")) + ": " + HeaderErrorText(verdict.error);
}

// --- upgrades ---

int FirmwareActions::StartUpgrade(DeviceListRow& row, const std::string& path, const ImageVerdict& verdict) {
  if (sdk_.Upgrade(row.m_loginHandle, path) != 0) {
    SetStatus(row, Text(LangKey("MSGTIP30")));
    return 0;
  }
  row.m_busy = true;
  jobs_.Start(row.m_loginHandle, row.m_searchInfo.serialNumber, row.m_searchInfo.lanConfig.ipAddress, verdict.id,
              run_counting_, Now());
  SetStatus(row, Text(LangKey("MSGTIP29")));
  return 0;
}

int FirmwareActions::UpgradeRowFromFile(int index, const std::string& path) {
  DeviceListRow* row = RowAt(index);
  if (row == nullptr) return -1;
  if (!row->m_online) return 0;
  if (row->m_loginHandle <= 0) {
    SetStatus(*row, Text(LangKey("MSGTIP19")));
    return 0;
  }
  // A file carrying the image magic goes to no device unless the whole image is sound.
  const ImageVerdict verdict = checks_.Check(path);
  if (!verdict.sendable) {
    SetStatus(*row, RefusalText(verdict));
    return 0;
  }
  return StartUpgrade(*row, path, verdict);
}

int FirmwareActions::UpgradeRowFromFolder(int index, const std::string& folder) {
  DeviceListRow* row = RowAt(index);
  if (row == nullptr) return -1;
  if (row->m_loginVersion.empty()) {
    SetStatus(*row, Text(LangKey("MSGTIP28")));
    return 0;
  }
  const std::string key = ModelKeyOf(row->m_searchInfo.deviceType);
  const fs::path image = FindFirmwareForModel(folder, key, IsVariantKey(key));
  if (image.empty()) {
    SetStatus(*row, Text(LangKey("MSGTIP27")));
    return 0;
  }
  return UpgradeRowFromFile(index, image.string());
}

int FirmwareActions::ShowUpgradeProgress(int handle) {
  discovery::DeviceRows* rows = Rows();
  DeviceListRow* row = rows ? rows->FindByHandle(handle) : nullptr;
  if (row == nullptr) return -1;
  const int p = std::min(sdk_.GetUpgradeProgress(handle), 100);
  if (p <= 0) return 0;
  jobs_.OnProgress(handle, p, Now());
  char text[32];
  std::snprintf(text, sizeof text, ": %02d%%", p);
  SetStatus(*row, Text(LangKey("UPLOAD")) + text);
  return 0;
}

void FirmwareActions::AutoUpgrade(int handle) {
  if (!window_.AutoActionsChecked()) return;
  if (!window_.FieldText(ctl::kConfigFile).empty()) return;
  const std::string file = window_.FieldText(ctl::kFirmwareFile);
  std::error_code ec;
  if (file.empty() || !fs::exists(file, ec)) return;
  discovery::DeviceRows* rows = Rows();
  DeviceListRow* row = rows ? rows->FindByHandle(handle) : nullptr;
  if (row == nullptr || !row->checked) return;
  AutoUpgradeRow(IndexOf(row), row);
}

void FirmwareActions::AutoUpgradeRow(int index, const DeviceListRow* record) {
  if (record == nullptr || RowAt(index) != record || !window_.AutoActionsChecked()) return;
  const std::string file = window_.FieldText(ctl::kFirmwareFile);
  if (file.empty()) return;
  // A device that ended a transfer of this image in this run (it reboots and
  // logs in again after a good one) is not upgraded again with it.
  ImageId id;
  if (StatImage(file, id) &&
      (jobs_.AlreadyTransferred(record->m_searchInfo.serialNumber, id) || jobs_.Running(record->m_loginHandle)))
    return;
  UpgradeRowFromFile(index, file);
}

// Starts one upgrade run over the checked rows; none checked is reported.
void FirmwareActions::RunUpgradeOnCheckedRows(const std::function<void(int index)>& upgradeRow) {
  jobs_.BeginRun();
  run_counting_ = true;
  int count = 0;
  for (int index : CheckedRows()) {
    upgradeRow(index);
    ++count;
  }
  run_counting_ = false;
  if (count == 0) {
    window_.ErrorBox(Text(LangKey("MSGTIP24")));
    return;
  }
  window_.SetUpgradeBusy(true);
  window_.StartUpgradeWatch();
}

void FirmwareActions::OnUpgradeByFile() {
  if (window_.UpgradeBusy()) {
    window_.ErrorBox(Text(LangKey("MSGTIP37")));
    return;
  }
  const std::string file = window_.FieldText(ctl::kFirmwareFile);
  std::error_code ec;
  if (file.empty() || !fs::is_regular_file(file, ec)) {
    window_.ErrorBox(Text(LangKey("MSGTIP27")));
    return;
  }
  const ImageVerdict verdict = checks_.Check(file);
  if (!verdict.sendable) {
    window_.ErrorBox(RefusalText(verdict));
    return;
  }
  RunUpgradeOnCheckedRows([&](int index) { UpgradeRowFromFile(index, file); });
}

void FirmwareActions::OnUpgradeByFolder() {
  if (window_.UpgradeBusy()) {
    window_.ErrorBox(Text(LangKey("MSGTIP37")));
    return;
  }
  const std::string folder = window_.FieldText(ctl::kFirmwareFolder);
  if (folder.empty()) {
    window_.ErrorBox(Text(LangKey("TEXT20")));
    return;
  }
  RunUpgradeOnCheckedRows([&](int index) { UpgradeRowFromFolder(index, folder); });
}

void FirmwareActions::OnBrowseFirmwareFile() {
  const fs::path saved = window_.SavedPath(PathSetting::kUpgradeFile);
  const std::string path = window_.OpenFile({"*.bin", "File(*.bin)|*.bin|All Files(*.*)|*.*||",
                                             saved.filename().string(),
                                             GetStartFolderForFile(saved, GetCommonDocumentsFolder())});
  if (path.empty()) return;
  window_.SetFieldText(ctl::kFirmwareFile, path);
  window_.SavePath(PathSetting::kUpgradeFile, path);
}

void FirmwareActions::OnBrowseFirmwareFolder() {
  const std::string folder = window_.ChooseFolder(
      Text(LangKey("TEXT22")), GetStartFolder(window_.FieldText(ctl::kFirmwareFolder), GetCommonDocumentsFolder()));
  if (folder.empty()) return;
  window_.SetFieldText(ctl::kFirmwareFolder, folder);
  window_.SavePath(PathSetting::kUpgradeFolder, folder);
}

void FirmwareActions::OnClearCustomConfig() {
  const std::string image = (program_folder_ / "firmware_clean_all_cust.bin").string();
  const std::vector<int> checked = CheckedRows();
  if (checked.empty()) {
    window_.ErrorBox(Text(LangKey("MSGTIP13")));
    return;
  }
  for (int index : checked) UpgradeRowFromFile(index, image);
}

void FirmwareActions::OnDropFiles(const std::vector<std::string>& paths) {
  if (paths.empty()) return;
  const std::string& item = paths.front();
  std::error_code ec;
  if (fs::is_directory(item, ec)) {
    window_.SetFieldText(ctl::kFirmwareFolder, item);
    return;
  }
  const std::string tail = item.size() >= 4 ? item.substr(item.size() - 4) : std::string();
  if (tail == ".bin")
    window_.SetFieldText(ctl::kFirmwareFile, item);
  else if (tail == ".xml")
    window_.SetFieldText(ctl::kConfigFile, item);
}

void FirmwareActions::EndJob(int handle, JobState state) {
  discovery::DeviceRows* rows = Rows();
  DeviceListRow* row = rows ? rows->FindByHandle(handle) : nullptr;
  if (row == nullptr) return;
  row->m_busy = false;
  if (IsTerminal(state)) SetStatus(*row, Text(JobStateTextKey(state)));
}

bool FirmwareActions::OnUpgradeWatchTick() {
  for (int handle : jobs_.ExpireStalled(Now(), stall_limit_ms_)) EndJob(handle, JobState::kTimedOut);
  return jobs_.RunFinished();
}

void FirmwareActions::OnUpgradeRunEnded() { window_.ShowRunSummary(jobs_.Summary()); }

// --- files ---

void FirmwareActions::OnBrowseConfigFile() {
  const fs::path saved = window_.SavedPath(PathSetting::kUploadConfigFile);
  const std::string path = window_.OpenFile({"*.xml", "File(*.xml)|*.xml|All Files(*.*)|*.*||",
                                             saved.filename().string(),
                                             GetStartFolderForFile(saved, GetCommonDocumentsFolder())});
  if (path.empty()) return;
  window_.SetFieldText(ctl::kConfigFile, path);
  window_.SavePath(PathSetting::kUploadConfigFile, path);
}

void FirmwareActions::OnUploadConfig() {
  const std::vector<int> checked = CheckedRows();
  if (checked.empty()) {
    window_.ErrorBox(Text(LangKey("MSGTIP25")));
    return;
  }
  const std::string file = window_.FieldText(ctl::kConfigFile);
  for (int index : checked) workers_.UploadConfigFileToRow(index, file);
}

void FirmwareActions::OnBatchDownloadConfig() {
  const std::vector<int> checked = CheckedRows();
  if (checked.empty()) {
    window_.ErrorBox(Text(LangKey("MSGTIP26")));
    return;
  }
  for (int index : checked) workers_.DownloadConfigFile(index);
}

void FirmwareActions::OnChooseDefaultConfig() {
  const std::string path =
      window_.OpenFile({"config*.xml", "Config File(config*.xml)|config*.xml|All XML Files(*.xml)|*.xml||", "",
                        GetCommonDocumentsFolder()});
  if (path.empty()) return;
  if (CheckOemDefaultConfig(path) == 0) {
    window_.ErrorBox(Text(LangKey("STR_XML_ERROR")));
    return;
  }
  window_.SetFieldText(ctl::kDefaultConfig, path);
  default_configs_.Clear();
  discovery::DeviceRows* rows = Rows();
  for (std::size_t i = 0; rows != nullptr && i < rows->Count(); ++i)
    UploadDefaultConfigToRow(static_cast<int>(i), &rows->At(i));
}

void FirmwareActions::AutoUploadDefaultConfig(int handle) {
  discovery::DeviceRows* rows = Rows();
  DeviceListRow* row = rows ? rows->FindByHandle(handle) : nullptr;
  if (row == nullptr || row->m_searchInfo.deviceType.find("DAV-ODUVE") == std::string::npos) return;
  UploadDefaultConfigToRow(IndexOf(row), row);
}

void FirmwareActions::UploadDefaultConfigToRow(int index, const DeviceListRow* record) {
  if (record == nullptr || index < 0) return;
  const std::string serial = record->m_searchInfo.serialNumber;
  if (default_configs_.State(serial) == 2) return;
  const std::string file = window_.FieldText(ctl::kDefaultConfig);
  if (file.empty() || CheckOemDefaultConfig(file) == 0) return;
  fs::path prepared;
  if (PrepareOemDefaultConfig(file, prepared) == 0) return;
  if (workers_.UploadConfigFileToRow(index, prepared.string()) == 0) default_configs_.Set(serial, 1);
}

void FirmwareActions::AutoUploadConfig(int handle) {
  if (!window_.AutoActionsChecked() || window_.FieldText(ctl::kConfigFile).empty()) return;
  discovery::DeviceRows* rows = Rows();
  DeviceListRow* row = rows ? rows->FindByHandle(handle) : nullptr;
  if (row == nullptr || row->m_searchInfo.deviceType.find("DAV-ODUVE") == std::string::npos) return;
  AutoUploadConfigToRow(IndexOf(row), row);
}

void FirmwareActions::AutoUploadConfigToRow(int index, const DeviceListRow* record) {
  if (record == nullptr || RowAt(index) != record || !window_.AutoActionsChecked()) return;
  const std::string file = window_.FieldText(ctl::kConfigFile);
  if (file.empty()) return;
  workers_.UploadConfigFileToRow(index, file);
}

void FirmwareActions::SetOemDeviceTypeForRow(int index) { SendOemDeviceType(RowAt(index)); }

void FirmwareActions::SendOemDeviceType(const DeviceListRow* record) {
  if (record == nullptr) return;
  const std::string name = TrimBlanks(window_.FieldText(ctl::kModelName));
  if (name.empty()) return;
  kelvara::DeviceSearchInfo current;
  if (!window_.CopyDeviceRecord(record->m_searchInfo.serialNumber, current)) return;
  if (!record->m_online || current.deviceType.find(name) != std::string::npos) return;
  const fs::path file = WriteDeviceTypeFile(name);
  if (file.empty()) return;
  workers_.UploadConfigFile(record, file.string());
}

int FirmwareActions::UploadDeviceTypeToChecked(const std::optional<std::string>& name) {
  const fs::path file = WriteDeviceTypeFile(name);
  if (file.empty()) return 0;  // no file, no message
  const std::vector<int> checked = CheckedRows();
  if (checked.empty()) {
    window_.ErrorBox(Text(LangKey("MSGTIP13")));
    return 0;
  }
  for (int index : checked) workers_.UploadConfigFileToRow(index, file.string());
  return static_cast<int>(checked.size());
}

void FirmwareActions::OnSetOemDeviceType() {
  const std::string name = TrimBlanks(window_.FieldText(ctl::kModelName));
  if (name.empty()) {
    window_.ErrorBox(Text(LangKey("BATCH_EMPTY_DEVICETYPE")));
    return;
  }
  UploadDeviceTypeToChecked(name);
}

void FirmwareActions::OnClearOemDeviceType() { UploadDeviceTypeToChecked(std::nullopt); }

void FirmwareActions::OnMakeOemTypeFirmware() {
  if (TrimBlanks(window_.FieldText(ctl::kModelName)).empty()) window_.ErrorBox(Text(LangKey("BATCH_EMPTY_DEVICETYPE")));
}

void FirmwareActions::OnUploadOemAppFile(int command) {
  const OemAppFileKind* kind = FindOemAppFileKind(command);
  DeviceListRow* row = RowAt(window_.FirstSelectedRow());
  if (kind == nullptr || row == nullptr) return;
  const std::string chosen = window_.OpenFile({kind->default_ext, kind->filter, "", GetCommonDocumentsFolder()});
  if (chosen.empty()) return;
  const fs::path copy = CopyOemAppFile(chosen, kind->prefix);
  if (copy.empty() || row->m_loginHandle <= 0) return;
  sdk_.UploadOemAppFile(row->m_loginHandle, copy.string());
}

void FirmwareActions::OnDownloadCloudIdFile(int command) {
  const CloudIdFile* file = FindCloudIdFile(command);
  const int index = window_.FirstSelectedRow();
  DeviceListRow* row = RowAt(index);
  if (file == nullptr || row == nullptr || row->m_loginHandle < 1) return;
  const fs::path local =
      GetShellFolderPath(5) /
      CloudIdLocalName(row->m_searchInfo.serialNumber, row->m_searchInfo.p2pId, file->extension);
  workers_.DownloadDeviceFile(index, file->device_path, local.string());
}

bool FirmwareActions::OnCommand(int id) {
  switch (id) {
    case ctl::kBrowseFirmwareFile: OnBrowseFirmwareFile(); return true;
    case ctl::kBrowseConfigFile: OnBrowseConfigFile(); return true;
    case ctl::kBrowseFirmwareFolder: OnBrowseFirmwareFolder(); return true;
    case ctl::kChooseDefaultConfig: OnChooseDefaultConfig(); return true;
    case ctl::kClearCustomConfig: OnClearCustomConfig(); return true;
    case ctl::kUpgradeByFile: OnUpgradeByFile(); return true;
    case ctl::kUploadConfig: OnUploadConfig(); return true;
    case ctl::kUpgradeByFolder: OnUpgradeByFolder(); return true;
    case ctl::kClearModelName: OnClearOemDeviceType(); return true;
    case ctl::kSetModelName: OnSetOemDeviceType(); return true;
    case ctl::kMakeModelFirmware: OnMakeOemTypeFirmware(); return true;
    case ctl::kDownloadConfig: OnBatchDownloadConfig(); return true;
    default: break;
  }
  if (FindOemAppFileKind(id) != nullptr) {
    OnUploadOemAppFile(id);
    return true;
  }
  if (FindCloudIdFile(id) != nullptr) {
    OnDownloadCloudIdFile(id);
    return true;
  }
  return false;
}

void FirmwareActions::OnLogin(int handle) {
  AutoUploadDefaultConfig(handle);
  AutoUploadConfig(handle);
  AutoUpgrade(handle);
}

void FirmwareActions::OnStatusEvent(int handle, int type, const std::string& text) {
  discovery::DeviceRows* rows = Rows();
  switch (type) {
    case event::kLoginOk:
      OnLogin(handle);
      break;
    case event::kUploadDone:
    case event::kUploadFailed: {
      const UploadOutcome outcome = ParseUploadOutcome(text);
      const bool ok = type == event::kUploadDone;
      constexpr int kConfigKind = 1;
      if (ok && (outcome.kind == kConfigKind || outcome.kind < 0))
        if (DeviceListRow* row = rows ? rows->FindByHandle(handle) : nullptr)
          default_configs_.MarkDone(row->m_searchInfo.serialNumber);
      // Without a kind the outcome is taken as the running upgrade's.
      const int kind = outcome.kind < 0 ? 2 : outcome.kind;
      if (auto state = jobs_.OnUploadOutcome(handle, ok, kind, outcome.error, Now())) EndJob(handle, *state);
      // The outcome of a file queued before the image does not end the
      // upgrade: its row stays busy.
      if (jobs_.Running(handle))
        if (DeviceListRow* row = rows ? rows->FindByHandle(handle) : nullptr) row->m_busy = true;
      break;
    }
    case event::kLinkLost:
    case event::kConnectFailed:
    case event::kProtocolError:
    case event::kLoginRefused:
    case event::kHeartbeatLost:
      if (auto state = jobs_.OnLinkEnded(handle, Now())) EndJob(handle, *state);
      break;
    case event::kModelNameRequest:
      if (DeviceListRow* row = rows ? rows->FindByHandle(handle) : nullptr) SetOemDeviceTypeForRow(IndexOf(row));
      break;
    case event::kProgressA:
    case event::kProgressB:
      ShowUpgradeProgress(handle);
      break;
    default:
      break;
  }
}

}  // namespace kelvara::firmware
