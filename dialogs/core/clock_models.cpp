#include "dialogs/core/clock_models.h"

#include <tinyxml.h>

#include <cstdio>

#include "dialogs/core/xml_text.h"

namespace kelvara::dialogs {

std::string BuildAlarmClockXml(const AlarmClockSettings& s) {
  TiXmlElement root("AlarmClockConfig");
  TiXmlElement hour("AlarmOnEveryHour");
  hour.SetAttribute("enable", s.oclock_enable);
  hour.SetAttribute("from_hour", s.oclock_from.hour);
  hour.SetAttribute("from_minute", s.oclock_from.minute);
  hour.SetAttribute("from_second", s.oclock_from.second);
  hour.SetAttribute("to_hour", s.oclock_to.hour);
  hour.SetAttribute("to_minute", s.oclock_to.minute);
  hour.SetAttribute("to_second", s.oclock_to.second);
  root.InsertEndChild(hour);
  TiXmlElement clocks("alarmclock");
  for (const auto& c : s.clocks) {
    TiXmlElement e("clock");
    e.SetAttribute("enable", c.enable);
    e.SetAttribute("hour", c.hour);
    e.SetAttribute("minute", c.minute);
    e.SetAttribute("second", c.second);
    clocks.InsertEndChild(e);
  }
  root.InsertEndChild(clocks);
  return PrintXml(root);
}

ClockTime ChimeEndWhenEnabled(ClockTime end) {
  if (end.hour == 0 && end.minute == 0 && end.second == 0) return {23, 59, 59};
  return end;
}

std::string BuildMaintenanceXml(int enable, int day, ClockTime time) {
  char t[16];
  std::snprintf(t, sizeof t, "%02d:%02d:%02d", time.hour % 100, time.minute % 100, time.second % 100);
  // The time is digits and colons only: nothing to escape.
  return "<MaintainConfig\tEnable=\"" + std::to_string(enable) + "\" Day=\"" + std::to_string(day) +
         "\" Time=\"" + t + "\" />";
}

}  // namespace kelvara::dialogs
