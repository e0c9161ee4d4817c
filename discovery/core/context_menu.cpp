#include "discovery/core/context_menu.h"

#include <algorithm>

namespace kelvara::discovery {
namespace {

using Kind = MenuEntry::Kind;

// A template entry: caption as the resource has it, key of the run-time text.
MenuEntry Cmd(int id, const char* caption, const char* key = nullptr) {
  MenuEntry e;
  e.id = id;
  e.text = key ? key : caption;  // resolved later: keys marked by `keyed`
  e.caption = caption;
  return e;
}

struct Template {
  std::vector<MenuEntry> entries;
};

MenuEntry Sep() {
  MenuEntry e;
  e.kind = Kind::kSeparator;
  return e;
}

MenuEntry Popup(const char* caption, std::vector<MenuEntry> children) {
  MenuEntry e;
  e.kind = Kind::kPopup;
  e.text = caption;
  e.caption = caption;
  e.children = std::move(children);
  return e;
}

// The remote-configuration popup: eight language entries and the channel-2 popup.
MenuEntry RemoteConfigPopup(bool small) {
  const std::vector<std::pair<int, const char*>> first =
      small ? std::vector<std::pair<int, const char*>>{{33414, "LANGAGE_ENGLISH"}, {33412, "LANGAGE_ZH_CN"},
                                                      {33413, "LANGAGE_ZH_TW"},   {33415, "LANGAGE_KO_KO"},
                                                      {33417, "ID_LANGUAGE_Japanese"}, {33416, "LANGAGE_PL_PL"},
                                                      {33418, "ID_LANGUAGE_Ukraine"}, {33419, "ID_LANGUAGE_ru_ru"}}
            : std::vector<std::pair<int, const char*>>{{33412, "LANGAGE_ZH_CN"}, {33413, "LANGAGE_ZH_TW"},
                                                      {33414, "LANGAGE_ENGLISH"}, {33415, "LANGAGE_KO_KO"},
                                                      {33416, "LANGAGE_PL_PL"}, {33417, "ID_LANGUAGE_Japanese"},
                                                      {33418, "ID_LANGUAGE_Ukraine"}, {33419, "ID_LANGUAGE_ru_ru"}};
  const std::vector<std::pair<int, const char*>> second =
      small ? std::vector<std::pair<int, const char*>>{{33430, "LANGAGE_ENGLISH"}, {33431, "LANGAGE_ZH_CN"},
                                                      {33432, "LANGAGE_ZH_TW"}, {33433, "LANGAGE_KO_KO"},
                                                      {33435, "ID_LANGUAGE_Japanese"}, {33434, "LANGAGE_PL_PL"},
                                                      {33436, "ID_LANGUAGE_Ukraine"}, {33437, "ID_LANGUAGE_ru_ru"}}
            : std::vector<std::pair<int, const char*>>{{33431, "LANGAGE_ZH_CN"}, {33432, "LANGAGE_ZH_TW"},
                                                      {33430, "LANGAGE_ENGLISH"}, {33433, "LANGAGE_KO_KO"},
                                                      {33434, "LANGAGE_PL_PL"}, {33435, "ID_LANGUAGE_Japanese"},
                                                      {33436, "ID_LANGUAGE_Ukraine"}, {33437, "ID_LANGUAGE_ru_ru"}};
  std::vector<MenuEntry> entries;
  for (const auto& [id, key] : first) entries.push_back(Cmd(id, key, key));
  std::vector<MenuEntry> channel;
  for (const auto& [id, key] : second) channel.push_back(Cmd(id, key, key));
  entries.push_back(Popup("IDC_SETCHANNEL", std::move(channel)));
  return Popup("TEXT37", std::move(entries));
}

std::vector<MenuEntry> FullMenu() {
  auto onOff = [](const char* caption, int on, int off) {
    return Popup(caption, {Cmd(on, "Enable"), Cmd(off, "Disable")});
  };
  return {
      Cmd(32777, "前往WEB", "TEXT23"),
      Cmd(33300, "登录", "IDS_LOGINING"),
      RemoteConfigPopup(false),
      Sep(),
      Popup("MENU_VIDEO_WND", {Cmd(32929, "关闭", "STRING_CLOSE"), Cmd(32930, "1"), Cmd(32931, "1X2"),
                               Cmd(32933, "2X2"), Cmd(32932, "3X3"), Cmd(32934, "4X4"), Cmd(32935, "4X5"),
                               Cmd(32936, "5X5")}),
      Cmd(32937, "一键播放", "MENU_VIDEO_PLAYALL"),
      Cmd(32967, "仅播放音频", "MENU_PLAY_ONLYAUDIO"),
      Cmd(32781, "停止播放", "TEXT27"),
      Cmd(32778, "重启设备", "TEXT29"),
      Sep(),
      Cmd(32772, "修改IP地址", "TEXT30"),
      Cmd(32775, "分配可用地址", "TEXT31"),
      Cmd(32774, "恢复默认配置", "TEXT32"),
      Sep(),
      Cmd(32790, "抓图", "SNAPPIC"),
      Cmd(32799, "打开抓图目录", "OPEN_SNAPPIC_PATH"),
      Sep(),
      Popup("P2P ID UPLOAD", {Cmd(33100, "DANALE"), Cmd(33101, "GOOLINK"), Cmd(33102, "CLOSELI"), Cmd(33103, "TUTK"),
                              Cmd(33104, "QINIU"), Cmd(33105, "TUYA"), Cmd(33106, "TUYA MAIN PID"),
                              Cmd(33107, "TUYA SUB PID"), Cmd(33108, "RM64Pro(ALI LV)"), Cmd(33109, "AIOT IPC")}),
      Popup("P2P ID DOWNLOAD", {Cmd(33378, "DANALE"), Cmd(33379, "RM64Pro(ALI LV)")}),
      onOff("P2P SERVICES", 33002, 33003),
      Sep(),
      Popup("ISP BIN upload", {Cmd(33015, "DAY"), Cmd(33016, "NIGHT"), Cmd(33017, "AIISP")}),
      Sep(),
      onOff("ONVIF", 33007, 33008),
      onOff("HIK", 33005, 33006),
      onOff("DH", 33020, 33021),
      onOff("KRN", 33022, 33023),
      Sep(),
      Popup("IMPORT", {Cmd(32986, "XML"), Cmd(27, "EXCEL")}),
      Popup("EXPORT", {Cmd(32987, "XML"), Cmd(26, "EXCEL")}),
      Cmd(33027, "BATCH ADD"),
      Cmd(33029, "COPY XML"),
      Sep(),
      Cmd(32963, "默认用户设置", "DEFAULT_USER_SET"),
      Popup("ID__MENU_SLOG_DEVICE",
            {Cmd(33455, "ID__MENU_SLOGPATH_SET", "ID__MENU_SLOGPATH_SET"),
             Cmd(33451, "ID__MENU_SLOGPATH_OPEN", "ID__MENU_SLOGPATH_OPEN"),
             Cmd(33452, "ID__MENU_SLOGLEVEL_DEFAULT", "ID__MENU_SLOGLEVEL_DEFAULT"),
             Cmd(33453, "ID__MENU_SLOG_AUTOTRACE_OPEN", "ID__MENU_SLOG_AUTOTRACE_OPEN"),
             Cmd(33454, "ID__MENU_SLOG_AUTOTRACE_CLOSE", "ID__MENU_SLOG_AUTOTRACE_CLOSE")}),
      Popup("IDS_STR_COPYDEVID_BNT", {Cmd(33301, "SN", "SN"), Cmd(33302, "UUID"), Cmd(33303, "P2PID"),
                                      Cmd(33304, "MAC"), Cmd(33307, "复制能力集", "COPY_CAPABILITY"),
                                      Cmd(33305, "IDS_STR_ZH_CN_PB_TIPS13", "IDS_STR_ZH_CN_PB_TIPS13")}),
      Cmd(33308, ""),
      Cmd(33382, "Timelapse", "CREATE_TIMELAPSE"),
      Cmd(33383, "导出录像", "ID_EXPORT_RECORD"),
  };
}

MenuEntry* FindMutable(std::vector<MenuEntry>& entries, int id) {
  for (auto& e : entries) {
    if (e.kind == Kind::kCommand && e.id == id) return &e;
    if (MenuEntry* f = FindMutable(e.children, id)) return f;
  }
  return nullptr;
}

void Grey(std::vector<MenuEntry>& entries, std::initializer_list<int> ids) {
  for (int id : ids)
    if (MenuEntry* e = FindMutable(entries, id)) e->enabled = false;
}

void GreyAll(MenuEntry& popup) {
  popup.enabled = false;
  for (auto& c : popup.children) {
    c.enabled = false;
    if (c.kind == Kind::kPopup) GreyAll(c);
  }
}

void Erase(std::vector<MenuEntry>& entries, std::size_t position, std::size_t count) {
  if (position >= entries.size()) return;
  entries.erase(entries.begin() + static_cast<long>(position),
                entries.begin() + static_cast<long>(std::min(entries.size(), position + count)));
}

void RemoveId(std::vector<MenuEntry>& entries, int id) {
  entries.erase(std::remove_if(entries.begin(), entries.end(),
                               [id](const MenuEntry& e) { return e.kind == Kind::kCommand && e.id == id; }),
                entries.end());
  for (auto& e : entries) RemoveId(e.children, id);
}

// Texts: a command or popup whose text names a language key that has a text
// shows that text; others keep their caption.
void Resolve(std::vector<MenuEntry>& entries, const std::function<std::string(const char*)>& lookup,
             const std::vector<std::string>& keys) {
  for (auto& e : entries) {
    if (e.kind == Kind::kSeparator) continue;
    if (std::find(keys.begin(), keys.end(), e.text) != keys.end()) {
      const std::string t = lookup(e.text.c_str());
      if (!t.empty()) {
        e.text = t;
      } else if (!e.caption.empty()) {
        e.text = e.caption;
      }
    }
    Resolve(e.children, lookup, keys);
  }
}

}  // namespace

const MenuEntry* MenuEntry::Find(int commandId) const {
  if (kind == Kind::kCommand && id == commandId) return this;
  for (const auto& c : children)
    if (const MenuEntry* f = c.Find(commandId)) return f;
  return nullptr;
}

std::optional<std::vector<MenuEntry>> BuildContextMenu(const ContextMenuInputs& in,
                                                        const std::function<std::string(const char*)>& lookup) {
  const bool row = in.rowSelected;
  if (in.style <= 0 && !row) return std::nullopt;
  if (row && !in.rowHasRecord) return std::nullopt;
  const bool online = row && in.rowOnline;
  std::vector<MenuEntry> menu;
  // Which texts come from the language table in this template.
  std::vector<std::string> keys = {"TEXT32", "TEXT29"};
  MenuEntry* remote = nullptr;

  if (in.style == 2) {
    menu = {Cmd(32777, "前往WEB", "TEXT23"), Cmd(33300, "登录", "IDS_LOGINING"), Cmd(32778, "重启设备", "TEXT29"),
            Cmd(32772, "修改IP地址", "TEXT30"), Cmd(32774, "恢复默认配置", "TEXT32")};
    keys.insert(keys.end(), {"TEXT23", "IDS_LOGINING", "TEXT30"});
  } else if (in.style == 1) {
    menu = {RemoteConfigPopup(true), Cmd(32778, "重启设备", "TEXT29"), Cmd(32774, "恢复默认配置", "TEXT32")};
    remote = &menu[0];
  } else {
    menu = FullMenu();
    keys.insert(keys.end(), {"TEXT23", "IDS_LOGINING", "MENU_VIDEO_WND", "STRING_CLOSE", "MENU_VIDEO_PLAYALL",
                             "MENU_PLAY_ONLYAUDIO", "TEXT27", "TEXT30", "TEXT31", "SNAPPIC", "OPEN_SNAPPIC_PATH",
                             "DEFAULT_USER_SET", "ID__MENU_SLOG_DEVICE", "ID__MENU_SLOGPATH_SET",
                             "ID__MENU_SLOGPATH_OPEN", "ID__MENU_SLOGLEVEL_DEFAULT", "ID__MENU_SLOG_AUTOTRACE_OPEN",
                             "ID__MENU_SLOG_AUTOTRACE_CLOSE", "IDS_STR_COPYDEVID_BNT", "SN", "COPY_CAPABILITY",
                             "IDS_STR_ZH_CN_PB_TIPS13", "CREATE_TIMELAPSE", "ID_EXPORT_RECORD"});
    // The grid layout that matches the panes.
    const std::pair<int, int> panes[] = {{1, 32930}, {2, 32931}, {4, 32933}, {9, 32932},
                                         {16, 32934}, {20, 32935}, {25, 32936}};
    for (const auto& [n, id] : panes)
      if (n == in.gridPanes) FindMutable(menu, id)->checked = true;
    auto has = [&](const char* what) { return row && in.abilityText.find(what) != std::string::npos; };
    if (!has("create_timelapse")) Grey(menu, {33382});
    if (!has("export_record")) Grey(menu, {33383});
    FindMutable(menu, in.autoTraceOn ? 33453 : 33454)->checked = true;
    if (!in.customXmlRoot.empty() || in.uiLanguage != "zh-cn") {
      Erase(menu[17].children, 0, 8);
      Erase(menu, 18, 5);
      Erase(menu, 19, 3);
    } else if (!in.showP2pService) {
      Erase(menu, 19, 1);
    }
    if (!online) {
      Grey(menu, {32790});
      if (!row) Grey(menu, {32772, 32775, 33301, 33302, 33303, 33304, 33307, 33305});
      Grey(menu, {32967, 33100, 32777});
      menu[17].enabled = false;
    }
    remote = &menu[2];
  }
  RemoveId(menu, menu_id::kRemoved);
  if (remote != nullptr) {
    keys.insert(keys.end(), {"TEXT37", "IDC_SETCHANNEL", "LANGAGE_ZH_CN", "LANGAGE_ZH_TW", "LANGAGE_ENGLISH",
                             "LANGAGE_KO_KO", "LANGAGE_PL_PL", "ID_LANGUAGE_Japanese", "ID_LANGUAGE_Ukraine",
                             "ID_LANGUAGE_ru_ru"});
    if (!online) {
      GreyAll(*remote);
      Grey(menu, {32778, 32774});
    }
    if (!row || in.abilityText.find("ExtChannel1") == std::string::npos) remote->children.pop_back();
    if (!in.customXmlRoot.empty()) {
      RemoveId(menu, 33382);
      RemoveId(menu, 33383);
      Erase(remote->children, 3, 3);
    }
  }
  Resolve(menu, lookup, keys);
  return menu;
}

}  // namespace kelvara::discovery
