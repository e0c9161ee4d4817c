#pragma once
// The batch commands that first ask for settings in a configuration dialog:
// the selection check, the dialog run modally, its not-confirmed flag (the
// smart-detection dialog: its modal result), the settings kept where the
// command keeps them (written at once, before any device is touched), then
// one batch job over the checked rows with a copy of the dialog's result, so
// every row ends in its own terminal state. Also the night-mode demo.
// UI thread only.
#include <QDialog>
#include <filesystem>
#include <functional>
#include <string>

#include "common/save_param.h"
#include "common/ui/user_prompts.h"
#include "device/ui/batch_command_host.h"

namespace kelvara::dialogs {

// The command ids (buttons and popup entries).
namespace batch_dialog_id {
inline constexpr int kVideoEncode = 17, kAudioEncode = 32924, kAudioCapture = 32974, kImageParam = 18,
                     kVideoCapture = 33000, kLight = 33388, kSmartDetection = 1298, kOsdTitle = 10,
                     kPlatform = 11, kMaintenance = 1031, kTimeConfig = 32911, kAlarmClock = 32912,
                     kMotionDetect = 13, kPassword = 14, kNightModeDemo = 1303;
}  // namespace batch_dialog_id

class BatchDialogCommands {
 public:
  struct Hooks {
    // Parent of the dialogs the main window owns (video capture, light, smart
    // detection, time, alarm clock); the others have none.
    QWidget* window = nullptr;
    // The settings the light, OSD, alarm clock and time dialogs start from
    // and keep; `saveSettings` writes them to the file (false on failure).
    CSaveParam* settings = nullptr;
    std::function<bool()> saveSettings;
    // The time dialog's zone rules and labels.
    std::filesystem::path timeZoneFile;
    std::string languageCode = "en-us";
    // An error box with a key's text, captioned "ERROR".
    std::function<void(const char* textKey)> errorBox;
    // The dialogs' own messages (the real boxes when null).
    ui::UserPrompts* prompts = nullptr;
    // Runs a dialog modally and returns its result; exec() when empty.
    std::function<int(QDialog&)> runDialog;
    // The night-mode demo has started: button 1303 off, its 5 s end timer on.
    std::function<void()> startNightDemo;
  };

  BatchDialogCommands(device::BatchCommandHost& batch, Hooks hooks);

  // One of the ids above; false for any other id.
  bool OnCommand(int id);

  void OnBatchVideoEncode();
  void OnBatchAudioEncode();
  void OnBatchAudioCapture();
  void OnBatchImageParam();
  void OnBatchVideoCapture();
  void OnBatchLight();
  void OnBatchSmartDetection();
  void OnBatchOsdTitle();
  void OnBatchPlatform();
  void OnBatchMaintenance();
  void OnBatchTimeConfig();
  void OnBatchAlarmClock();
  void OnBatchMotionDetect();
  void OnBatchPassword();
  void OnNightModeDemo();

 private:
  int Run(QDialog& dialog);
  // The selection check: at least one checked row.
  bool Checked();
  void Save();
  // One job over the checked rows; `setFollowsGet` for workers whose get's
  // reply makes the change.
  void ForChecked(std::function<void(discovery::DeviceListRow*)> worker, bool setFollowsGet = false);

  device::BatchCommandHost& batch_;
  Hooks hooks_;
};

}  // namespace kelvara::dialogs
