#include "app/shell/main_layout.h"

#include <algorithm>
#include <array>

namespace kelvara::shell {
namespace {

constexpr std::array<int, 39> kStyleZeroButtons = {
    4,    7,    1030, 21,   1034, 32988, 17,   32974, 32924, 1299, 1031, 1028, 1301,
    1297, 1055, 1303, 1035, 22,   14,    15,   11,    1305,  1306, 1298, 1051, 1295,
    1193, 20,   19,   1029, 2064, 1294,  6,    10,    13,    16,   25,   18,   29};
constexpr std::array<int, 12> kCompactButtons = {4, 7, 1030, 21, 10, 20, 15, 1035, 14, 1055, 1034, 1298};
constexpr std::array<int, 8> kFileButtons = {3, 26, 1293, 1291, 1292, 1191, 1189, 1190};

// Collects the layout's decisions; a later decision for the same control wins,
// as it would when the moves were applied one after another.
class Sink {
 public:
  Sink(const LayoutInput& in, std::map<int, ControlPlacement>& out) : in_(in), out_(out) {}
  void Move(int id, int x, int y, int w, int h) {
    if (in_.exists(id)) out_[id].box = Box{x, y, w, h};
  }
  void Show(int id, bool visible) {
    if (in_.exists(id)) out_[id].visible = visible;
  }
  bool Displayed(int id) const { return in_.displayed(id); }

 private:
  const LayoutInput& in_;
  std::map<int, ControlPlacement>& out_;
};

}  // namespace

std::span<const int> StyleZeroButtons() { return kStyleZeroButtons; }
std::span<const int> CompactStyleButtons() { return kCompactButtons; }
std::span<const int> FileButtons() { return kFileButtons; }

void LayoutButtonRows(std::span<const int> id_list, const FlowRows& flow, const LayoutInput& in,
                      std::map<int, ControlPlacement>& out, int& widest_right, int& next_y) {
  auto visible = [&](int id) { return id != 0 && in.exists(id) && in.displayed(id); };
  const int count = static_cast<int>(std::count_if(id_list.begin(), id_list.end(), visible));
  const int rows = std::max(flow.rows, 1);
  const int per_row = count < flow.extra ? 0 : (count - flow.extra + rows - 1) / rows;

  Sink sink(in, out);
  int x = flow.first_row_x, y = flow.top_y;
  int in_row = 0, capacity = per_row + flow.extra;
  for (int id : id_list) {
    if (!visible(id)) continue;
    sink.Show(id, true);
    sink.Move(id, x, y, flow.width, flow.height);
    x += flow.width + 8;
    // The widest edge is compared as an unsigned number, as the window does.
    if (static_cast<unsigned>(x) > static_cast<unsigned>(widest_right)) widest_right = x;
    next_y = y + flow.height + 8;
    if (++in_row >= capacity) {
      in_row = 0;
      capacity = per_row;
      y += flow.height + 8;
      x = flow.later_row_x;
    }
  }
}

LayoutResult LayoutMainControls(const LayoutInput& in) {
  using namespace ids;
  LayoutResult r;
  if (!in.exists(kUploadCfgButton)) return r;
  r.done = true;
  Sink s(in, r.controls);
  const ClientRect& rc = in.client;

  int gap = 8;
  int widest = 0;
  int next_y = 0;
  int list_bottom = rc.bottom;

  if (in.style != 1 && in.style != 2) {
    // File rows from the bottom up; each displayed row pushes the next one up.
    const int bw = 83, browse = 47, rh = 36, edit = 317;
    int rows = 0;
    int y = rc.bottom - 10 - rh;
    const int x = rc.left + 10;
    s.Move(kDefaultCfgButton, x, y, bw, rh);
    s.Move(kDefaultCfgEdit, x + 87, y + 5, edit, 31);
    if (s.Displayed(kDefaultCfgButton)) { y -= rh + 4; ++rows; }

    s.Move(kUploadCfgButton, x, y, bw, rh);
    s.Move(kUploadCfgEdit, x + 87, y + 5, 267, 31);
    s.Move(kUploadCfgAuto, x + 87 + 267, y + 5, 50, 31);
    s.Move(kUploadCfgBrowse, x + 87 + 321, y, browse, rh);
    const int later_row_x = x + 463;
    if (s.Displayed(kUploadCfgButton)) { y -= rh + 8; ++rows; }

    s.Move(kUpgradeFolderButton, x, y, bw, rh);
    s.Move(kUpgradeFolderEdit, x + 87, y + 5, edit, 31);
    s.Move(kUpgradeFolderBrowse, x + 408, y, browse, rh);
    if (s.Displayed(kUpgradeFolderButton)) { y -= 44; ++rows; }

    s.Move(kUpgradeFileButton, x, y, bw, rh);
    s.Move(kUpgradeFileEdit, x + 87, y + 5, edit, 31);
    s.Move(kUpgradeFileBrowse, x + 408, y, browse, rh);
    if (s.Displayed(kUpgradeFileButton)) { y -= 44; ++rows; }

    LayoutButtonRows(kStyleZeroButtons, {rc.left + 10, later_row_x, y, rows + 1, 4, 108, 36}, in,
                     r.controls, widest, next_y);
    list_bottom = y - 8;
  } else {
    for (int id : {kUpgradeFolderButton, kUpgradeFolderEdit, kUpgradeFolderBrowse, kUploadCfgButton,
                   kUploadCfgEdit, kUploadCfgBrowse, kDefaultCfgButton, kDefaultCfgEdit, kUploadCfgAuto})
      s.Show(id, false);
    for (int id : kStyleZeroButtons) s.Show(id, false);
    if (in.style == 1) {
      int y = rc.bottom - 50 - 8;
      s.Move(kUpgradeFileButton, rc.left + 10, y, 108, 50);
      s.Move(kUpgradeFileEdit, rc.left + 126, y + 5, 572, 45);
      s.Move(kUpgradeFileBrowse, rc.left + 706, y, 108, 50);
      const int later_row_x = rc.left + 822 + 8;
      y -= 50 + 8;
      LayoutButtonRows(kCompactButtons, {rc.left + 10, later_row_x, y, 2, 6, 108, 50}, in, r.controls,
                       widest, next_y);
      list_bottom = y - 8;
    } else {
      LayoutButtonRows(kCompactButtons, {rc.left + 176, rc.left + 176, rc.top + 10, 1, 0, 108, 50}, in,
                       r.controls, widest, next_y);
      const int x0 = widest, y = rc.top + 10;
      s.Move(kUpgradeFileButton, x0, y, 108, 50);
      s.Move(kUpgradeFileEdit, x0 + 116, y + 5, 572, 45);
      s.Move(kUpgradeFileBrowse, x0 + 696, y, 108, 50);
      widest = x0 + 812;
      gap = 50;
      list_bottom = rc.bottom;
    }
  }

  // The top row.
  int x = rc.left + 10, y = rc.top + 10, row_h = 20;
  s.Move(kCheckAll, x, y, 48, 20);
  x += 48 + gap;
  if (s.Displayed(kNetCardCombo) && in.style != 2) {
    s.Move(kNetCardLabel, x, y + 3, 48, 17);
    x += 48 + gap;
    s.Move(kNetCardCombo, x, y, 100, 20);
    x += 100 + gap;
  } else {
    s.Show(kNetCardLabel, false);
    s.Show(kNetCardCombo, false);
  }
  if (in.style == 1 || in.style == 2) row_h = 30;
  if (in.style == 2) {
    x = rc.left + 60;
    y = rc.top + 10;
    row_h = 50;
    gap = 8;
    s.Move(kSearch, x, y, 108, row_h);
    // The buttons run from just right of the search button, so the controls
    // that follow it in the top row go right of the button row and the file
    // row instead of on top of them.
    x = std::max(x + 108 + gap, widest + gap);
  } else {
    s.Move(kSearch, x, y, 98, row_h);
    x += 98 + gap;
  }
  if (s.Displayed(kExportExcel)) {
    s.Move(kExportExcel, x, y, 98, row_h);
    x += 98 + gap;
  }
  if (s.Displayed(kDefaultUser)) {
    s.Show(kDefaultUser, true);
    s.Show(kDefaultPassword, true);
    s.Move(kDefaultUser, x, y, 80, row_h);
    x += 80 + gap;
    s.Move(kDefaultPassword, x, y, 80, row_h);
    x += 80 + gap;
  } else {
    s.Show(kDefaultUser, false);
    s.Show(kDefaultPassword, false);
  }
  auto place = [&](int id, int w) {
    s.Move(id, x, y, w, row_h);
    x += w + gap;
  };
  if (in.style != 1 && in.style != 2) {
    for (int id : {kCheckQr, kCheckSound, kCheckStreamSwitch}) s.Show(id, true);
    place(kCheckQr, 57);
    place(kCheckSound, 57);
    place(kCheckStreamSwitch, 188);
    place(kCheckPrintMode, 188);
    place(kCheckClearSerial, 188);
  } else {
    for (int id : {kCheckQr, kCheckPrintMode, kCheckStreamSwitch}) s.Show(id, false);
    s.Show(kCheckSound, true);
    place(kCheckSound, 57);
    place(kCheckPrintMode, 188);
  }

  const int right_end = rc.right - 10;
  if (in.style == 2) {
    const int width = std::min(right_end - std::max(widest, x - gap), 200);
    if (width > 0) {
      s.Show(kStatusText, true);
      s.Move(kStatusText, right_end - width, y + 3, width, row_h - 3);
    } else {
      s.Show(kStatusText, false);
    }
  } else {
    const int width = std::max(right_end - x, 200);
    s.Move(kStatusText, right_end - width, y + 3, width, row_h - 3);
  }

  const int list_top = y + row_h + gap;
  s.Move(kDeviceList, rc.left + 10, list_top, right_end - (rc.left + 10), list_bottom - list_top);

  s.Move(kLogo, widest + 10, rc.bottom - 70, 200, 60);
  // Style 2 draws the logo as the device list's background: its own control
  // would only cover the list.
  if (in.style == 2) s.Show(kLogo, false);
  r.widest_right = widest;
  r.list_bottom = list_bottom;
  r.centred_edits = {kDefaultUser, kDefaultPassword, kUpgradeFileEdit, kUpgradeFolderEdit, kUploadCfgEdit,
                     kOperatePassword};
  return r;
}

}  // namespace kelvara::shell
