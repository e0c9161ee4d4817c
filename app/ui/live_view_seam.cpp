#include "app/ui/live_view_seam.h"

#include <QCursor>
#include <QMenu>

namespace kelvara::ui {

LiveViewSeamImpl::LiveViewSeamImpl(media::LiveViewHost host) : view_(std::move(host)) {}

void LiveViewSeamImpl::HidePreviewPopup() {
  if (preview_) preview_->hide();
}

void LiveViewSeamImpl::ShowLayoutMenu(QWidget* anchor) {
  QMenu* menu = view_.BuildLayoutMenu(anchor);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(QCursor::pos());
}

// The device list's live-view entries.
bool LiveViewSeamImpl::OnListCommand(int id, int row) {
  switch (id) {
    case 32782: view_.OpenDevicePreview(row); return true;
    case 32937: view_.OpenAllPreviews(); return true;
    case 32967: view_.PreviewInNextPane(row); return true;
    case 32781: view_.CloseAllPreviews(); return true;
    case 32799: view_.OpenSnapFolder(); return true;
    default:
      if (id >= 32929 && id <= 32936) {
        view_.OnMenuSplit(id);
        return true;
      }
      return false;
  }
}

}  // namespace kelvara::ui
