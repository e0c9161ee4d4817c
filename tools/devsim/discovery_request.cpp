#include "discovery_request.h"

#include <tinyxml.h>

#include <cstdlib>

namespace kelvara::devsim {

std::optional<DiscoveryRequest> ParseDiscoveryRequest(const std::string& text) {
  TiXmlDocument doc;
  // Legacy (byte-wise) reading: TinyXML's UTF-8 path reads past the end of
  // malformed multi-byte names; the texts are 8-bit anyway.
  doc.Parse(text.c_str(), nullptr, TIXML_ENCODING_LEGACY);
  const TiXmlElement* root = doc.RootElement();
  if (doc.Error() || root == nullptr) return std::nullopt;
  const TiXmlElement* header = root->FirstChildElement("MESSAGE_HEADER");
  if (header == nullptr || header->Attribute("Msg_code") == nullptr) return std::nullopt;
  DiscoveryRequest r;
  r.code = std::atoi(header->Attribute("Msg_code"));
  if (const char* flag = header->Attribute("Msg_flag")) r.flag = std::atoi(flag);
  const TiXmlElement* body = root->FirstChildElement("MESSAGE_BODY");
  if (body == nullptr) return r;
  if (const TiXmlElement* sn = body->FirstChildElement("IPC_SERIALNUMBER")) {
    if (const char* v = sn->Attribute("SerialNumber")) r.key = v;
  }
  if (const TiXmlElement* auth = body->FirstChildElement("OPERATOR_AUTH")) {
    if (const char* v = auth->Attribute("Username")) r.user = v;
    if (const char* v = auth->Attribute("Password")) r.password = v;
  }
  if (const TiXmlElement* retain = body->FirstChildElement("retain")) {
    const char* v = retain->Attribute("value");
    r.retain_network = v != nullptr && std::string(v) == "network";
  }
  if (const TiXmlElement* lan = body->FirstChildElement("LANConfig")) {
    std::map<std::string, std::string> values;
    for (const TiXmlAttribute* a = lan->FirstAttribute(); a != nullptr; a = a->Next()) {
      values[a->Name()] = a->Value();
    }
    r.lan = std::move(values);
  }
  if (const TiXmlElement* fh = body->FirstChildElement("FH_CONFIG")) {
    TiXmlPrinter printer;
    fh->Accept(&printer);
    r.intercom = printer.CStr();
  }
  return r;
}

}  // namespace kelvara::devsim
