#include "controls/ui/button_st.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QUrl>
#include <algorithm>

namespace kelvara::controls {
namespace {

QColor ToQColor(ColorRef c) { return QColor(ColorRed(c), ColorGreen(c), ColorBlue(c)); }
ColorRef ToColorRef(const QColor& c) { return MakeColorRef(c.red(), c.green(), c.blue()); }

// A monochrome mask of every pixel that is not the transparent colour.
QPixmap Masked(const QPixmap& pixmap, ColorRef transparent) {
  if (pixmap.isNull()) return {};
  QPixmap out = pixmap;
  out.setMask(pixmap.createMaskFromColor(ToQColor(transparent), Qt::MaskInColor));
  return out;
}

}  // namespace

CButtonST::CButtonST(QWidget* parent) : QPushButton(parent) { Init(); }

CButtonST::CButtonST(const QString& text, QWidget* parent) : QPushButton(text, parent) { Init(); }

void CButtonST::Init() {
  std::fill(std::begin(colors_), std::end(colors_), kSystemColor);
  setAttribute(Qt::WA_Hover, true);
  connect(this, &QPushButton::clicked, this, &CButtonST::OnClicked);
}

QColor CButtonST::StateColor(int index) const {
  const ColorRef c = colors_[index];
  if (c != kSystemColor) return ToQColor(c);
  return index % 2 == 0 ? palette().color(QPalette::Button) : palette().color(QPalette::ButtonText);
}

int CButtonST::SetStateColor(int index, ColorRef color, bool repaint) {
  if (index < 0 || index > 5) return kInvalidIndex;
  colors_[index] = color < 0 ? kSystemColor : color;
  Repaint(repaint);
  return kOk;
}

int CButtonST::GetStateColor(int index, ColorRef* color) const {
  if (index < 0 || index > 5) return kInvalidIndex;
  if (color) *color = ToColorRef(StateColor(index));
  return kOk;
}

int CButtonST::ShiftStateColor(int index, int shift, bool repaint) {
  if (index < 0 || index > 5) return kInvalidIndex;
  if (shift < -255 || shift > 255) return kBadParam;
  const QColor c = StateColor(index);
  const int r = c.red(), g = c.green(), b = c.blue();
  if (shift > 0) shift = std::min(shift, 255 - std::max({r, g, b}));
  if (shift < 0) shift = std::max(shift, -std::min({r, g, b}));
  colors_[index] = MakeColorRef(r + shift, g + shift, b + shift);
  Repaint(repaint);
  return kOk;
}

int CButtonST::ResetColors(bool repaint) {
  std::fill(std::begin(colors_), std::end(colors_), kSystemColor);
  Repaint(repaint);
  return kOk;
}

int CButtonST::SetFlatStyle(bool flat, bool repaint) {
  flat_ = flat;
  if (!flat) mouse_over_ = false;
  Repaint(repaint);
  return kOk;
}

int CButtonST::SetImageAlignment(int alignment, bool repaint) {
  if (alignment < 0 || alignment > 2) return kInvalidAlign;
  alignment_ = alignment;
  Repaint(repaint);
  return kOk;
}

int CButtonST::SetHoverBorder(bool on, bool repaint) {
  hover_border_ = on;
  Repaint(repaint);
  return kOk;
}

int CButtonST::SetFlatFocusRect(bool on, bool repaint) {
  flat_focus_ = on;
  Repaint(repaint);
  return kOk;
}

int CButtonST::SetTrackAlways(bool on) {
  track_always_ = on;
  return kOk;
}

int CButtonST::SetChecked(bool checked, bool repaint) {
  if (isCheckable()) setChecked(checked);
  Repaint(repaint);
  return kOk;
}

int CButtonST::SetLink(const QString& url) {
  link_ = url.left(260);
  return kOk;
}

int CButtonST::SetTransparent(bool repaint) {
  transparent_ = true;
  parent_background_ = {};
  Repaint(repaint);
  return kOk;
}

int CButtonST::SetTipText(const QString& text, bool activate) {
  setToolTip(activate ? text : QString());
  setProperty("kelvaraTip", text);
  return kOk;
}

int CButtonST::EnableTip(bool activate) {
  setToolTip(activate ? property("kelvaraTip").toString() : QString());
  return kOk;
}

int CButtonST::SetHoverCursor(const std::optional<QCursor>& cursor) {
  hover_cursor_ = cursor;
  if (cursor) {
    setCursor(*cursor);
  } else {
    unsetCursor();
  }
  return kOk;
}

int CButtonST::SetIcon(const QIcon& icon, const QIcon& second) {
  icons_[0] = icons_[1] = {};
  bitmaps_[0] = bitmaps_[1] = {};
  if (icon.isNull()) return kOk;
  if (icon.availableSizes().isEmpty() && icon.pixmap(32).isNull()) return kInvalidResource;
  icons_[0] = icon;
  icons_[1] = second;
  update();
  return kOk;
}

int CButtonST::SetIcon(const QIcon& icon, SecondIcon second) {
  if (second == SecondIcon::kNone || icon.isNull()) return SetIcon(icon, QIcon());
  const QSize size = icon.availableSizes().value(0, QSize(32, 32));
  QImage grey = icon.pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < grey.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(grey.scanLine(y));
    for (int x = 0; x < grey.width(); ++x) {
      const int v = qGray(line[x]);
      line[x] = qRgba(v, v, v, qAlpha(line[x]));
    }
  }
  return SetIcon(icon, QIcon(QPixmap::fromImage(grey)));
}

int CButtonST::SetBitmaps(const QPixmap& first, ColorRef first_transparent, const QPixmap& second,
                          ColorRef second_transparent) {
  icons_[0] = icons_[1] = {};
  bitmaps_[0] = bitmaps_[1] = {};
  if (first.isNull()) return kInvalidResource;
  bitmaps_[0] = Masked(first, first_transparent);
  bitmaps_[1] = Masked(second, second_transparent);
  update();
  return kOk;
}

void CButtonST::OnClicked() {
  setFocus();
  if (!isCheckable() && !link_.isEmpty()) QDesktopServices::openUrl(QUrl(link_));
  update();
}

void CButtonST::enterEvent(QEnterEvent* event) {
  QPushButton::enterEvent(event);
  if (!flat_) return;
  if ((QApplication::mouseButtons() & Qt::LeftButton) && !mouse_over_) return;
  if (!track_always_ && !QApplication::activeWindow()) return;
  if (!mouse_over_) {
    mouse_over_ = true;
    update();
  }
}

void CButtonST::leaveEvent(QEvent* event) {
  QPushButton::leaveEvent(event);
  EndHover();
}

void CButtonST::focusOutEvent(QFocusEvent* event) {
  QPushButton::focusOutEvent(event);
  EndHover();
}

void CButtonST::changeEvent(QEvent* event) {
  QPushButton::changeEvent(event);
  if (event->type() == QEvent::EnabledChange && !isEnabled()) {
    if (hasFocus()) focusNextPrevChild(true);
    EndHover();
  } else if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) {
    parent_background_ = {};
  } else if (event->type() == QEvent::ActivationChange && !isActiveWindow()) {
    EndHover();
  }
}

void CButtonST::mousePressEvent(QMouseEvent* event) { QPushButton::mousePressEvent(event); }

// A double click acts as two clicks.
void CButtonST::mouseDoubleClickEvent(QMouseEvent* event) { mousePressEvent(event); }

void CButtonST::EndHover() {
  if (!flat_ || !mouse_over_) return;
  mouse_over_ = false;
  update();
}

void CButtonST::DrawBackground(QPainter& painter, const QRect& rect) {
  const int index = (mouse_over_ || Pressed()) ? kBkIn : (hasFocus() ? kBkFocus : kBkOut);
  painter.fillRect(rect, StateColor(index));
}

void CButtonST::DrawBorder(QPainter& painter, const QRect& rect) {
  const QColor light = palette().color(QPalette::Light), dark = palette().color(QPalette::Dark);
  const QColor top_left = Pressed() ? dark : light, bottom_right = Pressed() ? light : dark;
  painter.setPen(top_left);
  painter.drawLine(rect.left(), rect.top(), rect.right(), rect.top());
  painter.drawLine(rect.left(), rect.top(), rect.left(), rect.bottom());
  painter.setPen(bottom_right);
  painter.drawLine(rect.left(), rect.bottom(), rect.right(), rect.bottom());
  painter.drawLine(rect.right(), rect.top(), rect.right(), rect.bottom());
}

void CButtonST::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QRect item = rect();
  const bool pressed = Pressed();
  const bool focused = hasFocus();
  const bool disabled = !isEnabled();
  const QPalette& pal = palette();

  if (!flat_ && (focused || isDefault())) {
    painter.setPen(Qt::black);
    painter.drawRect(item.adjusted(0, 0, -1, -1));
    item.adjust(1, 1, -1, -1);
  }

  if (transparent_ && parentWidget()) {
    if (parent_background_.isNull()) {
      // The parent's own background under the button, without its children.
      parent_background_ = QPixmap(size());
      parent_background_.fill(pal.color(QPalette::Window));
      QPainter p(&parent_background_);
      parentWidget()->render(&p, QPoint(), QRegion(geometry()), QWidget::DrawWindowBackground);
    }
    painter.drawPixmap(0, 0, parent_background_);
  } else {
    DrawBackground(painter, item);
  }

  if (pressed) {
    if (!flat_) {
      painter.setPen(pal.color(QPalette::Dark));
      painter.drawRect(item.adjusted(0, 0, -1, -1));
    } else if (hover_border_) {
      DrawBorder(painter, item);
    }
  } else if (!flat_) {
    const int l = item.left(), t = item.top(), r = item.right() + 1, b = item.bottom() + 1;
    painter.setPen(pal.color(QPalette::Light));
    painter.drawPolyline(QPolygon({QPoint(l, b - 1), QPoint(l, t), QPoint(r, t)}));
    painter.setPen(pal.color(QPalette::Midlight));
    painter.drawPolyline(QPolygon({QPoint(l + 1, b - 1), QPoint(l + 1, t + 1), QPoint(r, t + 1)}));
    painter.setPen(pal.color(QPalette::Shadow));
    painter.drawPolyline(QPolygon({QPoint(l, b - 1), QPoint(r - 1, b - 1), QPoint(r - 1, t - 1)}));
    painter.setPen(pal.color(QPalette::Dark));
    painter.drawPolyline(QPolygon({QPoint(l + 1, b - 2), QPoint(r - 2, b - 2), QPoint(r - 2, t)}));
  } else if (mouse_over_ && hover_border_) {
    DrawBorder(painter, item);
  }

  // Image beside, above or right of the caption.
  QRect caption = item;
  const bool push_pressed = !isCheckable() && isDown();
  const int slot = ((isCheckable() && pressed) || (!isCheckable() && (pressed || mouse_over_)))
                       ? 0 : ((!icons_[1].isNull() || !bitmaps_[1].isNull()) ? 1 : 0);
  QPixmap image;
  if (!icons_[0].isNull()) {
    const QIcon& icon = icons_[slot].isNull() ? icons_[0] : icons_[slot];
    const QSize size = icon.availableSizes().value(0, iconSize());
    image = icon.pixmap(size, disabled ? QIcon::Disabled : QIcon::Normal);
  } else if (!bitmaps_[0].isNull()) {
    image = bitmaps_[slot].isNull() ? bitmaps_[0] : bitmaps_[slot];
    if (disabled && show_disabled_bitmap_) {
      image = QIcon(image).pixmap(image.size(), QIcon::Disabled);
    }
  }
  const bool has_text = !text().isEmpty();
  if (!image.isNull()) {
    const QSize is = image.deviceIndependentSize().toSize();
    QPoint at;
    switch (alignment_) {
      case 1:
        at.setX(item.left() + (item.width() - is.width()) / 2);
        if (has_text) {
          at.setY(item.top() + 3);
          caption.setTop(caption.top() + is.height());
        } else {
          at.setY(item.top() + (item.height() - is.height()) / 2);
        }
        break;
      case 2:
        at.setY(item.top() + (item.height() - is.height()) / 2);
        if (has_text) {
          caption.setLeft(3);
          caption.setRight(width() - is.width() - 3);
          at.setX(width() - is.width() - 3);
        } else {
          at.setX(item.left() + (item.width() - is.width()) / 2);
        }
        break;
      default:
        at.setY(item.top() + (item.height() - is.height()) / 2);
        if (has_text) {
          at.setX(item.left() + 3);
          caption.setLeft(caption.left() + is.width() + 3);
        } else {
          at.setX(item.left() + (item.width() - is.width()) / 2);
        }
        break;
    }
    if (push_pressed) at += QPoint(1, 1);
    painter.drawPixmap(at, image);
  }

  if (has_text) {
    if (push_pressed) caption.translate(1, 1);
    const int flags = Qt::TextWordWrap | Qt::AlignCenter;
    if (disabled) {
      painter.setPen(pal.color(QPalette::Light));
      painter.drawText(caption.translated(1, 1), flags, text());
      painter.setPen(pal.color(QPalette::Dark));
    } else {
      painter.setPen(StateColor((mouse_over_ || pressed) ? kFgIn : kFgOut));
    }
    painter.drawText(caption, flags, text());
  }

  if (focused && (!flat_ || flat_focus_)) {
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.rect = rect().adjusted(3, 3, -3, -3);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
  }
}

}  // namespace kelvara::controls
