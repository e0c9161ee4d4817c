#pragma once
// The intercom (audio broadcast) window in the main window: its factory, the
// audio menu's talk command, and the device commands' intercom seam, which
// forwards to the window while it exists.
#include <functional>
#include <memory>
#include <string>

#include <QPointer>

#include "app/ui/main_dialog_seams.h"
#include "device/core/device_seams.h"
#include "media/core/audio_broadcast.h"

namespace kelvara::discovery {
class DeviceListController;
}
namespace kelvara::media {
class CAudioPlayDlg;
}

namespace kelvara::ui {

class CZqDevSearchToolDlg;

class AudioPlaySeam : public device::IntercomDialog {
 public:
  struct Hooks {
    // The remembered folders ("Mp3FilePath", "AppFilePath"), saved at once.
    std::function<std::string(const std::string& key)> readPath;
    std::function<void(const std::string& key, const std::string& path)> storePath;
    // The login handle of the device playing in the selected video pane; 0 when none.
    std::function<int()> selectedPaneLogin;
    // The login of the one checked row (the list says why otherwise); < 1 when none.
    std::function<int()> selectedLogin;
    // A device's status column, by language key.
    std::function<void(int login, const std::string& key)> setStatus;
  };
  AudioPlaySeam(media::BroadcastSdk& sdk, discovery::DeviceListController& list, Hooks hooks);
  ~AudioPlaySeam() override;

  // Fills the window's factory and talk entries.
  void Install(ModelessFactories& modeless);
  void SetWindow(CZqDevSearchToolDlg* window) { window_ = window; }
  media::CAudioPlayDlg* Dialog() const;

  // Menu item 1300: stops a running broadcast, else talks to the device of
  // the selected video pane alone (microphone, PCM, 16000 Hz, TCP).
  void Talk(media::CAudioPlayDlg& dlg);

  // device::IntercomDialog, forwarded to the window while it exists.
  bool Exists() const override;
  void UploadNextFile(int handle) override;
  void OnDeviceTalkEvent(int handle, int eventType) override;
  void OnConfigReply(int handle, int command, int result, const std::string& text) override;
  bool TakeVideoCaptureEdits(int handle, std::vector<device::AttributeEdit>& edits) override;
  void OnVideoCaptureWritten(int handle, int result) override;

 private:
  QDialog* Create(QWidget* parent);

  media::BroadcastSdk& sdk_;
  discovery::DeviceListController& list_;
  Hooks hooks_;
  CZqDevSearchToolDlg* window_ = nullptr;
  QPointer<QDialog> dlg_;
};

}  // namespace kelvara::ui
