#pragma once
// Where each part of a label lands on the printer page, in printer pixels.
// Millimetres become pixels with the printer's resolution of the axis they
// run along (25.4 / dpi millimetres per pixel, single precision), truncated
// to whole pixels.
#include <array>
#include <string>
#include <vector>

#include "printing/core/qr_label_layout.h"
#include "printing/core/tips_config.h"

namespace kelvara::printing {

struct PixelRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool operator==(const PixelRect&) const = default;
};

class PageScale {
 public:
  PageScale(int dpiX, int dpiY);
  int X(double mm) const;  // a horizontal length in pixels
  int Y(double mm) const;  // a vertical length in pixels
 private:
  float mmPerPixelX;
  float mmPerPixelY;
};

// One label of the QR label pair.
struct QrLabelPlacement {
  PixelRect label;
  PixelRect qr;     // the QR bitmap is stretched onto this square
  PixelRect line1;  // first half of the label text, centred
  PixelRect line2;  // the rest, centred
};

// The two labels of a pair. The QR square ends 4 mm above the label's
// bottom and is centred, shifted 1.2 mm left; the two text lines of 2 mm
// follow div_QR_ID below it.
std::array<QrLabelPlacement, 2> PlaceQrLabelPair(const QrLabelLayout& layout, const PageScale& scale);

// The two text lines of the pair's labels: the first n / 2 characters (code
// points) and the rest.
std::array<std::u32string, 2> SplitLabelText(const std::u32string& text);

struct TextPlacement {
  PixelRect rect;    // drawn left-aligned, vertically centred, one line
  int fontHeight = 0;  // pixels
  int weight = 400;
  std::string text;  // UTF-8
};

struct DeviceLabelPlacement {
  PixelRect label;
  PixelRect qr;
  std::vector<TextPlacement> texts;
};

// The row of Tips_num device labels, edge to edge.
std::vector<DeviceLabelPlacement> PlaceDeviceLabels(const CTipsConfig& tips, const PageScale& scale,
                                                    const std::string& serialText, const std::string& macText);

}  // namespace kelvara::printing
