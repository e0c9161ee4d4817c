#include "controls/core/shade_image.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace kelvara::controls {
namespace {

TEST(CeXDibTest, LayoutPixelsAndPalette) {
  CCeXDib dib;
  ASSERT_TRUE(dib.Create(5, 3, 8));
  EXPECT_EQ(dib.RowStride(), 8u);
  EXPECT_EQ(dib.Block().size(), 40u + 256 * 4 + 8 * 3);
  dib.PutPixel(1, 0, 7);  // top line is the last stored row
  EXPECT_EQ(dib.PixelRows()[2 * 8 + 1], 7);
  EXPECT_EQ(dib.GetPixel(1, 0), 7);
  dib.PutPixel(5, 0, 9);  // outside: ignored
  dib.PutPixel(-1, 0, 9);
  dib.SetPaletteEntry(3, 10, 20, 30);
  EXPECT_EQ(dib.PaletteEntry(3), MakeColorRef(10, 20, 30));
  dib.TintPalette(MakeColorRef(110, 120, 130), 250);  // clamped to 100
  EXPECT_EQ(dib.PaletteEntry(3), MakeColorRef(110, 120, 130));
  EXPECT_FALSE(dib.Create(0, 3, 8));
  EXPECT_TRUE(dib.IsEmpty());
  EXPECT_FALSE(dib.Create(3, 3, 7));
  ASSERT_TRUE(dib.Create(17, 2, 1));
  EXPECT_EQ(dib.RowStride(), 4u);
  EXPECT_EQ(dib.PaletteSize(), 2);
}

TEST(CeXDibTest, SaveBmpWritesFileHeaderAndBlock) {
  CCeXDib dib;
  EXPECT_FALSE(dib.SaveBmp("x.bmp"));
  ASSERT_TRUE(dib.Create(4, 4, 8));
  const auto path = std::filesystem::path(std::getenv("KELVARA_HOME")) / "shade.bmp";
  EXPECT_FALSE(dib.SaveBmp(""));
  ASSERT_TRUE(dib.SaveBmp(path.string()));
  EXPECT_EQ(std::filesystem::file_size(path), dib.Block().size() + 14);
  std::ifstream in(path, std::ios::binary);
  char head[14];
  in.read(head, 14);
  EXPECT_EQ(head[0], 'B');
  EXPECT_EQ(head[1], 'M');
  EXPECT_EQ(static_cast<unsigned char>(head[10]) | static_cast<unsigned char>(head[11]) << 8, 14 + 40 + 1024);
}

TEST(ShadeTest, DiagonalRunsBrightTopLeftToDarkBottomRight) {
  CCeXDib normal, hover;
  const ShadeColors theme;
  MakeShade(120, 40, 1, 8, 10, 0, 0, theme, 1, normal, hover);
  ASSERT_FALSE(normal.IsEmpty());
  int lo = 255, hi = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 120; ++x) {
      lo = std::min<int>(lo, normal.GetPixel(x, y));
      hi = std::max<int>(hi, normal.GetPixel(x, y));
    }
  EXPECT_GE(lo, 0);
  EXPECT_LE(hi, 246 + 8);
  EXPECT_GT(normal.GetPixel(0, 0), normal.GetPixel(119, 39) + 150);
  // Palette runs shadow -> face -> highlight; hover is lighter.
  EXPECT_EQ(normal.PaletteEntry(0), theme.shadow);
  EXPECT_EQ(normal.PaletteEntry(255), theme.highlight);
  EXPECT_GE(ColorRed(hover.PaletteEntry(0)), ColorRed(normal.PaletteEntry(0)));
  EXPECT_EQ(hover.GetPixel(3, 3), normal.GetPixel(3, 3));
}

TEST(ShadeTest, EveryStyleAtDegenerateAndHugeSizes) {
  const ShadeColors theme;
  const int sizes[][2] = {{0, 0}, {0, 5}, {5, 0}, {1, 1}, {2, 1}, {1, 2}, {5, 3}, {40000, 2}, {2, 40000}};
  for (int style = 0; style <= 9; ++style)
    for (int g : {0, 8, 300, 20000})
      for (const auto& s : sizes) {
        CCeXDib normal, hover;
        MakeShade(s[0], s[1], style, g, 10, 50, MakeColorRef(255, 0, 0), theme, 3, normal, hover);
        const bool empty = s[0] <= 0 || s[1] <= 0;
        EXPECT_EQ(normal.IsEmpty(), empty);
        EXPECT_EQ(hover.IsEmpty(), empty);
      }
}

}  // namespace
}  // namespace kelvara::controls
