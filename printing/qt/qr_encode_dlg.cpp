#include "printing/qt/qr_encode_dlg.h"

#include <QApplication>
#include <QClipboard>
#include <QFrame>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>

#include "common/ui/user_prompts.h"
#include "printing/core/label_settings_form.h"
#include "printing/qt/label_printer.h"

namespace kelvara::printing {

namespace {
constexpr int kFrameSide = 200;
constexpr int kMargin = 10;
constexpr int kEditHeight = 22;
// 96 dpi, the resolution the copied picture declares.
constexpr int kDotsPerMetre = 3780;
}  // namespace

CQR_EncodeDlg::CQR_EncodeDlg(bool compact, ui::UserPrompts& prompts, QWidget* owner)
    : CXDlg(142, owner), compact_(compact), prompts_(prompts) {
  setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setAttribute(Qt::WA_ShowWithoutActivating);
  auto* text = new QLineEdit(this);
  text->setEnabled(false);
  text->setAlignment(Qt::AlignCenter);
  RegisterControl(kText, text);
  auto* picture = new QFrame(this);
  picture->setFrameShape(QFrame::NoFrame);
  picture->setAttribute(Qt::WA_TransparentForMouseEvents);
  RegisterControl(kPicture, picture);
  auto* copy = new QPushButton(this);
  copy->setAutoDefault(false);
  RegisterControl(kCopy, copy);
  connect(copy, &QPushButton::clicked, this, &CQR_EncodeDlg::OnCopy);
  auto* print = new QPushButton(this);
  print->setAutoDefault(false);
  RegisterControl(kPrint, print);
  connect(print, &QPushButton::clicked, this, &CQR_EncodeDlg::OnPrint);
  // Template layout: the code on top, the two buttons under it.
  text->setGeometry(kMargin, kMargin, kFrameSide, kEditHeight);
  picture->setGeometry(kMargin, kMargin, kFrameSide, kFrameSide);
  copy->setGeometry(kMargin, kMargin + kFrameSide + 8, (kFrameSide - 8) / 2, 28);
  print->setGeometry(kMargin + (kFrameSide + 8) / 2, kMargin + kFrameSide + 8, (kFrameSide - 8) / 2, 28);
  resize(kFrameSide + 2 * kMargin, kMargin + kFrameSide + 8 + 28 + kMargin);
  OnInitDialog();
}

bool CQR_EncodeDlg::OnInitDialog() {
  setWindowTitle(QStringLiteral("QR"));
  ShowItem(kText, compact_);
  SetItemLangText(kCopy, "COPY_QR");
  SetItemLangText(kPrint, "PRINT_QR");
  if (compact_) {
    HideControl(kCopy);
    HideControl(kPrint);
    // The picture keeps its size, centred under the text, 3 pixels below the edit's height.
    const QRect edit = Control(kText)->geometry();
    const int top = edit.height() + 3;
    MoveControl(kPicture, (width() - kFrameSide) / 2, top + kMargin, kFrameSide, kFrameSide);
    resize(width(), top + kMargin + kFrameSide + kMargin);
  }
  return true;
}

void CQR_EncodeDlg::ShowText(const QString& text) {
  if (hasText_ && text == text_) return;
  hasText_ = true;
  text_ = text;
  SetItemText(kText, text);
  qrBitmap_ = MakeQrImage(text);
  ++encodeCount_;
  qrOk_ = !qrBitmap_.isNull();
  qrBitmapSide_ = qrOk_ ? qrBitmap_.width() : 0;
  update();
}

void CQR_EncodeDlg::paintEvent(QPaintEvent* event) {
  CXDlg::paintEvent(event);
  QPainter painter(this);
  const QRect frame = Control(kPicture)->geometry();
  if (qrOk_) {
    painter.drawImage(frame, qrBitmap_);
  } else {
    painter.fillRect(frame, palette().color(QPalette::Window));
  }
}

QImage CQR_EncodeDlg::ClipboardImage() const {
  if (!qrOk_) return {};
  const QrClipboardLayout layout = QrClipboardImageLayout(qrBitmapSide_);
  QImage image = qrBitmap_.scaled(layout.side, layout.side, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                     .convertToFormat(QImage::Format_Mono);
  if (image.isNull()) return {};
  image.setDotsPerMeterX(kDotsPerMetre);
  image.setDotsPerMeterY(kDotsPerMetre);
  return image;
}

void CQR_EncodeDlg::OnCopy() {
  if (!qrOk_) return;
  const QImage image = ClipboardImage();
  if (image.isNull()) {
    prompts_.MessageBox(this, QStringLiteral("GlobalAlloc failed"), QString(), ui::PromptIcon::kWarning);
    return;
  }
  QApplication::clipboard()->setImage(image);
}

void CQR_EncodeDlg::OnPrint() {
  if (!printRequest_) return;
  QMetaObject::invokeMethod(
      this, [request = printRequest_, text = GetItemText(kText)] { request(text); }, Qt::QueuedConnection);
}

}  // namespace kelvara::printing
