#pragma once
// Parsers of the XML that devices send: the search reply's elements, the full
// stream-access text and the RESPONSE_PARAM replies of SDK commands. All are
// bounds-checked and take untrusted text; none throws.
#include <string>
#include <string_view>

#include "discovery/core/device_records.h"

class TiXmlDocument;
class TiXmlElement;

namespace kelvara::discovery {

// What IPC_SERIALNUMBER and DEVICE_TYPE of a search reply say, cut to the
// record's field widths.
struct SerialNumberReply {
  std::string serialNumber, oemSerial, platformId, version, afVersion, module4gVersion;
  std::string p2pId, uuid, deviceType, titleHex;
  int p2pType = 0;     // kept when the reply has no P2PTYPE
  int uptime_s = 0;
  int p2pStatus = -1;  // kept when the reply has no P2PSTATUS
  // True when IPC_SERIALNUMBER's SerialNumber did not fit its field.
  bool serialCut = false;
};

// Fills `out` from the text (its p2pType and p2pStatus stay as given when the
// reply lacks them). 0, or -1 when the root has no MESSAGE_BODY element.
int ParseSerialNumberReply(std::string_view text, SerialNumberReply& out);

// Cloud type from the P2P id, used when the reply's P2PTYPE is 0.
int DeriveP2pType(std::string_view p2pId);

// The domain of the outside IoT cloud whose ids mean type 5.
inline constexpr std::string_view kIotCloudDomain = "iotcloud.qlink";

// 0 when the element was found and read, -1 otherwise.
int ParseLanConfigReply(std::string_view text, LANConfigInfo& out);
int ParseStreamAccessReply(std::string_view text, StreamAccessInfo& out);
int ParseUserConfigReply(std::string_view text, UserConfigInfo& out);

// The same from a reply already parsed (ParseUntrustedXml), so that one
// parse serves every element of a search reply.
int ReadSerialNumberReply(const TiXmlDocument& doc, SerialNumberReply& out);
int ReadLanConfigReply(const TiXmlDocument& doc, LANConfigInfo& out);
int ReadStreamAccessReply(const TiXmlDocument& doc, StreamAccessInfo& out);
int ReadUserConfigReply(const TiXmlDocument& doc, UserConfigInfo& out);

// The full stream-access text (reply to the stream-configuration get): sets
// the defaults, then reads every attribute. 0 when StreamAccess was read.
int ParseMediaStreamConfigText(std::string_view text, StreamAccessInfo& out);

// The attribute's value, or nullptr.
const char* GetXmlAttr(const TiXmlElement* element, const char* name);

// RESPONSE_PARAM getters: 0 with the value (at most 127 characters); -1 for no
// root element or a missing attribute; -2 for a root of another name.
int GetFileSystemVersion(std::string_view text, std::string& out);
int GetMcuVersion(std::string_view text, std::string& out);
int GetModule4gVersion(std::string_view text, std::string& out);
int GetResponseSerialNumber(std::string_view text, std::string& out);

}  // namespace kelvara::discovery
