#pragma once
// Device-independent bitmap and the shade pictures of the shaded buttons.
//
// CCeXDib keeps one memory block laid out as a bitmap file body: a 40-byte
// info header, the palette (blue, green, red, 0 per entry) and bottom-up
// pixel rows padded to 4 bytes. The GUI turns it into an indexed image to
// draw; everything here is plain memory.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "controls/core/report_table.h"

namespace kelvara::controls {

class CCeXDib {
 public:
  CCeXDib() = default;
  virtual ~CCeXDib() = default;
  CCeXDib(const CCeXDib&) = default;
  CCeXDib& operator=(const CCeXDib&) = default;

  // Frees the old image first. False (and an empty image) for a size of 0 or
  // below, a depth other than 1, 4, 8, 16, 24 or 32, or a block that cannot
  // be allocated.
  bool Create(int width, int height, int bits);
  // Same size, depth, palette and pixels as `other`.
  void CopyFrom(const CCeXDib& other);
  void Release();

  // Sets every byte of the pixel rows.
  void Fill(std::uint8_t value);
  // Index below the palette size; others are ignored.
  void SetPaletteEntry(int index, int red, int green, int blue);
  // (x, y) with y counted from the top; outside the image it does nothing.
  void PutPixel(int x, int y, std::uint8_t value);
  std::uint8_t GetPixel(int x, int y) const;  // 0 outside
  // Moves each palette entry `percent` (clamped to 0..100) toward `colour`.
  void TintPalette(ColorRef colour, int percent);
  // Writes a .bmp file; false for an empty name or image or a write error.
  bool SaveBmp(const std::string& path) const;

  bool IsEmpty() const { return block_.empty(); }
  int Width() const { return width_; }
  int Height() const { return height_; }
  int Bits() const { return bits_; }
  int PaletteSize() const { return palette_size_; }
  std::size_t RowStride() const { return stride_; }
  // Palette entry as 0x00BBGGRR; 0 outside the palette.
  ColorRef PaletteEntry(int index) const;
  // Pixel rows, bottom-up, RowStride() bytes each.
  const std::uint8_t* PixelRows() const;
  std::uint8_t* PixelRows();
  const std::vector<std::uint8_t>& Block() const { return block_; }

 private:
  std::uint8_t* PaletteBytes() { return block_.data() + kHeaderSize; }
  const std::uint8_t* PaletteBytes() const { return block_.data() + kHeaderSize; }

  static constexpr std::size_t kHeaderSize = 40;
  std::vector<std::uint8_t> block_;
  int width_ = 0, height_ = 0, bits_ = 0, palette_size_ = 0;
  std::size_t stride_ = 0;
};

// Patterns of the shaded buttons.
enum class ShadeStyle {
  kNoise = 0,
  kDiagonal = 1,
  kHorizontalShade = 2,
  kVerticalShade = 3,
  kHorizontalBump = 4,
  kVerticalBump = 5,
  kSoftBump = 6,
  kHardBump = 7,
  kMetal = 8,
};

// The theme colours the palette runs through.
struct ShadeColors {
  ColorRef shadow = MakeColorRef(160, 160, 160);
  ColorRef face = MakeColorRef(240, 240, 240);
  ColorRef highlight = MakeColorRef(255, 255, 255);
};

// Builds the normal and hover pictures (8 bits, 256-entry palette) of a
// width x height button. Noise comes from a 15-bit generator seeded with
// `seed`, so a picture is reproducible. A size of 0 or below gives two empty
// pictures; large sizes never divide by zero.
void MakeShade(int width, int height, int style, int granularity, int highlight_percent,
               int coloring_percent, ColorRef color, const ShadeColors& theme,
               std::uint32_t seed, CCeXDib& normal, CCeXDib& hover);

}  // namespace kelvara::controls
