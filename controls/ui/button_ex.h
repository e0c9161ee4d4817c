#pragma once
// CButtonEx: a plain self-drawn button with a black frame and two
// background colours, normal and pressed. Until set, both follow the theme's
// button colour (never black on black).
#include <QPushButton>

#include "controls/core/report_table.h"

namespace kelvara::controls {

class CButtonEx : public QPushButton {
  Q_OBJECT
 public:
  using QPushButton::QPushButton;

  // 0x00BBGGRR, -1 for the theme colour; no repaint of their own.
  void SetPressedBkColor(ColorRef color) { pressed_color_ = color < 0 ? kSystemColor : color; }
  void SetBkColor(ColorRef color) { normal_color_ = color < 0 ? kSystemColor : color; }
  ColorRef PressedBkColor() const { return pressed_color_; }
  ColorRef BkColor() const { return normal_color_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor Resolve(ColorRef color) const;

  ColorRef pressed_color_ = kSystemColor;
  ColorRef normal_color_ = kSystemColor;
};

}  // namespace kelvara::controls
