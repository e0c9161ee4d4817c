#include "printing/qt/printing_windows.h"

#include <QWidget>

#include "common/language_table.h"
#include "common/ui/user_prompts.h"
#include "common/ui/window_fit.h"

#include "printing/qt/label_printer.h"
#include "printing/qt/pre_print_dlg.h"
#include "printing/qt/print_dlg.h"
#include "printing/qt/qr_encode_dlg.h"

namespace kelvara::printing {

PrintingWindows::PrintingWindows(CLabelPrinter& printer, CTipsConfig& tips, ui::UserPrompts& prompts)
    : printer_(printer), tips_(tips), prompts_(prompts) {}

PrintingWindows::~PrintingWindows() { delete popup_.data(); }

CQR_EncodeDlg* PrintingWindows::QrPopup() const { return popup_.data(); }

void PrintingWindows::ShowPrePrintDlg(QWidget* owner) {
  CPrePrintDlg dlg(printer_, prompts_, owner);
  dlg.OnInitDialog();
  dlg.exec();
}

void PrintingWindows::ShowPrintDlg(QWidget* owner) {
  CPrintDlg dlg(tips_, prompts_, owner);
  dlg.OnInitDialog();
  dlg.exec();
}

void PrintingWindows::ShowQrPopup(QWidget* owner, const QString& text, bool compact) {
  if (text.isEmpty()) {
    HideQrPopup();
    return;
  }
  if (popup_ == nullptr) {
    popup_ = new CQR_EncodeDlg(compact, prompts_, owner);
    // The popup's print button prints the code with its text under it; when
    // nothing was printed (no printer set up) it says so, as the label
    // button does.
    popup_->SetPrintRequest([this](const QString& qr) {
      if (printer_.PrintQrLabel(qr, qr) == 1) return;
      prompts_.MessageBox(popup_.data(), QString::fromStdString(LangText("STRING_PRINT_FAILED")),
                          QString::fromStdString(LangText("WARRNING")), ui::PromptIcon::kWarning);
    });
  }
  // Shown first: the window frame's size is known only then.
  popup_->show();
  if (owner != nullptr) {
    const QRect outer = owner->frameGeometry();
    const QRect frame = popup_->frameGeometry();
    // move() places the frame's top left corner.
    if (popup_->Compact()) {
      popup_->move(outer.center() - QPoint(frame.width() / 2, frame.height() / 2));
    } else {
      const QPoint corner = outer.bottomRight() - QPoint(10, 10);
      popup_->move(corner.x() - frame.width() + 1, corner.y() - frame.height() + 1);
    }
    // Inside the window's corner, and on the screen where the window is not.
    ui::FitWindowInWorkArea(*popup_);
  }
  popup_->ShowText(text);
}

void PrintingWindows::HideQrPopup() {
  if (popup_ != nullptr) popup_->hide();
}

}  // namespace kelvara::printing
