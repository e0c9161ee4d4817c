#pragma once
// The image capture page: three group boxes laid out in rows (IR-cut on top,
// video capture and image side by side below), slider and edit pairs, and
// list choices that enable the controls they govern. The page scrolls
// vertically when it is taller than its window and horizontally when it is
// wider.
//
// Leaving one of the checked edits trims, checks, clamps and moves its
// slider; it never saves or sends. Save checks the fields in order, then
// asks a yes/no question that names the number of checked devices; only Yes
// clears `cancelled` and keeps the text. Enter, Escape and left-button
// double clicks do nothing; the close box leaves `cancelled` set.
#include <algorithm>
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
  // The day/night buttons' last request; the page has no device to send it to.
  std::string dayNightRequest;
  void OnSave();
  void OnDefault();
  VideoCaptureForm ReadControls() const;
  // W of the layout: 772 less a vertical scroll bar (the content reaches 10
  // beyond it with the groups' margins).
  int PageWidth() const { return pageWidth_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  // The bar's arrows and page clicks move a quarter of the window, as the wheel.
  int VerticalLineStep(int clientHeight) const override { return std::max(1, clientHeight / 4); }
  int VerticalPageStep(int clientHeight) const override { return std::max(1, clientHeight / 4); }
  void resizeEvent(QResizeEvent* event) override;

 private:
  void CreateControls();
  void FillControls(const VideoCaptureForm& form);
  void ApplyRules();
  void LayoutControls();
  void Relayout();
  void OnLeaveField(int editId);
  void SetSlider(int id, int value);
  int pageWidth_ = 0;
  int deviceCount_;
  bool filling_ = false;
  bool leaving_ = false;
};

}  // namespace kelvara::dialogs
