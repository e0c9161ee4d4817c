// The guard's pre-scan against TinyXML itself: whatever the text, the scan
// counts at least what TinyXML builds, exactly as much when TinyXML parses it
// without error, and it refuses a text for depth exactly when TinyXML would
// nest deeper. The first byte picks the encoding.
#include <tinyxml.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/tests/xml_shape_oracle.h"
#include "common/xml_guard.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 64 * 1024) return 0;
  static constexpr TiXmlEncoding kEncodings[] = {TIXML_ENCODING_UNKNOWN, TIXML_ENCODING_UTF8, TIXML_ENCODING_LEGACY};
  const TiXmlEncoding encoding = kEncodings[data[0] % 3];
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  if (const auto zero = text.find('\0'); zero != std::string::npos) text.resize(zero);

  kelvara::XmlShape shape;
  kelvara::XmlLimits open;
  open.max_depth = open.max_elements = open.max_nodes = open.max_attributes = open.max_attributes_per_element =
      1u << 30;
  if (kelvara::CheckXmlShape(text, encoding, open, &shape)) std::abort();  // nothing to refuse

  TiXmlDocument doc;
  const std::string padded = text + std::string(16, '\0');
  doc.Parse(padded.c_str(), nullptr, encoding);
  const auto built = kelvara::testing::MeasureTree(doc);
  if (built.depth > shape.depth || built.elements > shape.elements || built.attributes > shape.attributes)
    std::abort();
  if (!doc.Error() && (built.depth != shape.depth || built.elements != shape.elements ||
                       built.attributes != shape.attributes || built.most_attributes != shape.most_attributes))
    std::abort();

  kelvara::XmlLimits shallow = open;
  shallow.max_depth = 4;
  const auto refusal = kelvara::CheckXmlShape(text, encoding, shallow);
  if (refusal.has_value() != (shape.depth > 4)) std::abort();
  return 0;
}
