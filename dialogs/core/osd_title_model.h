#pragma once
// The OSD title dialog's values without widgets: the position codes of the
// two overlays, the date/time formats, and the record <-> control values.
#include <array>
#include <string>

#include "common/settings_records.h"

namespace kelvara::dialogs {

// Item data of the position combos: 0 top left (0,0), 1 (1,0), 2 (0,1),
// 3 (1,1), 5 off (2,2).
inline constexpr int kOsdPositionOff = 5;
struct OsdPosition {
  int x = 0, y = 0;
  bool operator==(const OsdPosition&) const = default;
};
// The combo data shown for a record's (x, y).
int OsdPositionData(int posX, int posY);
// The (x, y) stored for a combo's data; unknown data gives (0, 0).
OsdPosition OsdPositionFor(int data);

inline constexpr std::array<const char*, 10> kOsdTimeFormats = {
    "yyyy-mm-dd hh:mm:ss", "yyyy/mm/dd hh:mm:ss", "yy-mm-dd hh:mm:ss",  "yy/mm/dd hh:mm:ss",
    "hh:mm:ss dd/mm/yyyy", "hh:mm:ss dd-mm-yyyy", "hh:mm:ss mm/dd/yyyy", "hh:mm:ss mm-dd-yyyy",
    "mm/dd/yyyy hh:mm:ss", "mm-dd-yyyy hh:mm:ss"};
// Index of the first format equal to the text; 0 when none is.
int OsdTimeFormatIndex(const std::string& format);

// The values the dialog's controls hold (combo values are item data).
struct OsdControlValues {
  int enable = 0;          // check 1016
  int transparency = 0;    // 1014
  int style = 3;           // 1017
  int timeFormat = 0;      // 1018
  int fontSize = 0;        // 1402
  int week = 0;            // 1406
  int clock = 0;           // 1407: 0 24-hour, 1 12-hour
  int timePosition = 0;    // 1011
  int titlePosition = 0;   // 1019
  std::string title;       // edit 1009, UTF-8
  bool operator==(const OsdControlValues&) const = default;
};

// The longest title kept, in UTF-8 bytes: its hex fills the record's field.
inline constexpr std::size_t kMaxOsdDialogTitleBytes = OverlayConfig::kMaxTitleHex / 2;

OsdControlValues OsdControlsFromRecord(const OverlayConfig& record);
// A cleared record filled from the controls; the title is cut to
// kMaxOsdDialogTitleBytes at a character boundary.
OverlayConfig OsdRecordFromControls(const OsdControlValues& values);

// Lowercase hex, two digits per byte.
std::string HexOfBytes(const std::string& bytes);

}  // namespace kelvara::dialogs
