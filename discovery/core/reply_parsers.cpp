#include "discovery/core/reply_parsers.h"

#include <tinyxml.h>

#include <cstdlib>
#include <type_traits>

#include "discovery/core/discovery_protocol.h"
#include "discovery/core/xml_parse.h"

namespace kelvara::discovery {
namespace {

bool Contains(std::string_view haystack, std::string_view needle) {
  return haystack.find(needle) != std::string_view::npos;
}

void SetIfPresent(const TiXmlElement* e, const char* name, std::size_t width, std::string& out,
                  bool* cut = nullptr) {
  if (const char* v = e->Attribute(name)) {
    std::string value(v);
    if (cut) *cut = value.size() > width - 1;
    out = CutToField(std::move(value), width);
  }
}

template <typename Fn>
void ForEachBodyChild(const TiXmlDocument& doc, const char* name, bool firstBodyOnly, Fn&& fn) {
  const TiXmlElement* root = doc.RootElement();
  if (!root) return;
  for (const TiXmlElement* body = root->FirstChildElement(); body; body = body->NextSiblingElement()) {
    if (std::string_view(body->Value()) != "MESSAGE_BODY") continue;
    for (const TiXmlElement* e = body->FirstChildElement(); e; e = e->NextSiblingElement()) {
      if (std::string_view(e->Value()) == name && !fn(e)) return;
    }
    if (firstBodyOnly) return;
  }
}

int ReadResponseParam(std::string_view text, const char* attribute, std::string& out) {
  TiXmlDocument doc;
  ParseUntrustedXml(doc, text);
  const TiXmlElement* root = doc.RootElement();
  if (!root) return -1;
  if (std::string_view(root->Value()) != "RESPONSE_PARAM") return -2;
  const char* v = root->Attribute(attribute);
  if (!v) return -1;
  out = CutToField(v, 128);
  return 0;
}

}  // namespace

const char* GetXmlAttr(const TiXmlElement* element, const char* name) {
  return element ? element->Attribute(name) : nullptr;
}

int DeriveP2pType(std::string_view id) {
  static constexpr std::string_view kCloudProducts[] = {
      "a1Rk7TqWmZe", "a1Nv3PxHdLu", "a1Gc8YsBoFi", "a1Wm2KjQtVa", "a1Lp5DzXeRn",
      "a1Hx9CuMwTo", "a1Qs4VbNgKe", "a1Zt6FrJyPu", "a1Dy7MhWcSa"};
  if (id.empty()) return 0;
  if (Contains(id, kIotCloudDomain)) return 5;
  if (Contains(id, "zqws") && id.size() == 20) return 9;
  if (Contains(id, "@")) {
    for (auto product : kCloudProducts)
      if (Contains(id, product)) return 8;
    return 10;
  }
  if (id.size() == 32) return 1;
  return 0;
}

int ParseSerialNumberReply(std::string_view text, SerialNumberReply& out) {
  TiXmlDocument doc;
  ParseUntrustedXml(doc, text);
  return ReadSerialNumberReply(doc, out);
}

int ReadSerialNumberReply(const TiXmlDocument& doc, SerialNumberReply& out) {
  const int keepType = out.p2pType, keepStatus = out.p2pStatus;
  out = SerialNumberReply{};
  out.p2pType = keepType;
  out.p2pStatus = keepStatus;

  const TiXmlElement* root = doc.RootElement();
  const TiXmlElement* body = root ? root->FirstChildElement("MESSAGE_BODY") : nullptr;
  if (!body) return -1;

  if (const TiXmlElement* sn = body->FirstChildElement("IPC_SERIALNUMBER")) {
    SetIfPresent(sn, "SerialNumber", kSerialWidth, out.serialNumber, &out.serialCut);
    SetIfPresent(sn, "OEM_SN", kOemSerialWidth, out.oemSerial);
    SetIfPresent(sn, "PLATFORMID", kPlatformIdWidth, out.platformId);
    SetIfPresent(sn, "VERSION", kVersionWidth, out.version);
    SetIfPresent(sn, "AF_VERSION", kVersionWidth, out.afVersion);
    SetIfPresent(sn, "MODULE4G_VERSION", kVersionWidth, out.module4gVersion);
    if (const char* v = sn->Attribute("P2PTYPE")) out.p2pType = AtoI(v);
    SetIfPresent(sn, "P2PID", kP2pIdWidth, out.p2pId);
    SetIfPresent(sn, "UUID", kUuidWidth, out.uuid);
    if (const char* v = sn->Attribute("runtime")) out.uptime_s = AtoI(v);
    if (const char* v = sn->Attribute("P2PSTATUS")) out.p2pStatus = AtoI(v);
  }
  for (const TiXmlElement* e = body->FirstChildElement("DEVICE_TYPE"); e;
       e = e->NextSiblingElement("DEVICE_TYPE")) {
    SetIfPresent(e, "DeviceType", kDeviceTypeWidth, out.deviceType);
    SetIfPresent(e, "OSD", kTitleWidth, out.titleHex);
  }
  if (out.p2pType == 0) out.p2pType = DeriveP2pType(out.p2pId);
  return 0;
}

int ParseLanConfigReply(std::string_view text, LANConfigInfo& out) {
  TiXmlDocument doc;
  ParseUntrustedXml(doc, text);
  return ReadLanConfigReply(doc, out);
}

int ReadLanConfigReply(const TiXmlDocument& doc, LANConfigInfo& out) {
  int result = -1;
  ForEachBodyChild(doc, "LANConfig", true, [&](const TiXmlElement* e) {
    for (const TiXmlAttribute* a = e->FirstAttribute(); a; a = a->Next()) {
      const std::string_view name = a->Name();
      const char* v = a->Value();
      if (name == "MacAddress") out.macAddress = CutToField(v, kMacWidth);
      else if (name == "DHCP") out.dhcp = static_cast<std::uint8_t>(AtoI(v));
      else if (name == "ALLNET") out.allnet = static_cast<std::int16_t>(AtoI(v));
      else if (name == "IPAddress") out.ipAddress = CutToField(v, kAddressWidth);
      else if (name == "Netmask") out.netmask = CutToField(v, kAddressWidth);
      else if (name == "Gateway") out.gateway = CutToField(v, kAddressWidth);
      else if (name == "DNS1") out.dns1 = CutToField(v, kAddressWidth);
      else if (name == "DNS2") out.dns2 = CutToField(v, kAddressWidth);
    }
    result = 0;
    return false;
  });
  return result;
}

int ParseStreamAccessReply(std::string_view text, StreamAccessInfo& out) {
  TiXmlDocument doc;
  ParseUntrustedXml(doc, text);
  return ReadStreamAccessReply(doc, out);
}

int ReadStreamAccessReply(const TiXmlDocument& doc, StreamAccessInfo& out) {
  int result = -1;
  ForEachBodyChild(doc, "MediaStreamConfig", false, [&](const TiXmlElement* msc) {
    const TiXmlElement* e = msc->FirstChildElement("StreamAccess");
    if (!e) return true;
    auto num = [&](const char* name) { const char* v = e->Attribute(name); return v ? AtoI(v) : 0; };
    out.auth = static_cast<std::int16_t>(num("Auth"));
    out.videoPort = num("VideoPort");
    out.rtpOverRtsp = num("RTPOverRTSP");
    out.ptzPort = num("PTZPort");
    out.webPort = num("WEBPort");
    result = 0;
    return false;
  });
  return result;
}

int ParseUserConfigReply(std::string_view text, UserConfigInfo& out) {
  TiXmlDocument doc;
  ParseUntrustedXml(doc, text);
  return ReadUserConfigReply(doc, out);
}

int ReadUserConfigReply(const TiXmlDocument& doc, UserConfigInfo& out) {
  int result = -1;
  ForEachBodyChild(doc, "UserConfig", false, [&](const TiXmlElement* uc) {
    for (const TiXmlElement* a = uc->FirstChildElement("Account"); a;
         a = a->NextSiblingElement("Account")) {
      UserAccount& acc = out.accounts[0];
      auto get = [&](const char* name, std::size_t width) {
        const char* v = a->Attribute(name);
        return v ? CutToField(v, width) : std::string();
      };
      acc.userName = get("Username", kUserNameWidth);
      acc.password = get("Password", kPasswordWidth);
      acc.group = get("Group", kGroupWidth);
      acc.status = get("Status", kStatusWidth);
      if (!acc.userName.empty() || !acc.password.empty()) {
        out.accountCount = 1;
        result = 0;
        return false;
      }
    }
    return true;
  });
  return result;
}

int ParseMediaStreamConfigText(std::string_view text, StreamAccessInfo& out) {
  out = StreamAccessInfo{};
  text = UpToZero(text);
  if (!Contains(text, "<MediaStreamConfig>") || !Contains(text, "</MediaStreamConfig>")) return -1;
  TiXmlDocument doc;
  ParseUntrustedXml(doc, text);
  const TiXmlElement* root = doc.RootElement();
  if (!root || std::string_view(root->Value()) != "MediaStreamConfig") return -1;
  const TiXmlElement* e = root->FirstChildElement("StreamAccess");
  if (!e) return -1;

  // An integer whose text is not a number keeps its default.
  auto i32 = [&](const char* name, std::int32_t& field) { e->QueryIntAttribute(name, &field); };
  auto low16 = [&](const char* name, auto& field) {
    int v = 0;
    if (e->QueryIntAttribute(name, &v) == TIXML_SUCCESS)
      field = static_cast<std::remove_reference_t<decltype(field)>>(v & 0xFFFF);
  };
  auto u32 = [&](const char* name, std::uint32_t& field) {
    if (const char* v = e->Attribute(name)) {
      char* end = nullptr;
      const unsigned long long n = std::strtoull(v, &end, 10);
      if (end != v) field = static_cast<std::uint32_t>(n);
    }
  };
  auto str = [&](const char* name, std::size_t width, std::string& field) {
    if (const char* v = e->Attribute(name)) field = CutToField(v, width);
  };
  i32("enable_rtsp", out.enableRtsp);
  int auth = 0;
  if (e->QueryIntAttribute("Auth", &auth) == TIXML_SUCCESS) out.auth = static_cast<std::int16_t>(auth);
  i32("RTPOverRTSP", out.rtpOverRtsp);
  i32("VideoPort", out.videoPort);
  i32("enable_comm", out.enableComm);
  i32("PTZPort", out.ptzPort);
  i32("enable_onvif", out.enableOnvif);
  i32("enable_web", out.enableWeb);
  i32("OnvifAuth", out.onvifAuth);
  i32("WEBPort", out.webPort);
  i32("httpsPort", out.httpsPort);
  i32("h5Port", out.h5Port);
  str("httpsCertificate", 256, out.httpsCertificate);
  i32("enable_hik", out.enableHik);
  low16("hik_port", out.hikPort);
  low16("hik_auth", out.hikAuth);
  i32("enable_dh", out.enableDh);
  low16("dh_port", out.dhPort);
  low16("dh_auth", out.dhAuth);
  i32("enable_krn", out.enableKrn);
  i32("enable_rtmp", out.enableRtmp);
  str("rtmp_server", 64, out.rtmpServer);
  low16("rtmp_port", out.rtmpPort);
  low16("streamno", out.streamNo);
  str("rtmp_appname", 64, out.rtmpAppName);
  str("rtmp_streamid", 256, out.rtmpStreamId);
  i32("rtmp_type", out.rtmpType);
  low16("Multicast0_enable", out.multicast0Enable);
  low16("Multicast0_port", out.multicast0Port);
  u32("Multicast0_IP", out.multicast0Ip);
  low16("Multicast1_enable", out.multicast1Enable);
  low16("Multicast1_port", out.multicast1Port);
  u32("Multicast1_IP", out.multicast1Ip);
  return 0;
}

int GetFileSystemVersion(std::string_view text, std::string& out) {
  return ReadResponseParam(text, "FileSystemVersion", out);
}
int GetMcuVersion(std::string_view text, std::string& out) {
  return ReadResponseParam(text, "McuVersion", out);
}
int GetModule4gVersion(std::string_view text, std::string& out) {
  return ReadResponseParam(text, "Module4gVersion", out);
}
int GetResponseSerialNumber(std::string_view text, std::string& out) {
  return ReadResponseParam(text, "SerialNumber", out);
}

}  // namespace kelvara::discovery
