#include "printing/core/label_geometry.h"

namespace kelvara::printing {

PageScale::PageScale(int dpiX, int dpiY)
    : mmPerPixelX(254.0f / float(dpiX > 0 ? dpiX : 1) / 10.0f),
      mmPerPixelY(254.0f / float(dpiY > 0 ? dpiY : 1) / 10.0f) {}

int PageScale::X(double mm) const { return int(float(mm) / mmPerPixelX); }
int PageScale::Y(double mm) const { return int(float(mm) / mmPerPixelY); }

std::array<QrLabelPlacement, 2> PlaceQrLabelPair(const QrLabelLayout& layout, const PageScale& scale) {
  const int w = scale.X(layout.width);
  const int h = scale.Y(layout.height);
  std::array<QrLabelPlacement, 2> pair;
  int left = 0;
  for (auto& p : pair) {
    p.label = {left, 0, left + w, h};
    const int bottom = p.label.bottom - scale.Y(4.0);
    const int side = bottom - p.label.top;
    const int qrLeft = p.label.left + (w - side) / 2 - scale.X(1.2);
    p.qr = {qrLeft, p.label.top, qrLeft + side, bottom};
    // Vertical lengths with the vertical resolution, horizontal with the horizontal.
    const int line1Top = p.qr.bottom + scale.Y(layout.div_QR_ID);
    const int lineHeight = scale.Y(2.0);
    const int textLeft = p.label.left - scale.X(1.2);
    p.line1 = {textLeft, line1Top, p.label.right, line1Top + lineHeight};
    p.line2 = {textLeft, line1Top + lineHeight, p.label.right, line1Top + 2 * lineHeight};
    left = p.label.right + scale.X(layout.div_mid);
  }
  return pair;
}

std::array<std::u32string, 2> SplitLabelText(const std::u32string& text) {
  const std::size_t half = text.size() / 2;
  return {text.substr(0, half), text.substr(half)};
}

std::vector<DeviceLabelPlacement> PlaceDeviceLabels(const CTipsConfig& tips, const PageScale& scale,
                                                    const std::string& serialText, const std::string& macText) {
  std::vector<DeviceLabelPlacement> row;
  const int count = tips.Tips_num > 0 ? tips.Tips_num : 0;
  int left = 0;
  for (int i = 0; i < count; ++i) {
    DeviceLabelPlacement p;
    p.label = {left, 0, left + scale.X(tips.Tips_w), scale.Y(tips.Tips_h)};
    left = p.label.right;
    const int side = scale.Y(tips.QR_size);
    const int qrLeft = p.label.left + scale.X(tips.QR_x);
    const int qrTop = p.label.top + scale.Y(tips.QR_y);
    p.qr = {qrLeft, qrTop, qrLeft + side, qrTop + side};

    const int snHeight = scale.Y(tips.Sn_font_size);
    const PixelRect serial = {p.label.left + scale.X(tips.Sn_x), p.label.top + scale.Y(tips.Sn_y), p.label.right,
                              p.label.top + scale.Y(tips.Sn_y) + snHeight};
    if (tips.m_bSnEnable == 1) p.texts.push_back({serial, snHeight, tips.Sn_font_w, serialText});
    if (tips.m_bMacEnable == 1) {
      PixelRect mac = serial;
      if (tips.m_bSnEnable == 1) {
        mac.left += scale.X(tips.Sn_font_size) / 4;
        mac.top = serial.bottom;
        mac.bottom = serial.bottom + snHeight;
      }
      p.texts.push_back({mac, snHeight, tips.Sn_font_w, macText});
    }
    struct Custom {
      int enable;
      double x, y, size;
      int weight;
      const std::string& text;
    };
    const Custom customs[2] = {
        {tips.Customize_1_enable, tips.Customize_1_x, tips.Customize_1_y, tips.Customize_1_font_size,
         tips.Customize_1_font_w, tips.Customize_1_text},
        {tips.Customize_2_enable, tips.Customize_2_x, tips.Customize_2_y, tips.Customize_2_font_size,
         tips.Customize_2_font_w, tips.Customize_2_text},
    };
    for (const Custom& c : customs) {
      if (c.enable != 1) continue;
      const int height = scale.Y(c.size);
      const int top = p.label.top + scale.Y(c.y);
      p.texts.push_back({{p.label.left + scale.X(c.x), top, p.label.right, top + height}, height, c.weight, c.text});
    }
    row.push_back(std::move(p));
  }
  return row;
}

}  // namespace kelvara::printing
