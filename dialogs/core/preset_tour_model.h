#pragma once
// The preset tour dialog's lists and its OK without widgets.
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "common/settings_records.h"

namespace kelvara::dialogs {

struct ValueEntry {
  int data;
  std::string text;
};
std::vector<ValueEntry> PtzSpeedList();         // 1..10, "%d"
std::vector<ValueEntry> PtzZoomIntervalList();  // ms, text seconds "%.1f"
std::vector<ValueEntry> PtzZoomStayList();      // 1000..10000 ms
std::vector<ValueEntry> PtzZoomTimesList();     // 1..20
inline constexpr int kDefaultPtzSpeed = 5, kDefaultZoomInterval = 800, kDefaultZoomStay = 5000,
                     kDefaultZoomTimes = 10;
// The data selected for a table value: the value when the list holds it,
// else the list's default.
int SelectedData(const std::vector<ValueEntry>& list, int value, int fallback);

// The tour runs the interval in milliseconds (x 1000): a longer interval than
// a day is refused.
inline constexpr int kMaxTourIntervalSec = 86400;
// Devices keep presets 1..255; 0 leaves the entry unused.
inline constexpr int kMaxPresetNumber = 255;

// What the dialog's controls hold on OK.
struct PresetTourInput {
  std::string interval;                   // edit 1253
  std::array<std::string, 3> presetNumber;  // edits 1249, 1251, 1254
  std::array<int, 3> enable{};            // checks 1086..1088
  std::array<int, 3> function{};          // combos 1250, 1252, 1255
  int speed = kDefaultPtzSpeed, zoomInterval = kDefaultZoomInterval, zoomStay = kDefaultZoomStay,
      zoomTimes = kDefaultZoomTimes;
};
struct PresetTourResult {
  AfStudySettings table;
  // Set when refused: the language key of the field's label and the range
  // it takes (0..errorMax), which the box names.
  const char* errorKey = nullptr;
  int errorMax = 0;
};
// Entries 3..9 pass through; an empty number field stores 0; numbers are
// read strictly (the interval within 0..kMaxTourIntervalSec, presets within
// 0..kMaxPresetNumber).
PresetTourResult ApplyPresetTour(const AfStudySettings& start, const PresetTourInput& input);

}  // namespace kelvara::dialogs
