#pragma once
// The audio broadcast window: the playlist, the broadcast parameters and
// buttons, the device's audio settings and picture flips, and one device's
// file list. Every rule lives in the GUI-free AudioBroadcast,
// DeviceAudioSettings and DeviceFileList; this window moves values between
// them and its controls, and brings feeder reports to its own thread.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/ui/cxdlg.h"
#include "device/core/device_seams.h"
#include "media/core/audio_broadcast.h"

namespace kelvara::controls {
class CReportCtrl;
}

namespace kelvara::media {

// What the window needs of the main window.
struct AudioPlayHost {
  std::function<std::vector<int>()> checkedLogins;
  // The login of the one checked row (shows its own message otherwise); < 1 when none.
  std::function<int()> selectedLogin;
  std::function<void(int login, const std::string& key)> setStatus;
  std::function<void(bool broadcasting)> setTalkButtonText;
  // The remembered folders ("Mp3FilePath", "AppFilePath"), saved at once.
  std::function<std::string(const std::string& key)> readPath;
  std::function<void(const std::string& key, const std::string& path)> storePath;
  std::function<std::string()> documentsFolder;
  // Files chosen by the user in a dialog with this filter, starting from the
  // remembered path (tests answer without a dialog).
  std::function<std::vector<std::string>(const QString& filter, const std::string& lastPath)> chooseFiles;
};

class CAudioPlayDlg : public ui::CXDlg, public BroadcastView {
  Q_OBJECT
 public:
  enum Id : int {
    kLocalList = 1036, kAddFile = 1013, kClearFile = 1018, kFormat = 1038, kRate = 1039, kTransport = 1040,
    kSourceFile = 1061, kSourceMic = 1062, kStart = 1014, kStop = 1015, kPause = 1017,
    kCaptureVolume = 1052, kPlayVolume = 1053, kKeyAnswer = 1042, kSaveAudio = 1019,
    kHFlip = 1056, kVFlip = 1057, kSaveFlip = 1022, kDeviceList = 1037, kKindMp3 = 1059, kKindApp = 1060,
    kQuery = 1025, kUpload = 1023, kDelete = 1024, kListen = 1026, kDownload = 1027,
  };

  CAudioPlayDlg(BroadcastSdk& sdk, AudioPlayHost host, QWidget* parent = nullptr);
  ~CAudioPlayDlg() override;

  // Operations of the buttons and of the main window.
  bool StartBroadcast();
  void StopBroadcast();
  void OnPause();
  void OnSourceChanged();
  void OnLocalListDblClk();
  void OnPlayFinished(unsigned generation);
  void AddFiles(const std::vector<std::string>& paths);
  void ResetTalkDefaults();
  void UpdateBroadcastControls();
  void OnQueryDeviceFiles();
  void OnUploadFiles();
  void OnDeleteDeviceFiles();
  void OnListenDeviceFile();
  void OnDownloadDeviceFile();

  AudioBroadcast& Broadcast() { return broadcast_; }
  DeviceFileList& Files() { return files_; }
  DeviceAudioSettings& Settings() { return settings_; }
  // The seam through which device events and replies arrive.
  device::IntercomDialog& Intercom();
  controls::CReportCtrl* LocalList() const { return localList_; }
  controls::CReportCtrl* DeviceList() const { return deviceList_; }
  // Message boxes shown (keys), newest last; tests read them.
  const std::vector<std::string>& Errors() const { return errors_; }
  const std::vector<std::string>& MpaErrors() const { return mpaErrors_; }
  // Message boxes are left out (offscreen tests).
  bool quiet = false;

  // BroadcastView
  std::vector<int> CheckedLogins() override;
  void ShowError(const std::string& key) override;
  void ShowMpaError(const std::string& message) override;
  void SetDeviceStatus(int login, const std::string& key) override;
  void PostFileFinished(unsigned generation) override;
  void BroadcastChanged() override { UpdateBroadcastControls(); }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  class IntercomSeam;
  void OnAddFilesClicked();
  void OnClearFiles();
  void OnStartClicked();
  void OnSaveAudio();
  void OnSaveFlip();
  bool IsChecked(int id) const;
  int SelectedLogin() const;
  std::vector<std::string> SelectedDeviceFiles() const;
  BroadcastSettings ReadSettings() const;
  void RefreshDeviceList();
  // The upload queue to this device ended with files on it.
  void QueryAfterUpload(int login);
  // A listing page's new names, the last `added` of the list, as new rows.
  void AppendDeviceRows(std::size_t added);
  int FormatValue() const;

  BroadcastSdk& sdk_;
  AudioPlayHost host_;
  AudioBroadcast broadcast_;
  DeviceAudioSettings settings_;
  DeviceFileList files_;
  std::unique_ptr<IntercomSeam> intercom_;
  controls::CReportCtrl* localList_ = nullptr;
  controls::CReportCtrl* deviceList_ = nullptr;
  std::vector<std::string> errors_;
  std::vector<std::string> mpaErrors_;
};

}  // namespace kelvara::media
