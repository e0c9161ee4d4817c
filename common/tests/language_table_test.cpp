#include "common/language_table.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <fstream>

#include "common/paths.h"
#include "kelvara_test/test_env.h"

namespace kelvara {
namespace {

namespace fs = std::filesystem;

void Write(const fs::path& file, const std::string& content) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << content;
}

constexpr char kTwoLanguages[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<Lang>\n"
    "  <Resources lan=\"en-us\" filename=\"lang/en.xml\" TITLE=\"Tool\"/>\n"
    "  <Resources lan=\"zh-cn\" filename=\"lang/zh.xml\" TITLE=\"\xE5\xB7\xA5\xE5\x85\xB7\"/>\n"
    "</Lang>\n";

// A program folder and a config folder of its own for each test.
class LanguageTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = test::MakeTempDir("prog");
    config_ = test::MakeTempDir("cfg");
  }
  void WriteLanguageFile(const char* name, const std::string& entries) {
    Write(program_ / "lang" / name,
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Lang><Resources>" + entries +
              "</Resources></Lang>\n");
  }
  void Choose(const std::string& code) { Write(config_ / "Kelvara.language", code + "\n"); }

  fs::path program_, config_;
};

TEST_F(LanguageTableTest, LoadsTheChosenLanguageAndItsTitle) {
  Write(program_ / "language.xml", kTwoLanguages);
  WriteLanguageFile("en.xml", "<HELLO>Hello</HELLO>");
  WriteLanguageFile("zh.xml", "<HELLO>\xE4\xBD\xA0\xE5\xA5\xBD</HELLO>");
  Choose("zh-cn");
  LanguageTable t(program_, config_);
  EXPECT_EQ(t.GetLanguageCode(), "zh-cn");
  EXPECT_TRUE(t.IsChinese());
  EXPECT_EQ(t.GetTitle(), "\xE5\xB7\xA5\xE5\x85\xB7");
  EXPECT_EQ(t.GetLanguageString("HELLO"), "\xE4\xBD\xA0\xE5\xA5\xBD");
}

TEST_F(LanguageTableTest, MissingKeyGivesEmptyTextNeverTheKey) {
  Write(program_ / "language.xml", kTwoLanguages);
  WriteLanguageFile("en.xml", "<HELLO>Hello</HELLO><EMPTY></EMPTY>");
  LanguageTable t(program_, config_);
  EXPECT_EQ(t.GetLanguageCode(), "en-us");  // no choice stored
  EXPECT_FALSE(t.IsChinese());
  EXPECT_EQ(t.GetLanguageString("HELLO"), "Hello");
  EXPECT_EQ(t.GetLanguageString("NOT_THERE"), "");
  EXPECT_EQ(t.GetLanguageString("EMPTY"), "");  // no text node: skipped
  EXPECT_EQ(t.size(), 1u);
}

TEST_F(LanguageTableTest, UnlistedChoiceFallsBackToEnglishAndKeepsTheChoiceFile) {
  Write(program_ / "language.xml", kTwoLanguages);
  WriteLanguageFile("en.xml", "<HELLO>Hello</HELLO>");
  Choose("pt-br");
  LanguageTable t(program_, config_);
  EXPECT_EQ(t.GetLanguageCode(), "en-us");
  EXPECT_EQ(t.GetLanguageString("HELLO"), "Hello");
  std::ifstream in(config_ / "Kelvara.language");
  std::string kept;
  std::getline(in, kept);
  EXPECT_EQ(kept, "pt-br");
}

TEST_F(LanguageTableTest, CodesCompareWithoutCase) {
  Write(program_ / "language.xml", kTwoLanguages);
  WriteLanguageFile("zh.xml", "<HELLO>zh</HELLO>");
  Choose("ZH-CN");
  LanguageTable t(program_, config_);
  EXPECT_EQ(t.GetLanguageString("HELLO"), "zh");
}

TEST_F(LanguageTableTest, NoEnglishAndNoChoiceEndsEmptyWithoutLooping) {
  Write(program_ / "language.xml",
        "<Lang><Resources lan=\"zh-cn\" filename=\"lang/zh.xml\" TITLE=\"T\"/></Lang>");
  WriteLanguageFile("zh.xml", "<HELLO>zh</HELLO>");
  Choose("ko-ko");
  LanguageTable t(program_, config_);
  EXPECT_EQ(t.GetLanguageCode(), "en-us");
  EXPECT_EQ(t.GetTitle(), "");
  EXPECT_EQ(t.size(), 0u);
  EXPECT_TRUE(t.GetLanguageFilePath().empty());
}

TEST_F(LanguageTableTest, MissingOrBrokenFilesGiveEmptyTexts) {
  {
    LanguageTable t(program_, config_);  // no language.xml at all
    EXPECT_FALSE(t.IsLoaded());
    EXPECT_EQ(t.GetLanguageString("HELLO"), "");
  }
  Write(program_ / "language.xml", "<Lang><Resources lan=\"en-us\" filename=\"lang/en.xml\"");
  {
    LanguageTable t(program_, config_);  // malformed language.xml
    EXPECT_FALSE(t.IsLoaded());
  }
  Write(program_ / "language.xml", kTwoLanguages);
  Write(program_ / "lang" / "en.xml", "<Lang><Resources><HELLO>Hel");
  {
    LanguageTable t(program_, config_);  // malformed language file
    EXPECT_EQ(t.GetTitle(), "Tool");
    EXPECT_EQ(t.size(), 0u);
  }
  std::string deep;
  for (int i = 0; i < 100'000; ++i) deep += "<HELLO>";
  WriteLanguageFile("en.xml", deep);
  {
    LanguageTable t(program_, config_);  // nested past TinyXML's stack: refused by the XML guard
    EXPECT_EQ(t.size(), 0u);
  }
  // About 900 keys, as the shipped file has, all load.
  std::string keys;
  for (int i = 0; i < 900; ++i) keys += "<K" + std::to_string(i) + ">Text " + std::to_string(i) + "</K" + std::to_string(i) + ">\n";
  WriteLanguageFile("en.xml", keys);
  {
    LanguageTable t(program_, config_);
    EXPECT_EQ(t.size(), 900u);
    EXPECT_EQ(t.GetLanguageString("K899"), "Text 899");
  }
}

TEST_F(LanguageTableTest, OnlyTheFirstResourcesCountsAndLaterDuplicatesWin) {
  Write(program_ / "language.xml", kTwoLanguages);
  Write(program_ / "lang" / "en.xml",
        "<Lang><Resources><A>one</A><B>b</B><A>two</A></Resources>"
        "<Resources><C>c</C></Resources></Lang>");
  LanguageTable t(program_, config_);
  EXPECT_EQ(t.GetLanguageString("A"), "two");
  EXPECT_EQ(t.GetLanguageString("B"), "b");
  EXPECT_EQ(t.GetLanguageString("C"), "");
}

TEST_F(LanguageTableTest, OverlongChoiceCountsAsMissing) {
  Write(program_ / "language.xml", kTwoLanguages);
  WriteLanguageFile("en.xml", "<HELLO>Hello</HELLO>");
  Choose(std::string(50, 'x'));
  LanguageTable t(program_, config_);
  EXPECT_EQ(t.GetLanguageCode(), "en-us");
}

TEST_F(LanguageTableTest, SetLanguageWritesTheChoiceForTheNextStartOnly) {
  Write(program_ / "language.xml", kTwoLanguages);
  WriteLanguageFile("en.xml", "<HELLO>Hello</HELLO>");
  WriteLanguageFile("zh.xml", "<HELLO>zh</HELLO>");
  fs::path fresh_config = config_ / "not" / "yet";  // created on demand
  LanguageTable t(program_, fresh_config);
  ASSERT_EQ(t.SetLanguage("zh-cn"), 0);
  EXPECT_EQ(t.GetLanguageCode(), "en-us");
  EXPECT_EQ(t.GetLanguageString("HELLO"), "Hello");
  LanguageTable next(program_, fresh_config);
  EXPECT_EQ(next.GetLanguageCode(), "zh-cn");
  EXPECT_EQ(next.GetLanguageString("HELLO"), "zh");

  EXPECT_EQ(t.SetLanguage(""), -1);
  EXPECT_EQ(t.SetLanguage("a\nb"), -1);
  LanguageTable blocked(program_, program_ / "language.xml" / "sub");  // a file, not a folder
  EXPECT_EQ(blocked.SetLanguage("en-us"), -1);
}

TEST_F(LanguageTableTest, RegistryNameFromRegistryXml) {
  struct Case {
    const char* xml;
    const char* name;
  } cases[] = {
      {"<root><Registry name=\"Other\"/></root>", "Other"},
      {"<root><!-- note --><Registry name=\"Other\"/></root>", "Kelvara"},
      {"<root><Other/><Registry name=\"Other\"/></root>", "Kelvara"},
      {"<root><Registry/></root>", "Kelvara"},
      {"<top><Registry name=\"Other\"/></top>", "Kelvara"},
      {"<root><Registry name=\"../evil\"/></root>", "Kelvara"},
      {"<root><Registry name=\"..\"/></root>", "Kelvara"},
      {"<root><Registry", "Kelvara"},
  };
  for (const Case& c : cases) {
    Write(program_ / "registry.xml", c.xml);
    LanguageTable t(program_, config_);
    EXPECT_EQ(t.GetRegistryName(), c.name) << c.xml;
    EXPECT_EQ(t.LanguageChoicePath(), config_ / (std::string(c.name) + ".language"));
  }
  fs::remove(program_ / "registry.xml");
  EXPECT_EQ(LanguageTable(program_, config_).GetRegistryName(), "Kelvara");
}

TEST_F(LanguageTableTest, TextsLongerThan5119UnitsAreDropped) {
  EXPECT_EQ(LanguageTable::Utf8ToText(std::string(5119, 'a')).size(), 5119u);
  EXPECT_EQ(LanguageTable::Utf8ToText(std::string(5120, 'a')), "");
  EXPECT_EQ(LanguageTable::Utf8ToText(std::string(6000, 'a')), "");
  // Three-byte characters count once, four-byte characters twice.
  std::string cjk;
  for (int i = 0; i < 5119; ++i) cjk += "\xE4\xBD\xA0";
  EXPECT_EQ(LanguageTable::Utf8ToText(cjk), cjk);
  std::string emoji;
  for (int i = 0; i < 2560; ++i) emoji += "\xF0\x9F\x98\x80";
  EXPECT_EQ(LanguageTable::Utf8ToText(emoji), "");
}

TEST(XmlElementTextTest, FirstTextNodeOfTheElementOrOfAChild) {
  TiXmlDocument doc;
  doc.Parse("<a><b>inner</b>outer<c/></a>");
  const TiXmlElement* a = doc.RootElement();
  std::string text;
  ASSERT_TRUE(XmlElementText(a, nullptr, &text));
  EXPECT_EQ(text, "outer");
  ASSERT_TRUE(XmlElementText(a, "b", &text));
  EXPECT_EQ(text, "inner");
  EXPECT_FALSE(XmlElementText(a, "c", &text));
  EXPECT_FALSE(XmlElementText(a, "missing", &text));
  EXPECT_FALSE(XmlElementText(nullptr, nullptr, &text));
}

TEST_F(LanguageTableTest, TextsKeepTheirBlanksAsTheFileHasThem) {
  Write(program_ / "language.xml", kTwoLanguages);
  WriteLanguageFile("en.xml", "<TRAIL>Searching... </TRAIL><LEAD>  two  blanks</LEAD><PLAIN>x</PLAIN>");
  LanguageTable t(program_, config_);
  EXPECT_EQ(t.GetLanguageString("TRAIL"), "Searching... ");
  EXPECT_EQ(t.GetLanguageString("LEAD"), "  two  blanks");
  EXPECT_EQ(t.GetLanguageString("PLAIN"), "x");
  // Other XML in the process is read as before.
  TiXmlDocument other;
  other.Parse("<a> b </a>");
  EXPECT_STREQ(other.RootElement()->GetText(), "b");
}

TEST_F(LanguageTableTest, LanguageFilesOutsideTheProgramFolderAreRefused) {
  fs::create_directories(program_ / "lang");
  Write(program_.parent_path() / "outside.xml",
        "<Lang><Resources><HELLO>outside</HELLO></Resources></Lang>");
  WriteLanguageFile("en.xml", "<HELLO>Hello</HELLO>");
  const std::string outside_abs = (program_.parent_path() / "outside.xml").string();
  struct Case {
    std::string filename;
    bool loads;
  };
  const Case cases[] = {
      {"lang/en.xml", true},
      {"lang/../lang/en.xml", false},
      {"../outside.xml", false},
      {"lang/../../outside.xml", false},
      {"..\\outside.xml", false},
      {outside_abs, false},
      {"", false},
  };
  for (const Case& c : cases) {
    Write(program_ / "language.xml",
          "<Lang><Resources lan=\"en-us\" filename=\"" + c.filename + "\" TITLE=\"T\"/></Lang>");
    LanguageTable t(program_, config_);
    EXPECT_EQ(t.GetLanguageString("HELLO"), c.loads ? "Hello" : "") << c.filename;
    EXPECT_EQ(t.IsLanguageAvailable("en-us"), c.loads) << c.filename;
    if (!c.loads) {
      EXPECT_TRUE(t.GetLanguageFilePath().empty()) << c.filename;
    }
  }
}

TEST_F(LanguageTableTest, OnlyListedLanguagesWithAnInstalledFileAreAvailable) {
  Write(program_ / "language.xml", kTwoLanguages);
  WriteLanguageFile("en.xml", "<HELLO>Hello</HELLO>");  // zh.xml is listed but not installed
  LanguageTable t(program_, config_);
  EXPECT_TRUE(t.IsLanguageAvailable("en-us"));
  EXPECT_TRUE(t.IsLanguageAvailable("EN-US"));
  EXPECT_FALSE(t.IsLanguageAvailable("zh-cn"));
  EXPECT_FALSE(t.IsLanguageAvailable("pt-br"));
}

// The files the program ships: English is complete and is the default.
TEST(ShippedLanguageFilesTest, EnglishLoadsFromTheResources) {
  fs::path resources = test::SourceDir() / "resources";
  LanguageTable t(resources, test::MakeTempDir("cfg"));
  EXPECT_EQ(t.GetRegistryName(), "Kelvara");
  EXPECT_EQ(t.GetLanguageCode(), "en-us");
  EXPECT_FALSE(t.GetTitle().empty());
  EXPECT_GT(t.size(), 0u);
  EXPECT_EQ(t.GetLanguageString("STRING_CLOSE"), "Off");
  // The status line's searching text ends with the blank that separates it
  // from the totals.
  EXPECT_EQ(t.GetLanguageString("CStorePlayBack_tip_searching"), "Searching... ");
  // No customer P2P-type name: the list shows the type names.
  EXPECT_EQ(t.GetLanguageString("P2PTYPENAME"), "");
  EXPECT_FALSE(t.GetLanguageString("STOPSEARCH").empty());
}

}  // namespace
}  // namespace kelvara

namespace kelvara {
namespace {

// The process-wide table reads the files next to the test binary, which the
// build copies there as it does for the program.
TEST(LanguageTableInstanceTest, OneTableBuiltFromTheProgramFolder) {
  LanguageTable& t = LanguageTable::Instance();
  EXPECT_EQ(&t, &LanguageTable::Instance());
  EXPECT_EQ(t.GetLanguageXmlPath(), paths::ProgramDir() / "language.xml");
  EXPECT_EQ(t.LanguageChoicePath(), paths::ConfigDir() / "Kelvara.language");
  EXPECT_EQ(t.GetLanguageCode(), "en-us");
  EXPECT_EQ(LangText("STRING_CLOSE"), "Off");
  EXPECT_EQ(LangText("NO_SUCH_KEY_ANYWHERE"), "");
}

}  // namespace
}  // namespace kelvara
