#include "discovery/core/row_clipboard.h"

#include <cstdio>

#include "common/ipv4_host.h"
#include "common/text_convert.h"
#include "discovery/core/device_import.h"

namespace kelvara::discovery {
namespace {

std::string Line(const char* name, const std::string& value) {
  char head[32];
  std::snprintf(head, sizeof head, "%-20s", name);
  return head + value + "\n";
}

}  // namespace

std::string CopyFieldText(const DeviceListRow& row, int id) {
  const DeviceSearchInfo& r = row.m_searchInfo;
  std::string text;
  switch (id) {
    case 33301: text = r.serialNumber; break;
    case 33302: text = r.uuid; break;
    case 33303: text = r.p2pId; break;
    case 33304: text = r.lanConfig.macAddress; break;
    case 33307: text = row.m_abilityText; break;
    case 33305: {
      text = Line("MODEL", r.deviceType) + Line("SN", r.serialNumber) + Line("UUID", r.uuid) +
             Line("P2PTYPE", std::to_string(r.p2pType)) + Line("P2PID", r.p2pId) +
             Line("P2PSTATUS", std::to_string(r.p2pStatus)) + Line("MAC", r.lanConfig.macAddress) +
             Line("IP", r.lanConfig.ipAddress) + Line("MASK", r.lanConfig.netmask) +
             Line("GATEWAY", r.lanConfig.gateway) + Line("DNS1", r.lanConfig.dns1) + Line("DNS2", r.lanConfig.dns2) +
             Line("VERSION", r.version) + Line("REALVERSION", row.m_fsVersion) + Line("AFVERSION", r.afVersion) +
             Line("OEMSN", r.oemSerial);
      char head[16];
      std::snprintf(head, sizeof head, "%-10s", "TITLE");
      // The clipboard text is 8-bit in the program's code page, like every
      // other field; the title is stored as UTF-8.
      text += head + Utf8ToAnsi(TitleTextFromHex(r.titleHex)) + "\n";
      break;
    }
    default: return {};
  }
  if (text.size() > kCopyTextLimit - 1) text.resize(kCopyTextLimit - 1);
  return text;
}

std::string SearchReplyText(const DeviceListRow& row) {
  const std::string& t = row.m_searchInfo.replyText;
  return t.substr(0, t.find('\0'));
}

DeviceSearchInfo BatchDebugDevice(int n, std::uint32_t address, const std::string& mask, const std::string& gateway,
                                  const std::string& dns1, const std::string& dns2) {
  DeviceSearchInfo d;
  char text[32];
  std::snprintf(text, sizeof text, "batch_debug_%03d", n);
  d.serialNumber = text;
  d.deviceType = "DAV-ODUVE-DEBUG";
  std::snprintf(text, sizeof text, "00:00:00:00:00:%02x", n & 0xFF);
  d.lanConfig.macAddress = text;
  d.lanConfig.ipAddress = FormatIpv4Host(address);
  d.lanConfig.netmask = mask;
  d.lanConfig.gateway = gateway;
  d.lanConfig.dns1 = dns1;
  d.lanConfig.dns2 = dns2;
  d.streamAccess.ptzPort = 8091;
  d.streamAccess.webPort = 80;
  d.streamAccess.videoPort = 554;
  return d;
}

std::vector<DeviceSearchInfo> BatchDebugDevices(std::uint32_t first, std::uint32_t last, const std::string& mask,
                                                const std::string& gateway, const std::string& dns1,
                                                const std::string& dns2) {
  std::vector<DeviceSearchInfo> out;
  for (std::uint64_t n = 0; n < 253 && static_cast<std::uint64_t>(last) >= first + n; ++n)
    out.push_back(BatchDebugDevice(static_cast<int>(n), static_cast<std::uint32_t>(first + n), mask, gateway, dns1, dns2));
  return out;
}

}  // namespace kelvara::discovery

namespace kelvara::discovery {

std::string WebPageUrl(const std::string& address, int port) {
  const auto a = ParseIpv4Host(address);
  if (!a || *a == 0 || *a == 0xFFFFFFFFu || port < 1 || port > 65535) return {};
  return "http://" + FormatIpv4Host(*a) + ":" + std::to_string(port);
}

}  // namespace kelvara::discovery
