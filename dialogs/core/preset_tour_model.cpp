#include "dialogs/core/preset_tour_model.h"

#include <climits>
#include <cstdio>

#include "dialogs/core/number_fields.h"

namespace kelvara::dialogs {
namespace {

std::vector<ValueEntry> Seconds(const std::vector<int>& ms) {
  std::vector<ValueEntry> out;
  for (int v : ms) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", v / 1000.0);
    out.push_back({v, buf});
  }
  return out;
}

std::vector<ValueEntry> Numbers(int from, int to) {
  std::vector<ValueEntry> out;
  for (int v = from; v <= to; ++v) out.push_back({v, std::to_string(v)});
  return out;
}

}  // namespace

std::vector<ValueEntry> PtzSpeedList() { return Numbers(1, 10); }
std::vector<ValueEntry> PtzZoomIntervalList() {
  return Seconds({500, 600, 700, 800, 900, 1000, 1500, 2000, 2500, 3000, 3500, 4000, 5000, 6000, 7000, 8000, 9000,
                  10000});
}
std::vector<ValueEntry> PtzZoomStayList() {
  return Seconds({1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000, 9000, 10000});
}
std::vector<ValueEntry> PtzZoomTimesList() { return Numbers(1, 20); }

int SelectedData(const std::vector<ValueEntry>& list, int value, int fallback) {
  for (const ValueEntry& e : list)
    if (e.data == value) return value;
  return fallback;
}

PresetTourResult ApplyPresetTour(const AfStudySettings& start, const PresetTourInput& in) {
  PresetTourResult r;
  r.table = start;
  const auto interval = in.interval.empty() ? std::optional<int>(0)
                                            : ParseIntFieldIn(in.interval, 0, kMaxTourIntervalSec);
  if (!interval) {
    r.errorKey = "IDS_INTERVEL_TIME";
    r.errorMax = kMaxTourIntervalSec;
    return r;
  }
  r.table.interval_sec = *interval;
  for (std::size_t i = 0; i < 3; ++i) {
    const auto number = in.presetNumber[i].empty() ? std::optional<int>(0)
                                                   : ParseIntFieldIn(in.presetNumber[i], 0, kMaxPresetNumber);
    if (!number) {
      r.errorKey = "IDS_STR_ZH_CN_ADV_TIPS2";
      r.errorMax = kMaxPresetNumber;
      return r;
    }
    r.table.presets[i].presetNum = *number;
    r.table.presets[i].enable = in.enable[i];
    r.table.presets[i].functionType = in.function[i];
  }
  r.table.nPtzSpeed = in.speed;
  r.table.nPtzZoomInterval = in.zoomInterval;
  r.table.nPtzZoomStayTime = in.zoomStay;
  r.table.nPtzZoomExecTimes = in.zoomTimes;
  return r;
}

}  // namespace kelvara::dialogs
