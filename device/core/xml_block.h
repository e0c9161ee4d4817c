#pragma once
// A configuration block as the device sent it, edited in place: set-after-get
// changes only the attributes it names and prints the device's own tree back,
// so every other attribute, element and value (also those Kelvara does not
// know) goes back as it came.
#include <tinyxml.h>

#include <optional>
#include <string>

namespace kelvara::device {

class XmlBlock {
 public:
  // False when the text is no XML document with a root element.
  bool Parse(const std::string& text);
  // The root when it has this name, else its first descendant of that name
  // (depth first); nullptr when there is none.
  TiXmlElement* Find(const char* name);
  // The whole document, compact.
  std::string Print() const;
  // One element with everything inside it, compact.
  static std::string PrintElement(const TiXmlElement& element);

 private:
  TiXmlDocument doc_;
};

// An attribute read as a whole decimal integer; nullopt when missing or not one.
std::optional<long long> IntAttribute(const TiXmlElement& element, const char* name);
void SetIntAttribute(TiXmlElement& element, const char* name, long long value);

}  // namespace kelvara::device
