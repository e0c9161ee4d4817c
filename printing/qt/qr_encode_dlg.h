#pragma once
// The QR popup: a device's P2P identifier as a QR code that a phone can scan
// from the screen, with buttons to copy the code as a picture and to print it.
// Made once by its owner and then only shown and hidden.
#include <QImage>
#include <QString>
#include <functional>

#include "common/ui/cxdlg.h"

namespace kelvara::ui {
class UserPrompts;
}

namespace kelvara::printing {

class CQR_EncodeDlg : public ui::CXDlg {
  Q_OBJECT
 public:
  static constexpr int kPicture = 1078, kText = 1079, kCopy = 1077, kPrint = 1086;

  // compact: only the text over the code, no buttons (the hover mode).
  CQR_EncodeDlg(bool compact, ui::UserPrompts& prompts, QWidget* owner);

  bool OnInitDialog();
  // Shows the text and its code. The code is built only when the text differs
  // from the one shown, so following the mouse over the list costs nothing.
  void ShowText(const QString& text);
  // Button 1077: the code enlarged eight times, one bit per pixel at 96 dpi.
  void OnCopy();
  // Button 1086: hands the shown text to the print request (queued to the UI
  // thread, as a posted message would be).
  void OnPrint();
  void SetPrintRequest(std::function<void(const QString&)> request) { printRequest_ = std::move(request); }

  bool Compact() const { return compact_; }
  bool QrOk() const { return qrOk_; }
  int QrBitmapSide() const { return qrBitmapSide_; }
  const QImage& QrBitmap() const { return qrBitmap_; }
  const QString& Text() const { return text_; }
  // How many times a code was built (for the owner's tests).
  int EncodeCount() const { return encodeCount_; }
  // The clipboard picture of the current code; null when there is none.
  QImage ClipboardImage() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  bool compact_;
  ui::UserPrompts& prompts_;
  QString text_;
  bool hasText_ = false;
  bool qrOk_ = false;
  int qrBitmapSide_ = 0;
  QImage qrBitmap_;
  int encodeCount_ = 0;
  std::function<void(const QString&)> printRequest_;
};

}  // namespace kelvara::printing
