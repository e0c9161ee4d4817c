#include "discovery/core/row_format.h"

#include <cctype>
#include <charconv>

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
  // Every row's uptime changes at every tick: the text is built in place,
  // without temporaries, in one allocation at most (none when it is short).
  char digits[4][12];
  std::size_t lengths[4] = {};
  std::size_t size = 0;
  for (int i = 0; i < 4; ++i) {
    if (parts[i] <= 0) continue;
    lengths[i] = static_cast<std::size_t>(std::to_chars(digits[i], digits[i] + 12, parts[i]).ptr - digits[i]);
    size += lengths[i] + names[i]->size() + 2;
  }
  text.reserve(size);
  for (int i = 0; i < 4; ++i) {
    if (lengths[i] == 0) continue;
    text.append(digits[i], lengths[i]);
    text += ' ';
    text += *names[i];
    text += ' ';
  }
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

namespace {

// 8-bit device text as UTF-8; plain ASCII passes unchanged.
std::string DeviceText(const std::string& s, const RowFormatContext& c) {
  for (unsigned char ch : s)
    if (ch >= 0x80) return c.deviceText ? c.deviceText(s) : Utf16ToUtf8(AnsiToCString(s.c_str()));
  return s;
}

using Cell = std::optional<std::string>;

// One column: whether two records give it the same text (the context being
// the same), and its text. The refresh formats only the columns whose inputs
// differ from the record the row was last filled from.
struct ColumnRule {
  int id;
  bool (*same)(const DeviceSearchInfo& a, const DeviceSearchInfo& b);
  Cell (*text)(const DeviceSearchInfo& info, const RowFormatContext& c);
};

#define KELVARA_SAME(expr) [](const DeviceSearchInfo& a, const DeviceSearchInfo& b) { return a.expr == b.expr; }
#define KELVARA_TEXT(expr) [](const DeviceSearchInfo& info, const RowFormatContext& c) -> Cell { \
  static_cast<void>(c);                                                                        \
  return expr;                                                                                 \
}

// Upper case is for display only: the record keeps the device's own text,
// which every lookup and command uses.
constexpr ColumnRule kColumnRules[] = {
    {kColIp, KELVARA_SAME(lanConfig.ipAddress), KELVARA_TEXT(DeviceText(info.lanConfig.ipAddress, c))},
    {kColHttpPort, KELVARA_SAME(streamAccess.webPort),
     KELVARA_TEXT(std::to_string(static_cast<unsigned>(info.streamAccess.webPort)))},
    {kColSerial, KELVARA_SAME(serialNumber), KELVARA_TEXT(UpperAscii(DeviceText(info.serialNumber, c)))},
    {kColNetmask, KELVARA_SAME(lanConfig.netmask), KELVARA_TEXT(DeviceText(info.lanConfig.netmask, c))},
    {kColAllnet, [](const DeviceSearchInfo& a, const DeviceSearchInfo& b) {
       return (a.lanConfig.allnet > 0) == (b.lanConfig.allnet > 0);
     },
     KELVARA_TEXT(info.lanConfig.allnet > 0 ? c.labels.enable : c.labels.close)},
    {kColMac, KELVARA_SAME(lanConfig.macAddress), KELVARA_TEXT(DeviceText(info.lanConfig.macAddress, c))},
    {kColP2pType, KELVARA_SAME(p2pType), KELVARA_TEXT(P2pTypeName(info.p2pType, c))},
    {kColP2pId, KELVARA_SAME(p2pId), KELVARA_TEXT(DeviceText(info.p2pId, c))},
    {kColNetcard, KELVARA_SAME(adapterAddress), KELVARA_TEXT(UpperAscii(info.adapterAddress))},
    {kColTitle, KELVARA_SAME(titleHex), KELVARA_TEXT(TitleFromHex(info.titleHex))},
    {kColAfVersion, KELVARA_SAME(afVersion), KELVARA_TEXT(UpperAscii(DeviceText(info.afVersion, c)))},
    {kColModule4gVersion, KELVARA_SAME(module4gVersion),
     KELVARA_TEXT(UpperAscii(DeviceText(info.module4gVersion, c)))},
    // A negative status leaves the cell as it is.
    {kColCloudStatus, KELVARA_SAME(p2pStatus),
     KELVARA_TEXT(info.p2pStatus < 0 ? Cell() : Cell(info.p2pStatus > 0 ? c.labels.online : c.labels.offline))},
    {kColUuid, KELVARA_SAME(uuid), KELVARA_TEXT(DeviceText(info.uuid, c))},
    {kColOemSerial, KELVARA_SAME(oemSerial), KELVARA_TEXT(DeviceText(info.oemSerial, c))},
    {kColModel, KELVARA_SAME(deviceType), KELVARA_TEXT(DeviceText(ModelText(info.deviceType), c))},
    {kColExtNumber, KELVARA_SAME(intercom.extNumber), KELVARA_TEXT(UpperAscii(DeviceText(info.intercom.extNumber, c)))},
    {kColMainNumber, KELVARA_SAME(intercom.mainNumber),
     KELVARA_TEXT(UpperAscii(DeviceText(info.intercom.mainNumber, c)))},
    {kColExtName, KELVARA_SAME(intercom.extName), KELVARA_TEXT(UpperAscii(DeviceText(info.intercom.extName, c)))},
    {kColAddressBoxIp, KELVARA_SAME(intercom.addressBoxIp),
     KELVARA_TEXT(UpperAscii(DeviceText(info.intercom.addressBoxIp, c)))},
    {kColNotes, KELVARA_SAME(intercom.notes), KELVARA_TEXT(UpperAscii(DeviceText(info.intercom.notes, c)))},
    {kColManageCenter, KELVARA_SAME(intercom.manageCenter),
     KELVARA_TEXT(UpperAscii(DeviceText(info.intercom.manageCenter, c)))},
    // An uptime of 0 leaves the cell as it is.
    {kColUptime, KELVARA_SAME(uptime_s),
     KELVARA_TEXT(info.uptime_s > 0 ? Cell(UptimeText(info.uptime_s, c.labels)) : Cell())},
};

#undef KELVARA_SAME
#undef KELVARA_TEXT

RowColour ColourOf(const DeviceSearchInfo& info, const RowFormatContext& c) {
  const int known = c.matchKnownDevice ? c.matchKnownDevice(info.serialNumber, info.p2pId)
                                       : MatchKnownDevice(info.serialNumber, info.p2pId);
  return known == 1 ? RowColour::kRed : known == 2 ? RowColour::kGreen : RowColour::kWindowText;
}

}  // namespace

RowTexts FormatRow(const DeviceSearchInfo& info, const RowFormatContext& c) {
  RowTexts r;
  for (const ColumnRule& rule : kColumnRules) r.cells[static_cast<std::size_t>(rule.id)] = rule.text(info, c);
  r.colour = ColourOf(info, c);
  return r;
}

RowTexts FormatChangedCells(const DeviceSearchInfo& before, const DeviceSearchInfo& after,
                            const RowFormatContext& c, std::bitset<kColumnCount> alsoColumns,
                            bool* colourChanged) {
  RowTexts r;
  for (const ColumnRule& rule : kColumnRules) {
    if (alsoColumns[static_cast<std::size_t>(rule.id)] || !rule.same(before, after))
      r.cells[static_cast<std::size_t>(rule.id)] = rule.text(after, c);
  }
  const bool colourInputsChanged = before.serialNumber != after.serialNumber || before.p2pId != after.p2pId;
  if (colourChanged) *colourChanged = colourInputsChanged;
  if (colourInputsChanged) r.colour = ColourOf(after, c);
  return r;
}

}  // namespace kelvara::discovery
