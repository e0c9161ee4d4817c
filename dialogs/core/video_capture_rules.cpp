#include "dialogs/core/video_capture_rules.h"

#include <tinyxml.h>

#include <cctype>

#include "dialogs/core/xml_text.h"

namespace kelvara::dialogs {
namespace {

RuleEffect EnableWhen(bool on, std::initializer_list<int> when, std::initializer_list<int> never) {
  RuleEffect e;
  for (int id : when) e.enable.push_back({id, on});
  for (int id : never) e.enable.push_back({id, false});
  return e;
}

void Append(RuleEffect& to, const RuleEffect& more) {
  to.enable.insert(to.enable.end(), more.enable.begin(), more.enable.end());
  to.show.insert(to.show.end(), more.show.begin(), more.show.end());
}

std::string Trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

}  // namespace

RuleEffect IrcutModeRule(int mode, int lastSavedMode) {
  RuleEffect e;
  const bool buttons = mode == 3 && lastSavedMode == 3;
  e.show = {{1183, buttons}, {1185, buttons}};
  if (mode == 0) e.enable = {{589, true}, {1562, false}, {1563, false}};
  else if (mode == 1) e.enable = {{589, false}, {1562, true}, {1563, true}};
  else if (mode >= 2 && mode <= 4) e.enable = {{589, false}, {1562, false}, {1563, false}};
  return e;
}

RuleEffect WdrModeRule(int index) { return EnableWhen(index != 0, {866}, {1442, 1565, 1566}); }
RuleEffect DefogRule(int index) { return EnableWhen(index != 0, {867}, {1444}); }
RuleEffect WhiteBalanceRule(int index) { return EnableWhen(index > 0, {2007, 2018, 2009}, {1991, 2019, 1992}); }
RuleEffect DayShutterRule(int index) { return EnableWhen(index > 0, {1438}, {}); }
RuleEffect NightShutterRule(int index) { return EnableWhen(index > 0, {1445}, {}); }
RuleEffect LedBrightnessModeRule(int data) { return EnableWhen(data > 0, {1186}, {}); }

RuleEffect AllCaptureRules(const VideoCaptureForm& f, int lastSavedIrcutMode) {
  RuleEffect e = DefogRule(f.defog);
  Append(e, WdrModeRule(f.wdrMode));
  Append(e, IrcutModeRule(f.ircutMode.value_or(2), lastSavedIrcutMode));
  Append(e, DayShutterRule(f.shutterMode));
  Append(e, NightShutterRule(f.shutterModeNight));
  Append(e, WhiteBalanceRule(f.wbManual));
  Append(e, LedBrightnessModeRule(f.ledBrightnessMode));
  return e;
}

const std::vector<SliderPair>& CaptureSliders() {
  static const std::vector<SliderPair> pairs = {
      {859, 1203, 0, 255}, {860, 597, 0, 255},   {861, 605, 0, 255},   {863, 609, 0, 255},  {864, 614, 0, 255},
      {865, 1194, 0, 255}, {868, 615, 0, 255},   {869, 616, 0, 255},   {2007, 1991, 0, 255}, {2018, 2019, 0, 255},
      {2009, 1992, 0, 255}, {866, 1442, 0, 255}, {867, 1444, 0, 255},  {870, 617, 0, 100},  {871, 618, 0, 100},
  };
  return pairs;
}

const std::vector<LeaveCheck>& CaptureLeaveChecks() {
  static const std::vector<LeaveCheck> checks = {
      {1203, 0, 255, 859, "IDS_STR_ZH_CN_MSG_TIPS47"}, {597, 0, 255, 860, "IDS_STR_ZH_CN_MSG_TIPS53"},
      {605, 0, 255, 861, "IDS_STR_ZH_CN_MSG_TIPS54"},  {609, 0, 255, 863, "IDS_STR_ZH_CN_MSG_TIPS50"},
      {614, 0, 255, 864, "IDS_STR_ZH_CN_MSG_TIPS55"},  {1194, 0, 255, 865, "IDS_STR_HLC_VALUE_INVALID"},
      {589, 0, 100, 0, "IDS_STR_ZH_CN_MSG_TIPS56"},
  };
  return checks;
}

std::optional<LeaveResult> LeaveCaptureField(int editId, const std::string& typed) {
  const LeaveCheck* check = nullptr;
  for (const auto& c : CaptureLeaveChecks())
    if (c.edit == editId) check = &c;
  if (check == nullptr) return std::nullopt;
  LeaveResult r;
  r.text = Trim(typed);
  // A number is an optional minus and 1 to 64 digits; anything else keeps its
  // text for the user to mend (Save refuses it as well).
  const bool negative = !r.text.empty() && r.text[0] == '-';
  const std::string digits = negative ? r.text.substr(1) : r.text;
  bool number = !digits.empty() && digits.size() <= 64;
  for (char ch : digits) number = number && std::isdigit(static_cast<unsigned char>(ch));
  if (!number) {
    r.messageKey = check->key;
    return r;
  }
  // Compare without overflow: strip leading zeros and compare lengths first.
  const std::string significant = digits.substr(std::min(digits.find_first_not_of('0'), digits.size()));
  const bool zero = significant.empty();
  int value = 0;
  if (negative && !zero) {
    value = check->min;
    r.messageKey = check->key;
  } else if (significant.size() > 9 || std::stol(zero ? "0" : significant) > check->max) {
    value = check->max;
    r.messageKey = check->key;
  } else {
    value = zero ? 0 : static_cast<int>(std::stol(significant));
    if (value < check->min) {
      value = check->min;
      r.messageKey = check->key;
    }
  }
  if (!r.messageKey.empty() || negative) r.text = std::to_string(value);
  if (check->slider != 0) r.slider = value;
  return r;
}

std::string DayNightRequest(bool night) {
  TiXmlDocument doc;
  auto* e = new TiXmlElement("REQUEST_PARAM");
  e->SetAttribute("Mode", night ? "NightMode" : "DayMode");
  doc.LinkEndChild(e);
  return PrintXml(doc);
}

}  // namespace kelvara::dialogs
