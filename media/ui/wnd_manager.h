#pragma once
// The grid of 64 video panes and the window that hosts it. Each pane owns a
// player of the player library drawing into the pane's player window; mouse
// gestures on a pane become PTZ commands (media/core/pane_mouse). The grid
// never talks to a device: it emits signals that the live view receives
// queued, as the main window's private messages.
#include <QPointer>
#include <QRect>
#include <QRubberBand>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <array>

#include "common/ui/cxdlg.h"
#include "media/core/pane_grid.h"
#include "media/core/pane_mouse.h"

namespace kelvara::ui {

class CWndManager;

// One video pane.
class CWndCtrl : public QWidget {
  Q_OBJECT
 public:
  CWndCtrl(int index, CWndManager* manager, QWidget* parent);
  int Index() const { return index_; }
  void SetMouse3DLocate(int on) { mouse_.SetMouse3DLocate(on != 0); }
  bool Mouse3DLocate() const { return mouse_.Mouse3DLocate(); }
  void SetSelected(bool selected);
  long Player() const { return player_; }
  QWidget* PlayerWindow() const { return player_window_; }
  const QString& Caption() const { return caption_; }
  void SetCaption(const QString& caption);

  // The wheel's stop timer (TIMER_WHEEL_ZOOM_STOP), callable from tests.
  void OnWheelZoomStop();
  bool WheelTimerActive() const { return wheel_timer_.isActive(); }

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Apply(const media::MouseAction& action);
  media::Box Bounds() const;

  const int index_;
  CWndManager* manager_;
  QWidget* player_window_;
  long player_ = 0;
  QString caption_;
  bool selected_ = false;
  media::PaneMouse mouse_;
  QTimer wheel_timer_;
  QRubberBand* band_ = nullptr;
};

class CDialogVideo;

class CWndManager : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kPaneCount = media::kPaneCount;
  explicit CWndManager(QWidget* parent = nullptr);

  // Ignored when rows x cols exceeds 64 or either is below 1.
  void SetGrid(int rows, int cols);
  int Rows() const { return rows_; }
  int Cols() const { return cols_; }
  int PaneCountInGrid() const { return rows_ * cols_; }
  int GetPaneCount() const { return rows_ * cols_; }
  // The window that receives the grid's messages (kept for the owner's sake;
  // the messages are the signals below).
  void SetOwner(QObject* owner) { owner_ = owner; }
  QObject* Owner() const { return owner_; }
  void SetHostWindow(CDialogVideo* host);
  CDialogVideo* HostWindow() const { return host_; }
  void SetAreaSize(int width, int height);
  void LayoutPanes();
  CWndCtrl* GetPane(int index) const;
  long GetPanePlayer(int index) const;
  int GetSelectedPane() const { return selected_; }
  void SelectPane(int index);
  void SelectPaneByPlayer(long player);
  int FindFreePane();
  void SetPaneCaption(int index, const QString* text);
  void ClearAllCaptions();
  QString GetPaneCaption(int index) const;
  int GetSelectedCaption(QString& out) const;
  void ShowOnlyPane(int index);
  bool IsFullScreen() const { return full_screen_; }
  // Double click: full screen on the monitor under the cursor, or back.
  void ToggleFullScreen();

  static QRect PaneRect(int index, int rows, int cols, int width, int height);

  // Pane side (called by the panes).
  void PostPtz(int pane, int code) { emit ptzCommand(pane, code); }
  void Post3DLocate(int pane, unsigned packed) { emit ptz3DLocate(pane, packed); }
  void PostContextMenu(int pane) { emit contextMenuRequested(pane); }

 signals:
  void paneSelected(int index);                 // 0x1402
  void ptzCommand(int pane, int code);          // 0x1403
  void ptz3DLocate(int pane, unsigned packed);  // 0x1411
  void fullScreenChanged(int pane, int entered);  // 0x1401
  void streamWanted(int pane, int main);        // keys '1' / '2' (0x1409)
  void contextMenuRequested(int pane);          // 0x1433
  void escapePressed();
  void toggleMouse3DLocate();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  std::array<CWndCtrl*, kPaneCount> panes_{};
  int rows_ = 2, cols_ = 2;
  int selected_ = 0;
  int area_width_ = 0, area_height_ = 0;
  int free_counter_ = 0;
  bool full_screen_ = false;
  QRect saved_geometry_;
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
  // 0 hides the window, 5 shows it, 9 restores it; shown or restored, it
  // is raised and activated.
  void SetVisible(int show_command);
  void Reshow();

 signals:
  void closed();                           // 0x1406
  void placementChanged(QRect rectangle);  // 0x140A: the client area's left, top, right, bottom

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  QRect ClientRectangle() const;

  CWndManager* grid_ = nullptr;
  int show_command_ = 0;
};

}  // namespace kelvara::ui
