#include "discovery/core/device_list_xml.h"

#include <tinyxml.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <system_error>

#include "discovery/core/xml_parse.h"

namespace kelvara::discovery {
namespace {

// Attribute text: the five special characters as entities and control
// characters as character references, so that every byte reads back as it
// was (a parser would turn a raw tab or line break into a blank).
std::string Attr(const std::string& v) {
  std::string out;
  out.reserve(v.size() + 8);
  for (unsigned char c : v) {
    switch (c) {
      case '"': out += "&quot;"; break;
      case '&': out += "&amp;"; break;
      case '\'': out += "&apos;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char ref[8];
          std::snprintf(ref, sizeof ref, "&#x%02X;", c);
          out += ref;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

}  // namespace

std::string BuildDeviceListXml(const std::vector<ExportedDevice>& devices) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n<root>\n";
  for (const auto& d : devices) {
    const DeviceSearchInfo& r = *d.record;
    const UserAccount& account = r.userConfig.accounts[0];
    const std::pair<const char*, std::string> attributes[] = {
        {"SN", r.serialNumber},
        {"UUID", r.uuid},
        {"P2PID", r.p2pId},
        {"P2PTYPE", std::to_string(r.p2pType)},
        {"MAC", r.lanConfig.macAddress},
        {"TYPE", r.deviceType},
        {"IPADDR", r.lanConfig.ipAddress},
        {"NETMASK", r.lanConfig.netmask},
        {"GATEWAY", r.lanConfig.gateway},
        {"DHCP", std::to_string(static_cast<std::int8_t>(r.lanConfig.dhcp))},
        {"DNS1", r.lanConfig.dns1},
        {"DNS2", r.lanConfig.dns2},
        {"COMPORT", std::to_string(r.streamAccess.ptzPort)},
        {"HTTPPORT", std::to_string(r.streamAccess.webPort)},
        {"RTSPPORT", std::to_string(r.streamAccess.videoPort)},
        {"user", account.userName},
        {"password", account.password},
        {"TITLE", r.titleHex},
        {"VERSION", d.loginVersion},
    };
    xml += "    <ipcamera";
    for (const auto& [name, value] : attributes) xml += std::string(" ") + name + "=\"" + Attr(value) + "\"";
    xml += " />\n";
  }
  return xml + "</root>\n";
}

ImportResult DevicesFromXml(const std::string& text) {
  ImportResult result;
  auto fail = [&](std::size_t row, std::string column, std::string reason) {
    result.devices.clear();
    result.error = ImportError{row, std::move(column), std::move(reason)};
    return result;
  };
  if (text.find('\0') != std::string::npos) return fail(0, "", "the file holds zero bytes");
  if (text.find("<!DOCTYPE") != std::string::npos || text.find("<!ENTITY") != std::string::npos)
    return fail(0, "", "document type definitions are not accepted");
  TiXmlDocument doc;
  if (const XmlParseOutcome parsed = ParseUntrustedXml(doc, text); !parsed)
    return fail(0, "", parsed.refused ? parsed.error : "not well-formed XML: " + parsed.error);
  const TiXmlElement* root = doc.RootElement();
  if (root == nullptr || std::string(root->Value()) != "root") return fail(0, "", "the root element is not \"root\"");

  std::size_t n = 0;
  for (const TiXmlElement* e = root->FirstChildElement(); e != nullptr; e = e->NextSiblingElement()) {
    if (std::string(e->Value()) != "ipcamera") continue;
    if (++n > kMaxImportedDevices) return fail(n, "", "more than " + std::to_string(kMaxImportedDevices) + " devices");
    std::optional<std::pair<std::string, std::string>> fault;
    auto text = [&](const char* name, std::size_t width) -> std::string {
      const char* v = e->Attribute(name);
      std::string s = v ? v : "";
      if (!FitsField(s, width) && !fault) fault = {{name, "longer than " + std::to_string(width - 1) + " characters"}};
      return s;
    };
    auto number = [&](const char* name, long long lo, long long hi) -> long long {
      const char* v = e->Attribute(name);
      if (v == nullptr || *v == '\0') return 0;
      errno = 0;
      char* end = nullptr;
      const long long x = std::strtoll(v, &end, 10);
      if (errno != 0 || *end != '\0' || x < lo || x > hi) {
        if (!fault) fault = {{name, "not a decimal number from " + std::to_string(lo) + " to " + std::to_string(hi)}};
        return 0;
      }
      return x;
    };
    DeviceSearchInfo d;
    d.serialNumber = text("SN", kSerialWidth);
    d.uuid = text("UUID", kUuidWidth);
    d.p2pId = text("P2PID", kP2pIdWidth);
    d.p2pType = static_cast<std::int32_t>(number("P2PTYPE", INT_MIN, INT_MAX));
    d.lanConfig.macAddress = text("MAC", kMacWidth);
    d.deviceType = text("TYPE", kDeviceTypeWidth);
    d.lanConfig.ipAddress = text("IPADDR", kAddressWidth);
    d.lanConfig.netmask = text("NETMASK", kAddressWidth);
    d.lanConfig.gateway = text("GATEWAY", kAddressWidth);
    d.lanConfig.dhcp = static_cast<std::uint8_t>(number("DHCP", -128, 255));
    d.lanConfig.dns1 = text("DNS1", kAddressWidth);
    d.lanConfig.dns2 = text("DNS2", kAddressWidth);
    d.streamAccess.ptzPort = static_cast<std::int32_t>(number("COMPORT", 0, 65535));
    d.streamAccess.webPort = static_cast<std::int32_t>(number("HTTPPORT", 0, 65535));
    d.streamAccess.videoPort = static_cast<std::int32_t>(number("RTSPPORT", 0, 65535));
    const char* title = e->Attribute("TITLE");
    d.titleHex = CutTitleHex(title ? title : "", kTitleWidth - 1);
    if (fault) return fail(n, fault->first, fault->second);
    if (const auto bad = CheckImportedDevice(d)) return fail(n, bad->first, bad->second);
    result.devices.push_back(std::move(d));
  }
  return result;
}

ImportResult ImportDeviceListXml(const std::filesystem::path& path) {
  ImportResult result;
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec) {
    result.error = ImportError{0, "", "cannot read the file: " + ec.message()};
    return result;
  }
  if (size > kXmlImportMaxBytes) {
    result.error = ImportError{0, "", "the file is larger than " + std::to_string(kXmlImportMaxBytes >> 20) + " MB"};
    return result;
  }
  std::ifstream in(path, std::ios::binary);
  std::string text(static_cast<std::size_t>(size), '\0');
  if (!in.read(text.data(), static_cast<std::streamsize>(size))) {
    result.error = ImportError{0, "", "cannot read the file"};
    return result;
  }
  return DevicesFromXml(text);
}

std::string ProposedXmlExportName(int year, int month, int day, int hour, int minute, int second) {
  char name[260];
  std::snprintf(name, sizeof name, "IPC EXPORT %04d%02d%02d-%02d%02d%02d.xml", year, month, day, hour, minute, second);
  return name;
}

}  // namespace kelvara::discovery
