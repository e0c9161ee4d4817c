#include "controls/core/shade_image.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <new>

namespace kelvara::controls {
namespace {

void PutLe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void PutLe16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

// A 15-bit generator (0..32767) like the classic C library's rand(), so the
// shade formulas that divide 32767 keep their ranges.
class Rand15 {
 public:
  explicit Rand15(std::uint32_t seed) : state_(seed) {}
  int operator()() {
    state_ = state_ * 214013u + 2531011u;
    return static_cast<int>((state_ >> 16) & 0x7FFF);
  }

 private:
  std::uint32_t state_;
};

// a / b with b raised to 1: the stroke and noise formulas divide by
// 32767 / size, which is 0 for sizes above 32767.
int SafeDiv(int a, int b) { return a / std::max(b, 1); }

}  // namespace

bool CCeXDib::Create(int width, int height, int bits) {
  Release();
  if (width <= 0 || height <= 0) return false;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
  const std::size_t stride = ((static_cast<std::size_t>(width) * bits + 31) / 32) * 4;
  const int palette = bits == 1 ? 2 : bits == 4 ? 16 : bits == 8 ? 256 : 0;
  const std::size_t image = stride * static_cast<std::size_t>(height);
  if (image / stride != static_cast<std::size_t>(height) || image > 0x7FFFFFFF) return false;
  try {
    block_.assign(kHeaderSize + palette * 4 + image, 0);
  } catch (const std::bad_alloc&) {
    block_.clear();
    return false;
  }
  width_ = width;
  height_ = height;
  bits_ = bits;
  palette_size_ = palette;
  stride_ = stride;
  std::uint8_t* h = block_.data();
  PutLe32(h + 0, 40);
  PutLe32(h + 4, static_cast<std::uint32_t>(width));
  PutLe32(h + 8, static_cast<std::uint32_t>(height));
  PutLe16(h + 12, 1);
  PutLe16(h + 14, static_cast<std::uint16_t>(bits));
  PutLe32(h + 20, static_cast<std::uint32_t>(image));
  return true;
}

void CCeXDib::CopyFrom(const CCeXDib& other) { *this = other; }

void CCeXDib::Release() {
  block_.clear();
  block_.shrink_to_fit();
  width_ = height_ = bits_ = palette_size_ = 0;
  stride_ = 0;
}

void CCeXDib::Fill(std::uint8_t value) {
  if (IsEmpty()) return;
  std::memset(PixelRows(), value, stride_ * height_);
}

void CCeXDib::SetPaletteEntry(int index, int red, int green, int blue) {
  if (index < 0 || index >= palette_size_) return;
  std::uint8_t* e = PaletteBytes() + index * 4;
  e[0] = static_cast<std::uint8_t>(blue);
  e[1] = static_cast<std::uint8_t>(green);
  e[2] = static_cast<std::uint8_t>(red);
  e[3] = 0;
}

ColorRef CCeXDib::PaletteEntry(int index) const {
  if (index < 0 || index >= palette_size_) return 0;
  const std::uint8_t* e = PaletteBytes() + index * 4;
  return MakeColorRef(e[2], e[1], e[0]);
}

void CCeXDib::PutPixel(int x, int y, std::uint8_t value) {
  if (bits_ != 8 || x < 0 || y < 0 || x >= width_ || y >= height_) return;
  PixelRows()[static_cast<std::size_t>(height_ - y - 1) * stride_ + x] = value;
}

std::uint8_t CCeXDib::GetPixel(int x, int y) const {
  if (bits_ != 8 || x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  return PixelRows()[static_cast<std::size_t>(height_ - y - 1) * stride_ + x];
}

void CCeXDib::TintPalette(ColorRef colour, int percent) {
  const int p = std::clamp(percent, 0, 100);
  for (int i = 0; i < palette_size_; ++i) {
    std::uint8_t* e = PaletteBytes() + i * 4;
    e[0] = static_cast<std::uint8_t>((e[0] * (100 - p) + ColorBlue(colour) * p) / 100);
    e[1] = static_cast<std::uint8_t>((e[1] * (100 - p) + ColorGreen(colour) * p) / 100);
    e[2] = static_cast<std::uint8_t>((e[2] * (100 - p) + ColorRed(colour) * p) / 100);
  }
}

const std::uint8_t* CCeXDib::PixelRows() const {
  return IsEmpty() ? nullptr : block_.data() + kHeaderSize + palette_size_ * 4;
}
std::uint8_t* CCeXDib::PixelRows() {
  return IsEmpty() ? nullptr : block_.data() + kHeaderSize + palette_size_ * 4;
}

bool CCeXDib::SaveBmp(const std::string& path) const {
  if (path.empty() || IsEmpty()) return false;
  std::uint8_t file_header[14] = {'B', 'M'};
  PutLe32(file_header + 2, static_cast<std::uint32_t>(block_.size() + 14));
  PutLe32(file_header + 10, static_cast<std::uint32_t>(14 + kHeaderSize + palette_size_ * 4));
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(file_header), sizeof file_header);
  out.write(reinterpret_cast<const char*>(block_.data()), static_cast<std::streamsize>(block_.size()));
  out.close();
  return static_cast<bool>(out);
}

void MakeShade(int width, int height, int style, int granularity, int highlight_percent,
               int coloring_percent, ColorRef color, const ShadeColors& theme,
               std::uint32_t seed, CCeXDib& normal, CCeXDib& hover) {
  hover.Release();
  if (!normal.Create(width, height, 8)) return;
  const int w = width, h = height, g = granularity;

  // Palette: shadow -> face over entries 0..128, face -> highlight over 128..255.
  auto mix = [](ColorRef a, ColorRef b, int i) {
    return MakeColorRef(((128 - i) * ColorRed(a) + i * ColorRed(b)) / 128,
                        ((128 - i) * ColorGreen(a) + i * ColorGreen(b)) / 128,
                        ((128 - i) * ColorBlue(a) + i * ColorBlue(b)) / 128);
  };
  for (int i = 0; i <= 128; ++i) {
    const ColorRef c = mix(theme.shadow, theme.face, i);
    normal.SetPaletteEntry(i, ColorRed(c), ColorGreen(c), ColorBlue(c));
  }
  for (int i = 1; i <= 128; ++i) {
    const ColorRef c = mix(theme.face, theme.highlight, i);
    normal.SetPaletteEntry(127 + i, ColorRed(c), ColorGreen(c), ColorBlue(c));
  }
  normal.TintPalette(color, coloring_percent);

  Rand15 rnd(seed);
  const int d = g == 0 ? 1 : 2 * g;
  auto noise = [&] { return SafeDiv(rnd(), 32767 / std::max(d, 1)); };
  std::uint8_t* rows = normal.PixelRows();
  const std::size_t stride = normal.RowStride();
  // Stored rows: y = 0 is the bottom line on screen.
  auto at = [&](int x, int y) -> std::uint8_t& { return rows[static_cast<std::size_t>(y) * stride + x]; };
  auto set = [&](int x, int y, long long v) { at(x, y) = static_cast<std::uint8_t>(v & 0xFF); };
  auto cube = [](long long v) { return v * v * v; };

  switch (style) {
    case 1: {
      const int k1 = (255 - 2 * g) / 2;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          set(x, y, static_cast<long long>(k1) * y / h + g + static_cast<long long>(w - x) * k1 / w - g + noise());
      break;
    }
    case 2:
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          set(x, y, static_cast<long long>(255 - 2 * g) * y / h + g - g + noise());
      break;
    case 3:
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          set(x, y, static_cast<long long>(w - x) * (255 - 2 * g) / w + g - g + noise());
      break;
    case 4:
    case 7: {
      const int gg = style == 7 ? 2 * g : g;
      for (int y = 0; y < h; ++y) {
        const long long v = static_cast<long long>(y) * 255 / h - 127;
        const long long base = (128 - gg) * (cube(v) / 16384) / 128 + 128;
        for (int x = 0; x < w; ++x) set(x, y, style == 4 ? base - g + noise() : base);
      }
      if (style == 7) {
        const int e = std::max(1, std::min(w / 6, 16));
        const long long quarter = std::max(1LL, static_cast<long long>(h) * h / 4);
        for (int y = 0; y < h; ++y) {
          const long long dy = y - h / 2;
          const long long u = w / 2 + dy * dy * e / quarter - e;
          for (int x = 0; x < w; ++x) {
            const long long dx = x - w / 2;
            if (u < dx) set(x, y, static_cast<long long>(w - x) * 128 / e + g);
            if (dx + u < 0) set(x, y, (255 - g) - static_cast<long long>(x) * 128 / e);
            set(x, y, at(x, y) - g + noise());
          }
        }
      }
      break;
    }
    case 5:
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const long long v = static_cast<long long>(w - x) * 255 / w - 127;
          set(x, y, (128 - g) * (cube(v) / 16384) / 128 + 128 - g + noise());
        }
      break;
    case 6:
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const long long t = cube(static_cast<long long>(y) * 255 / h - 127) / 16384 +
                              cube(static_cast<long long>(w - x) * 255 / w - 127) / 16384;
          long long v = (128 - g) * t / 128 + 128;
          v = std::clamp<long long>(v, g, 255 - g);
          set(x, y, v - g + noise());
        }
      break;
    case 8: {
      normal.Fill(0);
      for (int s = 0; s < 200; ++s) {
        const int x0 = SafeDiv(rnd(), 32767 / w);
        const int y0 = SafeDiv(rnd(), 32767 / h);
        const int length = SafeDiv(rnd(), 32767 / std::min(w, h)) / 2;
        const int value = SafeDiv(rnd(), 32767 / 40);
        for (int p = 0; p < length; ++p) {
          if (x0 - p > 0 && y0 + p < h) normal.PutPixel(x0 - p, y0 + p, static_cast<std::uint8_t>(value));
          if (x0 + p < w && y0 - p > 0) normal.PutPixel(w + p - x0, y0 - p, static_cast<std::uint8_t>(value));
        }
      }
      const int k8 = (255 - 2 * g - 40) / 2;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          set(x, y, at(x, y) + static_cast<long long>(k8) * y / h + static_cast<long long>(w - x) * k8 / w + noise());
      break;
    }
    default:
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) set(x, y, noise() - g + 128);
      break;
  }

  hover.CopyFrom(normal);
  hover.TintPalette(theme.highlight, highlight_percent);
}

}  // namespace kelvara::controls
