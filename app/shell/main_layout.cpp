#include "app/shell/main_layout.h"

#include <algorithm>
#include <array>
#include <initializer_list>

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
  // The fixed width, or what the caption needs when that is more.
  int Width(int id, int fixed) const {
    const int need = in_.text_width ? in_.text_width(id) : 0;
    return std::max(fixed, need);
  }

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
    // A caption wider than the flow's width widens only its own button.
    const int width = std::max(flow.width, in.text_width ? in.text_width(id) : 0);
    sink.Show(id, true);
    sink.Move(id, x, y, width, flow.height);
    x += width + 8;
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

// The widest caption among the buttons that will be shown, at least `fixed`:
// the file buttons keep one width, so their edits stay in one column.
int FlowWidth(std::span<const int> ids, int fixed, const LayoutInput& in) {
  int w = fixed;
  for (int id : ids)
    if (id != 0 && in.exists(id) && in.displayed(id) && in.text_width) w = std::max(w, in.text_width(id));
  return w;
}

LayoutResult LayoutMainControls(const LayoutInput& in) {
  using namespace ids;
  LayoutResult r;
  if (!in.exists(kUploadCfgButton)) return r;
  r.done = true;
  Sink s(in, r.controls);
  const ClientRect& rc = in.client;
  int bottom_panel_right = rc.left;  // right end of the file rows

  int gap = 8;
  int widest = 0;
  int next_y = 0;
  int list_bottom = rc.bottom;

  if (in.style != 1 && in.style != 2) {
    // File rows from the bottom up; each displayed row pushes the next one up.
    // The file buttons share one width (83, or what their captions need);
    // the edits and browse buttons follow them.
    constexpr int kFileButtonIds[] = {kDefaultCfgButton, kUploadCfgButton, kUpgradeFolderButton,
                                      kUpgradeFileButton};
    const int bw = FlowWidth(kFileButtonIds, 83, in);
    const int browse = 47, rh = 36, edit = 317;
    int rows = 0;
    int y = rc.bottom - 10 - rh;
    const int x = rc.left + 10;
    const int ex = x + bw + 4;  // 87 with the fixed width
    s.Move(kDefaultCfgButton, x, y, bw, rh);
    s.Move(kDefaultCfgEdit, ex, y + 5, edit, 31);
    if (s.Displayed(kDefaultCfgButton)) { y -= rh + 4; ++rows; }

    s.Move(kUploadCfgButton, x, y, bw, rh);
    s.Move(kUploadCfgEdit, ex, y + 5, 267, 31);
    s.Move(kUploadCfgAuto, ex + 267, y + 5, 50, 31);
    s.Move(kUploadCfgBrowse, ex + 321, y, browse, rh);
    const int later_row_x = ex + 321 + browse + 8;  // x + 463 with the fixed width
    bottom_panel_right = ex + 321 + browse;
    if (s.Displayed(kUploadCfgButton)) { y -= rh + 8; ++rows; }

    s.Move(kUpgradeFolderButton, x, y, bw, rh);
    s.Move(kUpgradeFolderEdit, ex, y + 5, edit, 31);
    s.Move(kUpgradeFolderBrowse, ex + 321, y, browse, rh);
    if (s.Displayed(kUpgradeFolderButton)) { y -= 44; ++rows; }

    s.Move(kUpgradeFileButton, x, y, bw, rh);
    s.Move(kUpgradeFileEdit, ex, y + 5, edit, 31);
    s.Move(kUpgradeFileBrowse, ex + 321, y, browse, rh);
    if (s.Displayed(kUpgradeFileButton)) { y -= 44; ++rows; }

    LayoutButtonRows(kStyleZeroButtons,
                     {rc.left + 10, later_row_x, y, rows + 1, 4, 108, 36}, in,
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
      bottom_panel_right = rc.left + 814;
      LayoutButtonRows(kCompactButtons,
                       {rc.left + 10, later_row_x, y, 2, 6, 108, 50}, in,
                       r.controls, widest, next_y);
      list_bottom = y - 8;
    } else {
      LayoutButtonRows(kCompactButtons,
                       {rc.left + 176, rc.left + 176, rc.top + 10, 1, 0, 108, 50},
                       in, r.controls, widest, next_y);
      const int x0 = widest, y = rc.top + 10;
      s.Move(kUpgradeFileButton, x0, y, 108, 50);
      s.Move(kUpgradeFileEdit, x0 + 116, y + 5, 572, 45);
      s.Move(kUpgradeFileBrowse, x0 + 696, y, 108, 50);
      widest = x0 + 812;
      gap = 50;
      list_bottom = rc.bottom;
    }
  }

  // The top row. Each control keeps its fixed width unless its caption needs
  // more; a control its display switch hides takes no room.
  int x = rc.left + 10, y = rc.top + 10, row_h = 20;
  int top_end = x;  // right end of the last shown control of the row
  {
    const int w = s.Width(kCheckAll, 48);
    s.Move(kCheckAll, x, y, w, 20);
    x += w + gap;
    top_end = x - gap;
  }
  if (s.Displayed(kNetCardCombo) && in.style != 2) {
    const int lw = s.Width(kNetCardLabel, 48);
    s.Move(kNetCardLabel, x, y + 3, lw, 17);
    x += lw + gap;
    const int cw = s.Width(kNetCardCombo, 100);
    s.Move(kNetCardCombo, x, y, cw, 20);
    x += cw + gap;
    top_end = x - gap;
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
    const int w = s.Width(kSearch, 98);
    s.Move(kSearch, x, y, w, row_h);
    x += w + gap;
  }
  top_end = x - gap;
  if (s.Displayed(kExportExcel)) {
    const int w = s.Width(kExportExcel, 98);
    s.Move(kExportExcel, x, y, w, row_h);
    x += w + gap;
    top_end = x - gap;
  }
  if (s.Displayed(kDefaultUser)) {
    s.Show(kDefaultUser, true);
    s.Show(kDefaultPassword, true);
    s.Move(kDefaultUser, x, y, 80, row_h);
    x += 80 + gap;
    // The password box widens to show its password's echo characters whole.
    const int pw = s.Width(kDefaultPassword, 80);
    s.Move(kDefaultPassword, x, y, pw, row_h);
    x += pw + gap;
    top_end = x - gap;
  } else {
    s.Show(kDefaultUser, false);
    s.Show(kDefaultPassword, false);
  }
  auto place = [&](int id, int fixed) {
    if (!s.Displayed(id)) return;  // hidden for good: no room kept for it
    const int w = s.Width(id, fixed);
    s.Move(id, x, y, w, row_h);
    x += w + gap;
    top_end = x - gap;
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
  }
  // The status text needs at least 200 pixels (more when its text does).
  // Where the rest of the top row leaves less, it gets a row of its own under
  // the top row instead of lying over the controls to its left.
  const int status_need = s.Width(kStatusText, 200);
  int list_top = y + row_h + gap;
  if (in.style != 2) {
    if (right_end - x >= status_need) {
      const int width = right_end - x;
      s.Move(kStatusText, right_end - width, y + 3, width, row_h - 3);
    } else {
      const int width = std::max(right_end - (rc.left + 10), status_need);
      s.Move(kStatusText, right_end - width, list_top, width, row_h - 3);
      list_top += row_h + gap;
      r.status_own_row = true;
    }
  }

  s.Move(kDeviceList, rc.left + 10, list_top, right_end - (rc.left + 10), list_bottom - list_top);

  s.Move(kLogo, widest + 10, rc.bottom - 70, 200, 60);
  // Style 2 draws the logo as the device list's background: its own control
  // would only cover the list.
  if (in.style == 2) s.Show(kLogo, false);
  r.widest_right = widest;
  r.list_bottom = list_bottom;
  // Smallest client size without overlaps: the widest row and the status text
  // on a row of its own.
  const int flow_end = widest > 0 ? widest - 8 : rc.left;  // the flow adds a gap after its last button
  const int top_area = (y + row_h + gap) - rc.top + (in.style != 2 ? row_h + gap : 0);
  r.min_width = std::max({top_end, flow_end, bottom_panel_right, rc.left + 10 + status_need}) + 10 - rc.left;
  r.min_height = top_area + kMinListHeight + (rc.bottom - list_bottom);
  r.centred_edits = {kDefaultUser, kDefaultPassword, kUpgradeFileEdit, kUpgradeFolderEdit, kUploadCfgEdit,
                     kOperatePassword};
  return r;
}

}  // namespace kelvara::shell
