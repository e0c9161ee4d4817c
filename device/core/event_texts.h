#pragma once
// The status texts of SDK status events, alarm texts included, and the flags
// each event sets on its row.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "discovery/core/device_rows.h"

namespace kelvara::device {

// The 168-byte alarm record of event 23 (little-endian 32-bit fields).
struct DeviceAlarmInfo {
  int hour = 0, minute = 0, second = 0;
  int alarmCode = 0;
  int aiKind = 0;       // AI object kind (alarm codes 21 and 22)
  std::string detail;   // zero-terminated text at 40, at most 127 bytes

  // Reads the record; missing bytes count as zero.
  static DeviceAlarmInfo FromRecord(std::string_view data);
  // The record for these values (devsim and tests).
  std::string ToRecord() const;
};

// Language key of an alarm code (codes not listed: "IDS_ALARM").
const char* AlarmCodeKey(int alarmCode);
// Language key of an AI object kind.
const char* AiKindKey(int aiKind);

// The status text of an alarm: "hh:mm:ss kind:detail"; nullopt for alarm
// codes 1 and 2 (link down and up), which show nothing.
std::optional<std::string> AlarmText(const DeviceAlarmInfo& alarm,
                                     const std::function<std::string(const char*)>& lookup);

// A field of an alarm's detail text: the value after `key` up to the next
// "@@" or the end (at most 127 bytes). 1 and the value, or 0 (empty text:
// `out` untouched; key missing or value empty: `out` = "").
int GetEventField(std::string_view text, const char* key, std::string& out);

// Writes an event's status text into the status column of the row holding
// `handle` and sets the row's online and busy flags as the event says. Nothing
// when the status column is hidden or no row has the handle.
void FormatEventText(discovery::DeviceRows& rows, int handle, int eventType, const DeviceAlarmInfo* alarm,
                     const std::function<std::string(const char*)>& lookup);

}  // namespace kelvara::device
