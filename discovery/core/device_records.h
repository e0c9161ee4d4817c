#pragma once
// The records one LAN search reply fills: a device's identity, its LAN
// settings, its stream and service ports and its first account.
//
// Texts are the 8-bit bytes the device sent (GBK or UTF-8, converted only when
// shown). Every text taken from XML is cut to its field width less one, the
// widths the device protocol and the exported files were designed around; the
// k*Width constants name them.
#include <array>
#include <cstdint>
#include <string>

namespace kelvara {

inline constexpr std::size_t kSerialWidth = 32;
inline constexpr std::size_t kPlatformIdWidth = 32;
inline constexpr std::size_t kP2pIdWidth = 128;
inline constexpr std::size_t kDeviceTypeWidth = 128;
inline constexpr std::size_t kAdapterAddressWidth = 64;
inline constexpr std::size_t kTitleWidth = 256;
inline constexpr std::size_t kVersionWidth = 128;
inline constexpr std::size_t kUuidWidth = 32;
inline constexpr std::size_t kOemSerialWidth = 32;
inline constexpr std::size_t kReplyTextWidth = 5120;
inline constexpr std::size_t kMacWidth = 18;
inline constexpr std::size_t kAddressWidth = 64;
inline constexpr std::size_t kUserNameWidth = 40;
inline constexpr std::size_t kPasswordWidth = 40;
inline constexpr std::size_t kGroupWidth = 32;
inline constexpr std::size_t kStatusWidth = 8;
inline constexpr std::size_t kIntercomTextWidth = 32;

// Element LANConfig.
struct LANConfigInfo {
  std::string macAddress;   // MacAddress
  std::uint8_t dhcp = 0;    // DHCP, 1 = DHCP
  std::int16_t allnet = 0;  // ALLNET
  std::string ipAddress;    // IPAddress, dotted
  std::string netmask;      // Netmask
  std::string gateway;      // Gateway
  std::string dns1;         // DNS1
  std::string dns2;         // DNS2
  bool operator==(const LANConfigInfo&) const = default;
};

struct UserAccount {
  std::string userName;  // Username
  std::string password;  // Password
  std::string group;     // Group
  std::string status;    // Status
  bool operator==(const UserAccount&) const = default;
};

// Element UserConfig: up to ten accounts; a search reply fills the first.
struct UserConfigInfo {
  std::int32_t accountCount = 0;
  std::array<UserAccount, 10> accounts;
  bool operator==(const UserConfigInfo&) const = default;
};

// Element FH_CONFIG/SYSTEM of the intercom extension. No search reply fills it.
struct IntercomConfig {
  std::string deviceType;     // DEVICETYPE
  std::string extNumber;      // EXTNUMBER
  std::string mainNumber;     // MAINNUMBER
  std::string extName;        // EXTNAME
  std::string addressBoxIp;   // ADDRESSBOXIP
  std::string notes;          // NOTES
  std::string manageCenter;   // MANAGECENTER
  bool operator==(const IntercomConfig&) const = default;
};

// Element MediaStreamConfig/StreamAccess: service switches and ports. The SDK
// login port is ptzPort, the live-stream port videoPort, the web page webPort.
// The member initialisers are the defaults ParseMediaStreamConfigText starts
// from; a search reply starts from StreamAccessInfo::Zero() instead.
struct StreamAccessInfo {
  std::int32_t enableRtsp = 1;      // enable_rtsp
  std::int32_t auth = 1;            // Auth (16-bit value)
  std::int32_t rtpOverRtsp = 1;     // RTPOverRTSP
  std::int32_t videoPort = 554;     // VideoPort
  std::int32_t enableComm = 1;      // enable_comm
  std::int32_t ptzPort = 8091;      // PTZPort
  std::int32_t enableOnvif = 1;     // enable_onvif
  std::int32_t enableWeb = 1;       // enable_web
  std::int32_t onvifAuth = 0;       // OnvifAuth
  std::int32_t webPort = 80;        // WEBPort
  std::int32_t httpsPort = 443;     // httpsPort
  std::int32_t h5Port = 12351;      // h5Port
  std::string httpsCertificate;     // httpsCertificate, char[256]
  std::int32_t enableHik = 1;       // enable_hik
  std::uint16_t hikPort = 8000;     // hik_port
  std::int16_t hikAuth = 0;         // hik_auth
  std::int32_t enableDh = 1;        // enable_dh
  std::uint16_t dhPort = 37777;     // dh_port
  std::int16_t dhAuth = 0;          // dh_auth
  std::int32_t enableKrn = 0;       // enable_krn
  std::int32_t enableRtmp = 0;      // enable_rtmp
  std::string rtmpServer;           // rtmp_server, char[64]
  std::uint16_t rtmpPort = 1935;    // rtmp_port
  std::int16_t streamNo = 0;        // streamno
  std::string rtmpAppName;          // rtmp_appname, char[64]
  std::string rtmpStreamId;         // rtmp_streamid, char[256]
  std::int32_t rtmpType = 0;        // rtmp_type
  std::int16_t multicast0Enable = 0;   // Multicast0_enable
  std::uint16_t multicast0Port = 0;    // Multicast0_port
  std::uint32_t multicast0Ip = 0;      // Multicast0_IP (unsigned decimal)
  std::int16_t multicast1Enable = 0;   // Multicast1_enable
  std::uint16_t multicast1Port = 0;    // Multicast1_port
  std::uint32_t multicast1Ip = 0;      // Multicast1_IP

  // Every field 0 or empty: what a search reply starts from.
  static StreamAccessInfo Zero();
  bool operator==(const StreamAccessInfo&) const = default;
};

// One device as its last search reply describes it. Copied by value into the
// device map and into each list row.
struct DeviceSearchInfo {
  std::string serialNumber;     // IPC_SERIALNUMBER/SerialNumber: the map key
  std::string platformId;       // PLATFORMID
  std::int32_t p2pType = 0;     // P2PTYPE, derived from the P2P id when 0
  std::string p2pId;            // P2PID: the cloud identifier
  std::string deviceType;       // DEVICE_TYPE/DeviceType: the model text
  UserConfigInfo userConfig;
  StreamAccessInfo streamAccess = StreamAccessInfo::Zero();
  LANConfigInfo lanConfig;
  IntercomConfig intercom;
  std::int32_t uptime_s = 0;    // runtime
  std::int32_t p2pStatus = -1;  // P2PSTATUS; -1 when missing
  std::string adapterAddress;   // local address whose socket got the reply
  std::string titleHex;         // DEVICE_TYPE/OSD: hex of the title's UTF-8 bytes
  std::string version;          // VERSION
  std::string afVersion;        // AF_VERSION (focus module)
  std::string module4gVersion;  // MODULE4G_VERSION
  std::string uuid;             // UUID: key of the new-device map
  std::string oemSerial;        // OEM_SN
  std::string replyText;        // the whole reply, at most 5119 bytes
  std::uint32_t lastSeenTick_ms = 0;  // monotonic ms when stored
  std::string senderAddress;  // the reply datagram's source, stamped by the map (empty: an import)
  std::int32_t hasAccounts = 0;  // 1 when UserConfig gave a user name or password
  bool operator==(const DeviceSearchInfo&) const = default;
};

inline StreamAccessInfo StreamAccessInfo::Zero() {
  StreamAccessInfo s;
  s.enableRtsp = s.auth = s.rtpOverRtsp = s.videoPort = s.enableComm = s.ptzPort = 0;
  s.enableOnvif = s.enableWeb = s.webPort = s.httpsPort = s.h5Port = 0;
  s.enableHik = s.enableDh = 0;
  s.hikPort = s.dhPort = s.rtmpPort = 0;
  return s;
}

// Cuts a text to a field of `width` bytes (width - 1 characters kept).
inline std::string CutToField(std::string text, std::size_t width) {
  if (width > 0 && text.size() > width - 1) text.resize(width - 1);
  return text;
}

}  // namespace kelvara
