#pragma once
// The time-lapse date, alarm clock and maintenance dialogs without widgets.
#include <array>
#include <string>

#include "common/settings_records.h"

namespace kelvara::dialogs {

// --- Time-lapse date --------------------------------------------------------
inline constexpr std::array<int, 7> kTimeLapseSeconds = {30, 60, 90, 120, 180, 240, 300};
inline constexpr int kTimeLapseDefaultSeconds = 120;  // selected on opening
struct DateSelValues {
  int year = 0, month = 0, day = 0;  // the calendar's day
  bool alwaysRecreate = false;
  int targetSeconds = 60;
  ClockTime start{7, 30, 0};
  ClockTime end{19, 30, 0};
  bool cancelled = true;
};

// --- Alarm clock -------------------------------------------------------------
// <AlarmClockConfig> with AlarmOnEveryHour and five clock elements.
std::string BuildAlarmClockXml(const AlarmClockSettings& settings);
// The chime's end shown when the chime is switched on: 00:00:00 becomes
// 23:59:59, any other time stays.
ClockTime ChimeEndWhenEnabled(ClockTime end);

// --- Scheduled maintenance ---------------------------------------------------
inline constexpr int kMaintenanceEveryDay = 7;
// "<MaintainConfig\tEnable=\"%d\" Day=\"%d\" Time=\"%02d:%02d:%02d\" />".
std::string BuildMaintenanceXml(int enable, int day, ClockTime time);

}  // namespace kelvara::dialogs
