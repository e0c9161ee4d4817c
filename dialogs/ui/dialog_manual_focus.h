#pragma once
// The lens focusing dialog (modeless): nine regions with a reference value
// and threshold each, the focus reports of the one checked device compared
// against them, and the reference sets kept as files in a folder.
#include <QPointer>
#include <QString>
#include <functional>
#include <string>

#include "device/core/device_seams.h"
#include "dialogs/core/focus_model.h"
#include "dialogs/ui/config_dialog.h"

namespace kelvara::dialogs {

// What the dialog asks of the main window.
struct FocusHost {
  // The login handle of the single checked row; with `tellUser` the main
  // window says why there is none. Below 1: none.
  std::function<int(bool tellUser)> selectedLoginHandle;
  // SystemControl on a login handle (result not looked at).
  std::function<int(int handle, int code, const std::string& text)> systemControl;
  // The 3 x 3 grid on the playing panes: on or off.
  std::function<void(bool on)> motionGrid;
};

inline constexpr int kSysCtrlManualFocus = 1157;

class CManualFocusDlg : public ConfigDialog {
  Q_OBJECT
 public:
  // `folder` is the reference folder (created when missing).
  CManualFocusDlg(FocusHost host, std::filesystem::path folder, QWidget* parent = nullptr);

  // From the status-event handler: a report text holding "{mfocus:".
  void OnFocusResult(int handle, const std::string& report);

  void OnStart();
  void OnStop();
  void OnLoadFile();          // 1077
  void OnSetSelected();       // combo 1016 changed
  void OnSave();              // 1078
  void OnSaveAs();            // 1080
  void OnSetCurrentAsBase();  // 1079
  void OnSetAll();            // 2083
  // Asks for the set name of Save as; tests replace it.
  std::function<std::optional<QString>(const QString& title, const QString& initial)> askName;

  const FocusPairs& Base() const { return base_; }
  const FocusPairs& Current() const { return current_; }
  QString ResultText() const;
  bool Passed() const { return pass_; }

 private:
  // Why the base pairs were not saved under `name`, in a box.
  void TellNotSaved(const QString& name);

  void ReadBaseEdits();
  void ShowBase();
  void ShowCurrent();
  void BuildReferenceList();

  FocusHost host_;
  FocusReferenceFolder folder_;
  FocusPairs base_ = DefaultFocusBase();
  FocusPairs current_{};
  bool pass_ = false;
};

// The device commands' focus seam for the one open focusing dialog: status
// events (on the UI thread) reach the dialog while it exists.
class ManualFocusSeam : public device::FocusDialog {
 public:
  void Set(CManualFocusDlg* dialog) { dialog_ = dialog; }
  bool Exists() const override { return !dialog_.isNull(); }
  void OnFocusResult(int handle, const std::string& detail) override {
    if (dialog_) dialog_->OnFocusResult(handle, detail);
  }

 private:
  QPointer<CManualFocusDlg> dialog_;
};

}  // namespace kelvara::dialogs
