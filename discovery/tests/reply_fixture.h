#pragma once
// A device's search reply as devices send it, with the parts a test varies.
#include <string>

namespace kelvara::discovery::test {

struct FakeDevice {
  std::string root = "XML_MARLOWCAM";
  std::string serial = "ZQ0001ABC";
  std::string deviceType = "NVS-IPC-5M_V2";
  std::string ip = "10.77.1.10";
  std::string mac = "00:11:22:33:44:55";
  std::string version = "V5.2.1";
  std::string p2pId = "";
  std::string uuid = "uuid-0001";
  std::string titleHex = "e5898de997a8";  // UTF-8 of a two-character title
  int uptime_s = 90061;
  int ptzPort = 8091;
  bool withUser = true;
  std::string user = "admin";
  std::string password = "secret";
  bool withLan = true;
  std::string extraSerialAttrs;
};

inline std::string ReplyText(const FakeDevice& d) {
  std::string t = "<?xml version=\"1.0\" encoding=\"GB2312\" ?>\n<" + d.root + ">\n";
  t += "<MESSAGE_HEADER Msg_type=\"SYSTEM_SEARCHIPC_MESSAGE\" Msg_code=\"3\" Msg_flag=\"0\" />\n";
  t += "<MESSAGE_BODY>\n";
  t += "<IPC_SERIALNUMBER SerialNumber=\"" + d.serial + "\" VERSION=\"" + d.version +
       "\" P2PID=\"" + d.p2pId + "\" UUID=\"" + d.uuid + "\" runtime=\"" +
       std::to_string(d.uptime_s) + "\" OEM_SN=\"OEM-1\" PLATFORMID=\"PF1\" AF_VERSION=\"af1.0\" "
       "MODULE4G_VERSION=\"m4g\" " + d.extraSerialAttrs + " />\n";
  t += "<DEVICE_TYPE DeviceType=\"" + d.deviceType + "\" OSD=\"" + d.titleHex + "\" />\n";
  if (d.withLan)
    t += "<LANConfig MacAddress=\"" + d.mac + "\" DHCP=\"0\" ALLNET=\"1\" IPAddress=\"" + d.ip +
         "\" Netmask=\"255.255.0.0\" Gateway=\"10.77.0.1\" DNS1=\"8.8.8.8\" DNS2=\"\" />\n";
  t += "<MediaStreamConfig><StreamAccess Auth=\"1\" RTPOverRTSP=\"0\" VideoPort=\"554\" PTZPort=\"" +
       std::to_string(d.ptzPort) + "\" WEBPort=\"80\" enable_web=\"1\" /></MediaStreamConfig>\n";
  if (d.withUser)
    t += "<UserConfig><Account Username=\"" + d.user + "\" Password=\"" + d.password +
         "\" Group=\"admin\" Status=\"1\" /></UserConfig>\n";
  t += "</MESSAGE_BODY>\n</" + d.root + ">";
  return t;
}

}  // namespace kelvara::discovery::test
