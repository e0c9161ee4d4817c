#include "device/core/request_builders.h"

#include <tinyxml.h>

#include <cctype>
#include <chrono>
#include <climits>
#include <cstdio>

#include "discovery/core/xml_escape.h"

namespace kelvara::device {
namespace {

// A formatted request must leave room for its terminating zero.
std::optional<std::string> Fits(std::string text, std::size_t bufferBytes) {
  if (text.size() >= bufferBytes) return std::nullopt;
  return text;
}

std::string Attr(const char* name, std::string_view value) {
  std::string out = " ";
  out += name;
  out += "=\"";
  out += value;
  out += '"';
  return out;
}

std::string Attr(const char* name, long long value) { return Attr(name, std::to_string(value)); }

// One element as TinyXML prints it with a tab as indent: a single empty-element
// tag and a line feed.
std::string PrintSingleElement(const TiXmlElement& element) {
  TiXmlDocument doc;
  doc.InsertEndChild(element);
  TiXmlPrinter printer;
  printer.SetIndent("\t");
  doc.Accept(&printer);
  return printer.CStr();
}

// atoi: leading blanks, a sign, digits up to the first other character; 0
// without digits. Values beyond int saturate instead of overflowing.
long long AtoiLike(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > INT_MAX) value = static_cast<long long>(INT_MAX) + 1;
  }
  value = negative ? -value : value;
  if (value > INT_MAX) value = INT_MAX;
  if (value < INT_MIN) value = INT_MIN;
  return value;
}

}  // namespace

std::optional<std::string> BuildOverlayRequest(const OverlayConfig& o, std::string_view titleHex) {
  const std::string childIndent(29, ' ');
  std::string text = "<Overlay\tEnable=\"" + std::to_string(o.enable) + "\"" + Attr("Transparency", o.transparency) +
                     Attr("Style", o.style) + Attr("Fontsize", o.font_size) + Attr("Week", o.week) + ">";
  text += childIndent + "<TimeOverlay" + Attr("PosX", o.time_pos_x) + Attr("PosY", o.time_pos_y) +
          "\tFormat=\"" + XmlEscape(o.time_format) + "\"/>";
  text += childIndent + "<TitleOverlay" + Attr("PosX", o.title_pos_x) + Attr("PosY", o.title_pos_y) +
          "\tTitleUtf8=\"" + XmlEscape(titleHex) + "\"/>";
  text += " </Overlay>";
  return Fits(std::move(text), kOverlayBufferBytes);
}

std::string BuildAdminPasswordRequest(std::string_view password) {
  return "<UserConfig><Account Username=\"admin\" Password=\"" + XmlEscape(password) +
         "\" Group=\"Administrator\" Status=\"Enable\" /></UserConfig>";
}

std::optional<std::string> BuildLanguageRequest(std::string_view languageCode) {
  return Fits("<MiscConfig Language=\"" + XmlEscape(languageCode) + "\" />", kLanguageBufferBytes);
}

std::optional<std::string> BuildWebLanguageRequest(int webDefaultLanguage, int kcWeb, std::string_view languageCode) {
  std::string text = "<REQUEST_PARAM web_defalut_language=\"" + std::to_string(webDefaultLanguage) +
                     "\" is_KC_web=\"" + std::to_string(kcWeb) + "\" Language=\"" + std::string(languageCode) +
                     "\" />";
  return Fits(std::move(text), kLanguageBufferBytes);
}

std::string_view DeviceLanguageFor(std::string_view code) {
  if (code == "zh-cn" || code == "zh-tw") return code;
  return "en-us";
}

std::string IncrementUserName(std::string_view userName, int incrementOn, int increment) {
  if (incrementOn == 0) return std::string(userName);
  const std::size_t comma = userName.find(',');
  const std::string_view number = comma == std::string_view::npos ? userName : userName.substr(0, comma);
  const long long sum = AtoiLike(number) + increment;
  std::string out = std::to_string(sum);
  if (comma != std::string_view::npos) out += userName.substr(comma);
  return out;
}

std::string BuildPlatformRequest(int enable, std::string_view server, int port, std::string_view userName,
                                 std::string_view password, int playTone) {
  return "<PlatformConfig>\t <SolvenConfig" + Attr("Enable", enable) + Attr("Server", XmlEscape(server)) +
         Attr("Port", port) + Attr("Username", XmlEscape(userName)) + Attr("Password", XmlEscape(password)) +
         Attr("PlayTone", playTone) + "/> </PlatformConfig>\r\n";
}

std::optional<std::string> BuildMotionDetectRequest(int enable, int blockCount, std::string_view blockConfig,
                                                    int sensitivity, int alarmThreshold) {
  // Layout between items: a blank and three to seven tabs by depth.
  auto gap = [](int tabs) { return " " + std::string(static_cast<std::size_t>(tabs), '\t'); };
  std::string t = "<MotionDetectAlarm" + Attr("Enable", enable) + Attr("BlockCount", blockCount) +
                  Attr("BlockConfig", XmlEscape(blockConfig)) + Attr("Sensitivity", sensitivity) +
                  Attr("AlarmThreshold", alarmThreshold) +
                  " DayNightSwitch=\"0\" NightSensitivity=\"60\" NightAlarmThreshold=\"30\""
                  " NightStartTime=\" 0: 0: 0\" NightEndTime=\"24: 0: 0\">";
  t += gap(3) + "<EnableTimeList>";
  t += gap(4) + "<Workday Day=\"7\">";
  t += gap(5) + "<TimeSpan StartTime=\" 0: 0: 0\" EndTime=\"24: 0: 0\" />";
  t += gap(4) + "</Workday>";
  t += gap(3) + "</EnableTimeList>";
  t += gap(3) + "<AlarmAction>";
  t += gap(4) +
       "<AlarmOutputAction Enable=\"1\" PortIndex=\"1\" ChannelType=\"1\" TriggerType=\"HIGH\" Duration=\"10\" />";
  t += gap(4) + "<PTZAction Enable=\"0\" ActionType=\"PositionWalk\">";
  t += gap(5) + "<PositionWalk Interval=\"2\" WalkCount=\"1\">";
  for (int i = 1; i <= 3; ++i) t += gap(6) + "<PTZPosition PositionIndex=\"" + std::to_string(i) + "\" />";
  t += gap(5) + "</PositionWalk>";
  t += gap(4) + "</PTZAction>";
  t += gap(3) + "</AlarmAction>";
  t += gap(3) + "</MotionDetectAlarm>";
  return Fits(std::move(t), kMotionDetectBufferBytes);
}

std::string BuildP2PRequest(int enable) {
  TiXmlElement e("P2PConfig");
  e.SetAttribute("Enable", enable != 0 ? 1 : 0);
  e.SetAttribute("Type", 0);
  return PrintSingleElement(e);
}

std::string BuildTimeSyncRequest(std::uint64_t fileTime) {
  // 100-ns steps from 1601-01-01 to 1970-01-01; unsigned arithmetic.
  const std::uint64_t micros = (fileTime - 116444736000000000ULL) / 10;
  const unsigned long long sec = micros / 1000000;
  const long long usec = static_cast<long long>(micros % 1000000);
  char buf[128];
  std::snprintf(buf, sizeof buf, "<REQUEST_PARAM tv_sec=\"%llu\" tv_usec=\"%lld\"/>\n", sec, usec);
  return buf;
}

std::uint64_t FileTimeNow() {
  const auto since1970 = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  return static_cast<std::uint64_t>(since1970.count() / 100) + 116444736000000000ULL;
}

std::string BuildManualSpeedRequest() {
  TiXmlElement e("REQUEST_PARAM");
  e.SetAttribute("manualspeed", "5");
  return PrintSingleElement(e);
}

std::string BuildPrivacyMaskRequest() { return PrintSingleElement(TiXmlElement("REQUEST_PARAM")); }

}  // namespace kelvara::device
