#include "discovery/core/row_format.h"

#include <cctype>

namespace kelvara::discovery {
namespace {

void ReplaceAll(std::string& s, std::string_view from, std::string_view to) {
  for (std::size_t pos = 0; (pos = s.find(from, pos)) != std::string::npos; pos += to.size())
    s.replace(pos, from.size(), to);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Appends the valid UTF-8 of `bytes`, each invalid sequence replaced by U+FFFD.
std::string SanitiseUtf8(std::string_view bytes) {
  std::string out;
  std::size_t i = 0;
  while (i < bytes.size()) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    std::size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    bool ok = len > 0 && i + len <= bytes.size();
    for (std::size_t k = 1; ok && k < len; ++k)
      ok = (static_cast<unsigned char>(bytes[i + k]) & 0xC0) == 0x80;
    if (ok && len > 1) {
      // Reject overlong forms, surrogates and values above U+10FFFF.
      const unsigned char c1 = static_cast<unsigned char>(bytes[i + 1]);
      if ((len == 2 && c < 0xC2) || (len == 3 && c == 0xE0 && c1 < 0xA0) ||
          (len == 3 && c == 0xED && c1 >= 0xA0) || (len == 4 && c == 0xF0 && c1 < 0x90) ||
          (len == 4 && (c > 0xF4 || (c == 0xF4 && c1 >= 0x90))))
        ok = false;
    }
    if (ok && c == 0) break;  // the title ends at its first zero byte
    if (ok) {
      out.append(bytes.substr(i, len));
      i += len;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out;
}

}  // namespace

RowLabels RowLabels::FromLookup(const std::function<std::string(const char* key)>& lookup) {
  RowLabels l;
  if (!lookup) return l;
  l.enable = lookup("ENABLE");
  l.close = lookup("STRING_CLOSE");
  l.online = lookup("IDS_STR_ONLINE");
  l.offline = lookup("IDS_STR_OFFLINE");
  l.day = lookup("DAY");
  l.hour = lookup("HOUR");
  l.min = lookup("MIN");
  l.sec = lookup("SEC");
  return l;
}

std::string UpperAscii(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

std::string ModelText(std::string_view deviceType) {
  std::string model(deviceType);
  ReplaceAll(model, "DAV-ODUVE-", "");
  ReplaceAll(model, "NVS-NVR-", "NVR-");
  if (const auto cut = model.find("_V"); cut != std::string::npos) model.resize(cut);
  return model;
}

std::string UptimeText(int uptime_s, const RowLabels& l) {
  std::string text;
  if (uptime_s <= 0) return text;
  const int parts[] = {uptime_s / 86400, (uptime_s % 86400) / 3600, (uptime_s % 3600) / 60,
                       uptime_s % 60};
  const std::string* names[] = {&l.day, &l.hour, &l.min, &l.sec};
  for (int i = 0; i < 4; ++i)
    if (parts[i] > 0) text += std::to_string(parts[i]) + " " + *names[i] + " ";
  return text;
}

std::string P2pTypeName(int type, const RowFormatContext& c) {
  if (!c.p2pTypeOverride.empty()) return c.p2pTypeOverride;
  switch (type) {
    case 1: return "Danale";
    case 2: return "QELM";
    case 3: return "GOOLINK";
    case 4: return "ZAROFI";
    case 5: return "QQ";
    case 6: return "TUTK";
    case 7: return "QUVELDA";
    case 8: return "RM64Plus";
    case 9: return "TUYA";
    case 10:
    case 14:
      if (!c.customCloudType.empty()) return c.customCloudType;
      return c.uiLanguage == "zh-cn" ? "RM64Pro" : "Quorvista";
    default: return {};
  }
}

std::string TitleFromHex(std::string_view hex) {
  // A 255-character hex text gives at most 127 bytes; the 512-byte bound
  // keeps any longer input in check as well.
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size() && bytes.size() < 512; i += 2) {
    const int hi = HexValue(hex[i]), lo = HexValue(hex[i + 1]);
    if (hi < 0 || lo < 0) break;
    bytes += static_cast<char>(hi * 16 + lo);
  }
  return SanitiseUtf8(bytes);
}

RowTexts FormatRow(const DeviceSearchInfo& info, const RowFormatContext& c) {
  auto dev = [&](const std::string& s) -> std::string {
    for (unsigned char ch : s)
      if (ch >= 0x80) return c.deviceText ? c.deviceText(s) : SanitiseUtf8(s);
    return s;
  };
  RowTexts r;
  auto set = [&](int id, std::string text) { r.cells[static_cast<std::size_t>(id)] = std::move(text); };
  set(kColIp, dev(info.lanConfig.ipAddress));
  set(kColHttpPort, std::to_string(static_cast<unsigned>(info.streamAccess.webPort)));
  // Upper case is for display only: the record keeps the serial number as
  // the device sent it, which every lookup and command uses.
  set(kColSerial, UpperAscii(dev(info.serialNumber)));
  set(kColNetmask, dev(info.lanConfig.netmask));
  set(kColAllnet, info.lanConfig.allnet > 0 ? c.labels.enable : c.labels.close);
  set(kColMac, dev(info.lanConfig.macAddress));
  set(kColP2pType, P2pTypeName(info.p2pType, c));
  set(kColP2pId, dev(info.p2pId));
  set(kColNetcard, UpperAscii(info.adapterAddress));
  set(kColTitle, TitleFromHex(info.titleHex));
  set(kColAfVersion, UpperAscii(dev(info.afVersion)));
  set(kColModule4gVersion, UpperAscii(dev(info.module4gVersion)));
  if (info.p2pStatus >= 0) set(kColCloudStatus, info.p2pStatus > 0 ? c.labels.online : c.labels.offline);
  set(kColUuid, dev(info.uuid));
  set(kColOemSerial, dev(info.oemSerial));
  set(kColModel, dev(ModelText(info.deviceType)));
  const IntercomConfig& ic = info.intercom;
  set(kColExtNumber, UpperAscii(dev(ic.extNumber)));
  set(kColMainNumber, UpperAscii(dev(ic.mainNumber)));
  set(kColExtName, UpperAscii(dev(ic.extName)));
  set(kColAddressBoxIp, UpperAscii(dev(ic.addressBoxIp)));
  set(kColNotes, UpperAscii(dev(ic.notes)));
  set(kColManageCenter, UpperAscii(dev(ic.manageCenter)));
  if (info.uptime_s > 0) set(kColUptime, UptimeText(info.uptime_s, c.labels));
  const int known = c.matchKnownDevice ? c.matchKnownDevice(info.serialNumber, info.p2pId) : 0;
  r.colour = known == 1 ? RowColour::kRed : known == 2 ? RowColour::kGreen : RowColour::kWindowText;
  return r;
}

}  // namespace kelvara::discovery
