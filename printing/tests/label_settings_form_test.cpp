// The label settings dialogs' rules without a window: reading the edits back
// into the layouts, the order of the checks, the preview's place and content.
#include <gtest/gtest.h>

#include "kelvara_test/test_env.h"
#include "printing/core/label_settings_form.h"

namespace {

using namespace kelvara::printing;
using kelvara::test::MakeTempDir;

QrLabelLayout FreshQrLayout() { return QrLabelLayout(MakeTempDir("qr") / "printconfig.xml"); }
CTipsConfig FreshTips() { return CTipsConfig(MakeTempDir("tips") / "ZqTipsConfig.xml"); }

TEST(QrLayoutForm, ShowsTheLayoutAndReadsItBack) {
  QrLabelLayout layout = FreshQrLayout();
  FormTexts texts = QrLayoutFormTexts(layout);
  EXPECT_EQ(texts[qr_layout_ids::kWidth], "30");
  EXPECT_EQ(texts[qr_layout_ids::kDivMid], "2.5");
  texts[qr_layout_ids::kWidth] = " 40 ";
  texts[qr_layout_ids::kDivQrId] = "1.25";
  const FormCheck check = ApplyQrLayoutForm(texts, layout);
  ASSERT_TRUE(check.ok);
  EXPECT_EQ(layout.width, 40);
  EXPECT_DOUBLE_EQ(layout.div_QR_ID, 1.25);
}

// A value that does not parse, or that the layout refuses, names its control
// and leaves the live layout as it was (never 0 in a field).
TEST(QrLayoutForm, RefusesValuesAndKeepsTheLayout) {
  struct Case {
    int id;
    const char* text;
  } cases[] = {
      {qr_layout_ids::kWidth, "abc"},      {qr_layout_ids::kWidth, ""},          {qr_layout_ids::kHeight, "12a"},
      {qr_layout_ids::kFontSize, "1.5"},   {qr_layout_ids::kColumns, "0"},       {qr_layout_ids::kDivMid, "x"},
      {qr_layout_ids::kDivMid, "-1"},      {qr_layout_ids::kWidth, "99999999999999999999"},
      {qr_layout_ids::kDivQrId, "1e400"},  {qr_layout_ids::kDeviceLabels, "101"},
  };
  for (const Case& c : cases) {
    QrLabelLayout layout = FreshQrLayout();
    const QrLabelLayout before = layout;
    FormTexts texts = QrLayoutFormTexts(layout);
    texts[c.id] = c.text;
    const FormCheck check = ApplyQrLayoutForm(texts, layout);
    EXPECT_FALSE(check.ok) << c.text;
    EXPECT_EQ(check.focusId, c.id) << c.text;
    EXPECT_EQ(check.messageKey, "TIPS_STR_MSG_1");
    EXPECT_EQ(layout.width, before.width);
    EXPECT_EQ(layout.height, before.height);
    EXPECT_EQ(layout.rowNum, before.rowNum);
    EXPECT_EQ(layout.fontsize, before.fontsize);
    EXPECT_EQ(layout.deviceLabelNum, before.deviceLabelNum);
    EXPECT_DOUBLE_EQ(layout.div_mid, before.div_mid);
    EXPECT_DOUBLE_EQ(layout.div_QR_ID, before.div_QR_ID);
  }
}

TEST(TipsForm, RoundTripsEveryField) {
  CTipsConfig tips = FreshTips();
  tips.Customize_1_enable = 1;
  tips.Customize_1_text = "Batch \"7\" 中文";
  tips.Customize_1_font_w = 700;
  CTipsConfig copy = FreshTips();
  const FormCheck check = ApplyTipsForm(TipsFormFromConfig(tips), copy);
  ASSERT_TRUE(check.ok) << check.detail;
  EXPECT_EQ(copy.Customize_1_text, tips.Customize_1_text);
  EXPECT_EQ(copy.Customize_1_font_w, 700);
  EXPECT_DOUBLE_EQ(copy.QR_size, tips.QR_size);
  EXPECT_EQ(copy.Sn_font_w, tips.Sn_font_w);
}

// The checks run in the dialog's order and focus the named control.
TEST(TipsForm, ChecksInOrderAndFocusesTheFirstFailure) {
  using namespace tips_ids;
  struct Case {
    std::map<int, std::string> edits;
    int custom1, custom2;
    int focus;
  } cases[] = {
      {{{kHeight, "0"}, {kNum, "0"}}, 0, 0, kWidth},
      {{{kWidth, ""}}, 0, 0, kWidth},
      {{{kNum, "0"}, {kDiv, "-1"}}, 0, 0, kNum},
      {{{kNum, "two"}}, 0, 0, kNum},
      {{{kDiv, "-0.5"}, {kQrX, "-1"}}, 0, 0, kDiv},
      {{{kQrSize, "abc"}}, 0, 0, kQrX},
      {{{kSnFontSize, "0"}}, 0, 0, kSnX},
      {{{kSnY, "-2"}, {kCustom1Text, ""}}, 1, 0, kSnX},
      {{{kCustom1Y, "-1"}}, 1, 0, kCustom1X},
      {{{kCustom2Text, ""}}, 0, 1, kCustom2X},
      // Out of the layout's range though every check passes.
      {{{kWidth, "5000"}}, 0, 0, kWidth},
  };
  for (const Case& c : cases) {
    CTipsConfig tips = FreshTips();
    tips.Customize_1_text = "one";
    tips.Customize_2_text = "two";
    TipsForm form = TipsFormFromConfig(tips);
    form.custom1Enable = c.custom1;
    form.custom2Enable = c.custom2;
    for (const auto& [id, text] : c.edits) form.edits[id] = text;
    const double widthBefore = tips.Tips_w;
    const FormCheck check = ApplyTipsForm(form, tips);
    EXPECT_FALSE(check.ok);
    EXPECT_EQ(check.focusId, c.focus) << c.focus;
    EXPECT_DOUBLE_EQ(tips.Tips_w, widthBefore);
    EXPECT_EQ(tips.Customize_1_enable, 0);
  }
}

TEST(TipsForm, EmptyCustomTextStoresOnlyTheCheckBoxes) {
  CTipsConfig tips = FreshTips();
  TipsForm form = TipsFormFromConfig(tips);
  form.snEnable = 0;
  form.macEnable = 1;
  form.custom1Enable = 1;
  form.edits[tips_ids::kCustom1Text] = "";
  form.edits[tips_ids::kWidth] = "80";
  const FormCheck check = ApplyTipsForm(form, tips);
  EXPECT_FALSE(check.ok);
  EXPECT_EQ(check.focusId, 2037);
  EXPECT_EQ(tips.m_bSnEnable, 0);
  EXPECT_EQ(tips.m_bMacEnable, 1);
  EXPECT_DOUBLE_EQ(tips.Tips_w, 65.0);
  EXPECT_EQ(tips.Customize_1_enable, 0);
}

TEST(TipsForm, WeightsCountsAndDisabledCustomTexts) {
  CTipsConfig tips = FreshTips();
  tips.Customize_2_x = 3.5;
  tips.Customize_2_text = "kept";
  TipsForm form = TipsFormFromConfig(tips);
  form.custom1Enable = 1;
  form.edits[tips_ids::kCustom1Text] = "Hello";
  form.custom1Weight = "";  // no selection: 9, stored as 400
  form.edits[tips_ids::kNum] = "";  // an empty count is one label
  form.custom2Enable = 0;
  form.edits[tips_ids::kCustom2X] = "garbage";  // disabled: not read
  ASSERT_TRUE(ApplyTipsForm(form, tips).ok);
  EXPECT_EQ(tips.Customize_1_font_w, 400);
  EXPECT_EQ(tips.Tips_num, 1);
  EXPECT_DOUBLE_EQ(tips.Customize_2_x, 3.5);
  EXPECT_EQ(tips.Customize_2_text, "kept");
}

TEST(TipsPreview, PlacementFitsTheGroup) {
  // 100 x 50 mm in a group 230 pixels high: 200 x 400 at 4 pixels per mm.
  PreviewPlacement p = PlaceTipsPreview(600, 10, 500, 230, 100, 50);
  EXPECT_EQ(p.height, 200);
  EXPECT_EQ(p.width, 400);
  EXPECT_DOUBLE_EQ(p.scale, 4.0);
  EXPECT_EQ(p.x, 600 + 50);
  EXPECT_EQ(p.y, 10 + 15);
  // A label too wide for the group is fitted to its width.
  p = PlaceTipsPreview(0, 0, 230, 230, 200, 50);
  EXPECT_DOUBLE_EQ(p.scale, 1.0);
  EXPECT_EQ(p.width, 200);
  EXPECT_EQ(p.height, 50);
  // A group smaller than its margins: an empty preview, never negative.
  for (auto [w, h] : {std::pair{10, 10}, {0, 0}, {-5, 100}, {100, 20}}) {
    p = PlaceTipsPreview(0, 0, w, h, 65, 45);
    EXPECT_GE(p.width, 0);
    EXPECT_GE(p.height, 0);
    EXPECT_GE(p.scale, 0.0);
  }
}

TEST(TipsPreview, DrawsTheEnabledParts) {
  CTipsConfig tips = FreshTips();
  tips.m_bSnEnable = 0;
  tips.m_bMacEnable = 1;
  tips.Sn_x = 2;
  tips.Sn_y = 10;
  tips.Sn_font_size = 4;
  tips.Customize_2_enable = 1;
  tips.Customize_2_x = 1;
  tips.Customize_2_y = 30;
  tips.Customize_2_font_size = 3;
  tips.Customize_2_text = "Two";
  const PreviewScene scene = BuildTipsPreview(tips, 2.0);
  EXPECT_DOUBLE_EQ(scene.qrX, tips.QR_x * 2);
  EXPECT_DOUBLE_EQ(scene.qrSide, tips.QR_size * 2);
  // The MAC line keeps its place below the (hidden) serial line.
  ASSERT_EQ(scene.texts.size(), 2u);
  EXPECT_EQ(scene.texts[0], (PreviewText{4 + 4, 20 + 8, 8, 400, "00:11:22:33:44:55"}));
  EXPECT_EQ(scene.texts[1], (PreviewText{2, 60, 6, 400, "Two"}));
}

TEST(QrClipboard, ImageLayout) {
  const QrClipboardLayout l = QrClipboardImageLayout(25);  // version 1
  EXPECT_EQ(l.side, 200);
  EXPECT_EQ(l.bytesPerRow, 28);
  EXPECT_EQ(l.imageSize, 5600);
  EXPECT_EQ(QrClipboardImageLayout(29).bytesPerRow, 32);  // 232 bits, padded to 256
}

}  // namespace
