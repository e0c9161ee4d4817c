#pragma once
// The host window of the remote-configuration library for one video pane's
// device (modeless). Opening attaches the library, which logs in on its own
// thread; closing hides and releases the instance once.
#include <QDialog>
#include <QRect>
#include <QSize>
#include <string>

namespace kelvara::dialogs {

// What the window needs of the pane's live-view record.
struct RemoteCfgDevice {
  std::string address;
  int port = 0;
  std::string user;
  std::string password;
  unsigned short channel = 0;
};

// The window's rectangle in a screen's work area: at most 960 x 840, centred
// (the frame then goes inside it as well).
QRect RemoteCfgWindowRect(const QRect& screen);

class CRemoteCfgDlg : public QDialog {
  Q_OBJECT
 public:
  CRemoteCfgDlg(RemoteCfgDevice device, std::string languageCode, QWidget* parent = nullptr);
  ~CRemoteCfgDlg() override;
  int Instance() const { return instance_; }
  // Attaches the library (when no instance is held); done on opening.
  void Attach();
  // Hides and releases the instance; a second call does nothing.
  void Release();

 protected:
  void closeEvent(QCloseEvent* event) override;
  // Escape hides the window as the close box does, and releases the library
  // with it, so no hidden instance keeps its login to the device.
  void reject() override;

 private:
  RemoteCfgDevice device_;
  std::string language_;
  int instance_ = 0;
};

}  // namespace kelvara::dialogs
