#include "discovery/core/row_format.h"

#include <cctype>

#include "common/known_devices.h"
#include "common/language_table.h"
#include "common/text_convert.h"

namespace kelvara::discovery {
namespace {

void ReplaceAll(std::string& s, std::string_view from, std::string_view to) {
  for (std::size_t pos = 0; (pos = s.find(from, pos)) != std::string::npos; pos += to.size())
    s.replace(pos, from.size(), to);
}


// Wide text to UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

}  // namespace

RowLabels RowLabels::FromLookup(const std::function<std::string(const char* key)>& lookup) {
  RowLabels l;
  if (!lookup) return l;
  l.enable = lookup(LangKey("ENABLE"));
  l.close = lookup(LangKey("STRING_CLOSE"));
  l.online = lookup(LangKey("IDS_STR_ONLINE"));
  l.offline = lookup(LangKey("IDS_STR_OFFLINE"));
  l.day = lookup(LangKey("DAY"));
  l.hour = lookup(LangKey("HOUR"));
  l.min = lookup(LangKey("MIN"));
  l.sec = lookup(LangKey("SEC"));
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
  // A title field holds at most 255 hex digits; the bound keeps any longer
  // input to the 512 bytes the title buffer has.
  if (hex.size() > 1024) hex = hex.substr(0, 1024);
  return Utf16ToUtf8(Utf8ToCString(HexToBytes(hex)));
}

RowTexts FormatRow(const DeviceSearchInfo& info, const RowFormatContext& c) {
  auto dev = [&](const std::string& s) -> std::string {
    for (unsigned char ch : s)
      if (ch >= 0x80) return c.deviceText ? c.deviceText(s) : Utf16ToUtf8(AnsiToCString(s.c_str()));
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
  const int known = c.matchKnownDevice ? c.matchKnownDevice(info.serialNumber, info.p2pId)
                                       : MatchKnownDevice(info.serialNumber, info.p2pId);
  r.colour = known == 1 ? RowColour::kRed : known == 2 ? RowColour::kGreen : RowColour::kWindowText;
  return r;
}

}  // namespace kelvara::discovery
