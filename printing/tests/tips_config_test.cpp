// The tips layout file: defaults, load rules, validation, texts in GB2312.
#include <gtest/gtest.h>

#include "kelvara_test/test_env.h"
#include "layout_test_support.h"
#include "printing/core/label_settings_form.h"
#include "printing/core/tips_config.h"

namespace {

using kelvara::printing::CTipsConfig;
using kelvara::test::MakeTempDir;
using kelvara::test::ReadText;
using kelvara::test::WriteText;

TEST(TipsConfig, FreshInstallationCreatesAnEmptyFileAndKeepsDefaults) {
  CTipsConfig tips;
  const auto path = kelvara::test::HomeDir() / "data" / "Data" / "ZqTipsConfig.xml";
  EXPECT_EQ(tips.FilePath(), path);
  EXPECT_EQ(ReadText(path), "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n<TipsConfig />\n");
  EXPECT_EQ(tips.Tips_num, 1);
  EXPECT_DOUBLE_EQ(tips.Tips_w, 65.0);
  EXPECT_DOUBLE_EQ(tips.Tips_h, 45.0);
  EXPECT_DOUBLE_EQ(tips.QR_size, 20.0);
  EXPECT_EQ(tips.m_bSnEnable, 1);
  EXPECT_EQ(tips.m_bMacEnable, 0);
  // Loading the empty element changes nothing.
  CTipsConfig again;
  EXPECT_DOUBLE_EQ(again.Tips_w, 65.0);
}

TEST(TipsConfig, OnlyPresentValidAttributesOverwrite) {
  const auto path = MakeTempDir("tips") / "ZqTipsConfig.xml";
  WriteText(path,
            "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n"
            "<TipsConfig Tips_w=\"50\" Tips_h=\"0\" QR_size=\"-20\" Tips_num=\"100000\" Sn_font_w=\"400.5\""
            " Sn_x=\"2,5\" Sn_y=\" 12.500000 \" m_bMacEnable=\"1\" Customize_1_font_w=\"700\" />");
  CTipsConfig tips(path);
  EXPECT_DOUBLE_EQ(tips.Tips_w, 50.0);
  EXPECT_DOUBLE_EQ(tips.Tips_h, 45.0);   // zero height refused
  EXPECT_DOUBLE_EQ(tips.QR_size, 20.0);  // negative side refused
  EXPECT_EQ(tips.Tips_num, 1);           // unbounded count refused
  EXPECT_EQ(tips.Sn_font_w, 400);
  EXPECT_DOUBLE_EQ(tips.Sn_x, 1.0);      // a decimal comma is not a number here
  EXPECT_DOUBLE_EQ(tips.Sn_y, 12.5);
  EXPECT_EQ(tips.m_bMacEnable, 1);
  EXPECT_EQ(tips.Customize_1_font_w, 700);
  EXPECT_NE(tips.LastError().find("Tips_h"), std::string::npos);
  EXPECT_NE(tips.LastError().find("QR_size"), std::string::npos);
}

TEST(TipsConfig, BrokenFilesChangeNothing) {
  const auto dir = MakeTempDir("broken");
  CTipsConfig tips(dir / "ZqTipsConfig.xml");
  tips.Tips_w = 70;
  for (const std::string& content : {std::string("<TipsConfig Tips_w=\"50\""), std::string("no xml"),
                                     "<TipsConfig Tips_w=\"50\" />" + std::string(70000, '\n')}) {
    WriteText(dir / "import.xml", content);
    EXPECT_NE(tips.LoadFrom(dir / "import.xml"), 0);
    EXPECT_FALSE(tips.LastError().empty());
    EXPECT_DOUBLE_EQ(tips.Tips_w, 70.0);
  }
  EXPECT_NE(tips.LoadFrom(dir / "missing.xml"), 0);
}

TEST(TipsConfig, SaveWritesEveryFieldInOrderWithGbkTexts) {
  const auto path = MakeTempDir("save") / "ZqTipsConfig.xml";
  CTipsConfig tips(path);
  tips.Customize_1_enable = 1;
  tips.Customize_1_text = "\xE4\xB8\xAD\xE6\x96\x87 & <ok>";  // "中文 & <ok>"
  tips.Customize_2_text = "Made in 2026";
  ASSERT_TRUE(tips.Save());
  const std::string file = ReadText(path);
  EXPECT_EQ(file,
            "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n"
            "<TipsConfig Tips_w=\"65.000000\" Tips_h=\"45.000000\" Tips_div=\"1.000000\" Tips_num=\"1\""
            " QR_x=\"22.500000\" QR_y=\"6.000000\" QR_size=\"20.000000\" Sn_x=\"1.000000\" Sn_y=\"26.000000\""
            " Sn_font_size=\"9.000000\" Sn_font_w=\"400\" m_bSnEnable=\"1\" m_bMacEnable=\"0\""
            " Customize_1_enable=\"1\" Customize_1_x=\"0.000000\" Customize_1_y=\"0.000000\""
            " Customize_1_font_size=\"9.000000\" Customize_1_font_w=\"400\""
            " Customize_1_text=\"\xD6\xD0\xCE\xC4 &amp; &lt;ok&gt;\""
            " Customize_2_enable=\"0\" Customize_2_x=\"0.000000\" Customize_2_y=\"0.000000\""
            " Customize_2_font_size=\"9.000000\" Customize_2_font_w=\"400\" Customize_2_text=\"Made in 2026\" />\n");
  CTipsConfig loaded(path);
  EXPECT_EQ(loaded.Customize_1_text, tips.Customize_1_text);
  EXPECT_EQ(loaded.Customize_2_text, "Made in 2026");
  EXPECT_EQ(loaded.Customize_1_enable, 1);
}

TEST(TipsConfig, InvalidValuesAndTextsAreNotSaved) {
  const auto path = MakeTempDir("invalid") / "ZqTipsConfig.xml";
  CTipsConfig tips(path);
  ASSERT_TRUE(tips.Save());
  const std::string before = ReadText(path);
  CTipsConfig bad = tips;
  bad.QR_size = -1;
  EXPECT_FALSE(bad.Save());
  bad = tips;
  bad.Tips_h = 0;
  EXPECT_FALSE(bad.Save());
  bad = tips;
  bad.Tips_num = 1000;
  EXPECT_FALSE(bad.Save());
  bad = tips;
  bad.Customize_2_text = "\xF0\x9F\x98\x80";  // an emoji: not in GBK
  EXPECT_FALSE(bad.Save());
  EXPECT_NE(bad.LastError().find("GB"), std::string::npos);
  EXPECT_EQ(ReadText(path), before);
  EXPECT_FALSE(tips.SaveTo({}));
}

// Every weight a layout can hold saves and loads as it is: the lists' 100 to
// 1200, the 9 of a serial-line list without a selection, and the ends.
TEST(TipsConfig, EveryStorableWeightSavesAndLoads) {
  const auto dir = MakeTempDir("weights");
  std::vector<std::string> weights = kelvara::printing::FontWeightChoices();
  weights.insert(weights.end(), {"1", "9", "450", "1199"});
  for (const std::string& text : weights) {
    CTipsConfig tips(dir / "ZqTipsConfig.xml");
    tips.Sn_font_w = std::stoi(text);
    tips.Customize_2_font_w = std::stoi(text);
    ASSERT_TRUE(tips.Save()) << text << ": " << tips.LastError();
    CTipsConfig loaded(dir / "ZqTipsConfig.xml");
    EXPECT_EQ(loaded.Sn_font_w, std::stoi(text));
    EXPECT_EQ(loaded.Customize_2_font_w, std::stoi(text));
    EXPECT_TRUE(loaded.LastError().empty()) << loaded.LastError();
  }
  for (int out : {0, -1, 1201}) {
    CTipsConfig bad(dir / "ZqTipsConfig.xml");
    bad.Sn_font_w = out;
    EXPECT_FALSE(bad.Save()) << out;
  }
  // A file holding 9 loads as 9 (not the default 400); 0 is skipped on load.
  kelvara::test::WriteText(dir / "nine.xml", "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n"
                                             "<TipsConfig Sn_font_w=\"9\" Customize_1_font_w=\"0\" />\n");
  CTipsConfig nine(dir / "nine.xml");
  EXPECT_EQ(nine.Sn_font_w, 9);
  EXPECT_EQ(nine.Customize_1_font_w, 400);
  EXPECT_TRUE(nine.Save()) << nine.LastError();
  EXPECT_EQ(CTipsConfig(dir / "nine.xml").Sn_font_w, 9);
}

TEST(TipsConfig, ExportAndImport) {
  const auto dir = MakeTempDir("export");
  CTipsConfig tips(dir / "ZqTipsConfig.xml");
  tips.Tips_num = 3;
  tips.Sn_font_size = 7.5;
  ASSERT_TRUE(tips.SaveTo(dir / "printDlg.xml"));
  CTipsConfig other(dir / "other.xml");
  ASSERT_EQ(other.LoadFrom(dir / "printDlg.xml"), 0);
  EXPECT_EQ(other.Tips_num, 3);
  EXPECT_DOUBLE_EQ(other.Sn_font_size, 7.5);
  EXPECT_TRUE(other.LastError().empty());
}

}  // namespace
