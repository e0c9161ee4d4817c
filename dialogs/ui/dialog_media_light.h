#pragma once
// The light and IR-cut page: edits a copy of the saved MediaLightConfig.
// Save reads the controls back and clears `cancelled`; Enter, Escape and the
// close box end the page with `cancelled` set (Enter never saves).
#include "common/settings_records.h"
#include "dialogs/core/light_form.h"
#include "dialogs/ui/config_dialog.h"

class QSlider;

namespace kelvara::dialogs {

class CMediaLight : public ConfigDialog {
  Q_OBJECT
 public:
  explicit CMediaLight(const MediaLightConfig& record, QWidget* parent = nullptr);
  MediaLightConfig record;
  bool cancelled = true;
  void OnSave();

 private:
  void LayoutControls();
  void FillControls();
};

}  // namespace kelvara::dialogs
