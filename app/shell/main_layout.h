#pragma once
// Placement of the main window's controls, computed from the client rectangle,
// the window style (0, 1 or 2) and the display switches. Pure: it returns what
// to move, show and hide, so every style is checked without a display.
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <vector>

namespace kelvara::shell {

struct Box {
  int x = 0, y = 0, width = 0, height = 0;
  friend bool operator==(const Box&, const Box&) = default;
};

struct ClientRect {
  int left = 0, top = 0, right = 0, bottom = 0;
};

// The final state of one control after a layout pass: a new place and/or a
// visibility change. Controls the layout does not touch are absent.
struct ControlPlacement {
  std::optional<Box> box;
  std::optional<bool> visible;
};

struct LayoutInput {
  ClientRect client;
  int style = 0;  // display value STYLE: 0 default, 1 and 2 the compact styles
  std::function<bool(int id)> exists;     // the control is part of the window
  std::function<bool(int id)> displayed;  // the display switch of the id is not 0
  // Width in pixels the control's caption needs with the window's font (0 or
  // unset: none). A control is never made narrower than its fixed width; a
  // caption that needs more widens it. For the default password box: the
  // width its echo characters need.
  std::function<int(int id)> text_width;
};

struct LayoutResult {
  std::map<int, ControlPlacement> controls;
  int widest_right = 0;  // right end of the button flow (and the file row in style 2)
  int list_bottom = 0;
  std::vector<int> centred_edits;  // edits whose single line is centred vertically
  bool done = false;               // false when the window lacks control 1292
  // The smallest client size at which no shown controls overlap and the list
  // keeps kMinListHeight (from the client's top left corner).
  int min_width = 0, min_height = 0;
  bool status_own_row = false;  // the status text went below the top row
};

inline constexpr int kMinListHeight = 120;

// Control ids the layout places (the window's fixed control ids).
namespace ids {
inline constexpr int kSearch = 3, kExportExcel = 26, kDeviceList = 1000, kStatusText = 1001,
                     kCheckAll = 1003, kCheckSound = 1005, kCheckStreamSwitch = 1006,
                     kCheckQr = 1007, kCheckPrintMode = 1008, kCheckClearSerial = 1009,
                     kNetCardCombo = 1016, kNetCardLabel = 1018, kDefaultUser = 1052,
                     kDefaultPassword = 1054, kOperatePassword = 1055, kUpgradeFileButton = 1291,
                     kUpgradeFileEdit = 1048, kUpgradeFileBrowse = 1189,
                     kUpgradeFolderButton = 1293, kUpgradeFolderEdit = 1050,
                     kUpgradeFolderBrowse = 1191, kUploadCfgButton = 1292, kUploadCfgEdit = 1049,
                     kUploadCfgBrowse = 1190, kUploadCfgAuto = 2068, kDefaultCfgButton = 1192,
                     kDefaultCfgEdit = 1053, kLogo = 2065, kTalkButton = 2064,
                     kNightDemoButton = 1303, kFocusModeButton = 25,
                     kPrintLabelButton = 1297;
}  // namespace ids

// The 39 batch and tool buttons of style 0, in flow order.
std::span<const int> StyleZeroButtons();
// The 12 buttons of styles 1 and 2, in flow order.
std::span<const int> CompactStyleButtons();
// The 8 search, export and file buttons.
std::span<const int> FileButtons();

// Flow layout of a list of buttons into rows. Only ids that are non-zero,
// exist and are displayed are shown and placed. A button whose caption needs
// more than the flow's width (LayoutInput::text_width) is made that wide. The first row holds `extra`
// more buttons than the later ones; later rows start at later_row_x.
struct FlowRows {
  int first_row_x = 0, later_row_x = 0, top_y = 0, rows = 1, extra = 0, width = 0, height = 0;
};
void LayoutButtonRows(std::span<const int> ids, const FlowRows& flow, const LayoutInput& in,
                      std::map<int, ControlPlacement>& out, int& widest_right, int& next_y);

LayoutResult LayoutMainControls(const LayoutInput& in);

}  // namespace kelvara::shell
