#pragma once
// The video encode page: three stream columns and the advanced lists over
// VideoEncodeForm. Every list change runs the form's handler and shows the
// form again. Save checks, asks, and on Yes keeps the text and clears
// `cancelled`. Enter and Escape are swallowed; only the close box (or a
// confirmed Save) ends the page.
#include <string>

#include "dialogs/core/video_encode_form.h"
#include "dialogs/ui/config_dialog.h"

namespace kelvara::dialogs {

class CMediaCode : public ConfigDialog {
  Q_OBJECT
 public:
  explicit CMediaCode(QWidget* parent = nullptr);
  VideoEncodeForm form;
  std::string xml;
  bool cancelled = true;
  void OnSave();
  void OnDefault();
  // Control ids of one stream column (the third has no LBR controls: 0).
  struct StreamIds {
    int enable, format, resolution, bitRateControl, iframe, quality, bitRate, range, frameRate, qpEnable, qpMin,
        qpMax, lbrEnable, lbrStyle, lbrMode, lbrBitRate, lbrRange, lbrMotion, lbrNoise;
  };
  static const StreamIds kIds[3];

 private:
  void LayoutControls();
  void Read();
  void Write();
  void Run(void (VideoEncodeForm::*handler)(int), int stream);
  bool writing_ = false;
};

}  // namespace kelvara::dialogs
