#include "config_pages.h"

#include <tinyxml.h>

#include <cstring>
#include <functional>
#include <map>

#include "common/xml_guard.h"

namespace remote_config {
namespace {

// Device blocks are 8-bit texts; the byte-wise reading keeps them as they
// are. The guard refuses texts too deep or wide for TinyXML first.
kelvara::XmlParseOutcome ParseBlock(const std::string& block, TiXmlDocument& doc) {
  kelvara::XmlParseOutcome parsed = kelvara::ParseXmlGuarded(doc, block, TIXML_ENCODING_LEGACY);
  if (parsed && doc.RootElement() == nullptr) parsed.error = "no root element";
  return parsed;
}

// Visits every element in document order with its label prefix, until `f`
// returns false. The depth is bounded by the XML guard.
bool ForEachElement(TiXmlElement* e, const std::string& parent,
                    const std::function<bool(TiXmlElement&, const std::string&)>& f) {
  std::map<std::string, int> seen;
  for (TiXmlElement* c = e; c != nullptr; c = c->NextSiblingElement()) {
    const int n = ++seen[c->Value()];
    std::string name = parent.empty() ? c->Value() : parent + "/" + c->Value();
    if (n > 1) name += "[" + std::to_string(n) + "]";
    if (!f(*c, name)) return false;
    if (TiXmlElement* child = c->FirstChildElement(); child && !ForEachElement(child, name, f)) return false;
  }
  return true;
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

BlockRead ReadBlock(const std::string& block) {
  BlockRead read;
  TiXmlDocument doc;
  if (const kelvara::XmlParseOutcome parsed = ParseBlock(block, doc); !parsed) {
    read.refused = parsed.refused;
    read.error = parsed.error;
    return read;
  }
  std::vector<Field> fields;
  ForEachElement(doc.RootElement(), "", [&](TiXmlElement& e, const std::string& name) {
    // Paths are checked before anything is built from them, so that long
    // names deep down cannot cost copies without end.
    if (name.size() > kMaxLabelBytes) {
      read.error = "a field's name is longer than " + std::to_string(kMaxLabelBytes) + " bytes";
      return false;
    }
    for (const TiXmlAttribute* a = e.FirstAttribute(); a != nullptr; a = a->Next()) {
      if (fields.size() == kMaxPageFields) {
        read.error = "the block has more than " + std::to_string(kMaxPageFields) + " fields";
        return false;
      }
      if (name.size() + 1 + std::strlen(a->Name()) > kMaxLabelBytes) {
        read.error = "a field's name is longer than " + std::to_string(kMaxLabelBytes) + " bytes";
        return false;
      }
      fields.push_back({name + "." + a->Name(), a->Value()});
    }
    return true;
  });
  if (!read.error.empty()) {
    read.refused = true;
    return read;
  }
  read.fields = std::move(fields);
  return read;
}

void FitInWindow(BlockRead& read, std::size_t shown) {
  if (!read.fields || shown + read.fields->size() <= kMaxWindowFields) return;
  read.fields.reset();
  read.refused = read.pastWindow = true;
  read.error = "the window's pages would have more than " + std::to_string(kMaxWindowFields) + " fields";
}

std::optional<std::vector<Field>> BlockFields(const std::string& block) { return ReadBlock(block).fields; }

std::optional<std::string> ApplyFields(const std::string& block, const std::vector<Field>& fields) {
  TiXmlDocument doc;
  if (!ParseBlock(block, doc)) return std::nullopt;
  std::size_t i = 0;
  bool matches = true;
  ForEachElement(doc.RootElement(), "", [&](TiXmlElement& e, const std::string& name) {
    if (name.size() > kMaxLabelBytes) {
      matches = false;
      return false;
    }
    for (TiXmlAttribute* a = e.FirstAttribute(); a != nullptr; a = a->Next(), ++i) {
      if (i >= fields.size() || fields[i].label != name + "." + a->Name()) {
        matches = false;
        return false;
      }
      a->SetValue(fields[i].value.c_str());
    }
    return true;
  });
  if (!matches || i != fields.size()) return std::nullopt;
  TiXmlPrinter printer;
  printer.SetStreamPrinting();
  doc.Accept(&printer);
  return std::string(printer.CStr());
}

}  // namespace remote_config
