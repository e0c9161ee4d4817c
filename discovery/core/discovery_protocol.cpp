#include "discovery/core/discovery_protocol.h"

#include <tinyxml.h>

#include <cctype>
#include <climits>
#include <cstdio>

#include "common/log_text.h"
#include "discovery/core/discovery_log.h"
#include "discovery/core/xml_parse.h"

namespace kelvara::discovery {
namespace {

constexpr const char* kRootName = "XML_MARLOWCAM";
constexpr std::size_t kMaxHeaderValue = 255;
constexpr std::size_t kMaxRootsText = 127;
constexpr std::size_t kMaxRoots = 10;

std::string HeaderLine(int msgCode, int msgFlag) {
  char line[192];
  std::snprintf(line, sizeof line,
                "<MESSAGE_HEADER Msg_type=\"SYSTEM_SEARCHIPC_MESSAGE\" Msg_code=\"%d\" "
                "Msg_flag=\"%d\" SOURCE=\"ZQTOOLS\" />",
                msgCode, msgFlag);
  return line;
}

}  // namespace

std::string BuildDiscoveryMessage(int msgCode, std::optional<std::string_view> body,
                                  int msgFlag) {
  std::string text;
  text.reserve(256 + (body ? body->size() : 0));
  text += "<?xml version=\"1.0\" encoding=\"GB2312\" ?>\n";
  text += "<";
  text += kRootName;
  text += ">\n";
  text += HeaderLine(msgCode, msgFlag);
  text += "\n";
  if (body) {
    // Devices read this stray line as character data inside the root; it is
    // part of every command they have ever received, so it stays.
    text += "/>\n<MESSAGE_BODY>\n";
    text += *body;
    text += "\n</MESSAGE_BODY>\n";
  } else {
    text += "<MESSAGE_BODY>\n</MESSAGE_BODY>\n";
  }
  text += "</";
  text += kRootName;
  text += ">";
  return text;
}

std::vector<std::string> AcceptedRoots(std::string_view setting) {
  if (setting.empty()) return {"XML_SOLVEN", "XML_MARLOWCAM"};
  setting = setting.substr(0, kMaxRootsText);
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start <= setting.size() && names.size() < kMaxRoots) {
    std::size_t comma = setting.find(',', start);
    if (comma == std::string_view::npos) comma = setting.size();
    if (comma > start) names.emplace_back(setting.substr(start, comma - start));
    start = comma + 1;
  }
  return names;
}

int AtoI(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  return static_cast<int>(value);
}

int ParseReplyHeader(std::string_view acceptedRootsSetting, std::string_view text,
                     ReplyHeader& header, std::string* refusal, TiXmlDocument* document) {
  header = ReplyHeader{};
  // The datagram is a zero-terminated text: anything behind a zero byte is not part of it.
  if (const auto zero = text.find('\0'); zero != std::string_view::npos) text = text.substr(0, zero);

  const std::string owned(text);
  std::string chosen;
  for (const auto& name : AcceptedRoots(acceptedRootsSetting)) {
    if (owned.find("<" + name + ">") != std::string::npos &&
        owned.find("</" + name + ">") != std::string::npos) {
      chosen = name;
      break;
    }
  }
  if (chosen.empty()) {
    Log("Invalid message, XML root not found:\n%s\n", EscapeForLog(owned).c_str());
    return kHeaderNoRoot;
  }

  TiXmlDocument local;
  TiXmlDocument& doc = document ? *document : local;
  if (const XmlParseOutcome parsed = ParseUntrustedXml(doc, owned); parsed.refused) {
    if (refusal) *refusal = parsed.error;
    return kHeaderRefused;
  }
  const TiXmlElement* root = nullptr;
  for (const TiXmlNode* node = doc.FirstChild(); node; node = node->NextSibling()) {
    const TiXmlElement* e = node->ToElement();
    if (e && chosen == e->Value()) {
      root = e;
      break;
    }
  }
  if (!root) return kHeaderNoRoot;

  if (const TiXmlElement* h = root->FirstChildElement("MESSAGE_HEADER")) {
    auto take = [&](const char* name, std::string& out) {
      if (const char* v = h->Attribute(name)) out = std::string(v).substr(0, kMaxHeaderValue);
    };
    take("Msg_type", header.msgType);
    take("Msg_code", header.msgCode);
    take("Msg_flag", header.msgFlag);
  }
  if (header.msgType.empty()) return kHeaderNoType;
  if (header.msgCode.empty()) return kHeaderNoCode;
  if (header.msgFlag.empty()) return kHeaderNoFlag;
  return kHeaderOk;
}

}  // namespace kelvara::discovery
