#include "controls/ui/button_ex.h"

#include <QPainter>

namespace kelvara::controls {

QColor CButtonEx::Resolve(ColorRef color) const {
  if (color == kSystemColor) return palette().color(QPalette::Button);
  return QColor(ColorRed(color), ColorGreen(color), ColorBlue(color));
}

void CButtonEx::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QRect r = rect();
  painter.setPen(Qt::black);
  painter.drawRect(r.adjusted(0, 0, -1, -1));
  r.adjust(1, 1, -1, -1);
  const bool pressed = isDown() || (isCheckable() && isChecked());
  const QColor face = Resolve(pressed ? pressed_color_ : normal_color_);
  painter.fillRect(r, face);
  const QColor text_color =
      palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText);
  painter.setPen(text_color);
  const int flags = Qt::AlignCenter | Qt::TextSingleLine | Qt::TextExpandTabs;
  painter.drawText(pressed ? r.adjusted(1, 1, 0, 0) : r, flags, text());
  if (pressed) {
    const QColor normal = Resolve(normal_color_);
    painter.setPen(QColor(255 - normal.red(), 255 - normal.green(), 255 - normal.blue()));
    painter.drawRect(r.adjusted(0, 0, -1, -1));
  }
}

}  // namespace kelvara::controls
