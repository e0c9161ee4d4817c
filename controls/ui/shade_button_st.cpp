#include "controls/ui/shade_button_st.h"

#include <QPainter>
#include <cstring>

namespace kelvara::controls {
namespace {

ColorRef FromPalette(const QPalette& p, QPalette::ColorRole role) {
  const QColor c = p.color(role);
  return MakeColorRef(c.red(), c.green(), c.blue());
}

}  // namespace

QImage ToQImage(const CCeXDib& dib) {
  if (dib.IsEmpty() || dib.Bits() != 8) return {};
  QImage image(dib.Width(), dib.Height(), QImage::Format_Indexed8);
  if (image.isNull()) return {};
  QList<QRgb> table(dib.PaletteSize());
  for (int i = 0; i < dib.PaletteSize(); ++i) {
    const ColorRef c = dib.PaletteEntry(i);
    table[i] = qRgb(ColorRed(c), ColorGreen(c), ColorBlue(c));
  }
  image.setColorTable(table);
  // Stored rows run bottom-up.
  for (int y = 0; y < dib.Height(); ++y) {
    std::memcpy(image.scanLine(y), dib.PixelRows() + static_cast<std::size_t>(dib.Height() - 1 - y) * dib.RowStride(),
                static_cast<std::size_t>(dib.Width()));
  }
  return image;
}

void CShadeButtonST::SetShade(int style, int granularity, int highlight, int coloring, ColorRef color) {
  static std::uint32_t seed = 1;
  ShadeColors theme;
  theme.shadow = FromPalette(palette(), QPalette::Dark);
  theme.face = FromPalette(palette(), QPalette::Button);
  theme.highlight = FromPalette(palette(), QPalette::Light);
  MakeShade(width(), height(), style, granularity, highlight, coloring, color, theme, seed++, normal_, hover_);
  normal_image_ = ToQImage(normal_);
  hover_image_ = ToQImage(hover_);
  update();
}

void CShadeButtonST::DrawBackground(QPainter& painter, const QRect& rect) {
  if (normal_image_.isNull()) {
    CButtonST::DrawBackground(painter, rect);
    return;
  }
  if (IsHovered()) {
    painter.drawImage(Pressed() ? QPoint(1, 1) : QPoint(0, 0), hover_image_);
  } else {
    painter.drawImage(QPoint(0, 0), normal_image_);
  }
}

}  // namespace kelvara::controls
