#pragma once
// The device list's exchange files (Excel sheet, XML file): the checks every
// imported device passes before the list is replaced, and the export of a
// row's values.
#include <cstddef>
#include <optional>
#include <utility>
#include <string>
#include <vector>

#include "discovery/core/device_records.h"

namespace kelvara::discovery {

// A list import holds at most as many devices as the device map.
inline constexpr std::size_t kMaxImportedDevices = 2048;

// Where a file is wrong: the first fault found.
struct ImportError {
  std::size_t row = 0;  // 1-based: the sheet's row, or the n-th device element
  std::string column;   // column or attribute name; empty for the whole file
  std::string reason;
  std::string Text() const;
};

// What an import read: every device, or the first fault (then no device).
struct ImportResult {
  std::vector<DeviceSearchInfo> devices;
  std::optional<ImportError> error;
};

// A text field of an imported record: the value must fit its field
// (`width` - 1 bytes); over-long values are refused, not cut.
bool FitsField(const std::string& value, std::size_t width);

// The title's hex text (two digits per UTF-8 byte) cut to at most `maxDigits`
// digits, at a UTF-8 character boundary.
std::string CutTitleHex(const std::string& hex, std::size_t maxDigits);
// A title (UTF-8) as the hex text records keep, upper-case digits, cut to
// 255 digits at a character boundary.
std::string TitleHexFromText(const std::string& utf8);
// The hex title as UTF-8 text.
std::string TitleTextFromHex(const std::string& hex);

// Checks a record an import built: serial number present and whole,
// dotted IPv4 address, netmask (and the other addresses when set) dotted,
// every text within its field. Returns the column at fault and why.
std::optional<std::pair<std::string, std::string>> CheckImportedDevice(const DeviceSearchInfo& record);

}  // namespace kelvara::discovery
