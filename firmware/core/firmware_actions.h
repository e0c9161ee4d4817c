#pragma once
// The main window's firmware upgrades and file transfers, GUI-free: upgrade by
// file, by folder, on login and with the clean-up image; progress and the
// terminal state of each upgrade; the configuration file, the OEM default
// configuration, the custom model name, OEM application files and cloud
// identity files. The window, the SDK and the command workers sit behind the
// interfaces below, so the same code runs in the window and in tests against
// simulated devices. UI thread only.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "discovery/core/device_records.h"
#include "discovery/core/device_rows.h"
#include "firmware/core/image_check.h"
#include "firmware/core/upgrade_jobs.h"

namespace kelvara::firmware {

// Control ids of the main window used here.
namespace ctl {
inline constexpr int kFirmwareFile = 1048, kConfigFile = 1049, kFirmwareFolder = 1050, kModelName = 1051,
                     kDefaultConfig = 1053, kAutoActions = 2068;
inline constexpr int kBrowseFirmwareFile = 1189, kBrowseConfigFile = 1190, kBrowseFirmwareFolder = 1191,
                     kChooseDefaultConfig = 1192, kClearCustomConfig = 1193, kUpgradeByFile = 1291,
                     kUploadConfig = 1292, kUpgradeByFolder = 1293, kClearModelName = 1294, kSetModelName = 1295,
                     kMakeModelFirmware = 1302, kDownloadConfig = 6;
}  // namespace ctl

// Status events this subsystem acts on.
namespace event {
inline constexpr int kLinkLost = 2, kConnectFailed = 3, kLoginOk = 4, kProtocolError = 5, kUploadDone = 14,
                     kUploadFailed = 15, kModelNameRequest = 24, kLoginRefused = 31, kHeartbeatLost = 34,
                     kProgressA = 54, kProgressB = 55;
}

// The SDK calls made here.
class FirmwareSdk {
 public:
  virtual ~FirmwareSdk() = default;
  virtual int Upgrade(int handle, const std::string& image_path) = 0;
  virtual int GetUpgradeProgress(int handle) = 0;
  virtual int UploadOemAppFile(int handle, const std::string& local_path) = 0;
};

// The device-command workers that move files (they write the row's status texts).
class FileWorkers {
 public:
  virtual ~FileWorkers() = default;
  // -1 without a row record at the index, else the result of UploadConfigFile.
  virtual int UploadConfigFileToRow(int row, const std::string& local_path) = 0;
  // -1 without a record, else 0.
  virtual int UploadConfigFile(const discovery::DeviceListRow* record, const std::string& local_path) = 0;
  virtual int DownloadConfigFile(int row) = 0;
  virtual int DownloadDeviceFile(int row, const std::string& device_path, const std::string& local_name) = 0;
};

struct OpenFileRequest {
  std::string default_ext;
  std::string filter;  // "Text(*.x)|*.x|All Files(*.*)|*.*||"
  std::string proposed_name;
  std::filesystem::path start_folder;
};

enum class PathSetting { kUpgradeFile, kUpgradeFolder, kUploadConfigFile };

// What the handlers need of the main window.
class FirmwareWindow {
 public:
  virtual ~FirmwareWindow() = default;
  virtual std::string FieldText(int id) = 0;  // UTF-8
  virtual void SetFieldText(int id, const std::string& text) = 0;
  virtual bool AutoActionsChecked() = 0;  // check box 2068
  // A message box with a language text, caption "ERROR".
  virtual void ErrorBox(const std::string& text) = 0;
  virtual std::string OpenFile(const OpenFileRequest& request) = 0;  // empty: cancelled
  virtual std::string ChooseFolder(const std::string& title, const std::filesystem::path& start) = 0;
  virtual bool UpgradeBusy() = 0;
  virtual void SetUpgradeBusy(bool busy) = 0;
  virtual void StartUpgradeWatch() = 0;  // TIMER_UPGRADE_WATCH, 1000 ms
  virtual int FirstSelectedRow() = 0;    // -1: none
  // Indices into the device rows in the order the list shows them (a sorted
  // list differs from the rows' own order); empty: the rows' own order.
  virtual std::vector<int> RowsInListOrder() { return {}; }
  // The device map's current record of a serial number.
  virtual bool CopyDeviceRecord(const std::string& serial, kelvara::DeviceSearchInfo& out) = 0;
  virtual std::string SavedPath(PathSetting which) = 0;
  virtual void SavePath(PathSetting which, const std::string& value) = 0;  // saved at once
  // The end of an upgrade run: how many rows were upgraded and how many not.
  virtual void ShowRunSummary(const RunSummary& summary) = 0;
};

// The default-configuration table: serial number -> 1 (handed to the upload
// worker) or 2 (the device reported the upload done).
class DefaultConfigTable {
 public:
  int State(const std::string& serial) const;
  void Set(const std::string& serial, int state);
  // State 2 for a serial that has an entry.
  void MarkDone(const std::string& serial);
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::map<std::string, int> states_;
};

class FirmwareActions {
 public:
  using Lookup = std::function<std::string(const char* key)>;
  using ClockMs = std::function<std::int64_t()>;

  FirmwareActions(std::function<discovery::DeviceRows*()> rows, FirmwareSdk& sdk, FileWorkers& workers,
                  FirmwareWindow& window, Lookup lookup, ClockMs clock_ms = {});

  // A running upgrade with no event for this long ends as timed out (the
  // SDK's own limit, twenty transfer time-outs, comes first).
  void SetStallLimitMs(std::int64_t ms) { stall_limit_ms_ = ms; }
  // The program's folder, where the clean-up image lies.
  void SetProgramFolder(std::filesystem::path dir) { program_folder_ = std::move(dir); }

  // --- upgrades ---
  int UpgradeRowFromFile(int row, const std::string& path);
  int UpgradeRowFromFolder(int row, const std::string& folder);
  // One upgrade run over the checked rows (none checked is reported).
  void RunUpgradeOnCheckedRows(const std::function<void(int index)>& upgradeRow);
  int ShowUpgradeProgress(int handle);
  void AutoUpgrade(int handle);
  void AutoUpgradeRow(int row, const discovery::DeviceListRow* record);
  void OnUpgradeByFile();
  void OnBrowseFirmwareFile();
  void OnUpgradeByFolder();
  void OnBrowseFirmwareFolder();
  void OnClearCustomConfig();
  // Dropped items in order; only the first counts.
  void OnDropFiles(const std::vector<std::string>& paths);
  // Each tick of TIMER_UPGRADE_WATCH, before the window tests the busy rows:
  // stalled upgrades time out. Returns true when the run is over.
  bool OnUpgradeWatchTick();
  // The window's watch timer found no busy row and ended the run.
  void OnUpgradeRunEnded();

  // --- files ---
  void OnBrowseConfigFile();
  void OnUploadConfig();
  void OnBatchDownloadConfig();
  void OnChooseDefaultConfig();
  void AutoUploadDefaultConfig(int handle);
  void AutoUploadConfig(int handle);
  void AutoUploadConfigToRow(int row, const discovery::DeviceListRow* record);
  void UploadDefaultConfigToRow(int row, const discovery::DeviceListRow* record);
  void SetOemDeviceTypeForRow(int row);
  void SendOemDeviceType(const discovery::DeviceListRow* record);
  void OnSetOemDeviceType();
  void OnClearOemDeviceType();
  void OnMakeOemTypeFirmware();
  // 33100-33109, 33308, 33015-33017.
  void OnUploadOemAppFile(int command);
  // 33378, 33379.
  void OnDownloadCloudIdFile(int command);

  // Buttons and menu commands by id; false for an id that is not ours.
  bool OnCommand(int id);

  // The status events this subsystem acts on (after the row's login state and
  // event text were applied): the login steps' automatic actions (4), upload
  // outcomes (14, 15), login-ending events, the model-name request (24) and
  // progress (54, 55).
  void OnStatusEvent(int handle, int type, const std::string& text);
  // The login steps' automatic actions alone (event 4).
  void OnLogin(int handle);

  UpgradeJobs& Jobs() { return jobs_; }
  ImageCheckCache& ImageChecks() { return checks_; }
  DefaultConfigTable& DefaultConfigs() { return default_configs_; }

 private:
  discovery::DeviceRows* Rows() const { return rows_(); }
  discovery::DeviceListRow* RowAt(int row) const;
  int IndexOf(const discovery::DeviceListRow* row) const;
  std::string Text(const char* key) const { return lookup_ ? lookup_(key) : std::string(); }
  void SetStatus(discovery::DeviceListRow& row, const std::string& text);
  std::int64_t Now() const { return clock_ms_ ? clock_ms_() : 0; }
  std::vector<int> CheckedRows() const;
  // Starts the SDK transfer of an image already judged sendable.
  int StartUpgrade(discovery::DeviceListRow& row, const std::string& path, const ImageVerdict& verdict);
  // The row's terminal state: busy cleared and the state's text shown.
  void EndJob(int handle, JobState state);
  std::string RefusalText(const ImageVerdict& verdict) const;
  int UploadDeviceTypeToChecked(const std::optional<std::string>& name);

  std::function<discovery::DeviceRows*()> rows_;
  FirmwareSdk& sdk_;
  FileWorkers& workers_;
  FirmwareWindow& window_;
  Lookup lookup_;
  ClockMs clock_ms_;
  std::filesystem::path program_folder_;
  std::int64_t stall_limit_ms_ = 11 * 60 * 1000;
  bool run_counting_ = false;  // the watch timer's run is counted in jobs_
  ImageCheckCache checks_;
  UpgradeJobs jobs_;
  DefaultConfigTable default_configs_;
};

// The transfer kind and error text of an upload outcome's RESPONSE_PARAM
// (kind -1 when the text carries none).
struct UploadOutcome {
  int kind = -1;
  std::string error;
};
UploadOutcome ParseUploadOutcome(const std::string& text);

}  // namespace kelvara::firmware
