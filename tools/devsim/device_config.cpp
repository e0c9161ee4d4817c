#include "device_config.h"

#include <arpa/inet.h>

#include <cstdio>
#include <sstream>

#include "lan_numbering.h"

namespace kelvara::devsim {
namespace {

std::string Trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  const auto e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

bool ToInt(const std::string& v, int& out) {
  try {
    size_t used = 0;
    const long n = std::stol(v, &used, 10);
    if (used != v.size() || n < -2147483647L || n > 2147483647L) return false;
    out = static_cast<int>(n);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace

bool ApplyDeviceKey(DeviceConfig& d, const std::string& key, const std::string& v) {
  struct Text { const char* key; std::string DeviceConfig::*field; };
  static const Text texts[] = {
      {"serial", &DeviceConfig::serial}, {"uuid", &DeviceConfig::uuid},
      {"device_type", &DeviceConfig::device_type}, {"version", &DeviceConfig::version},
      {"af_version", &DeviceConfig::af_version},
      {"module4g_version", &DeviceConfig::module4g_version},
      {"fs_version", &DeviceConfig::fs_version}, {"mcu_version", &DeviceConfig::mcu_version},
      {"oem_serial", &DeviceConfig::oem_serial}, {"platform_id", &DeviceConfig::platform_id},
      {"p2p_id", &DeviceConfig::p2p_id}, {"title", &DeviceConfig::title},
      {"user", &DeviceConfig::user}, {"password", &DeviceConfig::password},
      {"root", &DeviceConfig::root}, {"mac", &DeviceConfig::mac}, {"ip", &DeviceConfig::ip},
      {"netmask", &DeviceConfig::netmask}, {"gateway", &DeviceConfig::gateway},
      {"dns1", &DeviceConfig::dns1}, {"dns2", &DeviceConfig::dns2},
      {"default_ip", &DeviceConfig::default_ip}, {"video_codec", &DeviceConfig::video_codec},
      {"abilities", &DeviceConfig::abilities},
  };
  for (const Text& t : texts) {
    if (key == t.key) {
      d.*(t.field) = v;
      return true;
    }
  }
  struct Int { const char* key; int DeviceConfig::*field; };
  static const Int ints[] = {
      {"p2p_type", &DeviceConfig::p2p_type}, {"p2p_status", &DeviceConfig::p2p_status},
      {"dhcp", &DeviceConfig::dhcp}, {"command_port", &DeviceConfig::command_port},
      {"log_port", &DeviceConfig::log_port}, {"video_port", &DeviceConfig::video_port},
      {"web_port", &DeviceConfig::web_port}, {"reboot_ms", &DeviceConfig::reboot_ms},
      {"upgrade_ms", &DeviceConfig::upgrade_ms}, {"uptime_s", &DeviceConfig::uptime_s},
      {"main_width", &DeviceConfig::main_width}, {"main_height", &DeviceConfig::main_height},
      {"sub_width", &DeviceConfig::sub_width}, {"sub_height", &DeviceConfig::sub_height},
      {"fps", &DeviceConfig::fps}, {"video_channels", &DeviceConfig::video_channels},
      {"rtsp", &DeviceConfig::rtsp},
  };
  for (const Int& i : ints) {
    if (key == i.key) return ToInt(v, d.*(i.field));
  }
  if (key == "reply_account") {
    int n = 0;
    if (!ToInt(v, n)) return false;
    d.reply_account = n != 0;
    return true;
  }
  return false;
}

void CompleteDevice(DeviceConfig& d, int index) {
  char buf[64];
  if (d.serial.empty()) {
    std::snprintf(buf, sizeof buf, "SIM%08d", index + 1);
    d.serial = buf;
  }
  if (d.uuid.empty()) d.uuid = "uuid-" + d.serial;
  if (d.mac.empty()) {
    std::snprintf(buf, sizeof buf, "02:5a:00:%02x:%02x:%02x", (index >> 16) & 0xFF,
                  (index >> 8) & 0xFF, index & 0xFF);
    d.mac = buf;
  }
  if (d.ip.empty()) d.ip = "127.0.0.1";
  if (d.gateway.empty()) {
    in_addr a{};
    if (inet_pton(AF_INET, d.ip.c_str(), &a) == 1) {
      const uint32_t host = ntohl(a.s_addr);
      in_addr g{};
      g.s_addr = htonl((host & 0xFFFF0000u) | 1u);
      d.gateway = inet_ntoa(g);
    }
  }
  if (d.default_ip.empty()) d.default_ip = d.ip;
}

std::string GenerateDevices(const DeviceConfig& templ, int count, const std::string& base_ip,
                            const std::string& serial_prefix, std::vector<DeviceConfig>& out) {
  if (count < 0 || count > 4096) return "count must be 0 to 4096";
  in_addr a{};
  if (inet_pton(AF_INET, base_ip.c_str(), &a) != 1) return "bad base_ip: " + base_ip;
  const uint32_t base = ntohl(a.s_addr);
  // On loopback every device shares the address and gets its own ports.
  const bool loopback = (base >> 24) == 127;
  if (!loopback && !NthLanAddress(base, 0)) {
    return "bad base_ip: " + base_ip + " (devices take .1 to .250 of each /24)";
  }
  if (!loopback && count > 0 && !NthLanAddress(base, static_cast<uint32_t>(count - 1))) {
    return "base_ip " + base_ip + " leaves no room for " + std::to_string(count) + " devices";
  }
  for (int i = 0; i < count; ++i) {
    DeviceConfig d = templ;
    in_addr ip{};
    ip.s_addr = htonl(loopback ? base : *NthLanAddress(base, static_cast<uint32_t>(i)));
    d.ip = inet_ntoa(ip);
    const int n = static_cast<int>(out.size());
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s%08d", serial_prefix.c_str(), n + 1);
    d.serial = buf;
    d.uuid.clear();
    d.mac.clear();
    d.default_ip.clear();
    CompleteDevice(d, n);
    out.push_back(std::move(d));
  }
  return {};
}

std::string ParseConfigText(const std::string& text, SimConfig& out) {
  std::istringstream in(text);
  std::string line;
  int line_no = 0;
  DeviceConfig defaults;
  DeviceConfig* current = nullptr;
  int count = 0;
  std::string base_ip = "127.0.0.1";
  std::string prefix = "SIM";
  while (std::getline(in, line)) {
    ++line_no;
    const auto hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    line = Trim(line);
    if (line.empty()) continue;
    if (line == "[device]") {
      out.devices.push_back(defaults);
      current = &out.devices.back();
      continue;
    }
    const auto eq = line.find('=');
    if (eq == std::string::npos) return "line " + std::to_string(line_no) + ": expected key = value";
    const std::string key = Trim(line.substr(0, eq));
    const std::string value = Trim(line.substr(eq + 1));
    bool ok = true;
    if (current != nullptr) {
      ok = ApplyDeviceKey(*current, key, value);
    } else if (key == "count") {
      ok = ToInt(value, count);
    } else if (key == "base_ip") {
      base_ip = value;
    } else if (key == "serial_prefix") {
      prefix = value;
    } else if (key == "discovery_bind") {
      out.discovery_bind = value;
    } else if (key == "discovery_port") {
      ok = ToInt(value, out.discovery_port);
    } else if (key == "max_seconds") {
      ok = ToInt(value, out.max_seconds);
    } else {
      ok = ApplyDeviceKey(defaults, key, value);
    }
    if (!ok) return "line " + std::to_string(line_no) + ": bad key or value: " + key;
  }
  for (size_t i = 0; i < out.devices.size(); ++i) CompleteDevice(out.devices[i], static_cast<int>(i));
  if (count > 0) return GenerateDevices(defaults, count, base_ip, prefix, out.devices);
  return {};
}

}  // namespace kelvara::devsim
