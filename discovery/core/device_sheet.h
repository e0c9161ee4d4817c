#pragma once
// The device list as an Excel sheet: the table "EXPORT" with a header row
// and one device per row, in 13 fixed columns.
#include <string>
#include <vector>

#include "discovery/core/device_import.h"
#include "discovery/core/xls_workbook.h"

namespace kelvara::discovery {

inline constexpr const char* kExportSheetName = "EXPORT";

// The columns in file order; `isInt` columns hold numbers.
struct SheetColumn {
  const char* name;
  bool isInt;
};
const std::vector<SheetColumn>& DeviceSheetColumns();

// One exported device: its record and the version read over its login.
struct ExportedDevice {
  const DeviceSearchInfo* record;
  std::string loginVersion;
};

// The sheet of the devices, in the order given. Device texts (GBK bytes)
// become Unicode; the title is decoded from its hex form.
XlsSheet BuildDeviceSheet(const std::vector<ExportedDevice>& devices);

// The devices of a sheet read from a file, every one checked: the header
// must name every column (VERSION may be missing), numbers must be whole
// numbers in range, texts must fit their fields, addresses must be dotted.
// Empty rows are skipped. The first fault refuses the whole sheet.
ImportResult DevicesFromSheet(const XlsSheet& sheet);

// Reads and checks the sheet "EXPORT" of an .xls file (at most
// kMaxImportedDevices rows of devices).
ImportResult ImportDeviceSheet(const std::filesystem::path& path);

}  // namespace kelvara::discovery
