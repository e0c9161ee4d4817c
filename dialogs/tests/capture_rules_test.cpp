// The image capture page's rules without widgets: which controls each list
// choice enables or shows, and what leaving a checked edit does.
#include <gtest/gtest.h>

#include "dialogs/core/light_form.h"
#include "dialogs/core/video_capture_rules.h"

namespace kelvara::dialogs {
namespace {

using E = std::vector<ControlSwitch>;

TEST(CaptureRules, EachChoiceSwitchesItsControls) {
  const struct {
    const char* name;
    RuleEffect got;
    E enable, show;
  } cases[] = {
      {"ircut 0", IrcutModeRule(0, 0), {{589, true}, {1562, false}, {1563, false}}, {{1183, false}, {1185, false}}},
      {"ircut 1", IrcutModeRule(1, 0), {{589, false}, {1562, true}, {1563, true}}, {{1183, false}, {1185, false}}},
      {"ircut 2", IrcutModeRule(2, 3), {{589, false}, {1562, false}, {1563, false}}, {{1183, false}, {1185, false}}},
      // A fresh page (last saved mode 0) keeps the day/night buttons hidden.
      {"ircut 3 fresh", IrcutModeRule(3, 0), {{589, false}, {1562, false}, {1563, false}},
       {{1183, false}, {1185, false}}},
      {"ircut 3 saved 3", IrcutModeRule(3, 3), {{589, false}, {1562, false}, {1563, false}},
       {{1183, true}, {1185, true}}},
      {"ircut 4", IrcutModeRule(4, 3), {{589, false}, {1562, false}, {1563, false}}, {{1183, false}, {1185, false}}},
      {"ircut 5 leaves them", IrcutModeRule(5, 3), {}, {{1183, false}, {1185, false}}},
      {"wdr off", WdrModeRule(0), {{866, false}, {1442, false}, {1565, false}, {1566, false}}, {}},
      {"wdr on", WdrModeRule(1), {{866, true}, {1442, false}, {1565, false}, {1566, false}}, {}},
      {"defog off", DefogRule(0), {{867, false}, {1444, false}}, {}},
      {"defog on", DefogRule(1), {{867, true}, {1444, false}}, {}},
      {"wb auto", WhiteBalanceRule(0),
       {{2007, false}, {2018, false}, {2009, false}, {1991, false}, {2019, false}, {1992, false}}, {}},
      {"wb manual", WhiteBalanceRule(1),
       {{2007, true}, {2018, true}, {2009, true}, {1991, false}, {2019, false}, {1992, false}}, {}},
      {"day auto", DayShutterRule(0), {{1438, false}}, {}},
      {"day manual", DayShutterRule(1), {{1438, true}}, {}},
      {"night auto", NightShutterRule(0), {{1445, false}}, {}},
      {"night manual", NightShutterRule(1), {{1445, true}}, {}},
      {"led auto", LedBrightnessModeRule(0), {{1186, false}}, {}},
      {"led manual", LedBrightnessModeRule(1), {{1186, true}}, {}},
      {"led by brightness", LedBrightnessModeRule(2), {{1186, true}}, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.got.enable, c.enable) << c.name;
    EXPECT_EQ(c.got.show, c.show) << c.name;
  }
}

TEST(CaptureRules, DefaultsLockEverythingTheDefaultsDoNotUse) {
  VideoCaptureForm f = FormFromRecord(DefaultVideoCaptureParams());
  // Defaults: IR-cut 0 (no item data 0 is "software" on the page, so stays 0).
  const RuleEffect e = AllCaptureRules(f, 0);
  auto enabled = [&](int id) {
    std::optional<bool> last;
    for (const auto& s : e.enable)
      if (s.id == id) last = s.on;
    return last;
  };
  for (int id : {867, 1444, 866, 1442, 1438, 1445, 2007, 2018, 2009, 1991, 1186}) EXPECT_EQ(enabled(id), false) << id;
  EXPECT_EQ(enabled(589), true);  // software IR-cut: its sensitivity
  f.defog = 1;
  f.wbManual = 1;
  f.ledBrightnessMode = 1;
  f.ircutMode = 1;
  const RuleEffect on = AllCaptureRules(f, 0);
  for (int id : {867, 2007, 1186, 1562}) {
    bool found = false;
    for (const auto& s : on.enable) found = found || (s.id == id && s.on);
    EXPECT_TRUE(found) << id;
  }
}

TEST(CaptureRules, LeavingACheckedEdit) {
  const struct {
    int edit;
    std::string typed;
    std::string key, text;
    std::optional<int> slider;
  } cases[] = {
      {1203, "-1", "IDS_STR_ZH_CN_MSG_TIPS47", "0", 0},
      {1203, "0", "", "0", 0},
      {1203, " 255 ", "", "255", 255},
      {1203, "256", "IDS_STR_ZH_CN_MSG_TIPS47", "255", 255},
      {1203, "300", "IDS_STR_ZH_CN_MSG_TIPS47", "255", 255},
      {1203, "12a", "IDS_STR_ZH_CN_MSG_TIPS47", "12a", std::nullopt},
      {1203, "", "IDS_STR_ZH_CN_MSG_TIPS47", "", std::nullopt},
      {1203, std::string(64, '9'), "IDS_STR_ZH_CN_MSG_TIPS47", "255", 255},
      {1203, std::string(65, '9'), "IDS_STR_ZH_CN_MSG_TIPS47", std::string(65, '9'), std::nullopt},
      {1203, "007", "", "007", 7},
      {597, "256", "IDS_STR_ZH_CN_MSG_TIPS53", "255", 255},
      {605, "256", "IDS_STR_ZH_CN_MSG_TIPS54", "255", 255},
      {609, "128", "", "128", 128},
      {614, "256", "IDS_STR_ZH_CN_MSG_TIPS55", "255", 255},
      {1194, "256", "IDS_STR_HLC_VALUE_INVALID", "255", 255},
      // The IR-cut sensitivity has no slider.
      {589, "-1", "IDS_STR_ZH_CN_MSG_TIPS56", "0", std::nullopt},
      {589, "100", "", "100", std::nullopt},
      {589, "101", "IDS_STR_ZH_CN_MSG_TIPS56", "100", std::nullopt},
      {589, "", "IDS_STR_ZH_CN_MSG_TIPS56", "", std::nullopt},
  };
  for (const auto& c : cases) {
    const auto r = LeaveCaptureField(c.edit, c.typed);
    ASSERT_TRUE(r) << c.edit;
    EXPECT_EQ(r->messageKey, c.key) << c.edit << " " << c.typed;
    EXPECT_EQ(r->text, c.text) << c.edit << " " << c.typed;
    EXPECT_EQ(r->slider, c.slider) << c.edit << " " << c.typed;
  }
  // Edits without a check on leaving.
  for (int id : {615, 616, 617, 618, 1438, 590}) EXPECT_FALSE(LeaveCaptureField(id, "999")) << id;
}

TEST(CaptureRules, EverySliderHasItsEditAndRange) {
  int wide = 0, percent = 0;
  for (const auto& p : CaptureSliders()) (p.max == 255 ? wide : percent)++;
  EXPECT_EQ(wide, 13);
  EXPECT_EQ(percent, 2);  // light-off 870 and face exposure 871
  for (const auto& c : CaptureLeaveChecks()) {
    if (c.slider == 0) continue;
    bool paired = false;
    for (const auto& p : CaptureSliders()) paired = paired || (p.slider == c.slider && p.edit == c.edit);
    EXPECT_TRUE(paired) << c.edit;
  }
}

TEST(CaptureRules, GainTableEndsWithAnEmptyRow) {
  const auto& t = IsoGainTable();
  ASSERT_EQ(t.size(), 17u);
  EXPECT_TRUE(t.back().name.empty());
  EXPECT_EQ(t.front().name, "ISO_100");
  EXPECT_EQ(t[6].name, "ISO_800");
  EXPECT_EQ(t[6].gain, 18);
  EXPECT_EQ(t[15].gain, 72);
}

TEST(CaptureRules, DayNightRequests) {
  EXPECT_EQ(DayNightRequest(false), "<REQUEST_PARAM Mode=\"DayMode\" />\n");
  EXPECT_EQ(DayNightRequest(true), "<REQUEST_PARAM Mode=\"NightMode\" />\n");
}

}  // namespace
}  // namespace kelvara::dialogs
