// The QR label layout file: defaults, load rules, validation, saving.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>

#include "kelvara_test/test_env.h"
#include "layout_test_support.h"
#include "printing/core/qr_label_layout.h"

namespace {

using kelvara::printing::QrLabelLayout;
using kelvara::test::MakeTempDir;
using kelvara::test::ReadText;
using kelvara::test::WriteText;

std::filesystem::path LayoutFile(const std::string& xml) {
  auto p = MakeTempDir("layout") / "Data" / "printconfig.xml";
  WriteText(p, xml);
  return p;
}

void ExpectDefaults(const QrLabelLayout& l) {
  EXPECT_EQ(l.rowNum, 2);
  EXPECT_EQ(l.width, 30);
  EXPECT_EQ(l.height, 15);
  EXPECT_EQ(l.deviceLabelNum, 2);
  EXPECT_EQ(l.lineNum, 1);
  EXPECT_EQ(l.fontsize, 32);
  EXPECT_DOUBLE_EQ(l.div_Left_right, 1.0);
  EXPECT_DOUBLE_EQ(l.div_top_bottom, 0.5);
  EXPECT_DOUBLE_EQ(l.div_mid, 2.5);
  EXPECT_DOUBLE_EQ(l.div_QR_ID, 3.0);
}

TEST(QrLabelLayout, DefaultPathIsInTheDataFolder) {
  QrLabelLayout l;
  EXPECT_EQ(l.FilePath(), kelvara::test::HomeDir() / "data" / "Data" / "printconfig.xml");
  ExpectDefaults(l);  // no file yet
}

TEST(QrLabelLayout, MissingOrBrokenFilesKeepTheDefaults) {
  struct Case {
    const char* name;
    std::string content;
  };
  const Case cases[] = {
      {"malformed", "<ConfigList><Config width=\"40\""},
      {"empty", ""},
      {"not xml", "width=40"},
      {"oversized", "<ConfigList><Config width=\"40\"/>" + std::string(70000, ' ') + "</ConfigList>"},
  };
  for (const auto& c : cases) {
    QrLabelLayout l(LayoutFile(c.content));
    ExpectDefaults(l);
    EXPECT_EQ(l.LoadLayout(), -1) << c.name;
    EXPECT_FALSE(l.LastError().empty()) << c.name;
  }
  // Nesting deeper than TinyXML may recurse is refused by the XML guard, and said so.
  std::string deep = "<ConfigList>";
  for (int i = 0; i < 10'000; ++i) deep += "<a>";
  QrLabelLayout nested(LayoutFile(deep));
  EXPECT_EQ(nested.LoadLayout(), -1);
  EXPECT_NE(nested.LastError().find("the XML nests deeper than 128 elements"), std::string::npos) << nested.LastError();
  ExpectDefaults(nested);
  QrLabelLayout missing(MakeTempDir("none") / "printconfig.xml");
  EXPECT_EQ(missing.LoadLayout(), -1);
  ExpectDefaults(missing);
}

TEST(QrLabelLayout, LoadRules) {
  // A stored 0, a missing attribute and an out-of-range value all take the
  // default; the last Config element wins.
  QrLabelLayout l(LayoutFile(
      "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<ConfigList>"
      "<Config width=\"99\" height=\"99\" fontsize=\"99\"/>"
      "<Config width=\"0\" height=\"20\" rowNum=\"-3\" lineNum=\"100000\" deviceLabelNum=\"4\""
      " div_Left_right=\"1.5\" div_top_bottom=\"-0.5\" div_mid=\"abc\" div_QR_ID=\"4.25\"/>"
      "</ConfigList>"));
  EXPECT_EQ(l.width, 30);
  EXPECT_EQ(l.height, 20);
  EXPECT_EQ(l.fontsize, 32);  // missing in the winning element
  EXPECT_EQ(l.rowNum, 2);
  EXPECT_EQ(l.lineNum, 1);
  EXPECT_EQ(l.deviceLabelNum, 4);
  EXPECT_DOUBLE_EQ(l.div_Left_right, 1.5);
  EXPECT_DOUBLE_EQ(l.div_top_bottom, 0.5);
  EXPECT_DOUBLE_EQ(l.div_mid, 2.5);
  EXPECT_DOUBLE_EQ(l.div_QR_ID, 4.25);
  // A label too low for its QR code (4 mm are kept below it) is not loaded.
  QrLabelLayout low(LayoutFile("<ConfigList><Config height=\"4\"/></ConfigList>"));
  EXPECT_EQ(low.height, 15);
}

TEST(QrLabelLayout, SaveRewritesTheWholeFile) {
  const auto path = LayoutFile("<ConfigList><Config width=\"50\"/><Config width=\"60\"/><Other/></ConfigList>");
  QrLabelLayout l(path);
  EXPECT_EQ(l.width, 60);
  l.div_mid = 3.25;
  ASSERT_EQ(l.SaveLayout(), 0);
  EXPECT_EQ(ReadText(path),
            "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n"
            "<ConfigList>\n"
            "    <Config width=\"60\" height=\"15\" rowNum=\"2\" lineNum=\"1\" deviceLabelNum=\"2\" fontsize=\"32\""
            " div_Left_right=\"1.0\" div_top_bottom=\"0.5\" div_mid=\"3.2\" div_QR_ID=\"3.0\" />\n"
            "</ConfigList>\n");
  QrLabelLayout again(path);
  EXPECT_DOUBLE_EQ(again.div_mid, 3.2);
}

TEST(QrLabelLayout, InvalidValuesAreNotSaved) {
  const auto path = LayoutFile("<ConfigList><Config width=\"40\"/></ConfigList>");
  const std::string before = ReadText(path);
  QrLabelLayout l(path);
  for (auto spoil : {+[](QrLabelLayout& x) { x.height = 0; }, +[](QrLabelLayout& x) { x.width = -5; },
                     +[](QrLabelLayout& x) { x.rowNum = 1000000; }, +[](QrLabelLayout& x) { x.div_mid = -1; },
                     +[](QrLabelLayout& x) { x.div_QR_ID = std::strtod("nan", nullptr); }}) {
    QrLabelLayout copy = l;
    spoil(copy);
    EXPECT_EQ(copy.SaveLayout(), -1);
    EXPECT_FALSE(copy.LastError().empty());
    EXPECT_EQ(ReadText(path), before);
  }
}

TEST(QrLabelLayout, CreatesTheDataFolder) {
  const auto path = MakeTempDir("fresh") / "Data" / "printconfig.xml";
  QrLabelLayout l(path);
  ASSERT_TRUE(l.CreateDefaultLayoutFile());
  EXPECT_EQ(ReadText(path), "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<ConfigList />\n");
  ASSERT_EQ(l.SaveLayout(), 0);
}

// A locale with a decimal comma, built for this test only (LOCPATH).
bool UseGermanLocale() {
  static const bool ok = [] {
    const auto dir = kelvara::test::HomeDir() / "locales";
    std::filesystem::create_directories(dir);
    const std::string cmd = "localedef -i de_DE -f UTF-8 '" + (dir / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) return false;
    setenv("LOCPATH", dir.c_str(), 1);
    return true;
  }();
  return ok && std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
}

TEST(QrLabelLayout, NumbersUseTheCLocaleWhateverTheUserLocale) {
  if (!UseGermanLocale()) GTEST_SKIP() << "cannot build a de_DE locale here";
  char probe[16];
  std::snprintf(probe, sizeof(probe), "%.1f", 2.5);
  ASSERT_STREQ(probe, "2,5");  // the locale really uses a decimal comma
  const auto path = LayoutFile("<ConfigList><Config div_mid=\"4.5\"/></ConfigList>");
  QrLabelLayout l(path);
  EXPECT_DOUBLE_EQ(l.div_mid, 4.5);
  ASSERT_EQ(l.SaveLayout(), 0);
  EXPECT_NE(ReadText(path).find("div_mid=\"4.5\""), std::string::npos);
  std::setlocale(LC_ALL, "C");
}

}  // namespace
