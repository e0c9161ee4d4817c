#include "common/device_reply_xml.h"

#include "common/debug_log.h"
#include "common/xml_guard.h"

namespace kelvara {

bool ParseDeviceReplyXml(TiXmlDocument& doc, std::string_view text, const char* what) {
  const XmlParseOutcome parsed = ParseXmlGuarded(doc, text, TIXML_ENCODING_LEGACY);
  if (parsed.refused)
    DebugLogPrintf("%s of %zu bytes dropped: %s (%llu XML texts refused)\n", what, text.size(), parsed.error.c_str(),
                   static_cast<unsigned long long>(XmlRefusedCount()));
  return static_cast<bool>(parsed);
}

}  // namespace kelvara
