#include "discovery/core/device_sheet.h"

#include <cmath>
#include <cstdio>
#include <map>

#include "common/text_convert.h"

namespace kelvara::discovery {
namespace {

// Device texts are GBK bytes (ASCII in practice); the sheet holds Unicode.
std::string DeviceTextToSheet(const std::string& bytes) {
  for (unsigned char c : bytes)
    if (c >= 0x80) return GbkToUtf8(bytes);
  return bytes;
}

std::string SheetTextToDevice(const std::string& utf8) {
  for (unsigned char c : utf8)
    if (c >= 0x80) return Utf8ToGbk(utf8);
  return utf8;
}

std::string NumberText(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.15g", v);
  return text;
}

}  // namespace

const std::vector<SheetColumn>& DeviceSheetColumns() {
  static const std::vector<SheetColumn> columns = {
      {"IPADDR", false}, {"NETMASK", false},    {"COMPORT", true}, {"HTTPPORT", true}, {"RTSPPORT", true},
      {"MAC", false},    {"TITLE", false},      {"DEVICETYPE", false}, {"VERSION", false}, {"SN", false},
      {"P2PTYPE", true}, {"P2PID", false},      {"UUID", false}};
  return columns;
}

XlsSheet BuildDeviceSheet(const std::vector<ExportedDevice>& devices) {
  XlsSheet sheet;
  sheet.name = kExportSheetName;
  std::vector<XlsCell> header;
  for (const auto& c : DeviceSheetColumns()) header.push_back(XlsCell::Text(c.name));
  sheet.rows.push_back(std::move(header));
  for (const auto& d : devices) {
    const DeviceSearchInfo& r = *d.record;
    sheet.rows.push_back({
        XlsCell::Text(DeviceTextToSheet(r.lanConfig.ipAddress)),
        XlsCell::Text(DeviceTextToSheet(r.lanConfig.netmask)),
        XlsCell::Number(r.streamAccess.ptzPort),
        XlsCell::Number(r.streamAccess.webPort),
        XlsCell::Number(r.streamAccess.videoPort),
        XlsCell::Text(DeviceTextToSheet(r.lanConfig.macAddress)),
        XlsCell::Text(TitleTextFromHex(r.titleHex)),
        XlsCell::Text(DeviceTextToSheet(r.deviceType)),
        XlsCell::Text(DeviceTextToSheet(d.loginVersion)),
        XlsCell::Text(DeviceTextToSheet(r.serialNumber)),
        XlsCell::Number(r.p2pType),
        XlsCell::Text(DeviceTextToSheet(r.p2pId)),
        XlsCell::Text(DeviceTextToSheet(r.uuid)),
    });
  }
  return sheet;
}

ImportResult DevicesFromSheet(const XlsSheet& sheet) {
  ImportResult result;
  auto fail = [&](std::size_t row, std::string column, std::string reason) {
    result.devices.clear();
    result.error = ImportError{row, std::move(column), std::move(reason)};
    return result;
  };
  if (sheet.rows.empty()) return fail(0, "", "the sheet has no header row");
  std::map<std::string, std::size_t> at;
  const auto& header = sheet.rows[0];
  for (std::size_t c = 0; c < header.size(); ++c)
    if (header[c].type == XlsCell::Type::kText) at.emplace(header[c].text(), c);
  for (const auto& c : DeviceSheetColumns())
    if (!at.count(c.name) && std::string(c.name) != "VERSION") return fail(1, c.name, "the column is missing");
  if (sheet.rows.size() - 1 > kMaxImportedDevices)
    return fail(0, "", "more than " + std::to_string(kMaxImportedDevices) + " devices");

  for (std::size_t r = 1; r < sheet.rows.size(); ++r) {
    const auto& row = sheet.rows[r];
    bool empty = true;
    for (const auto& cell : row) empty = empty && cell.type == XlsCell::Type::kEmpty;
    if (empty) continue;
    auto cell = [&](const char* name) -> const XlsCell& {
      static const XlsCell none;
      const auto it = at.find(name);
      return it != at.end() && it->second < row.size() ? row[it->second] : none;
    };
    std::optional<std::string> fault;
    const char* faultColumn = "";
    auto text = [&](const char* name) -> std::string {
      const XlsCell& c = cell(name);
      if (c.type == XlsCell::Type::kText) return SheetTextToDevice(c.text());
      if (c.type == XlsCell::Type::kNumber) return NumberText(c.number);
      return {};
    };
    auto integer = [&](const char* name, double lo, double hi) -> int {
      const XlsCell& c = cell(name);
      double v = 0;
      if (c.type == XlsCell::Type::kNumber) {
        v = c.number;
      } else if (c.type == XlsCell::Type::kText && !c.text().empty()) {
        char* end = nullptr;
        v = std::strtod(c.text().c_str(), &end);
        if (*end != '\0') v = NAN;
      }
      if (!(v >= lo && v <= hi) || v != std::floor(v)) {
        if (!fault) fault = "not a whole number from " + NumberText(lo) + " to " + NumberText(hi), faultColumn = name;
        return 0;
      }
      return static_cast<int>(v);
    };
    DeviceSearchInfo d;
    d.lanConfig.ipAddress = text("IPADDR");
    d.lanConfig.netmask = text("NETMASK");
    d.streamAccess.ptzPort = integer("COMPORT", 0, 65535);
    d.streamAccess.webPort = integer("HTTPPORT", 0, 65535);
    d.streamAccess.videoPort = integer("RTSPPORT", 0, 65535);
    d.lanConfig.macAddress = text("MAC");
    d.titleHex = TitleHexFromText(cell("TITLE").type == XlsCell::Type::kText ? cell("TITLE").text() : text("TITLE"));
    d.deviceType = text("DEVICETYPE");
    d.serialNumber = text("SN");
    d.p2pType = integer("P2PTYPE", -2147483648.0, 2147483647.0);
    d.p2pId = text("P2PID");
    d.uuid = text("UUID");
    if (fault) return fail(r + 1, faultColumn, *fault);
    // The gateway is left empty: the sheet has none.
    d.lanConfig.dhcp = 0;
    d.lanConfig.dns1 = d.lanConfig.dns2 = "0.0.0.0";
    if (const auto bad = CheckImportedDevice(d)) return fail(r + 1, bad->first, bad->second);
    result.devices.push_back(std::move(d));
  }
  return result;
}

ImportResult ImportDeviceSheet(const std::filesystem::path& path) {
  const XlsReadResult read = ReadXlsFile(path, kExportSheetName, kMaxImportedDevices + 1);
  if (!read.ok) {
    ImportResult result;
    result.error = ImportError{0, "", read.error};
    return result;
  }
  return DevicesFromSheet(read.sheet);
}

}  // namespace kelvara::discovery
