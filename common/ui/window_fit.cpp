#include "common/ui/window_fit.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include "common/window_fit.h"

namespace kelvara::ui {
namespace {

// Watches its window's shows and its native window's exposures.
class WorkAreaKeeper : public QObject {
 public:
  explicit WorkAreaKeeper(QWidget& window) : QObject(&window), window_(&window) { window.installEventFilter(this); }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (window_ == nullptr) return false;
    if (watched == window_ && event->type() == QEvent::Show) {
      if (QWindow* handle = window_->windowHandle(); handle != nullptr && handle != handle_) {
        handle_ = handle;
        handle->installEventFilter(this);
      }
      FitWindowInWorkArea(*window_);
      framing_ = true;
    } else if (watched == handle_ && event->type() == QEvent::Expose && framing_ && handle_->isExposed()) {
      framing_ = false;
      FitWindowInWorkArea(*window_);
    }
    return false;
  }

 private:
  QPointer<QWidget> window_;
  QPointer<QWindow> handle_;
  bool framing_ = false;
};

}  // namespace

bool FitWindowInWorkArea(QWidget& window) {
  if (!window.isWindow() || !window.isVisible() || window.isMinimized() || window.isMaximized() ||
      window.isFullScreen())
    return false;
  const QRect frame = window.frameGeometry(), client = window.geometry();
  QScreen* screen = QGuiApplication::screenAt(frame.center());
  if (screen == nullptr) screen = window.screen();
  if (screen == nullptr) return false;
  const QRect work = screen->availableGeometry();
  const FrameMargins margins{client.x() - frame.x(), client.y() - frame.y(), frame.right() - client.right(),
                             frame.bottom() - client.bottom()};
  const WindowBox now{client.x(), client.y(), client.width(), client.height()};
  const WindowBox fitted = FitFrameInWorkArea(now, margins, {work.x(), work.y(), work.width(), work.height()});
  if (fitted == now) return false;
  window.setGeometry(fitted.x, fitted.y, fitted.width, fitted.height);
  return true;
}

void KeepWindowInWorkArea(QWidget& window) {
  if (window.findChild<WorkAreaKeeper*>(QString(), Qt::FindDirectChildrenOnly) == nullptr)
    new WorkAreaKeeper(window);
}

}  // namespace kelvara::ui
