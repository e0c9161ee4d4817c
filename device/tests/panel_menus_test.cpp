// The button panel's popups: each lists exactly its menu's entries, in the
// menu's order, with language texts where the menu's text is replaced and
// the stored text elsewhere.
#include <gtest/gtest.h>

#include <algorithm>

#include "device/core/panel_menus.h"

namespace kelvara::device {
namespace {

using discovery::MenuEntry;

// "text=id" for commands, "text[...]" for submenus.
std::string Describe(const std::vector<MenuEntry>& entries) {
  std::string out;
  for (const auto& e : entries) {
    if (!out.empty()) out += " ";
    out += e.text;
    if (e.kind == MenuEntry::Kind::kPopup) out += "[" + Describe(e.children) + "]";
    if (e.kind == MenuEntry::Kind::kCommand) out += "=" + std::to_string(e.id);
  }
  return out;
}

std::string Lookup(const char* key) { return std::string("<") + key + ">"; }

TEST(PanelMenus, EachButtonListsExactlyItsEntries) {
  const std::string lang =
      "<ID_LANGUAGE_ENGLISH>=%1 <ID_LANGUAGE_zh_cn>=%0 <ID_LANGUAGE_zh_tw>=%2 <ID_LANGUAGE_ru_ru>=%3 "
      "<ID_LANGUAGE_german>=%4 <ID_LANGUAGE_italian>=%5 <ID_LANGUAGE_turkey>=%6 <ID_LANGUAGE_croatian>=%7 "
      "<ID_LANGUAGE_korean>=%8 <ID_LANGUAGE_pt_pt>=%9 <ID_LANGUAGE_pl_pl>=%10 <ID_LANGUAGE_Japanese>=%11 "
      "<ID_LANGUAGE_Ukraine>=%12";
  auto languages = [&lang](int base) {
    std::string out = lang;
    for (int i = 12; i >= 0; --i) {
      const std::string tag = "%" + std::to_string(i);
      for (std::size_t at; (at = out.find(tag)) != std::string::npos;)
        out.replace(at, tag.size(), std::to_string(base + i));
    }
    return out;
  };
  const struct {
    int button;
    std::string entries;
  } cases[] = {
      {1028, "<BATCH_SCAN_BADCCD>=23 <BATCH_SAVE_BADCCD>=24"},
      {1029,
       "<IDS_IO_OUTPUT_CH1>[0=32802 1=32803] <IDS_IO_OUTPUT_CH2>[0=32804 1=32805] "
       "<IDS_IO_OUTPUT_CH3>[0=32806 1=32807] <IDS_IO_OUTPUT_CH4>[0=32808 1=32809]"},
      {1030, "DHCP=32945 <BTNTEXT3>=32902"},
      {1034,
       "<ID_BATCH_SET_VIDEOTYPE>[H264=32907 H265=32908 H265+=32909] <ID_BATCH_SET_VIDEOENCODE>=17 "
       "<ID_BATCH_SET_VIDEOCAPTURE>=33000 <IDS_STR_ZH_CN_MEDIA_ACAPTURE>=32974 <IDS_STR_ZH_CN_MEDIA_AENCODE>=32924 "
       "<IDS_STR_LIGHT_CFG>=33388"},
      {32988, "H264=32907 H265=32908 H265+=32909"},
      {1035, "<ID_BATCH_SYNC_TIME>=8 <ID_BATCH_CONFIG_TIME>=32911 <ID_BATCH_CONFIG_ALARM_CLOCK>=32912"},
      {15, "<IDS_ISP_NORMAL>[" + languages(33360) + "] KC[" + languages(33340) + "]"},
  };
  for (const auto& c : cases) {
    const auto menu = PanelPopupMenu(c.button, Lookup);
    ASSERT_TRUE(menu) << c.button;
    EXPECT_EQ(Describe(*menu), c.entries) << c.button;
  }
  // Buttons without a popup, and the IP popup's removed entry.
  EXPECT_FALSE(PanelPopupMenu(17, Lookup));
  EXPECT_FALSE(PanelPopupMenu(0, Lookup));
  const auto lan = PanelPopupCommands(*PanelPopupMenu(1030, Lookup));
  EXPECT_EQ(lan, (std::vector<int>{32945, 32902}));
}

TEST(PanelMenus, LanguagePopupCoversBothRangesOnce) {
  std::vector<int> ids = PanelPopupCommands(*PanelPopupMenu(15, Lookup));
  std::sort(ids.begin(), ids.end());
  std::vector<int> expected;
  for (int id = 33340; id <= 33352; ++id) expected.push_back(id);
  for (int id = 33360; id <= 33372; ++id) expected.push_back(id);
  EXPECT_EQ(ids, expected);
}

}  // namespace
}  // namespace kelvara::device
