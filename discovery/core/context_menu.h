#pragma once
// The device list's context menu as data: which template the display
// switch "STYLE" picks, each entry's text (a language key, or the caption
// when the key gives none), and which entries are greyed, checked or
// removed for the selected row. The Qt glue turns it into a QMenu.
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kelvara::discovery {

struct MenuEntry {
  enum class Kind { kCommand, kPopup, kSeparator };
  Kind kind = Kind::kCommand;
  int id = 0;            // command id; 0 for popups and separators
  std::string text;      // shown text (UTF-8)
  std::string caption;   // the template's own caption, kept when a keyed text has no language text
  bool enabled = true;
  bool checked = false;
  std::vector<MenuEntry> children;  // a popup's entries

  const MenuEntry* Find(int commandId) const;  // this entry or one below it
};

struct ContextMenuInputs {
  int style = 0;                  // display switch "STYLE" (item 32972)
  std::string customXmlRoot;      // display string 33380
  std::string uiLanguage = "en-us";
  bool showP2pService = true;     // display switch "ID_SHOW_P2PSERVICE" (item 33014)
  bool rowSelected = false;       // a row is selected...
  bool rowHasRecord = false;      // ...and it has a record
  bool rowOnline = false;
  std::string abilityText;
  int gridPanes = 1;              // panes of the video grid
  bool autoTraceOn = false;       // device-log auto trace
};

// The menu to show: the template's first popup's entries; nullopt when
// nothing opens. `lookup` gives a key's text ("" when the language has none).
std::optional<std::vector<MenuEntry>> BuildContextMenu(const ContextMenuInputs& in,
                                                        const std::function<std::string(const char* key)>& lookup);

// Command ids of the entries whose handlers are the device list's own.
namespace menu_id {
inline constexpr int kOpenWeb = 32777, kLoginToggle = 33300, kChangeIp = 32772, kFreeIp = 32775,
                     kRestore = 32774, kReboot = 32778, kImportXml = 32986, kImportExcel = 27,
                     kExportXml = 32987, kExportExcel = 26, kBatchAdd = 33027, kCopyXml = 33029,
                     kDefaultUser = 32963, kCopySerial = 33301, kCopyUuid = 33302, kCopyP2pId = 33303,
                     kCopyMac = 33304, kCopyAll = 33305, kCopyAbility = 33307, kRemoved = 33308,
                     kSetDhcp = 32945, kSetIpFree = 32901, kSetIpConsecutive = 32902,
                     kRestoreKeepNetwork = 33385, kRestoreFull = 33386;
}  // namespace menu_id

}  // namespace kelvara::discovery
