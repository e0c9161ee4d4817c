#include "dialogs/ui/dialog_remote_cfg.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>

#include "common/ui/cxdlg.h"
#include "common/ui/window_fit.h"
#include "remote_config.h"

namespace kelvara::dialogs {

QRect RemoteCfgWindowRect(const QRect& screen) {
  const int w = std::min(screen.width(), 960), h = std::min(screen.height(), 840);
  return QRect(screen.x() + (screen.width() - w) / 2, screen.y() + (screen.height() - h) / 2, w, h);
}

CRemoteCfgDlg::CRemoteCfgDlg(RemoteCfgDevice device, std::string languageCode, QWidget* parent)
    : QDialog(parent), device_(std::move(device)), language_(std::move(languageCode)) {
  setModal(false);
  setAttribute(Qt::WA_DeleteOnClose, false);
  const QString caption = ui::CXDlg::LangText("TEXT37");
  if (!caption.isEmpty()) setWindowTitle(caption);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    setGeometry(RemoteCfgWindowRect(screen->availableGeometry()));
  ui::KeepWindowInWorkArea(*this);
  Attach();
}

CRemoteCfgDlg::~CRemoteCfgDlg() { Release(); }

void CRemoteCfgDlg::Attach() {
  if (instance_ >= 1) return;
  const QRect client = rect();
  instance_ = CFG_UC_Init(device_.address.c_str(), device_.port, device_.user.c_str(), device_.password.c_str(),
                          language_.c_str(), this, device_.channel);
  // The library's page takes the host's client rectangle (client coordinates).
  if (instance_ >= 1) CFG_UC_ShowModelessDlg(instance_, client.left(), client.top(), client.right() + 1, client.bottom() + 1);
}

void CRemoteCfgDlg::Release() {
  if (instance_ < 1) return;
  CFG_UC_ShowModelessDlg(instance_, 0, 0, 0, 0);
  CFG_UC_UnInit(instance_);
  instance_ = 0;
}

void CRemoteCfgDlg::closeEvent(QCloseEvent* event) {
  Release();
  QDialog::closeEvent(event);
}

void CRemoteCfgDlg::reject() {
  Release();
  QDialog::reject();
}

}  // namespace kelvara::dialogs
