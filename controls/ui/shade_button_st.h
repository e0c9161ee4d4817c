#pragma once
// CShadeButtonST: a CButtonST whose background is a generated shade picture
// (diagonal gradient, bumps, metal, noise), computed once by SetShade for the
// button's size at that moment and then only drawn.
#include <QImage>

#include "controls/core/shade_image.h"
#include "controls/ui/button_st.h"

namespace kelvara::controls {

class CShadeButtonST : public CButtonST {
  Q_OBJECT
 public:
  using CButtonST::CButtonST;

  // Style 0-8 (ShadeStyle), noise granularity, hover highlight percent,
  // tint percent toward `color`. The main window uses (1, 8, 10, 0, 0).
  void SetShade(int style = 1, int granularity = 8, int highlight = 10, int coloring = 0,
                ColorRef color = 0);

  const CCeXDib& NormalShade() const { return normal_; }
  const CCeXDib& HoverShade() const { return hover_; }

 protected:
  void DrawBackground(QPainter& painter, const QRect& rect) override;

 private:
  CCeXDib normal_, hover_;
  QImage normal_image_, hover_image_;
};

// An indexed image of an 8-bit picture (empty for an empty one).
QImage ToQImage(const CCeXDib& dib);

}  // namespace kelvara::controls
