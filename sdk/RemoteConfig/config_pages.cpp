#include "config_pages.h"

#include <tinyxml.h>

#include <functional>
#include <map>

namespace remote_config {
namespace {

bool ParseBlock(const std::string& block, TiXmlDocument& doc) {
  // Device blocks are 8-bit texts; the byte-wise reading keeps them as they are.
  doc.Parse(block.c_str(), nullptr, TIXML_ENCODING_LEGACY);
  return !doc.Error() && doc.RootElement() != nullptr;
}

// Visits every element in document order with its label prefix.
void ForEachElement(TiXmlElement* e, const std::string& parent, const std::function<void(TiXmlElement&, const std::string&)>& f) {
  std::map<std::string, int> seen;
  for (TiXmlElement* c = e; c != nullptr; c = c->NextSiblingElement()) {
    const int n = ++seen[c->Value()];
    std::string name = parent.empty() ? c->Value() : parent + "/" + c->Value();
    if (n > 1) name += "[" + std::to_string(n) + "]";
    f(*c, name);
    if (TiXmlElement* child = c->FirstChildElement()) ForEachElement(child, name, f);
  }
}

}  // namespace

const std::vector<PageSpec>& Pages() {
  static const std::vector<PageSpec> pages = {
      {"Network", 305, 325},        {"Stream access", 600, 620}, {"Video capture", 504, 524},
      {"Video encode", 503, 523},   {"On-screen display", 505, 525}, {"Audio capture", 507, 527},
      {"Audio encode", 508, 528},   {"Time", 202, 222},           {"Language", 207, 227},
      {"Maintenance", 208, 228},    {"Alarm clock", 210, 230},    {"P2P", 315, 335},
      {"Platform", 650, 670},
  };
  return pages;
}

std::optional<std::vector<Field>> BlockFields(const std::string& block) {
  TiXmlDocument doc;
  if (!ParseBlock(block, doc)) return std::nullopt;
  std::vector<Field> fields;
  ForEachElement(doc.RootElement(), "", [&](TiXmlElement& e, const std::string& name) {
    for (const TiXmlAttribute* a = e.FirstAttribute(); a != nullptr; a = a->Next())
      fields.push_back({name + "." + a->Name(), a->Value()});
  });
  return fields;
}

std::optional<std::string> ApplyFields(const std::string& block, const std::vector<Field>& fields) {
  TiXmlDocument doc;
  if (!ParseBlock(block, doc)) return std::nullopt;
  std::size_t i = 0;
  bool matches = true;
  ForEachElement(doc.RootElement(), "", [&](TiXmlElement& e, const std::string& name) {
    for (TiXmlAttribute* a = e.FirstAttribute(); a != nullptr; a = a->Next(), ++i) {
      if (i >= fields.size() || fields[i].label != name + "." + a->Name()) {
        matches = false;
        return;
      }
      a->SetValue(fields[i].value.c_str());
    }
  });
  if (!matches || i != fields.size()) return std::nullopt;
  TiXmlPrinter printer;
  printer.SetStreamPrinting();
  doc.Accept(&printer);
  return std::string(printer.CStr());
}

}  // namespace remote_config
