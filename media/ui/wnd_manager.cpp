#include "media/ui/wnd_manager.h"

#include <QCloseEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWheelEvent>

#include "common/ui/window_fit.h"
#include "zq_player.h"

namespace kelvara::ui {

namespace {
// The program's edge and zoom cursors as the nearest standard shapes.
Qt::CursorShape CursorFor(int id) {
  switch (id) {
    case 133: case 134: return Qt::SizeHorCursor;
    case 135: case 136: return Qt::SizeVerCursor;
    case 137: case 140: return Qt::SizeFDiagCursor;
    case 138: case 139: return Qt::SizeBDiagCursor;
    case media::kCursorZoomIn: return Qt::UpArrowCursor;
    case media::kCursorZoomOut: return Qt::PointingHandCursor;
    default: return Qt::ArrowCursor;
  }
}
}  // namespace

CWndCtrl::CWndCtrl(int index, CWndManager* manager, QWidget* parent)
    : QWidget(parent), index_(index), manager_(manager), player_window_(new QWidget(this)) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
  setFocusPolicy(Qt::ClickFocus);
  player_window_->setGeometry(rect().adjusted(1, 1, -1, -1));
  player_window_->setMouseTracking(true);
  player_window_->setAttribute(Qt::WA_TransparentForMouseEvents);
  player_ = ZQ_PLAYER_CreatePlayer(player_window_);
  wheel_timer_.setSingleShot(true);
  wheel_timer_.setInterval(media::kWheelZoomStopMs);
  connect(&wheel_timer_, &QTimer::timeout, this, &CWndCtrl::OnWheelZoomStop);
  hide();
}

void CWndCtrl::SetSelected(bool selected) {
  selected_ = selected;
  update();
}

void CWndCtrl::SetCaption(const QString& caption) {
  caption_ = caption;
  if (caption.isEmpty()) update();
}

media::Box CWndCtrl::Bounds() const { return media::Box{0, 0, width(), height()}; }

void CWndCtrl::Apply(const media::MouseAction& a) {
  if (a.select) {
    manager_->SelectPane(index_);
    player_window_->setFocus();
  }
  for (int code : a.ptz) manager_->PostPtz(index_, code);
  if (a.cursor != 0) setCursor(CursorFor(a.cursor));
  if (a.start_wheel_timer) wheel_timer_.start();
  if (a.kill_wheel_timer) wheel_timer_.stop();
  if (a.locate) manager_->Post3DLocate(index_, *a.locate);
  if (a.context_menu) manager_->PostContextMenu(index_);
}

void CWndCtrl::mousePressEvent(QMouseEvent* e) {
  const QPoint p = e->position().toPoint();
  if (e->button() == Qt::LeftButton) {
    Apply(mouse_.LeftDown(Bounds(), p.x(), p.y()));
    if (mouse_.Drawing()) {
      if (band_ == nullptr) band_ = new QRubberBand(QRubberBand::Rectangle, this);
      band_->setGeometry(QRect(p, QSize(1, 1)));
      band_->show();
      band_->raise();
    }
  } else if (e->button() == Qt::RightButton) {
    Apply(mouse_.RightDown());
  }
}

void CWndCtrl::mouseMoveEvent(QMouseEvent* e) {
  const QPoint p = e->position().toPoint();
  Apply(mouse_.Move(Bounds(), p.x(), p.y()));
  if (mouse_.Drawing() && band_ != nullptr) {
    const media::Box r = mouse_.Rectangle();
    band_->setGeometry(QRect(r.left, r.top, r.width(), r.height()));
  }
}

void CWndCtrl::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  const QPoint p = e->position().toPoint();
  Apply(mouse_.LeftUp(Bounds(), p.x(), p.y()));
  if (band_ != nullptr) band_->hide();
}

void CWndCtrl::mouseDoubleClickEvent(QMouseEvent*) { manager_->ToggleFullScreen(); }

void CWndCtrl::wheelEvent(QWheelEvent* e) {
  if (e->angleDelta().y() == 0) return;
  Apply(mouse_.Wheel(e->angleDelta().y()));
}

void CWndCtrl::OnWheelZoomStop() { Apply(mouse_.WheelTimer()); }

void CWndCtrl::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) return;  // swallowed
  if (e->key() == Qt::Key_Escape) {
    emit manager_->escapePressed();
    return;
  }
  QWidget::keyPressEvent(e);  // '1' / '2' reach the grid
}

void CWndCtrl::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::black);
  p.setPen(QPen(selected_ ? QColor(255, 0, 0) : QColor(236, 233, 216), 2));
  p.drawRect(rect().adjusted(1, 1, -1, -1));
}

void CWndCtrl::resizeEvent(QResizeEvent*) { player_window_->setGeometry(rect().adjusted(1, 1, -1, -1)); }

CWndManager::CWndManager(QWidget* parent) : QWidget(parent) {
  for (int i = 0; i < kPaneCount; ++i) panes_[static_cast<size_t>(i)] = new CWndCtrl(i, this, this);
  panes_[0]->SetSelected(true);
  setFocusPolicy(Qt::StrongFocus);
}

void CWndManager::SetGrid(int rows, int cols) {
  if (!media::GridAccepted(rows, cols)) return;
  rows_ = rows;
  cols_ = cols;
  LayoutPanes();
}

void CWndManager::SetHostWindow(CDialogVideo* host) {
  if (host != nullptr) host_ = host;
  setParent(host);
}

void CWndManager::SetAreaSize(int width, int height) {
  area_width_ = width;
  area_height_ = height;
}

QRect CWndManager::PaneRect(int index, int rows, int cols, int width, int height) {
  const media::PaneRect r = media::LayoutPane(index, rows, cols, width, height);
  if (r.width <= 0 || r.height <= 0) return {};
  return {r.left, r.top, r.width, r.height};
}

void CWndManager::LayoutPanes() {
  for (auto* pane : panes_) pane->hide();
  const int w = full_screen_ ? width() : (area_width_ > 0 ? area_width_ : width());
  const int h = full_screen_ ? height() : (area_height_ > 0 ? area_height_ : height());
  for (int i = 0; i < rows_ * cols_; ++i) {
    panes_[static_cast<size_t>(i)]->setGeometry(PaneRect(i, rows_, cols_, w, h));
    panes_[static_cast<size_t>(i)]->show();
  }
}

CWndCtrl* CWndManager::GetPane(int index) const {
  return index >= 0 && index < kPaneCount ? panes_[static_cast<size_t>(index)] : nullptr;
}

long CWndManager::GetPanePlayer(int index) const {
  return index >= 0 && index < kPaneCount ? panes_[static_cast<size_t>(index)]->Player() : 0;
}

void CWndManager::SelectPane(int index) {
  if (index < 0 || index >= kPaneCount) return;
  panes_[static_cast<size_t>(selected_)]->SetSelected(false);
  selected_ = index;
  panes_[static_cast<size_t>(selected_)]->SetSelected(true);
  emit paneSelected(index);
}

void CWndManager::SelectPaneByPlayer(long player) {
  for (int i = 0; i < kPaneCount; ++i)
    if (panes_[static_cast<size_t>(i)]->Player() == player) {
      SelectPane(i);
      return;
    }
}

int CWndManager::FindFreePane() {
  std::array<bool, media::kPaneCount> occupied{};
  for (int i = 0; i < kPaneCount; ++i) occupied[static_cast<size_t>(i)] = !panes_[static_cast<size_t>(i)]->Caption().isEmpty();
  return media::FindFreePane(occupied, rows_ * cols_, free_counter_);
}

void CWndManager::SetPaneCaption(int index, const QString* text) {
  if (CWndCtrl* pane = GetPane(index)) pane->SetCaption(text != nullptr ? *text : QString());
}

void CWndManager::ClearAllCaptions() {
  for (auto* pane : panes_) pane->SetCaption(QString());
}

QString CWndManager::GetPaneCaption(int index) const {
  const CWndCtrl* pane = GetPane(index);
  return pane != nullptr ? pane->Caption() : QString();
}

int CWndManager::GetSelectedCaption(QString& out) const {
  if (selected_ < 0) return -1;
  out = GetPaneCaption(selected_);
  return out.isEmpty() ? -2 : 0;
}

void CWndManager::ShowOnlyPane(int index) {
  CWndCtrl* only = GetPane(index);
  if (only == nullptr) return;
  for (auto* pane : panes_)
    if (pane != only) pane->hide();
  only->setGeometry(rect());
  only->show();
}

void CWndManager::ToggleFullScreen() {
  if (!full_screen_) {
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (screen == nullptr) screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    saved_geometry_ = geometry();
    full_screen_ = true;
    setParent(nullptr);  // a top-level window on that monitor
    setWindowFlag(Qt::FramelessWindowHint);
    setGeometry(screen->geometry());
    show();
    ShowOnlyPane(selected_);
    emit fullScreenChanged(selected_, 1);
  } else {
    full_screen_ = false;
    setParent(host_);
    setWindowFlag(Qt::FramelessWindowHint, false);
    setGeometry(saved_geometry_);
    show();
    LayoutPanes();
    emit fullScreenChanged(selected_, 0);
  }
}

void CWndManager::keyPressEvent(QKeyEvent* e) {
  switch (e->key()) {
    case Qt::Key_1: emit streamWanted(selected_, 1); return;
    case Qt::Key_2: emit streamWanted(selected_, 0); return;
    case Qt::Key_Return:
    case Qt::Key_Enter: return;
    case Qt::Key_Escape: emit escapePressed(); return;
    default: QWidget::keyPressEvent(e);
  }
}

void CWndManager::mouseDoubleClickEvent(QMouseEvent*) { ToggleFullScreen(); }

void CWndManager::resizeEvent(QResizeEvent*) {
  if (full_screen_) ShowOnlyPane(selected_);
}

CDialogVideo::CDialogVideo() : CXDlg(135, nullptr) {
  setWindowFlag(Qt::Window);
  // Its place comes from the settings or from the layout of a two-channel
  // camera: frame and title bar are kept on the screen at every show.
  KeepWindowInWorkArea(*this);
}

void CDialogVideo::SetVisible(int show_command) {
  show_command_ = show_command;
  if (show_command == 0) {
    hide();
  } else {
    if (show_command == 9) showNormal();
    show();
    // A window shown already gets no show event: one placed anew while open
    // is fitted here.
    FitWindowInWorkArea(*this);
    // Shown over whatever hides it (the main window, most often), under a
    // window manager too: show() alone leaves an open window where it is.
    raise();
    activateWindow();
  }
}

void CDialogVideo::Reshow() {
  if (show_command_ != 0) SetVisible(show_command_);
}

void CDialogVideo::resizeEvent(QResizeEvent* event) {
  CXDlg::resizeEvent(event);
  if (grid_ != nullptr && !grid_->IsFullScreen()) {
    grid_->SetAreaSize(std::max(1, width() - 1), std::max(1, height() - 1));
    grid_->setGeometry(0, 0, width(), height());
    grid_->LayoutPanes();
  }
  emit placementChanged(ClientRectangle());
}

void CDialogVideo::moveEvent(QMoveEvent* event) {
  CXDlg::moveEvent(event);
  emit placementChanged(ClientRectangle());
}

// The client area, as the window is placed (setGeometry) at the next start:
// x() and y() are the frame's corner, which would move the window down by its
// title bar at every start.
QRect CDialogVideo::ClientRectangle() const {
  const QRect g = geometry();
  return QRect(g.topLeft(), QPoint(g.x() + g.width(), g.y() + g.height()));
}

void CDialogVideo::closeEvent(QCloseEvent* event) {
  emit closed();
  CXDlg::closeEvent(event);
}

void CDialogVideo::mouseDoubleClickEvent(QMouseEvent*) {
  if (grid_ != nullptr && grid_->IsFullScreen()) grid_->ToggleFullScreen();
}

}  // namespace kelvara::ui
