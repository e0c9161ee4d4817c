#pragma once
// The label windows the main window opens: the two label settings dialogs
// (modal) and the QR popup (modeless, made on first use, then shown and
// hidden).
#include <QPointer>
#include <QString>

class QWidget;

namespace kelvara::ui {
class UserPrompts;
}

namespace kelvara::printing {

class CLabelPrinter;
class CTipsConfig;
class CQR_EncodeDlg;

class PrintingWindows {
 public:
  // All three outlive this object.
  PrintingWindows(CLabelPrinter& printer, CTipsConfig& tips, ui::UserPrompts& prompts);
  ~PrintingWindows();

  void ShowPrePrintDlg(QWidget* owner);
  void ShowPrintDlg(QWidget* owner);
  // An empty text hides the popup. Otherwise the popup is made on first use
  // (compact decides its presentation then), placed centred on the owner in
  // compact mode or with its lower right corner 10 pixels inside the owner's,
  // shown without taking the focus, and given the text.
  void ShowQrPopup(QWidget* owner, const QString& text, bool compact);
  void HideQrPopup();
  CQR_EncodeDlg* QrPopup() const;

 private:
  CLabelPrinter& printer_;
  CTipsConfig& tips_;
  ui::UserPrompts& prompts_;
  QPointer<CQR_EncodeDlg> popup_;
};

}  // namespace kelvara::printing
