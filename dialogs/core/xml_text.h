#pragma once
// Device texts of the dialogs: a TinyXML tree printed with one tab as indent,
// a line feed after each element and no declaration.
#include <tinyxml.h>

#include <string>

namespace kelvara::dialogs {

std::string PrintXml(const TiXmlNode& node);

}  // namespace kelvara::dialogs
