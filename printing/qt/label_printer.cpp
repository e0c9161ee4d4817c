#include "printing/qt/label_printer.h"

#include <QFont>
#include <QPainter>
#include <QPrinter>
#include <functional>

#include "printing/core/label_geometry.h"
#include "printing/core/qr_encode.h"

namespace kelvara::printing {
namespace {

QRect ToQRect(const PixelRect& r) { return QRect(QPoint(r.left, r.top), QSize(r.Width(), r.Height())); }

QFont LabelFont(int pixelHeight, int weight) {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(pixelHeight > 0 ? pixelHeight : 1);
  font.setWeight(QFont::Weight(weight < 1 ? 1 : weight > 1000 ? 1000 : weight));
  font.setStyleStrategy(QFont::PreferQuality);
  return font;
}

// Draws one page on the backend's printer. The document is named "printer".
// Returns 1 when the page was printed, 0 when there is no printer or the
// document could not be started or finished.
int PrintPage(LabelPrintBackend& backend, const std::function<void(QPainter&, const PageScale&)>& draw) {
  std::unique_ptr<QPrinter> printer = backend.OpenPrinter();
  if (!printer) return 0;
  printer->setDocName(QStringLiteral("printer"));
  QPainter painter;
  if (!painter.begin(printer.get())) return 0;
  const PageScale scale(printer->logicalDpiX(), printer->logicalDpiY());
  painter.save();
  draw(painter, scale);
  painter.restore();
  if (!painter.end()) return 0;
  return printer->printerState() == QPrinter::Error || printer->printerState() == QPrinter::Aborted ? 0 : 1;
}

}  // namespace

CLabelPrinter::CLabelPrinter(const CTipsConfig& tips, std::unique_ptr<LabelPrintBackend> backend,
                             std::filesystem::path layoutFile)
    : QrLabelLayout(std::move(layoutFile)),
      tips_(tips),
      backend_(backend ? std::move(backend) : std::make_unique<DefaultPrinterBackend>()) {}

QImage MakeQrImage(const QString& text) {
  if (text.isEmpty()) return {};
  const QByteArray bytes = text.toUtf8();
  auto qr = std::make_unique<CQR_Encode>();
  if (!qr->Encode(0, 0, true, -1, bytes.constData(), int(bytes.size()), QrInputCharset::kBytes)) return {};
  const int side = qr->SymbolSize() + 4;
  QImage image(side, side, QImage::Format_Mono);
  image.setColorCount(2);
  image.setColor(0, qRgb(255, 255, 255));
  image.setColor(1, qRgb(0, 0, 0));
  image.fill(0);
  for (int x = 0; x < qr->SymbolSize(); ++x)
    for (int y = 0; y < qr->SymbolSize(); ++y)
      if (qr->IsDark(x, y)) image.setPixel(x + 2, y + 2, 1);
  return image;
}

void CLabelPrinter::MakeQrBitmap(const QString& text) {
  if (text.isEmpty()) return;
  qrBitmap = MakeQrImage(text);
  qrOk = !qrBitmap.isNull();
  qrBitmapSide = qrOk ? qrBitmap.width() : 0;
}

int CLabelPrinter::PrintQrLabel(const QString& qrText, const QString& labelText) {
  if (qrText.isEmpty() || labelText.isEmpty()) return 0;
  MakeQrBitmap(qrText);
  if (!qrOk) return 0;
  const std::u32string codePoints = labelText.toStdU32String();
  const auto lines = SplitLabelText(codePoints);
  const QString line1 = QString::fromStdU32String(lines[0]);
  const QString line2 = QString::fromStdU32String(lines[1]);
  return PrintPage(*backend_, [&](QPainter& painter, const PageScale& scale) {
    const QFont font = LabelFont(fontsize, 800);
    for (const QrLabelPlacement& label : PlaceQrLabelPair(*this, scale)) {
      painter.fillRect(ToQRect(label.label), QColor(222, 222, 222));
      painter.drawImage(ToQRect(label.qr), qrBitmap);
      painter.setFont(font);
      painter.setPen(Qt::black);
      const int flags = Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine;
      painter.drawText(ToQRect(label.line1), flags, line1);
      painter.drawText(ToQRect(label.line2), flags, line2);
    }
  });
}

int CLabelPrinter::PrintDeviceLabel(const QString& qrText, const QString& serialText, const QString& macText) {
  if (qrText.isEmpty()) return 0;
  if (tips_.m_bSnEnable == 1 && serialText.isEmpty()) return 0;
  if (tips_.m_bMacEnable == 1 && macText.isEmpty()) return 0;
  MakeQrBitmap(qrText);
  if (!qrOk) return 0;
  return PrintPage(*backend_, [&](QPainter& painter, const PageScale& scale) {
    painter.setBackgroundMode(Qt::TransparentMode);
    painter.setPen(Qt::black);
    for (const DeviceLabelPlacement& label :
         PlaceDeviceLabels(tips_, scale, serialText.toStdString(), macText.toStdString())) {
      painter.drawImage(ToQRect(label.qr), qrBitmap);
      for (const TextPlacement& t : label.texts) {
        painter.setFont(LabelFont(t.fontHeight, t.weight));
        painter.drawText(ToQRect(t.rect), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                         QString::fromStdString(t.text));
      }
    }
  });
}

}  // namespace kelvara::printing
