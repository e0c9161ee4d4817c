#include "app/ui/wnd_manager.h"

#include <QMouseEvent>
#include <QPainter>

namespace kelvara::ui {

CWndCtrl::CWndCtrl(int index, QWidget* parent) : QWidget(parent), index_(index) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  hide();
}

void CWndCtrl::SetSelected(bool selected) {
  selected_ = selected;
  update();
}

void CWndCtrl::mousePressEvent(QMouseEvent* event) {
  emit clicked(index_);
  QWidget::mousePressEvent(event);
}

void CWndCtrl::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::black);
  p.setPen(selected_ ? QColor(0, 245, 255) : QColor(80, 80, 80));
  p.drawRect(rect().adjusted(0, 0, -1, -1));
}

CWndManager::CWndManager(QWidget* parent) : QWidget(parent) {
  for (int i = 0; i < kPaneCount; ++i) {
    panes_[i] = new CWndCtrl(i, this);
    connect(panes_[i], &CWndCtrl::clicked, this, &CWndManager::SelectPane);
  }
  panes_[0]->SetSelected(true);
}

void CWndManager::SetGrid(int rows, int cols) {
  if (rows < 1 || cols < 1 || rows * cols > kPaneCount) return;
  rows_ = rows;
  cols_ = cols;
  LayoutPanes();
}

void CWndManager::SetHostWindow(CDialogVideo* host) {
  host_ = host;
  if (host != nullptr) setParent(host);
}

void CWndManager::SetAreaSize(int width, int height) {
  area_width_ = width;
  area_height_ = height;
}

QRect CWndManager::PaneRect(int index, int rows, int cols, int width, int height) {
  if (rows < 1 || cols < 1 || index < 0 || index >= rows * cols) return {};
  const int r = index / cols, c = index % cols;
  const int w = width / cols, h = height / rows;
  const int x = c * w, y = r * h;
  const int pw = c == cols - 1 ? width - x : w;
  const int ph = r == rows - 1 ? height - y : h;
  return {x, y, pw, ph};
}

void CWndManager::LayoutPanes() {
  for (auto* pane : panes_) pane->hide();
  const int w = area_width_ > 0 ? area_width_ : width();
  const int h = area_height_ > 0 ? area_height_ : height();
  for (int i = 0; i < rows_ * cols_; ++i) {
    panes_[i]->setGeometry(PaneRect(i, rows_, cols_, w, h));
    panes_[i]->show();
  }
}

CWndCtrl* CWndManager::GetPane(int index) const {
  return index >= 0 && index < kPaneCount ? panes_[index] : nullptr;
}

void CWndManager::SelectPane(int index) {
  if (index < 0 || index >= kPaneCount) return;
  panes_[selected_]->SetSelected(false);
  selected_ = index;
  panes_[selected_]->SetSelected(true);
  emit paneSelected(index);
}

CDialogVideo::CDialogVideo() : CXDlg(135, nullptr) { setWindowFlag(Qt::Window); }

void CDialogVideo::SetVisible(int show_command) { setVisible(show_command != 0); }

void CDialogVideo::resizeEvent(QResizeEvent* event) {
  CXDlg::resizeEvent(event);
  if (grid_ != nullptr) {
    grid_->SetAreaSize(width() - 1, height() - 1);
    grid_->setGeometry(0, 0, width(), height());
    grid_->LayoutPanes();
  }
}

}  // namespace kelvara::ui
