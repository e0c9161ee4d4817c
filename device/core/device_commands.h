#pragma once
// The per-device command workers and the direct commands: each sends one
// request (two for a few) through the SDK for one row of the device list and
// writes the outcome into the row's status column. Workers run on the UI
// thread and return at once; what the device answers comes later as status
// events (StatusEventHandler) and AUX replies (AuxReplyHandler).
//
// A worker takes the row's record (nullptr: the list has no row there, the
// worker returns -1) and otherwise returns 0. It does nothing for a row that
// is offline, writes its not-logged-in text for a handle of 0 or below, else
// sends its request and writes its failure text (or success text) by the
// SDK's immediate result. Texts come in as UTF-8 and go to devices in their
// 8-bit code page (GBK) where they are the user's text; the OSD title goes as
// the hex of its UTF-8 bytes.
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "common/settings_records.h"
#include "device/core/command_sdk.h"
#include "device/core/device_seams.h"
#include "device/core/osd_title.h"
#include "discovery/core/device_rows.h"

namespace kelvara::device {

using discovery::DeviceListRow;

class DeviceCommands {
 public:
  struct Options {
    CommandSdk* sdk = nullptr;
    // Language texts (UTF-8) by key.
    std::function<std::string(const char* key)> lookup;
    // Folder below which downloads are stored (the user's documents folder).
    std::function<std::filesystem::path()> documentsDir;
    // The PC clock as a file time, and the local time for file names.
    std::function<std::uint64_t()> fileTimeNow;
    std::function<std::tm()> localTimeNow;
    // Display switch 1055: above 0, reboots go by broadcast only.
    std::function<int()> broadcastRebootSwitch;
    // The settings' default login, as the network seam takes credentials.
    std::function<discovery::OperatorAuth()> defaultLogin;
    // A yes/no question (text key, caption key); true for yes.
    std::function<bool(const char* textKey, const char* captionKey)> confirm;
    // An error message box with the text of a key, captioned "ERROR".
    std::function<void(const char* textKey)> errorBox;
    DeviceSeams seams;
  };

  DeviceCommands(discovery::DeviceRows& rows, Options options);
  // For a list whose rows object is replaced (the window's list): the rows
  // in use are asked for at each call.
  DeviceCommands(std::function<discovery::DeviceRows&()> rows, Options options);

  discovery::DeviceRows& Rows() { return rows_(); }
  CommandSdk& Sdk() { return *options_.sdk; }
  const DeviceSeams& Seams() const { return options_.seams; }
  // Display switch 1055 (reboots by broadcast only above 0).
  int BroadcastRebootSwitch() const {
    return options_.broadcastRebootSwitch ? options_.broadcastRebootSwitch() : 0;
  }
  std::string Text(const char* key) const;
  void SetStatus(DeviceListRow& row, const char* key);
  // The yes/no question of the options (text key, caption key); false
  // without one.
  bool Confirm(const char* textKey, const char* captionKey) const {
    return options_.confirm && options_.confirm(textKey, captionKey);
  }

  // --- Workers of the command table ---
  int UploadConfigFileToRow(DeviceListRow* row, const std::string& localPath);
  int DownloadConfigFile(DeviceListRow* row);
  int DownloadDeviceFile(DeviceListRow* row, const std::string& devicePath, const std::string& localName);
  int RebootRow(DeviceListRow* row);
  int SyncRowTime(DeviceListRow* row);
  int SetRowOsdTitle(DeviceListRow* row, const OverlayConfig& overlay, const OsdTitleChoice& choice);
  int SetRowAdminPassword(DeviceListRow* row, const std::string& password);
  int FormatRowSdCard(DeviceListRow* row);
  int SetRowLanguage(DeviceListRow* row, const std::string& languageCode);
  int SetRowLanguageAndWeb(DeviceListRow* row, int webDefaultLanguage, const std::string& languageCode, int kcWeb);
  int RequestTvSystemChange(DeviceListRow* row, int value);
  int RequestNightModeDemo(DeviceListRow* row);
  int RequestOnvifAllNetChange(DeviceListRow* row, int value);
  int RequestHikAccessChange(DeviceListRow* row, int value);
  int RequestDhAccessChange(DeviceListRow* row, int value);
  int RequestVendorAccessChange(DeviceListRow* row, int value);
  int RequestStreamAccessChange(DeviceListRow* row, int value);
  int TestRowMcu(DeviceListRow* row);
  int SetRowPlatformConfig(DeviceListRow* row, int enable, const std::string& server, int port,
                           const std::string& userName, const std::string& password, int playTone,
                           int incrementOn, int increment);
  int SetRowVideoEncode(DeviceListRow* row, const std::string& text);
  int SetRowAudioEncode(DeviceListRow* row, const std::string& text);
  int SetRowAudioCapture(DeviceListRow* row, const std::string& text);
  int SetRowImageParam(DeviceListRow* row, const std::string& text);
  int SetRowVideoCapture(DeviceListRow* row, const std::string& text);
  int RequestAlarmConfigChange(DeviceListRow* row, const BatchPDSettings& settings);
  int RequestLightChange(DeviceListRow* row, const MediaLightConfig& settings);
  int SetRowMotionDetect(DeviceListRow* row, int enable, int blockCount, const std::string& blockConfig,
                         int sensitivity, int alarmThreshold);
  int FactoryResetRow(DeviceListRow* row);
  int SetRowMaintenance(DeviceListRow* row, const std::string& text);
  int SetRowTimeConfig(DeviceListRow* row, const std::string& text);
  int SetRowAlarmClock(DeviceListRow* row, const std::string& text);
  int SetRowP2PConfig(DeviceListRow* row, int enable);
  int StartAudioLoopTest(DeviceListRow* row);

  // --- Direct commands ---
  // The PC clock to the device (SYS_CTRL_SET_TIME); the SDK's result.
  int SendTimeSync(int handle);
  // A configuration file to the device; texts go to the row holding the
  // record's handle. -1 without a record, else 0.
  int UploadConfigFile(DeviceListRow* row, const std::string& localPath);
  // Reboot of the selected row (context menu).
  void RebootSelectedRow(DeviceListRow* row);
  // Batch time sync over the checked rows, in list order.
  void BatchSyncTime(const std::vector<DeviceListRow*>& checked);
  // The two test buttons: one system control to every checked row, whatever
  // its state; nothing is shown.
  void SendToChecked(const std::vector<DeviceListRow*>& checked, int code, const std::string& text);
  // The night-mode demonstration's end for one row (the demo timer): day mode
  // and the device's own video-capture block back.
  void EndNightModeDemo(DeviceListRow& row);

  // Each file fetch the workers start (the SDK's result); file requests learn
  // from it where an announced file is stored.
  std::function<void(DeviceListRow& row, const std::string& devicePath, const std::string& localPath, int result)>
      onDownloadRequested;

  // Downloads Kelvara asked for, by local path: only such files are re-saved
  // when their download is reported done.
  bool TakeRequestedDownload(const std::string& localPath);
  std::tm LocalTimeNow() const;

 private:
  // The common head of a worker: true when it may send. Writes the
  // not-logged-in text for a handle of 0 or below.
  bool Ready(DeviceListRow& row, const char* notLoggedInKey);
  int SetConfigWorker(DeviceListRow* row, int code, const std::string& text, const char* failKey);
  int SystemControlWorker(DeviceListRow* row, int code, const std::string& text, const char* failKey);
  int RequestBlock(DeviceListRow* row, int code, const std::function<void(DeviceListRow&)>& mark);
  std::filesystem::path DocumentsDir() const;

  std::function<discovery::DeviceRows&()> rows_;
  Options options_;
  std::set<std::string> requestedDownloads_;
};

}  // namespace kelvara::device
