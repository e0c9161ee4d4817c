#include "discovery/core/body_builders.h"

#include "discovery/core/discovery_protocol.h"
#include "discovery/core/xml_escape.h"

namespace kelvara::discovery {
namespace {

constexpr const char* kCrLf = "\r\n";

std::optional<std::string> Checked(std::string body) {
  if (body.size() > kMaxBodySize) return std::nullopt;
  return body;
}

std::string Attr(const char* name, std::string_view value) {
  return std::string(name) + "=\"" + XmlEscape(value) + "\"";
}

std::string AuthLine(const std::optional<OperatorAuth>& auth) {
  if (!auth) return {};
  return "<OPERATOR_AUTH " + Attr("Username", auth->userName) + " " +
         Attr("Password", auth->password) + " />" + kCrLf;
}

}  // namespace

std::optional<std::string> BuildSerialAuthXml(std::string_view serialNumber, int keepNetwork,
                                              const std::optional<OperatorAuth>& auth) {
  std::string body = "<IPC_SERIALNUMBER " + Attr("SerialNumber", serialNumber) + " />" + kCrLf;
  if (keepNetwork > 0) body += std::string("<retain value=\"network\" />") + kCrLf;
  body += AuthLine(auth);
  return Checked(std::move(body));
}

std::optional<std::string> BuildLanConfigXml(std::string_view serialNumber,
                                             const LANConfigInfo& lan,
                                             const std::optional<OperatorAuth>& auth) {
  std::string body = std::string("<IPC_SERIALNUMBER") + kCrLf + Attr("SerialNumber", serialNumber) +
                     kCrLf + "/>" + kCrLf;
  body += AuthLine(auth);
  body += std::string("<LANConfig") + kCrLf;
  body += Attr("MacAddress", lan.macAddress) + kCrLf;
  body += "DHCP=\"" + std::to_string(lan.dhcp) + "\"" + kCrLf;
  body += Attr("IPAddress", lan.ipAddress) + kCrLf;
  body += Attr("Netmask", lan.netmask) + kCrLf;
  body += Attr("Gateway", lan.gateway) + kCrLf;
  body += Attr("DNS1", lan.dns1) + kCrLf;
  body += Attr("DNS2", lan.dns2) + kCrLf;
  body += std::string("/>") + kCrLf;
  return Checked(std::move(body));
}

std::optional<std::string> BuildIntercomXml(std::string_view serialNumber,
                                            const IntercomConfig& ic) {
  std::string body = "<IPC_SERIALNUMBER " + Attr("SerialNumber", serialNumber) + " />" + kCrLf;
  body += "<FH_CONFIG>\n<SYSTEM " + Attr("DEVICETYPE", ic.deviceType) + " " +
          Attr("EXTNUMBER", ic.extNumber) + " " + Attr("MAINNUMBER", ic.mainNumber) + " " +
          Attr("EXTNAME", ic.extName) + " " + Attr("ADDRESSBOXIP", ic.addressBoxIp) + " " +
          Attr("NOTES", ic.notes) + " " + Attr("MANAGECENTER", ic.manageCenter) +
          " />\n</FH_CONFIG>";
  return Checked(std::move(body));
}

std::optional<std::string> BuildMediaStreamConfigXml(const StreamAccessInfo& s) {
  auto num = [](const char* name, long long v) {
    return std::string(name) + "=\"" + std::to_string(v) + "\" ";
  };
  auto text = [](const char* name, std::string_view v) { return Attr(name, v) + " "; };
  std::string body = std::string("<MediaStreamConfig>") + kCrLf + "<StreamAccess ";
  body += num("Auth", s.auth) + num("VideoPort", s.videoPort) + num("RTPOverRTSP", s.rtpOverRtsp) +
          num("enable_rtsp", s.enableRtsp) + kCrLf;
  body += num("enable_onvif", s.enableOnvif) + num("enable_web", s.enableWeb) +
          num("OnvifAuth", s.onvifAuth) + num("WEBPort", s.webPort) + num("httpsPort", s.httpsPort) +
          num("h5Port", s.h5Port) + text("httpsCertificate", s.httpsCertificate) + kCrLf;
  body += num("enable_comm", s.enableComm) + num("PTZPort", s.ptzPort) + kCrLf;
  body += num("enable_hik", s.enableHik) + num("hik_port", s.hikPort) + num("hik_auth", s.hikAuth) + kCrLf;
  body += num("enable_dh", s.enableDh) + num("dh_port", s.dhPort) + num("dh_auth", s.dhAuth) + kCrLf;
  body += num("enable_krn", s.enableKrn) + kCrLf;
  body += num("enable_rtmp", s.enableRtmp) + num("rtmp_port", s.rtmpPort) + num("streamno", s.streamNo) +
          num("rtmp_type", s.rtmpType) + text("rtmp_server", s.rtmpServer) +
          text("rtmp_appname", s.rtmpAppName) + text("rtmp_streamid", s.rtmpStreamId) + kCrLf;
  body += num("Multicast0_enable", s.multicast0Enable) + num("Multicast0_port", s.multicast0Port) +
          num("Multicast0_IP", s.multicast0Ip) + num("Multicast1_enable", s.multicast1Enable) +
          num("Multicast1_port", s.multicast1Port) + num("Multicast1_IP", s.multicast1Ip);
  body += std::string("/>") + kCrLf + "</MediaStreamConfig>" + kCrLf;
  return Checked(std::move(body));
}

}  // namespace kelvara::discovery
