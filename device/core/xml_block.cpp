#include "device/core/xml_block.h"
#include "common/device_reply_xml.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kelvara::device {
namespace {

TiXmlElement* FindIn(TiXmlElement* element, const char* name) {
  for (TiXmlElement* child = element->FirstChildElement(); child; child = child->NextSiblingElement()) {
    if (std::strcmp(child->Value(), name) == 0) return child;
    if (TiXmlElement* deeper = FindIn(child, name)) return deeper;
  }
  return nullptr;
}

}  // namespace

bool XmlBlock::Parse(const std::string& text) {
  doc_.Clear();
  // Byte-wise reading: device texts may be GBK; every byte goes back as it came.
  return kelvara::ParseDeviceReplyXml(doc_, text, "Device reply") && doc_.RootElement() != nullptr;
}

TiXmlElement* XmlBlock::Find(const char* name) {
  TiXmlElement* root = doc_.RootElement();
  if (!root) return nullptr;
  if (std::strcmp(root->Value(), name) == 0) return root;
  return FindIn(root, name);
}

std::string XmlBlock::Print() const {
  TiXmlPrinter printer;
  printer.SetStreamPrinting();
  doc_.Accept(&printer);
  return printer.CStr();
}

std::string XmlBlock::PrintElement(const TiXmlElement& element) {
  TiXmlPrinter printer;
  printer.SetStreamPrinting();
  element.Accept(&printer);
  return printer.CStr();
}

std::optional<long long> IntAttribute(const TiXmlElement& element, const char* name) {
  const char* text = element.Attribute(name);
  if (!text) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text, &end, 10);
  while (end && (*end == ' ' || *end == '\t')) ++end;
  if (end == text || !end || *end != '\0' || errno != 0) return std::nullopt;
  return v;
}

void SetIntAttribute(TiXmlElement& element, const char* name, long long value) {
  element.SetAttribute(name, std::to_string(value).c_str());
}

}  // namespace kelvara::device
