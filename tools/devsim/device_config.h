#pragma once
// What one simulated device is: identity, account, network and ports. Read from
// a configuration file (docs/devsim.md) and command-line flags.
#include <functional>
#include <string>
#include <vector>

namespace kelvara::devsim {

struct DeviceConfig {
  std::string serial;
  std::string uuid;
  std::string device_type = "NVR-SIM-8CH";
  std::string version = "V5.2.1_20261001";
  std::string af_version;
  std::string module4g_version;
  std::string fs_version = "FS_2.4.0";
  std::string mcu_version = "MCU_1.0.3";
  std::string oem_serial;
  std::string platform_id;
  int p2p_type = 0;
  std::string p2p_id;
  int p2p_status = 1;
  std::string title = "devsim";      // on-screen title (sent as hex of its UTF-8 bytes)
  std::string user = "admin";
  std::string password = "admin123";
  bool reply_account = true;         // the search reply carries UserConfig/Account
  std::string root = "XML_MARLOWCAM";  // root element of the search reply
  // Network.
  std::string mac;
  int dhcp = 0;
  std::string ip;
  std::string netmask = "255.255.0.0";
  std::string gateway;
  std::string dns1 = "10.77.0.1";
  std::string dns2 = "10.77.0.2";
  std::string default_ip;            // address after a full restore (default: ip)
  // Ports: 0 = any free port (loopback tests).
  int command_port = 8091;           // the PTZ port of the stream-access settings
  int log_port = 9999;
  int video_port = 554;
  int web_port = 80;
  // Behaviour.
  int reboot_ms = 2000;              // silence while rebooting
  int upgrade_ms = 1000;             // "flash writing" time after a firmware upload
  int uptime_s = 3600;
  // Live streams (RTSP on video_port).
  std::string video_codec = "h264";  // h264 or h265
  // Capability words the ability reply carries (e.g. "ptz_control only_audio").
  std::string abilities;
  int main_width = 1920, main_height = 1080;
  int sub_width = 640, sub_height = 360;
  int fps = 25;
  int video_channels = 1;            // /chNN/streamS paths
  int rtsp = 1;                      // 0: no streams
};

struct SimConfig {
  std::vector<DeviceConfig> devices;
  std::string discovery_bind = "0.0.0.0";
  int discovery_port = 3001;         // 0 = no discovery responder
  int max_seconds = 3600;            // the simulator stops by itself after this
  bool stdin_control = true;         // end when stdin closes
  // Lines about the devices' addresses (unreachable, added, kept); stderr
  // ("devsim: LINE") when empty.
  std::function<void(const std::string&)> notice;
};

// Parses a configuration file text. Lines "key = value"; "#" starts a comment;
// keys before the first "[device]" set defaults for every device and the
// simulator; "count", "base_ip" and "serial_prefix" there generate devices.
// Returns an empty string on success, else the error with its line number.
std::string ParseConfigText(const std::string& text, SimConfig& out);

// Applies "key=value" to one device (the keys of a [device] section).
bool ApplyDeviceKey(DeviceConfig& d, const std::string& key, const std::string& value);

// Fills missing identity fields (serial, UUID, MAC, gateway, default_ip) of device i.
void CompleteDevice(DeviceConfig& d, int index);

// Generates count devices from a template, addresses counting up from base_ip
// by the test LAN's rule (.1 to .250 of each /24, lan_numbering.h); on
// loopback (127.x) they share base_ip.
std::string GenerateDevices(const DeviceConfig& templ, int count, const std::string& base_ip,
                            const std::string& serial_prefix, std::vector<DeviceConfig>& out);

}  // namespace kelvara::devsim
