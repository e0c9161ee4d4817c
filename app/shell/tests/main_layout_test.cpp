#include "app/shell/main_layout.h"

#include <gtest/gtest.h>

#include <set>

namespace kelvara::shell {
namespace {

using namespace ids;

struct Window {
  std::set<int> hidden_by_switch;  // display value 0
  std::set<int> missing;
  LayoutInput Input(int style, ClientRect rc = {0, 0, 1920, 1000}) const {
    LayoutInput in;
    in.client = rc;
    in.style = style;
    in.exists = [this](int id) { return !missing.count(id); };
    in.displayed = [this](int id) { return !hidden_by_switch.count(id); };
    return in;
  }
};

Box BoxOf(const LayoutResult& r, int id) {
  auto it = r.controls.find(id);
  EXPECT_TRUE(it != r.controls.end() && it->second.box) << "control " << id << " not placed";
  return it != r.controls.end() && it->second.box ? *it->second.box : Box{};
}
std::optional<bool> Visible(const LayoutResult& r, int id) {
  auto it = r.controls.find(id);
  return it == r.controls.end() ? std::nullopt : it->second.visible;
}
// Rows of the flow: the distinct y values of the given buttons, with counts.
std::map<int, int> RowsOf(const LayoutResult& r, std::span<const int> buttons) {
  std::map<int, int> rows;
  for (int id : buttons)
    if (auto it = r.controls.find(id); it != r.controls.end() && it->second.box && it->second.visible == true)
      ++rows[it->second.box->y];
  return rows;
}

TEST(MainLayout, StyleZeroWithoutFileRowsPutsAllButtonsInOneRowAtTheBottom) {
  Window w;
  w.hidden_by_switch = {kUpgradeFileButton, kUpgradeFolderButton, kUploadCfgButton, kDefaultCfgButton};
  const auto r = LayoutMainControls(w.Input(0));
  auto rows = RowsOf(r, StyleZeroButtons());
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows.begin()->first, 1000 - 46);
  EXPECT_EQ(rows.begin()->second, 39);
  EXPECT_EQ(r.list_bottom, 1000 - 46 - 8);
  const Box list = BoxOf(r, kDeviceList);
  EXPECT_EQ(list.y + list.height, r.list_bottom);
}

TEST(MainLayout, StyleZeroWithAllFileRowsSplitsElevenThenSeven) {
  Window w;
  const auto r = LayoutMainControls(w.Input(0));
  // File rows from the bottom: 1192 at bottom-46, then 1292, 1293, 1291 each above.
  EXPECT_EQ(BoxOf(r, kDefaultCfgButton), (Box{10, 954, 83, 36}));
  EXPECT_EQ(BoxOf(r, kDefaultCfgEdit), (Box{97, 959, 317, 31}));
  EXPECT_EQ(BoxOf(r, kUploadCfgButton), (Box{10, 914, 83, 36}));
  EXPECT_EQ(BoxOf(r, kUploadCfgAuto), (Box{364, 919, 50, 31}));
  EXPECT_EQ(BoxOf(r, kUploadCfgBrowse), (Box{418, 914, 47, 36}));
  EXPECT_EQ(BoxOf(r, kUpgradeFolderButton), (Box{10, 870, 83, 36}));
  EXPECT_EQ(BoxOf(r, kUpgradeFolderBrowse), (Box{418, 870, 47, 36}));
  EXPECT_EQ(BoxOf(r, kUpgradeFileButton), (Box{10, 826, 83, 36}));
  const int flow_top = 826 - 44;
  auto rows = RowsOf(r, StyleZeroButtons());
  ASSERT_EQ(rows.size(), 5u);
  auto it = rows.begin();
  EXPECT_EQ(it->first, flow_top);
  EXPECT_EQ(it->second, 11);
  for (++it; it != rows.end(); ++it) EXPECT_EQ(it->second, 7);
  // The first row runs from the left edge, the later rows start right of the file rows.
  EXPECT_EQ(BoxOf(r, 4), (Box{10, flow_top, 108, 36}));
  const int twelfth = StyleZeroButtons()[11];
  EXPECT_EQ(BoxOf(r, twelfth), (Box{473, flow_top + 44, 108, 36}));
  EXPECT_EQ(r.widest_right, 10 + 11 * 116);
  EXPECT_EQ(r.list_bottom, flow_top - 8);
  EXPECT_EQ(BoxOf(r, kLogo), (Box{r.widest_right + 10, 930, 200, 60}));
}

TEST(MainLayout, FewerButtonsThanTheFirstRowExtraStayInTheFirstRow) {
  Window w;
  for (int id : CompactStyleButtons()) w.hidden_by_switch.insert(id);
  w.hidden_by_switch.erase(4);
  w.hidden_by_switch.erase(7);
  const auto r = LayoutMainControls(w.Input(1));  // extra 6 in the first row
  auto rows = RowsOf(r, CompactStyleButtons());
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows.begin()->second, 2);
}

TEST(MainLayout, FlowRowsTable) {
  struct Case { int visible, rows, extra; std::vector<int> per_row; };
  const std::vector<Case> cases = {
      {39, 5, 4, {11, 7, 7, 7, 7}}, {3, 2, 6, {3}}, {12, 2, 6, {9, 3}}, {6, 2, 6, {6}}, {7, 3, 0, {3, 3, 1}}};
  for (const auto& c : cases) {
    std::vector<int> ids;
    for (int i = 0; i < c.visible; ++i) ids.push_back(100 + i);
    LayoutInput in;
    in.exists = [](int) { return true; };
    in.displayed = [](int) { return true; };
    std::map<int, ControlPlacement> out;
    int widest = 0, next_y = 0;
    LayoutButtonRows(ids, {0, 500, 0, c.rows, c.extra, 10, 10}, in, out, widest, next_y);
    std::map<int, int> rows;
    for (auto& [id, p] : out) ++rows[p.box->y];
    std::vector<int> got;
    for (auto& [y, n] : rows) got.push_back(n);
    EXPECT_EQ(got, c.per_row) << c.visible << " buttons, " << c.rows << " rows, extra " << c.extra;
    EXPECT_EQ(next_y, static_cast<int>(rows.rbegin()->first) + 18);
  }
}

TEST(MainLayout, StyleOne) {
  Window w;
  const auto r = LayoutMainControls(w.Input(1));
  EXPECT_EQ(BoxOf(r, kUpgradeFileButton), (Box{10, 942, 108, 50}));
  EXPECT_EQ(BoxOf(r, kUpgradeFileEdit), (Box{126, 947, 572, 45}));
  EXPECT_EQ(BoxOf(r, kUpgradeFileBrowse), (Box{706, 942, 108, 50}));
  // 12 buttons: 6 + 3 in the first row above the file row, 3 beside the file row.
  auto rows = RowsOf(r, CompactStyleButtons());
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows.begin()->first, 884);
  EXPECT_EQ(rows.begin()->second, 9);
  EXPECT_EQ(rows.rbegin()->second, 3);
  EXPECT_EQ(BoxOf(r, CompactStyleButtons()[9]).x, 830);
  EXPECT_EQ(r.list_bottom, 876);
  // Style 0 rows and buttons are hidden; the compact buttons are shown.
  for (int id : {kUpgradeFolderButton, kUploadCfgButton, kDefaultCfgButton, kUploadCfgAuto, 1299, 29})
    EXPECT_EQ(Visible(r, id), false) << id;
  EXPECT_EQ(Visible(r, 4), true);
  EXPECT_EQ(Visible(r, kCheckQr), false);
  EXPECT_EQ(Visible(r, kCheckSound), true);
  // Top row: check-all, card label and combo, then 30-pixel controls.
  EXPECT_EQ(BoxOf(r, kCheckAll), (Box{10, 10, 48, 20}));
  EXPECT_EQ(BoxOf(r, kNetCardLabel), (Box{66, 13, 48, 17}));
  EXPECT_EQ(BoxOf(r, kNetCardCombo), (Box{122, 10, 100, 20}));
  EXPECT_EQ(BoxOf(r, kSearch), (Box{230, 10, 98, 30}));
  EXPECT_EQ(BoxOf(r, kExportExcel), (Box{336, 10, 98, 30}));
  EXPECT_EQ(BoxOf(r, kDeviceList), (Box{10, 48, 1900, 876 - 48}));
}

TEST(MainLayout, StyleTwo) {
  Window w;
  const auto r = LayoutMainControls(w.Input(2));
  auto rows = RowsOf(r, CompactStyleButtons());
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows.begin()->first, 10);
  EXPECT_EQ(BoxOf(r, 4), (Box{176, 10, 108, 50}));
  const int x0 = 176 + 12 * 116;
  EXPECT_EQ(BoxOf(r, kUpgradeFileButton), (Box{x0, 10, 108, 50}));
  EXPECT_EQ(BoxOf(r, kUpgradeFileEdit), (Box{x0 + 116, 15, 572, 45}));
  EXPECT_EQ(BoxOf(r, kUpgradeFileBrowse), (Box{x0 + 696, 10, 108, 50}));
  EXPECT_EQ(r.widest_right, x0 + 812);
  EXPECT_EQ(BoxOf(r, kSearch), (Box{60, 10, 108, 50}));
  EXPECT_EQ(Visible(r, kNetCardCombo), false);
  EXPECT_EQ(Visible(r, kNetCardLabel), false);
  // The list reaches the bottom; the status text has no room right of the file row.
  EXPECT_EQ(r.list_bottom, 1000);
  EXPECT_EQ(BoxOf(r, kDeviceList), (Box{10, 68, 1900, 1000 - 68}));
  EXPECT_EQ(Visible(r, kStatusText), false);
  // The controls after the search button follow the file row; the status
  // text takes what is left right of them, at most 200 pixels.
  const auto wide = LayoutMainControls(w.Input(2, {0, 0, 3000, 1000}));
  EXPECT_EQ(BoxOf(wide, kExportExcel), (Box{x0 + 812 + 8, 10, 98, 50}));
  const Box print_mode = BoxOf(wide, kCheckPrintMode);
  EXPECT_EQ(BoxOf(wide, kStatusText), (Box{print_mode.x + print_mode.width, 13, 2990 - (print_mode.x + print_mode.width), 47}));
  const auto wider = LayoutMainControls(w.Input(2, {0, 0, 4000, 1000}));
  EXPECT_EQ(BoxOf(wider, kStatusText), (Box{3790, 13, 200, 47}));
  EXPECT_EQ(Visible(wide, kLogo), false);
}

TEST(MainLayout, NoTwoShownControlsOverlapOnAWideWindow) {
  Window w;
  for (int style : {0, 1, 2}) {
    const auto r = LayoutMainControls(w.Input(style, {0, 0, 4000, 1000}));
    std::vector<std::pair<int, Box>> shown;
    for (const auto& [id, p] : r.controls)
      if (p.box && p.visible.value_or(true)) shown.emplace_back(id, *p.box);
    for (size_t i = 0; i < shown.size(); ++i)
      for (size_t j = i + 1; j < shown.size(); ++j) {
        const Box& a = shown[i].second;
        const Box& b = shown[j].second;
        const bool overlap = a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
        EXPECT_FALSE(overlap) << "style " << style << ": " << shown[i].first << " and " << shown[j].first;
      }
  }
}

TEST(MainLayout, StatusTextKeepsAtLeast200PixelsAndGetsItsOwnRowWhenTheTopRowIsFull) {
  Window w;
  for (int style : {0, 1}) {
    const int row_h = style == 0 ? 20 : 30;
    const auto narrow = LayoutMainControls(w.Input(style, {0, 0, 800, 600}));
    const Box status = BoxOf(narrow, kStatusText);
    EXPECT_TRUE(narrow.status_own_row) << style;
    EXPECT_GE(status.width, 200) << style;
    EXPECT_EQ(status.x + status.width, 790) << style;
    EXPECT_EQ(status.y, 10 + row_h + 8) << style;  // under the top row, not over its controls
    EXPECT_EQ(BoxOf(narrow, kDeviceList).y, status.y + row_h + 8) << style;
    const auto wide = LayoutMainControls(w.Input(style, {0, 0, 1920, 1000}));
    EXPECT_FALSE(wide.status_own_row) << style;
    EXPECT_EQ(BoxOf(wide, kStatusText).y, 13) << style;
    EXPECT_EQ(BoxOf(wide, kDeviceList).y, 10 + row_h + 8) << style;
  }
}

// Captions measured with the window's font: "ONVIF all networks" needs more
// than a flow button's 108 pixels, "Network card" more than the label's 48.
int Captions(int id) {
  switch (id) {
    case 1299: return 131;
    case kNetCardLabel: return 84;
    case kStatusText: return 236;
    case kUploadCfgButton: return 90;
    case kDefaultPassword: return 150;  // a long password's echo characters
    default: return 12;
  }
}

TEST(MainLayout, CaptionsWidenTheirControlsAndTheFixedWidthsStayTheMinimum) {
  Window w;
  LayoutInput in = w.Input(0, {0, 0, 1920, 1000});
  in.text_width = Captions;
  const auto r = LayoutMainControls(in);
  EXPECT_EQ(BoxOf(r, 1299).width, 131);
  EXPECT_EQ(BoxOf(r, 4).width, 108);  // only the button that needs it is wider
  EXPECT_EQ(BoxOf(r, 1031).x, BoxOf(r, 1299).x + 131 + 8);
  EXPECT_EQ(BoxOf(r, kNetCardLabel).width, 84);
  EXPECT_EQ(BoxOf(r, kNetCardCombo).x, 10 + 48 + 8 + 84 + 8);
  EXPECT_EQ(BoxOf(r, kCheckAll).width, 48);  // a short caption keeps the fixed width
  EXPECT_EQ(BoxOf(r, kSearch).width, 98);
  // The password box widens for its password; the user box keeps its 80.
  EXPECT_EQ(BoxOf(r, kDefaultUser).width, 80);
  EXPECT_EQ(BoxOf(r, kDefaultPassword).width, 150);
  EXPECT_EQ(BoxOf(r, kCheckQr).x, BoxOf(r, kDefaultPassword).x + 150 + 8);
  // The file buttons share the widest file caption; their edits follow.
  EXPECT_EQ(BoxOf(r, kUpgradeFileButton).width, 90);
  EXPECT_EQ(BoxOf(r, kUpgradeFileEdit).x, 10 + 90 + 4);
  EXPECT_EQ(BoxOf(r, kUpgradeFileBrowse).x, 10 + 90 + 4 + 321);
  // Without measured captions every width is the fixed one.
  const auto plain = LayoutMainControls(w.Input(0, {0, 0, 1920, 1000}));
  EXPECT_EQ(BoxOf(plain, 1299).width, 108);
  EXPECT_EQ(BoxOf(plain, kDefaultPassword).width, 80);
  EXPECT_EQ(BoxOf(plain, kUpgradeFileEdit).x, 97);
}

TEST(MainLayout, HiddenTopRowControlsTakeNoRoom) {
  Window w;
  w.hidden_by_switch = {kCheckPrintMode, kCheckClearSerial};
  const auto r = LayoutMainControls(w.Input(0, {0, 0, 1920, 1000}));
  EXPECT_EQ(r.controls.count(kCheckPrintMode), 0u);
  const Box stream = BoxOf(r, kCheckStreamSwitch);
  const Box status = BoxOf(r, kStatusText);
  EXPECT_EQ(status.x, stream.x + stream.width + 8);
}

TEST(MainLayout, AtTheMinimumSizeNothingOverlapsAndEverythingIsInside) {
  for (int style : {0, 1, 2}) {
    for (bool measured : {false, true}) {
      Window w;
      w.hidden_by_switch = {kCheckPrintMode, kCheckClearSerial, kDefaultCfgButton, kDefaultCfgEdit};
      LayoutInput probe = w.Input(style);
      if (measured) probe.text_width = Captions;
      const auto m = LayoutMainControls(probe);
      ASSERT_GT(m.min_width, 0);
      for (const ClientRect rc : {ClientRect{0, 0, m.min_width, m.min_height}, ClientRect{0, 0, 1280, 720},
                                  ClientRect{0, 0, 1600, 900}}) {
        if (rc.right < m.min_width || rc.bottom < m.min_height) continue;
        LayoutInput in = w.Input(style, rc);
        in.text_width = probe.text_width;
        const auto r = LayoutMainControls(in);
        std::vector<std::pair<int, Box>> shown;
        for (const auto& [id, p] : r.controls)
          if (p.box && p.visible.value_or(in.displayed(id))) shown.emplace_back(id, *p.box);
        for (size_t i = 0; i < shown.size(); ++i) {
          const Box& a = shown[i].second;
          // The logo is cut at the window's right edge when it draws (and draws
          // nothing without its image).
          if (shown[i].first == kLogo) continue;
          EXPECT_TRUE(a.x >= 0 && a.y >= 0 && a.x + a.width <= rc.right && a.y + a.height <= rc.bottom)
              << "style " << style << " " << rc.right << "x" << rc.bottom << ": " << shown[i].first << " outside";
          for (size_t j = i + 1; j < shown.size(); ++j) {
            const Box& b = shown[j].second;
            const bool overlap =
                a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
            EXPECT_FALSE(overlap) << "style " << style << " " << rc.right << "x" << rc.bottom << ": "
                                  << shown[i].first << " and " << shown[j].first;
          }
        }
        EXPECT_GE(BoxOf(r, kDeviceList).height, kMinListHeight) << style;
      }
    }
  }
}

TEST(MainLayout, HiddenSwitchesAreNeverShownAgain) {
  Window w;
  w.hidden_by_switch = {4, 1299, kDefaultUser, kNetCardCombo, kExportExcel};
  for (int style : {0, 1, 2}) {
    const auto r = LayoutMainControls(w.Input(style));
    for (int id : w.hidden_by_switch) EXPECT_NE(Visible(r, id), true) << "style " << style << " id " << id;
    EXPECT_EQ(Visible(r, kDefaultPassword), false);
    EXPECT_EQ(r.controls.count(kExportExcel), 0u);
  }
}

TEST(MainLayout, NothingWithoutTheUploadButtonAndMissingControlsAreSkipped) {
  Window w;
  w.missing = {kUploadCfgButton};
  EXPECT_FALSE(LayoutMainControls(w.Input(0)).done);
  EXPECT_TRUE(LayoutMainControls(w.Input(0)).controls.empty());
  Window m;
  m.missing = {kLogo, 4};
  const auto r = LayoutMainControls(m.Input(0));
  EXPECT_EQ(r.controls.count(kLogo), 0u);
  EXPECT_EQ(r.controls.count(4), 0u);
  EXPECT_EQ(BoxOf(r, 7).x, 10);  // the first present button takes the first place
}

TEST(MainLayout, ClientOffsetMovesEverything) {
  Window w;
  const auto a = LayoutMainControls(w.Input(0, {0, 0, 1600, 900}));
  const auto b = LayoutMainControls(w.Input(0, {0, 30, 1600, 930}));
  for (const auto& [id, p] : a.controls) {
    if (!p.box) continue;
    EXPECT_EQ(BoxOf(b, id).y, p.box->y + 30) << id;
  }
}

}  // namespace
}  // namespace kelvara::shell
