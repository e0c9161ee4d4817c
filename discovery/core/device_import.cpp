#include "discovery/core/device_import.h"

#include <cstdio>

#include "common/ipv4_host.h"
#include "common/text_convert.h"

namespace kelvara::discovery {

std::string ImportError::Text() const {
  std::string t;
  if (row > 0) t += "row " + std::to_string(row);
  if (!column.empty()) t += (t.empty() ? "" : ", ") + std::string("column ") + column;
  if (!t.empty()) t += ": ";
  return t + reason;
}

bool FitsField(const std::string& value, std::size_t width) { return value.size() + 1 <= width; }

std::string CutTitleHex(const std::string& hex, std::size_t maxDigits) {
  std::string bytes = HexToBytes(hex.size() % 2 ? hex.substr(0, hex.size() - 1) : hex);
  std::size_t keep = std::min(bytes.size(), maxDigits / 2);
  // Back off continuation bytes so a character is never cut.
  if (keep < bytes.size())
    while (keep > 0 && (static_cast<unsigned char>(bytes[keep]) & 0xC0) == 0x80) --keep;
  return hex.substr(0, keep * 2);
}

std::string TitleHexFromText(const std::string& utf8) {
  std::string hex;
  hex.reserve(utf8.size() * 2);
  char digits[3];
  for (unsigned char c : utf8) {
    std::snprintf(digits, sizeof digits, "%02X", c);
    hex += digits;
  }
  return CutTitleHex(hex, kTitleWidth - 1);
}

std::string TitleTextFromHex(const std::string& hex) {
  std::string bytes = HexToBytes(hex);
  if (const auto zero = bytes.find('\0'); zero != std::string::npos) bytes.resize(zero);
  return bytes;
}

std::optional<std::pair<std::string, std::string>> CheckImportedDevice(const DeviceSearchInfo& r) {
  using Fault = std::pair<std::string, std::string>;
  if (r.serialNumber.empty()) return Fault{"SN", "no serial number"};
  if (!FitsField(r.serialNumber, kSerialWidth))
    return Fault{"SN", "longer than " + std::to_string(kSerialWidth - 1) + " characters"};
  if (!ParseIpv4Host(r.lanConfig.ipAddress)) return Fault{"IPADDR", "not a dotted IPv4 address"};
  const struct {
    const char* name;
    const std::string& value;
  } addresses[] = {{"NETMASK", r.lanConfig.netmask}, {"GATEWAY", r.lanConfig.gateway},
                   {"DNS1", r.lanConfig.dns1},       {"DNS2", r.lanConfig.dns2}};
  for (const auto& a : addresses)
    if (!a.value.empty() && !ParseIpv4Host(a.value)) return Fault{a.name, "not a dotted IPv4 address"};
  const struct {
    const char* name;
    const std::string& value;
    std::size_t width;
  } texts[] = {{"UUID", r.uuid, kUuidWidth},          {"P2PID", r.p2pId, kP2pIdWidth},
               {"MAC", r.lanConfig.macAddress, kMacWidth}, {"DEVICETYPE", r.deviceType, kDeviceTypeWidth},
               {"TITLE", r.titleHex, kTitleWidth}};
  for (const auto& t : texts)
    if (!FitsField(t.value, t.width)) return Fault{t.name, "longer than " + std::to_string(t.width - 1) + " characters"};
  return std::nullopt;
}

}  // namespace kelvara::discovery
