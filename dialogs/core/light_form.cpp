#include "dialogs/core/light_form.h"

#include <algorithm>
#include <cstdio>

namespace kelvara::dialogs {

const std::vector<ListItem>& IrcutModeItems() {
  static const std::vector<ListItem> items = {
      {"IDS_IRCUT_AUTO_BY_SOFTWARE", 0}, {"IDS_STR_ZH_CN_VC_TIPS27", 1},   {"IDS_STR_ZH_CN_VC_TIPS26", 2},
      {"IDS_STR_ZH_CN_VC_TIPS29", 3},    {"IDS_IRCUT_AUTO_BY_HARDWARE", 5}, {"IDS_STR_MANUAL_ALWAYSON", 6},
      {"IDS_STR_MANUAL_ALWAYSOFF", 7}};
  return items;
}

const std::vector<ListItem>& LedDelayItems() {
  static const std::vector<ListItem> items = [] {
    std::vector<ListItem> v;
    static const char* kTexts[] = {"0.01", "0.05", "0.08", "0.10", "0.20", "0.30", "0.40", "0.50", "0.60",
                                   "0.70", "0.80", "0.90", "1.00", "1.10", "1.20", "1.30", "1.40", "1.50"};
    for (int i = 0; i < 18; ++i) v.push_back({kTexts[i], i, "", "", true});
    return v;
  }();
  return items;
}

const std::vector<ListItem>& LedBrightnessItems() {
  static const std::vector<ListItem> items = [] {
    std::vector<ListItem> v{{"0", 0, "", "", true}};
    for (int p = 10; p <= 100; p += 10) v.push_back({std::to_string(p) + "%", p, "", "", true});
    return v;
  }();
  return items;
}

const std::vector<ListItem>& ImageOptionItems() {
  static const std::vector<ListItem> items = [] {
    std::vector<ListItem> v{{"IDS_ISP_NORMAL", 0},
                            {"IDS_ISP_PREVENT_FACE_OVER_EXPOSURE", 1},
                            {"IDS_INTELEGENT", 3, "IDS_ISP_PREVENT_FACE_OVER_EXPOSURE"}};
    const int data[] = {2, 4, 5, 6, 7, 8};
    for (int i = 0; i < 6; ++i) v.push_back({"IDS_ISP_CAR_LICENSE", data[i], "IDS_MODELTYPE", std::to_string(i + 1)});
    return v;
  }();
  return items;
}

const std::vector<IsoGainEntry>& IsoGainTable() {
  static const std::vector<IsoGainEntry> table = {
      {"ISO_100", 0},      {"ISO_150", 3},      {"ISO_200", 6},      {"ISO_300", 9},     {"ISO_400", 12},
      {"ISO_600", 15},     {"ISO_800", 18},     {"ISO_1600", 24},    {"ISO_3200", 30},   {"ISO_6400", 36},
      {"ISO_12800", 42},   {"ISO_25600", 48},   {"ISO_51200", 54},   {"ISO_102400", 60}, {"ISO_204800", 66},
      {"ISO_409600", 72},  {"", 0},
  };
  return table;
}

int IndexOfData(const std::vector<ListItem>& items, int data) {
  auto it = std::find_if(items.begin(), items.end(), [data](const ListItem& i) { return i.data == data; });
  return it == items.end() ? -1 : static_cast<int>(it - items.begin());
}

LightForm LightFormFromRecord(MediaLightConfig& r) {
  if (IndexOfData(IrcutModeItems(), r.ircut_mode) < 0) r.ircut_mode = 0;
  LightForm f;
  f.ircutMode = r.ircut_mode;
  f.ledDelay = r.ircut_openled_delay;
  f.ledBrightnessMode = r.led_brightness_mode;
  f.ledBrightness = r.led_brightness_value;
  f.ledMode = r.led_mode;
  f.ispAdvMode = r.ispadvmode;
  f.start = r.startTime;
  f.end = r.endTime;
  f.lightOff = std::clamp<int>(r.light_off_sensitivity, 0, 100);
  return f;
}

MediaLightConfig LightRecordFromForm(const LightForm& f, const MediaLightConfig& given) {
  MediaLightConfig r = given;
  r.ircut_mode = f.ircutMode;
  r.ircut_openled_delay = static_cast<std::uint8_t>(f.ledDelay);
  r.led_brightness_mode = static_cast<std::uint8_t>(f.ledBrightnessMode);
  r.led_brightness_value = static_cast<std::uint8_t>(f.ledBrightness);
  r.startTime = f.start;
  r.endTime = f.end;
  r.led_mode = f.ledMode;
  r.ispadvmode = f.ispAdvMode;
  r.light_off_sensitivity = static_cast<std::uint8_t>(std::clamp(f.lightOff, 0, 100));
  return r;
}

}  // namespace kelvara::dialogs
