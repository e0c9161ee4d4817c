#pragma once
// CButtonST: a self-drawn push button with state colours, an optional icon
// or bitmap beside its caption, a flat look with hover tracking, a tooltip,
// a hover cursor, check-box behaviour and an optional link. Base of the
// shaded buttons.
#include <QIcon>
#include <QPixmap>
#include <QPushButton>
#include <optional>

#include "controls/core/report_table.h"

namespace kelvara::controls {

class CButtonST : public QPushButton {
  Q_OBJECT
 public:
  // Result codes of the setters.
  enum Result { kOk = 0, kInvalidResource = 1, kFailedMask = 2, kInvalidIndex = 3,
                kInvalidAlign = 4, kBadParam = 5 };
  // State colour slots.
  enum ColorIndex { kBkIn = 0, kFgIn = 1, kBkOut = 2, kFgOut = 3, kBkFocus = 4, kFgFocus = 5 };
  // What the second image of SetIcon is.
  enum class SecondIcon { kNone, kGreyCopy };

  explicit CButtonST(QWidget* parent = nullptr);
  explicit CButtonST(const QString& text, QWidget* parent = nullptr);

  // Colours are 0x00BBGGRR; -1 is the theme's button face or button text.
  int SetStateColor(int index, ColorRef color, bool repaint = true);
  int GetStateColor(int index, ColorRef* color) const;
  // Adds `shift` (-255..255) to red, green and blue, reduced so that no
  // channel leaves 0..255.
  int ShiftStateColor(int index, int shift, bool repaint = true);
  int ResetColors(bool repaint = true);

  int SetFlatStyle(bool flat, bool repaint = true);
  bool IsFlatStyle() const { return flat_; }
  int SetImageAlignment(int alignment, bool repaint = true);  // 0 left, 1 above, 2 right
  int SetHoverBorder(bool on, bool repaint = true);
  int SetFlatFocusRect(bool on, bool repaint = true);
  int SetTrackAlways(bool on);
  // Check-box buttons only: a click toggles them.
  void SetCheckBox(bool on) { setCheckable(on); }
  int SetChecked(bool checked, bool repaint = true);
  bool IsChecked() const { return isCheckable() && isChecked(); }
  bool IsDefaultButton() const { return isDefault(); }
  // Opened in the desktop's browser on a click (at most 260 characters).
  int SetLink(const QString& url);
  int SetTransparent(bool repaint = true);
  int SetTipText(const QString& text, bool activate = true);
  int EnableTip(bool activate);
  int SetHoverCursor(const std::optional<QCursor>& cursor);
  // Entry 0 shows while hovered or pressed, entry 1 otherwise (when set). A
  // null first icon leaves the button without one and still gives 0.
  int SetIcon(const QIcon& icon, const QIcon& second = {});
  int SetIcon(const QIcon& icon, SecondIcon second);
  // Bitmaps drawn through masks made from their transparent colours.
  int SetBitmaps(const QPixmap& first, ColorRef first_transparent, const QPixmap& second = {},
                 ColorRef second_transparent = 0);
  bool IsHovered() const { return mouse_over_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void changeEvent(QEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

  // Background and border; the shaded buttons replace the background.
  virtual void DrawBackground(QPainter& painter, const QRect& rect);
  virtual void DrawBorder(QPainter& painter, const QRect& rect);

  QColor StateColor(int index) const;
  bool Pressed() const { return isDown() || (isCheckable() && isChecked()); }

 private:
  void Init();
  void EndHover();
  void OnClicked();
  void Repaint(bool repaint) {
    if (repaint) update();
  }

  bool show_disabled_bitmap_ = true;
  bool flat_ = true;
  bool mouse_over_ = false;
  bool transparent_ = false;
  int alignment_ = 0;
  bool hover_border_ = true;
  bool flat_focus_ = false;
  ColorRef colors_[6];
  std::optional<QCursor> hover_cursor_;
  bool track_always_ = true;
  QString link_;
  QPixmap parent_background_;
  QIcon icons_[2];
  QPixmap bitmaps_[2];
};

}  // namespace kelvara::controls
