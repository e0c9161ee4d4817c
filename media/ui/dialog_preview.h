#pragma once
// CDialogPreview: the small popup of a device row with two buttons, the web
// page and the live view, whose icons show whether the device is online.
#include <QDialog>
#include <QString>
#include <functional>

class QToolButton;

namespace kelvara::media {

class CDialogPreview : public QDialog {
  Q_OBJECT
 public:
  explicit CDialogPreview(QWidget* parent = nullptr);
  void SetInfoText(const QString& serial);
  QString InfoText() const { return text_; }
  void SetOnlineState(int on);
  int OnlineState() const { return online_; }
  // The icon resource each button shows: 1087 146 / 151, 1088 147 / 150.
  int WebIcon() const { return online_ ? 146 : 151; }
  int LiveIcon() const { return online_ ? 147 : 150; }
  QToolButton* WebButton() const { return web_; }
  QToolButton* LiveButton() const { return live_; }

 signals:
  void openDeviceWeb(QString serial);       // WM_OPEN_DEVICE_WEB
  void openDeviceLiveView(QString serial);  // WM_OPEN_DEVICE_LIVE_VIEW

 private:
  void Refresh();
  QToolButton* web_;
  QToolButton* live_;
  QString text_;
  int online_ = 1;
};

}  // namespace kelvara::media
