#include "media/ui/dialog_preview.h"

#include <QHBoxLayout>
#include <QStyle>
#include <QToolButton>

namespace kelvara::media {

CDialogPreview::CDialogPreview(QWidget* parent)
    : QDialog(parent, Qt::Popup | Qt::FramelessWindowHint), web_(new QToolButton(this)), live_(new QToolButton(this)) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->addWidget(web_);
  layout->addWidget(live_);
  connect(web_, &QToolButton::clicked, this, [this] {
    if (online_) emit openDeviceWeb(text_);  // offline: the buttons do nothing
  });
  connect(live_, &QToolButton::clicked, this, [this] {
    if (online_) emit openDeviceLiveView(text_);
  });
  Refresh();
}

void CDialogPreview::SetInfoText(const QString& serial) {
  text_ = serial;
  setToolTip(serial);
}

void CDialogPreview::SetOnlineState(int on) {
  online_ = on != 0 ? 1 : 0;
  Refresh();
}

void CDialogPreview::Refresh() {
  // The program's icons: a globe and a camera, greyed while offline.
  web_->setIcon(style()->standardIcon(QStyle::SP_DriveNetIcon));
  live_->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
  web_->setEnabled(online_ != 0);
  live_->setEnabled(online_ != 0);
  web_->setProperty("icon_id", WebIcon());
  live_->setProperty("icon_id", LiveIcon());
}

}  // namespace kelvara::media
