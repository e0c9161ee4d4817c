#pragma once
// The live view (media/ui) as the main window's live-view seam.
#include <memory>

#include "app/ui/main_dialog_seams.h"
#include "media/ui/dialog_preview.h"
#include "media/ui/live_view.h"

namespace kelvara::ui {

class LiveViewSeamImpl : public LiveViewSeam {
 public:
  explicit LiveViewSeamImpl(media::LiveViewHost host);
  void Attach(CWndManager* grid, CDialogVideo* host) override { view_.Attach(grid, host); }
  void CloseAllPreviews() override { view_.CloseAllPreviews(); }
  void SetSelectedPaneAudio(bool on) override { view_.SetSelectedPaneAudio(on); }
  void CallAfStudyPreset(int entry) override { view_.CallAfStudyPreset(entry); }
  void CallPtzMultiplePreset(int entry) override { view_.CallPtzMultiplePreset(entry); }
  void PtzStopAll() override { view_.PtzStopAll(); }
  void PtzZoomOutAll() override { view_.PtzZoomOutAll(); }
  void PtzZoomInAll() override { view_.PtzZoomInAll(); }
  void HidePreviewPopup() override;
  int OpenDevicePreview(int row) override { return view_.OpenDevicePreview(row); }
  void ShowLayoutMenu(QWidget* anchor) override;
  bool OnListCommand(int id, int row) override;

  media::LiveView& View() { return view_; }

 private:
  media::LiveView view_;
  std::unique_ptr<media::CDialogPreview> preview_;
};

}  // namespace kelvara::ui
