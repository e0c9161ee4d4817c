#pragma once
// The time settings dialog without widgets: the zone tables, the time-zone
// rule file, the checks of Save and the TimeConfig text.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/settings_records.h"

namespace kelvara::dialogs {

struct TimeZoneEntry {
  int minutes;  // 720 + offset in minutes
  std::string label;
};
// The 34 zones of the dialog: plain labels, and labels followed by city names.
const std::vector<TimeZoneEntry>& TimeZonesFull();
const std::vector<TimeZoneEntry>& TimeZonesCitiesFull();
// The table for a UI language ("zh-cn" takes the city labels).
const std::vector<TimeZoneEntry>& TimeZonesFor(const std::string& languageCode);
// Index of the zone with this value; -1 when none.
int TimeZoneIndex(const std::vector<TimeZoneEntry>& table, int minutes);

struct DstRule {
  int month = 0, week = 0, weekday = 0, hour = 0;
  bool operator==(const DstRule&) const = default;
};
struct TimeZoneRule {
  std::string name;
  std::string rule;
  int minutes = -1;  // -1 when the name gives no offset
  bool hasRules = false;
  DstRule start, end;
};
// Parses the time-zone file text (root with "item" children: the name is
// the item's first child text, the rule its "value" attribute).
std::vector<TimeZoneRule> ParseTimeZoneRules(const std::string& xmlText);
// The file next to the program; a missing or unreadable file gives none.
std::vector<TimeZoneRule> LoadTimeZoneRules(const std::filesystem::path& file);
// The first rule with those minutes that carries a start and end rule.
const TimeZoneRule* RuleForZone(const std::vector<TimeZoneRule>& rules, int minutes);

inline constexpr const char* kTimeModes[3] = {"NTP", "MANUAL", "P2P"};
// Index of the time source for a TimeMode text: NTP 0, MANUAL 1, P2P 2, else 0.
int TimeSourceIndex(const std::string& mode);

struct TimeDialogInput {
  int source = 0;  // 0 NTP, 1 manual, 2 P2P
  int zoneIndex = -1;
  std::string server, port, interval;
  bool dstEnable = false, dstAuto = false;
  int dstOffset = 30;
  DstRule start{1, 1, 0, 0}, end{1, 1, 0, 0};
};
struct TimeDialogResult {
  TimeSettings settings;
  std::string xml;
  const char* errorKey = nullptr;  // set when refused
};
// Save: in NTP mode the port must be 1..65535, the interval 60..999999 and
// the server an address (not a netmask) or a domain name of at most 63
// bytes; the other modes keep the saved NTP fields as they are.
TimeDialogResult BuildTimeConfig(const TimeSettings& saved, const TimeDialogInput& input,
                                 const std::vector<TimeZoneEntry>& zones);

}  // namespace kelvara::dialogs
