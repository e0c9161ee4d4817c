#include "dialog_rules.h"

#include <cstring>

namespace kelvara::devsim {
namespace {

// An attribute that is present must be a whole number within min..max.
bool InRange(const TiXmlElement* e, const char* name, long long min, long long max) {
  if (e == nullptr) return true;
  const char* v = e->Attribute(name);
  if (v == nullptr) return true;
  char* end = nullptr;
  const long long n = std::strtoll(v, &end, 10);
  return end != v && *end == '\0' && n >= min && n <= max;
}

const TiXmlElement* Find(const TiXmlElement& root, const char* name) {
  if (std::strcmp(root.Value(), name) == 0) return &root;
  return root.FirstChildElement(name);
}

bool TimeText(const TiXmlElement* e, const char* name) {
  if (e == nullptr || e->Attribute(name) == nullptr) return true;
  int h = 0, m = 0, s = 0;
  char tail = 0;
  return std::sscanf(e->Attribute(name), "%d:%d:%d%c", &h, &m, &s, &tail) == 3 && h >= 0 && h < 24 && m >= 0 &&
         m < 60 && s >= 0 && s < 60;
}

}  // namespace

bool SetValuesInRange(uint32_t code, const TiXmlElement& root) {
  switch (code) {
    case 527: {
      const TiXmlElement* c = Find(root, "Capture");
      return InRange(c, "Volume", 0, 100) && InRange(c, "VolumePlay", 0, 100) && InRange(c, "amplify", 0, 1) &&
             InRange(c, "ra_answer", 0, 1);
    }
    case 528:
      return InRange(Find(root, "Encode"), "Enable", 0, 1);
    case 670:
      return InRange(Find(root, "SolvenConfig"), "Port", 1, 65535);
    case 222: {
      const TiXmlElement* t = Find(root, "TimeConfig");
      const TiXmlElement* ntp = t ? t->FirstChildElement("NTPConfig") : nullptr;
      return InRange(t, "TimeZone", 0, 1500) && InRange(ntp, "ServerPort", 1, 65535) &&
             InRange(ntp, "RefreshInterval", 60, 999999);
    }
    case 228: {
      const TiXmlElement* m = Find(root, "MaintainConfig");
      return InRange(m, "Enable", 0, 1) && InRange(m, "Day", 0, 7) && TimeText(m, "Time");
    }
    case 230: {
      const TiXmlElement* hour = root.FirstChildElement("AlarmOnEveryHour");
      bool ok = InRange(hour, "from_hour", 0, 23) && InRange(hour, "to_hour", 0, 23) &&
                InRange(hour, "from_minute", 0, 59) && InRange(hour, "to_minute", 0, 59);
      const TiXmlElement* clocks = root.FirstChildElement("alarmclock");
      for (const TiXmlElement* c = clocks ? clocks->FirstChildElement("clock") : nullptr; c;
           c = c->NextSiblingElement("clock"))
        ok = ok && InRange(c, "hour", 0, 23) && InRange(c, "minute", 0, 59) && InRange(c, "second", 0, 59);
      return ok;
    }
    case 822: {
      const TiXmlElement* m = Find(root, "MotionDetectAlarm");
      return InRange(m, "Sensitivity", 0, 100) && InRange(m, "AlarmThreshold", 0, 100);
    }
    default:
      return true;
  }
}

bool ControlValuesInRange(uint32_t code, const std::string& request) {
  if (code != 1081) return true;
  TiXmlDocument doc;
  doc.Parse(request.c_str(), nullptr, TIXML_ENCODING_LEGACY);
  const TiXmlElement* r = doc.RootElement();
  if (doc.Error() || r == nullptr) return false;
  if (!InRange(r, "mctf", -1, 11) || !InRange(r, "gain", -1, 72)) return false;
  return InRange(r, "shuttermax", -1, -1) || InRange(r, "shuttermax", 1, 8000);
}

std::optional<std::string> AccountPassword(const TiXmlElement& root, const std::string& user) {
  for (const TiXmlElement* a = Find(root, "Account"); a; a = a->NextSiblingElement("Account")) {
    const char* name = a->Attribute("Username");
    const char* password = a->Attribute("Password");
    if (name && password && user == name) return std::string(password);
  }
  return std::nullopt;
}

std::optional<std::string> FocusReportFor(const std::string& request) {
  TiXmlDocument doc;
  doc.Parse(request.c_str(), nullptr, TIXML_ENCODING_LEGACY);
  const TiXmlElement* r = doc.RootElement();
  if (doc.Error() || r == nullptr || r->Attribute("CMD") == nullptr || std::strcmp(r->Attribute("CMD"), "START") != 0)
    return std::nullopt;
  std::string report = "{mfocus:";
  for (const TiXmlElement* rect = r->FirstChildElement("RECT"); rect; rect = rect->NextSiblingElement("RECT")) {
    long long value = 0;
    if (const char* v = rect->Attribute("value")) value = std::strtoll(v, nullptr, 10);
    report += std::to_string(value * 95 / 100) + ",0;";
  }
  return report + "}";
}

bool IsFocusStop(const std::string& request) {
  TiXmlDocument doc;
  doc.Parse(request.c_str(), nullptr, TIXML_ENCODING_LEGACY);
  const TiXmlElement* r = doc.RootElement();
  return !doc.Error() && r != nullptr && r->Attribute("CMD") != nullptr && std::strcmp(r->Attribute("CMD"), "STOP") == 0;
}

}  // namespace kelvara::devsim
