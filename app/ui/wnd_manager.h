#pragma once
// The grid of 64 video panes and the window that hosts it. The live view fills
// the panes; here they exist, are laid out and carry their switches.
#include <QRect>
#include <QWidget>
#include <array>

#include "common/ui/cxdlg.h"

namespace kelvara::ui {

// One video pane.
class CWndCtrl : public QWidget {
  Q_OBJECT
 public:
  CWndCtrl(int index, QWidget* parent);
  int Index() const { return index_; }
  // When set, a left drag selects a rectangle instead of driving the camera.
  void SetMouse3DLocate(int on) { mouse_3d_locate_ = on != 0; }
  bool Mouse3DLocate() const { return mouse_3d_locate_; }
  void SetSelected(bool selected);

 signals:
  void clicked(int index);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  int index_;
  bool mouse_3d_locate_ = false;
  bool selected_ = false;
};

class CDialogVideo;

class CWndManager : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kPaneCount = 64;
  explicit CWndManager(QWidget* parent = nullptr);

  // Ignored when rows x cols exceeds 64 or either is below 1.
  void SetGrid(int rows, int cols);
  int Rows() const { return rows_; }
  int Cols() const { return cols_; }
  int PaneCountInGrid() const { return rows_ * cols_; }
  // The window that receives the grid's messages (the main window).
  void SetOwner(QObject* owner) { owner_ = owner; }
  QObject* Owner() const { return owner_; }
  void SetHostWindow(CDialogVideo* host);
  CDialogVideo* HostWindow() const { return host_; }
  void SetAreaSize(int width, int height);
  void LayoutPanes();
  CWndCtrl* GetPane(int index) const;
  int GetSelectedPane() const { return selected_; }
  void SelectPane(int index);

  // Where pane `index` goes in a rows x cols grid over width x height; the
  // last row and column take the remainder. Empty for a pane outside the grid.
  static QRect PaneRect(int index, int rows, int cols, int width, int height);

 signals:
  // The selected pane changed (the main window recolours its device's rows).
  void paneSelected(int index);
  // The 3D-positioning toggle of a pane's menu.
  void toggleMouse3DLocate();

 private:
  std::array<CWndCtrl*, kPaneCount> panes_{};
  int rows_ = 2, cols_ = 2;
  int selected_ = 0;
  int area_width_ = 0, area_height_ = 0;
  QObject* owner_ = nullptr;
  CDialogVideo* host_ = nullptr;
};

// The top-level window that shows the video grid.
class CDialogVideo : public CXDlg {
  Q_OBJECT
 public:
  CDialogVideo();
  void SetGrid(CWndManager* grid) { grid_ = grid; }
  CWndManager* Grid() const { return grid_; }
  // 0 hides the window, 5 shows it.
  void SetVisible(int show_command);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  CWndManager* grid_ = nullptr;
};

}  // namespace kelvara::ui
