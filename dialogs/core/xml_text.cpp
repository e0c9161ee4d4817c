#include "dialogs/core/xml_text.h"

namespace kelvara::dialogs {

std::string PrintXml(const TiXmlNode& node) {
  TiXmlPrinter printer;
  printer.SetIndent("\t");
  node.Accept(&printer);
  return printer.Str();
}

}  // namespace kelvara::dialogs
