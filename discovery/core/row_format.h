#pragma once
// The cell texts of one device-list row, computed from its record. Pure: the
// language texts, the device-text conversion and the known-device match come
// in through RowFormatContext, so a table of cases tests it without a list.
#include <array>
#include <bitset>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "discovery/core/device_columns.h"
#include "discovery/core/device_records.h"

namespace kelvara::discovery {

enum class RowColour : int { kWindowText = 1, kRed = 2, kGreen = 3 };

// The language texts a row uses, looked up once (UTF-8).
struct RowLabels {
  std::string enable, close, online, offline, day, hour, min, sec;
  static RowLabels FromLookup(const std::function<std::string(const char* key)>& lookup);
};

struct RowFormatContext {
  RowLabels labels;
  std::string p2pTypeOverride;  // text of "P2PTYPENAME" when not empty
  std::string customCloudType;  // customer string for cloud types 10 and 14
  std::string uiLanguage = "en-us";
  // 8-bit device text to UTF-8; called only for texts with bytes >= 0x80.
  std::function<std::string(std::string_view)> deviceText;
  // 1: a known device (red), 2: green, else the normal text colour. Empty:
  // the program's known-device lists.
  std::function<int(const std::string& serial, const std::string& p2pId)> matchKnownDevice;
};

// One text per logical column; nullopt leaves the cell as it is (the columns
// other subsystems own, an uptime of 0, a negative cloud status).
struct RowTexts {
  std::array<std::optional<std::string>, kColumnCount> cells;
  RowColour colour = RowColour::kWindowText;
};

RowTexts FormatRow(const DeviceSearchInfo& info, const RowFormatContext& context);

// The cells whose text `after` may change against `before`, both formatted
// with the same context: only columns whose inputs differ, plus
// `alsoColumns`, are set. The colour is computed only when its inputs (serial
// number, P2P id) differ; `colourChanged` tells whether they did.
RowTexts FormatChangedCells(const DeviceSearchInfo& before, const DeviceSearchInfo& after,
                            const RowFormatContext& context, std::bitset<kColumnCount> alsoColumns,
                            bool* colourChanged);

// Helpers with their own rules, exposed for tests.
std::string ModelText(std::string_view deviceType);
std::string UptimeText(int uptime_s, const RowLabels& labels);
std::string P2pTypeName(int type, const RowFormatContext& context);
// The title field (hex text of UTF-8 bytes) as UTF-8; invalid bytes become
// U+FFFD, the title ends at its first zero byte.
std::string TitleFromHex(std::string_view hex);
std::string UpperAscii(std::string text);

}  // namespace kelvara::discovery
