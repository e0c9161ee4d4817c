#pragma once
// A device's reply text (8-bit, read byte by byte so every byte goes back as
// it came) parsed through the XML guard. A reply the guard refuses is
// dropped with a debug-log line that counts the refusals so far.
#include <tinyxml.h>

#include <string_view>

namespace kelvara {

// True when `doc` holds the parsed reply; `what` names it in the log line.
bool ParseDeviceReplyXml(TiXmlDocument& doc, std::string_view text, const char* what);

}  // namespace kelvara
