#pragma once
// Common base of the program's dialogs: a background colour, controls found by
// their fixed ids, a row-by-row layout cursor for pages built in code (labels,
// controls, group boxes placed top to bottom) with scrolling when the content
// is taller or wider than the window, and short helpers for the controls every
// page uses. A missing control is silently skipped unless a result is given.
#include <QColor>
#include <QDialog>
#include <QSize>
#include <QString>
#include <map>
#include <string>

class QComboBox;
class QScrollBar;
class QSlider;

namespace kelvara::ui {

class CXDlg : public QDialog {
  Q_OBJECT
 public:
  // template_id names the dialog (kept for the dialog's own code); parent may be null.
  explicit CXDlg(int template_id, QWidget* parent = nullptr);
  ~CXDlg() override;

  int TemplateId() const { return template_id_; }
  static QColor BackgroundColor() { return QColor(0xE6, 0xE5, 0xE3); }

  // Control registry: every control a dialog addresses by id.
  void RegisterControl(int id, QWidget* control);
  QWidget* Control(int id) const;
  template <class T>
  T* ControlAs(int id) const { return qobject_cast<T*>(Control(id)); }
  const std::map<int, QWidget*>& Controls() const { return controls_; }

  // Layout cursor.
  virtual int SendMessageToParent(int message, long long wparam, long long lparam);
  virtual int ShowControls(const int* ids, int count, bool show);
  virtual int SetLayoutTop(int y);
  virtual int AdvanceLayoutTop(int dy);
  virtual int PlaceControl(int id, int width, int x);
  virtual int PlaceControlPair(int label_id, int control_id, int dy, int label_width, int control_width, int x);
  virtual int PlaceControlPairAtMargin(int label_id, int control_id, int dy, int label_width, int control_width);
  virtual int BeginGroupBox(int id, int x, int y);
  virtual int EndGroupBox(int id, int width);
  int LayoutTop() const { return row_top_; }
  int NextX() const { return next_x_; }

  // A row of the row helpers: label, control and up to five extras; ids <= 0 mean none.
  struct LayoutRow {
    int label = 0, control = 0, extra[5] = {0, 0, 0, 0, 0};
  };
  void EnableRows(int start, const LayoutRow* rows, int count, bool enable);
  void HideRows(const LayoutRow* rows, int count);
  void LayoutRows2(const LayoutRow* rows, int count, int label_w, int control_w, int extra1_w, int extra2_w,
                   int disable, int hide_extras);
  void LayoutRows5(const LayoutRow* rows, int count, int label_w, int control_w, const int extra_w[5],
                   int disable, int hide_extras);

  // Scrolling: pages set their content size after laying out (its lists,
  // spin boxes and sliders then take the wheel only while focused; otherwise
  // it scrolls the page); the window
  // shows a vertical bar when the content is taller than the room beside the
  // bars and a horizontal bar when it is wider. Controls move with the
  // offsets; layout helpers place rows for an unscrolled page (scroll to 0,0
  // before laying out again, then restore the offsets).
  void SetContentSize(int width, int height);
  int ContentHeight() const { return content_height_; }
  int ContentWidth() const { return content_width_; }
  int ScrollOffset() const { return scroll_y_; }
  int HorizontalOffset() const { return scroll_x_; }
  void ScrollTo(int y);
  void ScrollToX(int x);
  // The window less the scroll bars it shows.
  QSize ClientSize() const;

  // Control helpers.
  void ShowControl(int id);
  void HideControl(int id);
  void ShowControlPair(int id1, int id2);
  void HideControlPair(int id1, int id2);
  void ShowItem(int id, bool show);
  void EnableItem(int id, bool enable);
  int EnableControl(int id, bool enable);  // previous disabled state; 0 when missing
  void MoveControl(int id, int x, int y, int width, int height, bool repaint = true);
  int IsPushButton(int id) const;
  void CenterEditText(int id);
  void SetItemText(int id, const QString& text);
  void SetItemTextA(int id, const char* local_text);
  void SetItemUInt(int id, unsigned value);
  void SetItemLangText(int id, const char* key);
  int SetItemLangTextIfAny(int id, const char* key);
  static QString LangText(const char* key);
  QString GetItemText(int id) const;
  void SetCheck(int id, int value);
  int GetCheck(int id) const;
  void ResetCombo(int id);
  void AddComboString(int id, const QString& text, bool select);
  void AddComboLangString(int id, const char* key, bool select);
  void AddComboItem(int id, const QString& text, long long data, bool select);
  void AddComboLangItem(int id, const char* key, long long data, bool select);
  int GetComboCount(int id) const;
  int GetComboSel(int id) const;
  int SetComboSel(int id, int index);
  long long GetComboSelData(int id) const;
  void SelectComboByData(int id, long long data);
  int SelectComboByText(int id, const QString& text);
  void DeleteSelectedComboItem(int id);
  void DeleteComboString(int id, const QString& text);
  void InitSlider(int id, int minimum, int maximum, int position);
  void SetSliderPos(int position, int slider_id, int number_id);
  int GetSliderPos(int id) const;
  int SetButtonBkColor(QWidget* button);

 protected:
  // Where PlaceControlPairAtMargin puts a row's label (10 until changed);
  // pages with side-by-side group boxes move it per box.
  void SetLeftMargin(int x) { left_margin_ = x; }
  void resizeEvent(QResizeEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  // What the vertical bar's arrows and a click beside its thumb move (the
  // thumb always stands for the client height): a row and the client height
  // unless a page says otherwise.
  virtual int VerticalLineStep(int /*client_height*/) const { return 25; }
  virtual int VerticalPageStep(int client_height) const { return client_height; }

 private:
  void UpdateScrollBar();
  void MoveChildren(int dx, int dy);

  int template_id_;
  std::map<int, QWidget*> controls_;
  int row_top_ = 0;
  int next_x_ = 0;
  int left_margin_ = 10;
  std::map<int, int> group_tops_;
  int content_width_ = 0;
  int content_height_ = 0;
  int scroll_y_ = 0;
  int scroll_x_ = 0;
  QScrollBar* scroll_bar_ = nullptr;
  QScrollBar* hscroll_bar_ = nullptr;
  QObject* wheel_to_page_ = nullptr;
};

// The least width a window needs for its whole title in the frame a window
// manager draws (which elides a title the window is too narrow for).
int TitleFitWidth(const QString& title);

}  // namespace kelvara::ui
