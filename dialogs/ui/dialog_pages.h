#pragma once
// The pages with their own Save button: audio capture, audio encode,
// scheduled maintenance and the alarm clock. Save builds the text and clears
// `cancelled`; Enter does nothing; Escape and the close box leave
// `cancelled` set (the alarm clock swallows Escape too).
#include <string>

#include "common/settings_records.h"
#include "dialogs/ui/config_dialog.h"

namespace kelvara::dialogs {

// <Capture> for SetDVRConfig 527.
class CMediaACapture : public ConfigDialog {
  Q_OBJECT
 public:
  explicit CMediaACapture(QWidget* parent = nullptr);
  std::string xml;
  bool cancelled = true;
  void OnSave();

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  int LayoutPage();
};

// <Audio><Encode/></Audio> for SetDVRConfig 528.
class CMediaAEncode : public ConfigDialog {
  Q_OBJECT
 public:
  explicit CMediaAEncode(QWidget* parent = nullptr);
  std::string xml;
  bool cancelled = true;
  void OnSave();

 private:
  void OnTypeChanged();
  void OnRateChanged();
  void ApplyEnableRule();
  int LayoutPage();

 protected:
  void resizeEvent(QResizeEvent* event) override;
};

// <MaintainConfig .../> for every checked row.
class CSYSRMDlg : public ConfigDialog {
  Q_OBJECT
 public:
  explicit CSYSRMDlg(QWidget* parent = nullptr);
  std::string xml;
  bool cancelled = true;
  void OnSave();
};

// Hourly chime and five clocks: SetClockSettings before, GetClockSettings
// and the text after a Save.
class CSYSClock : public ConfigDialog {
  Q_OBJECT
 public:
  explicit CSYSClock(QWidget* parent = nullptr);
  void SetClockSettings(const AlarmClockSettings& settings);
  AlarmClockSettings GetClockSettings() const { return settings_; }
  std::string xml;
  bool cancelled = true;
  void OnSave();

 private:
  void LoadControls();
  void ApplyChecks(bool chimeJustToggled);
  AlarmClockSettings settings_{};
};

}  // namespace kelvara::dialogs
