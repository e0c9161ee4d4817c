#include "device/core/panel_menus.h"

#include "common/language_table.h"

namespace kelvara::device {

namespace {

using discovery::MenuEntry;

MenuEntry Command(int id, std::string text) {
  MenuEntry e;
  e.id = id;
  e.text = std::move(text);
  return e;
}

MenuEntry Popup(std::string text, std::vector<MenuEntry> children) {
  MenuEntry e;
  e.kind = MenuEntry::Kind::kPopup;
  e.text = std::move(text);
  e.children = std::move(children);
  return e;
}

// The codec submenu of menu 138, its texts as stored.
MenuEntry VideoTypePopup(std::string text) {
  return Popup(std::move(text), {Command(32907, "H264"), Command(32908, "H265"), Command(32909, "H265+")});
}

// The thirteen device languages of menu 161, in the menu's order (English
// first), with the key of each entry's text; `base` is the range's first id.
std::vector<MenuEntry> LanguageEntries(int base, const std::function<std::string(const char*)>& text) {
  static constexpr struct {
    int offset;
    const char* key;
  } kEntries[] = {{1, LangKey("ID_LANGUAGE_ENGLISH")},  {0, LangKey("ID_LANGUAGE_zh_cn")},
                  {2, LangKey("ID_LANGUAGE_zh_tw")},    {3, LangKey("ID_LANGUAGE_ru_ru")},
                  {4, LangKey("ID_LANGUAGE_german")},   {5, LangKey("ID_LANGUAGE_italian")},
                  {6, LangKey("ID_LANGUAGE_turkey")},   {7, LangKey("ID_LANGUAGE_croatian")},
                  {8, LangKey("ID_LANGUAGE_korean")},   {9, LangKey("ID_LANGUAGE_pt_pt")},
                  {10, LangKey("ID_LANGUAGE_pl_pl")},   {11, LangKey("ID_LANGUAGE_Japanese")},
                  {12, LangKey("ID_LANGUAGE_Ukraine")}};
  std::vector<MenuEntry> out;
  for (const auto& e : kEntries) out.push_back(Command(base + e.offset, text(e.key)));
  return out;
}

void Collect(const std::vector<MenuEntry>& entries, std::vector<int>& out) {
  for (const auto& e : entries) {
    if (e.kind == MenuEntry::Kind::kCommand) out.push_back(e.id);
    Collect(e.children, out);
  }
}

}  // namespace

std::optional<std::vector<MenuEntry>> PanelPopupMenu(int buttonId,
                                                     const std::function<std::string(const char*)>& lookup) {
  auto text = [&lookup](const char* key) { return lookup ? lookup(key) : std::string(key); };
  switch (buttonId) {
    case panel_button::kBadPixels:  // menu 136
      return std::vector<MenuEntry>{Command(23, text(LangKey("BATCH_SCAN_BADCCD"))),
                                    Command(24, text(LangKey("BATCH_SAVE_BADCCD")))};
    case panel_button::kIoOutput: {  // menu 155: four channels, each switched to 0 or 1
      static constexpr const char* kChannels[] = {LangKey("IDS_IO_OUTPUT_CH1"), LangKey("IDS_IO_OUTPUT_CH2"),
                                                  LangKey("IDS_IO_OUTPUT_CH3"), LangKey("IDS_IO_OUTPUT_CH4")};
      std::vector<MenuEntry> out;
      for (int ch = 0; ch < 4; ++ch)
        out.push_back(Popup(text(kChannels[ch]), {Command(32802 + 2 * ch, "0"), Command(32803 + 2 * ch, "1")}));
      return out;
    }
    case panel_button::kLan:  // menu 137 without its entry 32901
      return std::vector<MenuEntry>{Command(discovery::menu_id::kSetDhcp, "DHCP"),
                                    Command(discovery::menu_id::kSetIpConsecutive, text(LangKey("BTNTEXT3")))};
    case panel_button::kMedia:  // menu 138
      return std::vector<MenuEntry>{VideoTypePopup(text(LangKey("ID_BATCH_SET_VIDEOTYPE"))),
                                    Command(17, text(LangKey("ID_BATCH_SET_VIDEOENCODE"))),
                                    Command(33000, text(LangKey("ID_BATCH_SET_VIDEOCAPTURE"))),
                                    Command(32974, text(LangKey("IDS_STR_ZH_CN_MEDIA_ACAPTURE"))),
                                    Command(32924, text(LangKey("IDS_STR_ZH_CN_MEDIA_AENCODE"))),
                                    Command(33388, text(LangKey("IDS_STR_LIGHT_CFG")))};
    case panel_button::kVideoType:  // the codec submenu of menu 138 alone
      return VideoTypePopup("").children;
    case panel_button::kTime:  // menu 139
      return std::vector<MenuEntry>{Command(8, text(LangKey("ID_BATCH_SYNC_TIME"))),
                                    Command(32911, text(LangKey("ID_BATCH_CONFIG_TIME"))),
                                    Command(32912, text(LangKey("ID_BATCH_CONFIG_ALARM_CLOCK")))};
    case panel_button::kLanguage:  // menu 161: device language, and KC web language
      return std::vector<MenuEntry>{Popup(text(LangKey("IDS_ISP_NORMAL")), LanguageEntries(33360, text)),
                                    Popup("KC", LanguageEntries(33340, text))};
    default: return std::nullopt;
  }
}

std::vector<int> PanelPopupCommands(const std::vector<MenuEntry>& entries) {
  std::vector<int> out;
  Collect(entries, out);
  return out;
}

}  // namespace kelvara::device
