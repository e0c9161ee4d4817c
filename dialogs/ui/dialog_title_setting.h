#pragma once
// The OSD title dialog: edits an OverlayConfig and the three device facts
// put into each device's title. OK clears `cancelled`; the caller then saves
// `overlay` and sends it with the flags to every checked row.
#include "common/settings_records.h"
#include "dialogs/ui/config_dialog.h"

namespace kelvara::dialogs {

class CDialogTitleSetting : public ConfigDialog {
  Q_OBJECT
 public:
  explicit CDialogTitleSetting(const OverlayConfig& start, QWidget* parent = nullptr);

  OverlayConfig overlay;
  int showIp = 0, showModel = 0, showSerial = 0;
  bool cancelled = true;
  // The title as typed (UTF-8), after OK.
  std::string title;

  void OnOk() override;

 private:
  void LoadControls();
  void SaveControls();
};

}  // namespace kelvara::dialogs
