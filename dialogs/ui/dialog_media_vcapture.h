#pragma once
// The image capture page: the record's fields in edits (CEditExEx) and lists
// by control id. Leaving a field only trims it; the page sends nothing by
// itself. Save checks the fields in order, then asks a yes/no question that
// names the number of checked devices; only Yes clears `cancelled` and keeps
// the text. Enter does nothing; Escape and the close box leave `cancelled`
// set.
#include <string>

#include "dialogs/core/video_capture_form.h"
#include "dialogs/ui/config_dialog.h"

namespace kelvara::dialogs {

class CMediaVCapture : public ConfigDialog {
  Q_OBJECT
 public:
  // deviceCount: the checked rows the text will go to (named in the question).
  explicit CMediaVCapture(int deviceCount, QWidget* parent = nullptr);
  ~CMediaVCapture() override;
  std::string xml;
  bool cancelled = true;
  int lastIrcutMode = 0;
  void OnSave();
  void OnDefault();
  VideoCaptureForm ReadControls() const;

 private:
  void FillControls(const VideoCaptureForm& form);
  int deviceCount_;
};

}  // namespace kelvara::dialogs
