// Label geometry in printer pixels: a table of layouts and resolutions.
#include <gtest/gtest.h>

#include "kelvara_test/test_env.h"
#include "printing/core/label_geometry.h"

namespace {

using namespace kelvara::printing;

QrLabelLayout DefaultLayout() { return QrLabelLayout(kelvara::test::MakeTempDir("geo") / "printconfig.xml"); }
CTipsConfig DefaultTips() { return CTipsConfig(kelvara::test::MakeTempDir("geo") / "ZqTipsConfig.xml"); }

TEST(LabelGeometry, PageScaleTruncates) {
  PageScale s300(300, 300);
  EXPECT_EQ(s300.X(30), 354);  // 30 / 0.0846667 = 354.3
  EXPECT_EQ(s300.Y(15), 177);
  EXPECT_EQ(s300.X(25.4), 300);
  PageScale s600x203(600, 203);
  EXPECT_EQ(s600x203.X(10), 236);
  EXPECT_EQ(s600x203.Y(10), 79);
}

TEST(LabelGeometry, QrLabelPair) {
  const auto layout = DefaultLayout();  // 30 x 15 mm, div_mid 2.5, div_QR_ID 3
  const auto pair = PlaceQrLabelPair(layout, PageScale(300, 300));
  EXPECT_EQ(pair[0].label, (PixelRect{0, 0, 354, 177}));
  // QR: bottom 177 - 47 (4 mm); side 130; left (354 - 130) / 2 - 14 (1.2 mm).
  EXPECT_EQ(pair[0].qr, (PixelRect{98, 0, 228, 130}));
  // Text: 35 px (3 mm) below the QR, two lines of 23 px (2 mm).
  EXPECT_EQ(pair[0].line1, (PixelRect{-14, 165, 354, 188}));
  EXPECT_EQ(pair[0].line2, (PixelRect{-14, 188, 354, 211}));
  // The second label starts 29 px (2.5 mm) right of the first.
  EXPECT_EQ(pair[1].label, (PixelRect{383, 0, 737, 177}));
  EXPECT_EQ(pair[1].qr.left - pair[1].label.left, 98);
}

TEST(LabelGeometry, VerticalLengthsUseTheVerticalResolution) {
  const auto layout = DefaultLayout();
  const auto pair = PlaceQrLabelPair(layout, PageScale(300, 600));
  EXPECT_EQ(pair[0].label, (PixelRect{0, 0, 354, 354}));
  EXPECT_EQ(pair[0].qr.bottom, 354 - 94);             // 4 mm at 600 dpi
  EXPECT_EQ(pair[0].line1.top, 260 + 70);             // 3 mm at 600 dpi
  EXPECT_EQ(pair[0].line1.Height(), 47);              // 2 mm at 600 dpi
  EXPECT_EQ(pair[0].line1.left, -14);                 // 1.2 mm at 300 dpi
  EXPECT_EQ(pair[1].label.left, 354 + 29);
}

TEST(LabelGeometry, LabelTextSplitsInHalves) {
  auto lines = SplitLabelText(U"ABCDE");
  EXPECT_EQ(lines[0], U"AB");
  EXPECT_EQ(lines[1], U"CDE");
  lines = SplitLabelText(U"EF000000002F985D");
  EXPECT_EQ(lines[0], U"EF000000");
  EXPECT_EQ(lines[1], U"002F985D");
}

TEST(LabelGeometry, DeviceLabelsSideBySide) {
  auto tips = DefaultTips();
  tips.Tips_num = 3;
  tips.Tips_w = 65;
  tips.Tips_div = 5;  // stored, not applied
  PageScale scale(254, 254);  // 10 pixels per millimetre
  const auto row = PlaceDeviceLabels(tips, scale, "SN1", "MAC1");
  ASSERT_EQ(row.size(), 3u);
  EXPECT_EQ(row[0].label.left, 0);
  EXPECT_EQ(row[1].label.left, 650);
  EXPECT_EQ(row[2].label.left, 1300);
  EXPECT_EQ(row[2].label.bottom, 450);
  EXPECT_EQ(row[1].qr, (PixelRect{650 + 225, 60, 650 + 225 + 200, 260}));
  ASSERT_EQ(row[1].texts.size(), 1u);  // serial only by default
  EXPECT_EQ(row[1].texts[0].rect, (PixelRect{660, 260, 1300, 350}));
  EXPECT_EQ(row[1].texts[0].fontHeight, 90);
  EXPECT_EQ(row[1].texts[0].text, "SN1");
}

TEST(LabelGeometry, MacLinePlacement) {
  auto tips = DefaultTips();
  PageScale scale(254, 508);  // 10 px/mm across, 20 px/mm down
  tips.m_bMacEnable = 1;
  auto row = PlaceDeviceLabels(tips, scale, "SN", "MAC");
  ASSERT_EQ(row[0].texts.size(), 2u);
  const PixelRect serial = row[0].texts[0].rect;
  const PixelRect mac = row[0].texts[1].rect;
  EXPECT_EQ(serial, (PixelRect{10, 520, 650, 700}));
  // Directly under the serial line, indented by a quarter of the font size.
  EXPECT_EQ(mac, (PixelRect{10 + 90 / 4, 700, 650, 880}));
  EXPECT_EQ(row[0].texts[1].text, "MAC");
  // Only the MAC line: it takes the serial line's place.
  tips.m_bSnEnable = 0;
  row = PlaceDeviceLabels(tips, scale, "SN", "MAC");
  ASSERT_EQ(row[0].texts.size(), 1u);
  EXPECT_EQ(row[0].texts[0].rect, serial);
  EXPECT_EQ(row[0].texts[0].text, "MAC");
}

TEST(LabelGeometry, CustomTexts) {
  auto tips = DefaultTips();
  tips.m_bSnEnable = 0;
  tips.Customize_2_enable = 1;
  tips.Customize_2_x = 5;
  tips.Customize_2_y = 40;
  tips.Customize_2_font_size = 4;
  tips.Customize_2_font_w = 700;
  tips.Customize_2_text = "Made in 2026";
  tips.Customize_1_text = "disabled";
  const auto row = PlaceDeviceLabels(tips, PageScale(254, 254), "", "");
  ASSERT_EQ(row[0].texts.size(), 1u);
  EXPECT_EQ(row[0].texts[0].rect, (PixelRect{50, 400, 650, 440}));
  EXPECT_EQ(row[0].texts[0].weight, 700);
  EXPECT_EQ(row[0].texts[0].text, "Made in 2026");
}

}  // namespace
