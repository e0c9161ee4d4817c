#pragma once
// Prints device labels with QR codes, one page per call, without a print
// dialog: the QR label pair of production mode and the device label row of
// the tips layout. Positions come from the layouts in millimetres, converted
// with the printer's resolution of each axis.
#include <QImage>
#include <QString>
#include <filesystem>
#include <memory>

#include "printing/core/qr_label_layout.h"
#include "printing/core/tips_config.h"
#include "printing/qt/label_print_backend.h"

namespace kelvara::printing {

// The QR code of the text (UTF-8, level L, automatic version and mask) as a
// one-bit image: one pixel per module and a two-pixel white border. Null for
// an empty text or one the encoder cannot hold.
QImage MakeQrImage(const QString& text);

class CLabelPrinter : public QrLabelLayout {
 public:
  // Loads the QR label layout (QrLabelLayout). `tips` is the tips layout of
  // the device labels and must outlive the printer. Without a backend the
  // system's default printer is used.
  explicit CLabelPrinter(const CTipsConfig& tips, std::unique_ptr<LabelPrintBackend> backend = nullptr,
                         std::filesystem::path layoutFile = QrLabelLayoutPath());

  // One pair of QR labels: the QR code of qrText and labelText in two lines
  // under it. Returns 1 when printed; 0 when either text is empty, there is
  // no printer, qrText cannot be encoded, or the page could not be printed.
  int PrintQrLabel(const QString& qrText, const QString& labelText);

  // One row of Tips_num device labels. Returns 1 when printed; 0 when qrText
  // is empty, an enabled serial or MAC line has no text, there is no printer,
  // qrText cannot be encoded, or the page could not be printed.
  int PrintDeviceLabel(const QString& qrText, const QString& serialText, const QString& macText);

  // Encodes the text (UTF-8, level L, automatic version and mask) into the QR
  // bitmap: one pixel per module and a two-pixel white border. An empty text
  // does nothing; a text that cannot be encoded clears the bitmap, so no
  // earlier device's code can end up on a label.
  void MakeQrBitmap(const QString& text);

  bool QrOk() const { return qrOk; }
  const QImage& QrBitmap() const { return qrBitmap; }
  int QrBitmapSide() const { return qrBitmapSide; }

 private:
  const CTipsConfig& tips_;
  std::unique_ptr<LabelPrintBackend> backend_;
  bool qrOk = false;
  int qrBitmapSide = 0;
  QImage qrBitmap;
};

}  // namespace kelvara::printing
