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

bool HexBytes(const char* hex, std::string& out) {
  const std::size_t n = std::strlen(hex);
  if (n % 2 != 0) return false;
  out.clear();
  auto nibble = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (std::size_t i = 0; i < n; i += 2) {
    const int hi = nibble(hex[i]), lo = nibble(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
  }
  return true;
}

std::string LowerHex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

// Copies the set's attributes onto `into`; the title is stored decoded and
// given back as lowercase hex. False when the title is no hex.
bool MergeAttributes(const TiXmlElement& from, TiXmlElement& into) {
  for (const TiXmlAttribute* a = from.FirstAttribute(); a != nullptr; a = a->Next()) {
    std::string value = a->Value();
    if (std::strcmp(a->Name(), "TitleUtf8") == 0) {
      std::string bytes;
      if (!HexBytes(a->Value(), bytes)) return false;
      value = LowerHex(bytes);
    }
    into.SetAttribute(a->Name(), value.c_str());
  }
  return true;
}

}  // namespace

std::optional<std::string> MergeOverlaySet(const std::string& stored, const TiXmlElement& set) {
  if (std::strcmp(set.Value(), "Overlay") != 0) return std::nullopt;
  TiXmlDocument doc;
  doc.Parse(stored.c_str(), nullptr, TIXML_ENCODING_LEGACY);
  if (doc.Error() || doc.RootElement() == nullptr) {
    doc.Clear();
    doc.InsertEndChild(TiXmlElement("Overlay"));
  }
  TiXmlElement* root = doc.RootElement();
  if (!MergeAttributes(set, *root)) return std::nullopt;
  for (const TiXmlElement* part = set.FirstChildElement(); part != nullptr; part = part->NextSiblingElement()) {
    TiXmlElement* into = root->FirstChildElement(part->Value());
    if (into == nullptr) into = root->InsertEndChild(TiXmlElement(part->Value()))->ToElement();
    if (!MergeAttributes(*part, *into)) return std::nullopt;
  }
  TiXmlPrinter printer;
  printer.SetStreamPrinting();
  doc.Accept(&printer);
  return std::string(printer.CStr());
}

std::optional<std::string> OverlayTitle(const std::string& block) {
  TiXmlDocument doc;
  doc.Parse(block.c_str(), nullptr, TIXML_ENCODING_LEGACY);
  const TiXmlElement* root = doc.Error() ? nullptr : doc.RootElement();
  const TiXmlElement* title = root ? root->FirstChildElement("TitleOverlay") : nullptr;
  const char* hex = title ? title->Attribute("TitleUtf8") : nullptr;
  std::string bytes;
  if (hex == nullptr || !HexBytes(hex, bytes)) return std::nullopt;
  return bytes;
}

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
