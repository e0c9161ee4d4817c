#include "dialogs/core/time_model.h"

#include <tinyxml.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "common/input_validators.h"
#include "common/xml_values.h"
#include "dialogs/core/number_fields.h"
#include "dialogs/core/xml_text.h"
#include "common/xml_guard.h"

namespace kelvara::dialogs {
namespace {

struct Zone {
  int offset;
  const char* label;
  const char* cities;
};
const Zone kZones[] = {
    {-720, "(GMT-12:00)", "国际日期变更线西"}, {-660, "(GMT-11:00)", "中途岛，萨摩亚群岛"},
    {-600, "(GMT-10:00)", "夏威夷"},           {-540, "(GMT-09:00)", "阿拉斯加"},
    {-480, "(GMT-08:00)", "太平洋时间（美国和加拿大）"}, {-420, "(GMT-07:00)", "山地时间（美国和加拿大）"},
    {-360, "(GMT-06:00)", "中部时间（美国和加拿大）"}, {-300, "(GMT-05:00)", "东部时间（美国和加拿大）"},
    {-270, "(GMT-04:30)", "加拉加斯"},         {-240, "(GMT-04:00)", "大西洋时间（加拿大）"},
    {-210, "(GMT-03:30)", "纽芬兰"},           {-180, "(GMT-03:00)", "巴西利亚，布宜诺斯艾利斯"},
    {-120, "(GMT-02:00)", "中大西洋"},         {-60, "(GMT-01:00)", "亚速尔群岛"},
    {0, "(GMT)", "伦敦，都柏林，里斯本"},       {60, "(GMT+01:00)", "柏林，巴黎，罗马"},
    {120, "(GMT+02:00)", "开罗，雅典，赫尔辛基"}, {180, "(GMT+03:00)", "莫斯科，利雅得"},
    {210, "(GMT+03:30)", "德黑兰"},            {240, "(GMT+04:00)", "阿布扎比，巴库"},
    {270, "(GMT+04:30)", "喀布尔"},            {300, "(GMT+05:00)", "伊斯兰堡，卡拉奇"},
    {330, "(GMT+05:30)", "新德里，孟买"},      {345, "(GMT+05:45)", "加德满都"},
    {360, "(GMT+06:00)", "达卡，阿斯塔纳"},    {390, "(GMT+06:30)", "仰光"},
    {420, "(GMT+07:00)", "曼谷，河内，雅加达"}, {480, "(GMT+08:00)", "北京，重庆，香港，乌鲁木齐"},
    {540, "(GMT+09:00)", "东京，首尔"},        {570, "(GMT+09:30)", "阿德莱德，达尔文"},
    {600, "(GMT+10:00)", "悉尼，关岛"},        {660, "(GMT+11:00)", "所罗门群岛"},
    {720, "(GMT+12:00)", "奥克兰，惠灵顿"},    {780, "(GMT+13:00)", "努库阿洛法"},
};

std::vector<TimeZoneEntry> Table(bool cities) {
  std::vector<TimeZoneEntry> t;
  for (const Zone& z : kZones) t.push_back({720 + z.offset, cities ? std::string(z.label) + z.cities : z.label});
  return t;
}

bool ReadRule(const std::string& text, DstRule& rule) {
  int m = 0, w = 0, d = 0, h = 0;
  if (std::sscanf(text.c_str(), "M%d.%d.%d/%d", &m, &w, &d, &h) == 4 ||
      std::sscanf(text.c_str(), "M%d.%d.%d", &m, &w, &d) == 3) {
    // Stored as bytes, as the record keeps them.
    rule = {static_cast<unsigned char>(m), static_cast<unsigned char>(w), static_cast<unsigned char>(d),
            static_cast<unsigned char>(h)};
    return true;
  }
  return false;
}

}  // namespace

const std::vector<TimeZoneEntry>& TimeZonesFull() {
  static const std::vector<TimeZoneEntry> t = Table(false);
  return t;
}
const std::vector<TimeZoneEntry>& TimeZonesCitiesFull() {
  static const std::vector<TimeZoneEntry> t = Table(true);
  return t;
}
const std::vector<TimeZoneEntry>& TimeZonesFor(const std::string& languageCode) {
  return languageCode == "zh-cn" ? TimeZonesCitiesFull() : TimeZonesFull();
}
int TimeZoneIndex(const std::vector<TimeZoneEntry>& table, int minutes) {
  for (std::size_t i = 0; i < table.size(); ++i)
    if (table[i].minutes == minutes) return static_cast<int>(i);
  return -1;
}

std::vector<TimeZoneRule> ParseTimeZoneRules(const std::string& xmlText) {
  std::vector<TimeZoneRule> out;
  TiXmlDocument doc;
  // Byte-wise reading: TinyXML's UTF-8 path reads past the end of malformed
  // multi-byte names. The texts are kept as the file's bytes.
  kelvara::ParseXmlGuarded(doc, xmlText, TIXML_ENCODING_LEGACY);
  const TiXmlElement* root = doc.RootElement();
  if (doc.Error() || !root) return out;
  for (const TiXmlElement* item = root->FirstChildElement("item"); item; item = item->NextSiblingElement("item")) {
    TimeZoneRule r;
    const TiXmlNode* first = item->FirstChild();
    if (first && first->ToText()) r.name = TruncateUtf8(first->Value(), 63);
    if (const char* v = item->Attribute("value")) r.rule = TruncateUtf8(v, 63);
    if (r.name.empty() && r.rule.empty()) continue;
    const std::size_t paren = r.name.find('(');
    if (paren != std::string::npos) {
      const std::string head = r.name.substr(0, paren);
      char sign = 0;
      int h = 0, m = 0;
      const int n = std::sscanf(head.c_str(), "GMT%c%02d:%02d", &sign, &h, &m);
      if (n >= 2 && (sign == '+' || sign == '-') && h >= 0 && h <= 14 && m >= 0 && m < 60) {
        if (n == 2) m = 0;
        if (sign == '-') h = -h, m = -m;
        r.minutes = h * 60 + m + 720;
      }
    }
    const std::size_t s = r.rule.find(",M");
    if (s != std::string::npos) {
      const std::size_t e = r.rule.find(",M", s + 2);
      if (e != std::string::npos) {
        const std::string startText = r.rule.substr(s + 1, e - s - 1);
        const std::string endText = r.rule.substr(e + 1);
        r.hasRules = ReadRule(startText, r.start) && ReadRule(endText, r.end);
      }
    }
    out.push_back(std::move(r));
  }
  return out;
}

std::vector<TimeZoneRule> LoadTimeZoneRules(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return {};
  std::stringstream s;
  s << in.rdbuf();
  return ParseTimeZoneRules(s.str());
}

const TimeZoneRule* RuleForZone(const std::vector<TimeZoneRule>& rules, int minutes) {
  if (minutes < 0) return nullptr;
  for (const TimeZoneRule& r : rules)
    if (r.minutes == minutes) return r.hasRules ? &r : nullptr;
  return nullptr;
}

int TimeSourceIndex(const std::string& mode) {
  if (mode == "MANUAL") return 1;
  if (mode == "P2P") return 2;
  return 0;
}

namespace {
std::string Trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}
}  // namespace

TimeDialogResult BuildTimeConfig(const TimeSettings& saved, const TimeDialogInput& in,
                                 const std::vector<TimeZoneEntry>& zones) {
  TimeDialogResult r;
  r.settings = saved;
  const bool ntp = in.source == 0;
  const auto port = ParseIntFieldIn(in.port, 1, 65535);
  const auto interval = ParseIntFieldIn(in.interval, 60, 999999);
  const std::string server = Trim(in.server);
  const bool serverOk = server.size() <= TimeSettings::kMaxNtpServer &&
                        ((IsValidIpAddress(server) && server != "255.255.255.0" && server != "255.255.0.0" &&
                          server != "255.0.0.0") ||
                         IsValidDomainName(server));
  if (ntp) {
    if (!port) return r.errorKey = "IDS_STR_ZH_CN_MSG_TIPS126", r;
    if (!interval) return r.errorKey = "IDS_STR_ZH_CN_MSG_TIPS127", r;
    if (!serverOk) return r.errorKey = "IDS_STR_ZH_CN_MSG_TIPS128", r;
  }
  // Outside NTP mode the NTP fields are hidden: what reads well is taken,
  // the rest keeps its saved value.
  if (port) r.settings.ntp_port = static_cast<std::uint16_t>(*port);
  if (interval) r.settings.ntp_refresh_interval = *interval;
  if (serverOk) r.settings.ntp_server = server;
  r.settings.time_mode = in.source == 0 ? "NTP" : in.source == 2 ? "P2P" : "MANUAL";
  r.settings.time_zone = in.zoneIndex >= 0 && in.zoneIndex < static_cast<int>(zones.size())
                             ? zones[static_cast<std::size_t>(in.zoneIndex)].minutes
                             : 0;

  TiXmlElement root("TimeConfig");
  root.SetAttribute("TimeMode", r.settings.time_mode.c_str());
  root.SetAttribute("TimeZone", r.settings.time_zone);
  TiXmlElement ntpE("NTPConfig");
  ntpE.SetAttribute("ServerIP", r.settings.ntp_server.c_str());
  ntpE.SetAttribute("ServerPort", r.settings.ntp_port);
  ntpE.SetAttribute("RefreshInterval", r.settings.ntp_refresh_interval);
  root.InsertEndChild(ntpE);
  TiXmlElement summer("SummerTime");
  summer.SetAttribute("enable", in.dstEnable ? 1 : 0);
  summer.SetAttribute("auto", in.dstAuto ? 1 : 0);
  summer.SetAttribute("offset", in.dstOffset);
  for (const auto& [name, rule] : {std::pair<const char*, DstRule>{"start", in.start}, {"end", in.end}}) {
    TiXmlElement e(name);
    e.SetAttribute("month", rule.month);
    e.SetAttribute("week", rule.week);
    e.SetAttribute("weekday", rule.weekday);
    e.SetAttribute("hour", rule.hour);
    summer.InsertEndChild(e);
  }
  root.InsertEndChild(summer);
  r.xml = PrintXml(root);
  return r;
}

}  // namespace kelvara::dialogs
