// The context menu's construction rules, the clipboard texts, the web page
// address and the batch-debug rows.
#include <gtest/gtest.h>

#include "common/ipv4_host.h"
#include "common/text_convert.h"
#include "discovery/core/context_menu.h"
#include "discovery/core/device_import.h"
#include "discovery/core/row_clipboard.h"

namespace kelvara::discovery {
namespace {

std::string Key(const char* key) { return std::string("<") + key + ">"; }

const MenuEntry* Find(const std::vector<MenuEntry>& menu, int id) {
  for (const auto& e : menu)
    if (const MenuEntry* f = e.Find(id)) return f;
  return nullptr;
}

const MenuEntry* Popup(const std::vector<MenuEntry>& menu, const std::string& text) {
  for (const auto& e : menu)
    if (e.kind == MenuEntry::Kind::kPopup && e.text == text) return &e;
  return nullptr;
}

ContextMenuInputs Row(bool online, int style = 0) {
  ContextMenuInputs in;
  in.style = style;
  in.rowSelected = in.rowHasRecord = true;
  in.rowOnline = online;
  return in;
}

TEST(ContextMenu, StyleChoosesTheTemplateAndWhetherItOpens) {
  ContextMenuInputs none;
  EXPECT_FALSE(BuildContextMenu(none, Key));  // style 0 without a row
  ContextMenuInputs noRecord = Row(true);
  noRecord.rowHasRecord = false;
  EXPECT_FALSE(BuildContextMenu(noRecord, Key));

  none.style = 2;  // the small menu, nothing greyed
  const auto small = BuildContextMenu(none, Key);
  ASSERT_TRUE(small);
  std::vector<int> ids;
  for (const auto& e : *small) {
    ids.push_back(e.id);
    EXPECT_TRUE(e.enabled) << e.id;
  }
  EXPECT_EQ(ids, (std::vector<int>{32777, 33300, 32778, 32772, 32774}));
  EXPECT_EQ((*small)[0].text, "<TEXT23>");

  none.style = 1;  // remote configuration, reboot and restore, all greyed without a row
  const auto style1 = BuildContextMenu(none, Key);
  ASSERT_TRUE(style1);
  ASSERT_EQ(style1->size(), 3u);
  EXPECT_EQ((*style1)[0].text, "<TEXT37>");
  EXPECT_FALSE((*style1)[0].enabled);
  EXPECT_EQ((*style1)[0].children.size(), 8u);  // no channel 2 without a row
  EXPECT_EQ((*style1)[0].children[0].id, 33414);
  EXPECT_FALSE((*style1)[1].enabled);
  EXPECT_FALSE((*style1)[2].enabled);
}

TEST(ContextMenu, FullMenuGreysWhatAnOfflineRowCannotDo) {
  const auto menu = BuildContextMenu(Row(false), Key);
  ASSERT_TRUE(menu);
  for (int id : {32790, 32967, 32777, 33382, 33383}) EXPECT_FALSE(Find(*menu, id)->enabled) << id;
  // Copying still works offline; reboot and restore are greyed.
  EXPECT_TRUE(Find(*menu, 33305)->enabled);
  EXPECT_TRUE(Find(*menu, 32772)->enabled);
  EXPECT_FALSE(Find(*menu, 32778)->enabled);
  EXPECT_FALSE(Find(*menu, 32774)->enabled);
  EXPECT_FALSE(Popup(*menu, "P2P ID UPLOAD")->enabled);
  EXPECT_EQ(Find(*menu, menu_id::kRemoved), nullptr);
  // The texts come from the language table; entries without a key keep their caption.
  EXPECT_EQ(Find(*menu, 32772)->text, "<TEXT30>");
  EXPECT_EQ(Find(*menu, 33302)->text, "UUID");
  EXPECT_EQ(Find(*menu, 26)->text, "EXCEL");
}

TEST(ContextMenu, KeysWithoutALanguageTextShowTheTemplateCaption) {
  const auto menu = BuildContextMenu(Row(true), [](const char*) { return std::string(); });
  ASSERT_TRUE(menu);
  EXPECT_EQ(Find(*menu, 33307)->text, "复制能力集");
  EXPECT_EQ(Find(*menu, 32772)->text, "修改IP地址");
  EXPECT_EQ(Find(*menu, 33301)->text, "SN");
  EXPECT_EQ(Find(*menu, 33302)->text, "UUID");
}

TEST(ContextMenu, LanguageAndSwitchesTrimThePopups) {
  ContextMenuInputs en = Row(true);
  en.abilityText = "create_timelapse ExtChannel1";
  en.gridPanes = 9;
  en.autoTraceOn = true;
  const auto menu = BuildContextMenu(en, Key);
  ASSERT_TRUE(menu);
  const MenuEntry* upload = Popup(*menu, "P2P ID UPLOAD");
  ASSERT_TRUE(upload);
  ASSERT_EQ(upload->children.size(), 2u);
  EXPECT_EQ(upload->children[0].text, "RM64Pro(ALI LV)");
  EXPECT_EQ(upload->children[1].text, "AIOT IPC");
  for (const char* gone : {"P2P ID DOWNLOAD", "P2P SERVICES", "ISP BIN upload", "HIK", "DH", "KRN"})
    EXPECT_EQ(Popup(*menu, gone), nullptr) << gone;
  EXPECT_NE(Popup(*menu, "ONVIF"), nullptr);
  EXPECT_TRUE(Find(*menu, 32932)->checked);
  EXPECT_TRUE(Find(*menu, 33453)->checked);
  EXPECT_FALSE(Find(*menu, 33454)->checked);
  EXPECT_TRUE(Find(*menu, 33382)->enabled);
  EXPECT_FALSE(Find(*menu, 33383)->enabled);
  EXPECT_EQ((*menu)[2].children.size(), 9u);  // channel 2 offered

  ContextMenuInputs zh = Row(true);
  zh.uiLanguage = "zh-cn";
  const auto full = BuildContextMenu(zh, Key);
  EXPECT_EQ(Popup(*full, "P2P ID UPLOAD")->children.size(), 10u);
  EXPECT_NE(Popup(*full, "HIK"), nullptr);
  EXPECT_NE(Popup(*full, "P2P SERVICES"), nullptr);
  zh.showP2pService = false;
  EXPECT_EQ(Popup(*BuildContextMenu(zh, Key), "P2P SERVICES"), nullptr);

  ContextMenuInputs custom = Row(true);
  custom.customXmlRoot = "XML_CUSTOM";
  const auto c = BuildContextMenu(custom, Key);
  EXPECT_EQ(Find(*c, 33382), nullptr);
  EXPECT_EQ(Find(*c, 33383), nullptr);
  EXPECT_EQ((*c)[2].children.size(), 5u);  // three language entries from position 3 gone
}

TEST(RowClipboard, CopyTextsAndTheWebPage) {
  DeviceListRow row;
  DeviceSearchInfo& r = row.m_searchInfo;
  r.serialNumber = "SN1";
  r.uuid = "U1";
  r.deviceType = "DAV-ODUVE-IPC";
  r.p2pType = 3;
  r.lanConfig.ipAddress = "10.0.0.5";
  r.replyText = "<reply/>";
  row.m_abilityText = std::string(5000, 'a');
  EXPECT_EQ(CopyFieldText(row, 33301), "SN1");
  EXPECT_EQ(CopyFieldText(row, 33307).size(), kCopyTextLimit - 1);
  const std::string all = CopyFieldText(row, 33305);
  EXPECT_EQ(all.rfind("MODEL               DAV-ODUVE-IPC\nSN                  SN1\nUUID                U1\n"
                      "P2PTYPE             3\n", 0), 0u) << all;
  // No title: the last line is an empty TITLE.
  EXPECT_EQ(all.substr(all.size() - 11), "TITLE     \n");
  r.titleHex = TitleHexFromText("门口");
  // The title arrives in the clipboard's code page like the other fields (GBK
  // "门口" is C3 C5 BF DA), so the clipboard shows it as typed.
  const std::string titled = CopyFieldText(row, 33305);
  EXPECT_EQ(titled.substr(titled.size() - 15), "TITLE     \xC3\xC5\xBF\xDA\n");
  EXPECT_EQ(AnsiToCString(titled.c_str()).substr(AnsiToCString(titled.c_str()).size() - 3), u"门口\n");
  EXPECT_EQ(SearchReplyText(row), "<reply/>");
  r.replyText.clear();
  EXPECT_EQ(SearchReplyText(row), "");

  EXPECT_EQ(WebPageUrl("10.0.0.5", 80), "http://10.0.0.5:80");
  for (const auto& [ip, port] : std::vector<std::pair<std::string, int>>{
           {"10.0.0.5", 0}, {"10.0.0.5", 70000}, {"evil.example\" & calc", 80}, {"10.0.0.5/x", 80},
           {"0.0.0.0", 80}, {"", 80}})
    EXPECT_EQ(WebPageUrl(ip, port), "") << ip << ":" << port;
}

TEST(BatchDebugRows, OneDevicePerAddressUpTo253) {
  const auto five = BatchDebugDevices(*ParseIpv4Host("10.0.0.2"), *ParseIpv4Host("10.0.0.6"), "255.255.255.0",
                                      "10.0.0.1", "8.8.8.8", "1.1.1.1");
  ASSERT_EQ(five.size(), 5u);
  EXPECT_EQ(five[0].serialNumber, "batch_debug_000");
  EXPECT_EQ(five[4].serialNumber, "batch_debug_004");
  EXPECT_EQ(five[4].lanConfig.macAddress, "00:00:00:00:00:04");
  EXPECT_EQ(five[4].lanConfig.ipAddress, "10.0.0.6");
  EXPECT_EQ(five[0].deviceType, "DAV-ODUVE-DEBUG");
  EXPECT_EQ(five[0].streamAccess.ptzPort, 8091);
  EXPECT_EQ(five[0].streamAccess.webPort, 80);
  EXPECT_EQ(five[0].streamAccess.videoPort, 554);
  const auto many = BatchDebugDevices(*ParseIpv4Host("10.0.0.2"), *ParseIpv4Host("10.0.1.45"), "255.255.0.0", "", "", "");
  ASSERT_EQ(many.size(), 253u);
  EXPECT_EQ(many.back().serialNumber, "batch_debug_252");
  EXPECT_TRUE(BatchDebugDevices(*ParseIpv4Host("10.0.0.9"), *ParseIpv4Host("10.0.0.2"), "", "", "", "").empty());
}

}  // namespace
}  // namespace kelvara::discovery
