#include "common/display_config.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>

#include "kelvara_test/test_env.h"

namespace {

namespace fs = std::filesystem;
namespace id = kelvara::display_id;

fs::path WriteDisplayXml(const std::string& content) {
  fs::path file = kelvara::test::MakeTempDir("display") / "display.xml";
  std::ofstream(file, std::ios::binary) << content;
  return file;
}

TEST(DisplayConfigTest, DefaultsWithoutAFile) {
  CLoadDisplayCfg cfg(kelvara::test::MakeTempDir("none") / "display.xml");
  EXPECT_EQ(cfg.GetDisplay(1055), 0);
  EXPECT_EQ(cfg.GetDisplay(1292), 1);
  EXPECT_EQ(cfg.GetDisplay(1234), 1);  // not a switch
  EXPECT_EQ(cfg.GetCustomString(33381), "");
  EXPECT_EQ(cfg.GetCustomString(1234), "");
  EXPECT_EQ(cfg.Switches().size(), 66u);
  std::set<int> ids;
  std::set<std::string> keys;
  for (const auto& s : cfg.Switches()) {
    ids.insert(s.id);
    keys.insert(s.key);
  }
  EXPECT_EQ(ids.size(), 66u);
  EXPECT_EQ(keys.size(), 66u);
}

TEST(DisplayConfigTest, ValuesAreIntegersReadAsTheCLibraryDoes) {
  auto file = WriteDisplayXml(
      "<root>"
      "<STYLE display=\"2\"/>"
      "<IDC_BTN_UPLOAD_CFG display=\" -3\"/>"
      "<IDC_EDIT_OPERATE_PASSWORD display=\"1abc\"/>"
      "<IDC_BTN_UPGRADE display=\"on\"/>"
      "<IDC_EDIT_FILE/>"                       // no attribute: unchanged
      "<style display=\"5\"/>"                 // keys are case-sensitive
      "<ID_SERACH_AUTOSTOP display=\"1\"/><ID_SERACH_AUTOSTOP display=\"7\"/>"  // later wins
      "<LIST_SHOW_lESS display=\"99999999999\"/>"
      "</root>");
  CLoadDisplayCfg cfg(file);
  EXPECT_EQ(cfg.GetDisplay(id::STYLE), 2);
  EXPECT_EQ(cfg.GetDisplay(id::IDC_BTN_UPLOAD_CFG), -3);
  EXPECT_EQ(cfg.GetDisplay(id::IDC_EDIT_OPERATE_PASSWORD), 1);
  EXPECT_EQ(cfg.GetDisplay(id::IDC_BTN_UPGRADE), 0);
  EXPECT_EQ(cfg.GetDisplay(id::IDC_EDIT_FILE), 1);
  EXPECT_EQ(cfg.GetDisplay(id::ID_SERACH_AUTOSTOP), 7);
  EXPECT_EQ(cfg.GetDisplay(id::LIST_SHOW_lESS), 2147483647);

  std::map<int, bool> shown;
  cfg.ApplyToDialog([&](int i, bool on) { shown[i] = on; });
  EXPECT_EQ(shown.size(), 66u);
  EXPECT_TRUE(shown[id::STYLE]);                // any value above 0 shows
  EXPECT_FALSE(shown[id::IDC_BTN_UPLOAD_CFG]);  // negative hides
  EXPECT_FALSE(shown[id::IDC_BTN_UPGRADE]);
  EXPECT_TRUE(shown[id::IDC_EDIT_FILE]);
}

TEST(DisplayConfigTest, CustomStringsComeFromTheTopLevelDataString) {
  auto file = WriteDisplayXml(
      "<?xml version=\"1.0\"?>\n<root><STYLE display=\"1\"/></root>\n"
      "<DATA_STRING><IDS_CUST_XML_ROOT DATA=\"A,B\"/><IDS_CUST_CLOUD_TYPE DATA=\"" +
      std::string(200, 'q') + "\"/></DATA_STRING>");
  CLoadDisplayCfg cfg(file);
  EXPECT_EQ(cfg.GetDisplay(id::STYLE), 1);
  EXPECT_EQ(cfg.GetCustomString(id::IDS_CUST_XML_ROOT), "A,B");
  EXPECT_EQ(cfg.GetCustomString(id::IDS_CUST_CLOUD_TYPE), std::string(127, 'q'));
}

TEST(DisplayConfigTest, DataStringInsideRootIsNotFound) {
  auto file = WriteDisplayXml(
      "<root><DATA_STRING><IDS_CUST_CLOUD_TYPE DATA=\"QNB\"/></DATA_STRING></root>");
  CLoadDisplayCfg cfg(file);
  EXPECT_EQ(cfg.GetCustomString(id::IDS_CUST_CLOUD_TYPE), "");
}

TEST(DisplayConfigTest, BrokenFilesLeaveTheDefaults) {
  for (const char* content : {"", "<root><STYLE display=\"2\"", "<other><STYLE display=\"2\"/></other>",
                              "\xff\xfe\x00garbage"}) {
    CLoadDisplayCfg cfg(WriteDisplayXml(content));
    EXPECT_EQ(cfg.GetDisplay(id::STYLE), 0) << content;
    EXPECT_EQ(cfg.GetDisplay(id::IDC_BTN_UPLOAD_CFG), 1) << content;
  }
}

TEST(DisplayConfigTest, ShippedFileSetsTheDefaults) {
  CLoadDisplayCfg shipped(kelvara::test::SourceDir() / "resources" / "display.xml");
  CLoadDisplayCfg none(kelvara::test::MakeTempDir("none") / "display.xml");
  for (std::size_t i = 0; i < CLoadDisplayCfg::kSwitchCount; ++i) {
    EXPECT_EQ(shipped.Switches()[i].value, none.Switches()[i].value) << shipped.Switches()[i].key;
  }
  EXPECT_EQ(shipped.GetCustomString(id::IDS_CUST_XML_ROOT), "");
}

}  // namespace
