#include "discovery/core/search_reply.h"

#include <arpa/inet.h>

#include <string>
#include <utility>

#include "common/log_text.h"
#include "discovery/core/discovery_log.h"
#include "discovery/core/reply_parsers.h"
#include "discovery/core/xml_parse.h"

namespace kelvara::discovery {

bool IsDottedIpv4(std::string_view text) {
  if (text.empty() || text.size() > 15) return false;
  const std::string s(text);
  in_addr a{};
  return inet_pton(AF_INET, s.c_str(), &a) == 1;
}

bool IsDeviceAddress(std::string_view text) {
  in_addr a{};
  if (!IsDottedIpv4(text) || inet_pton(AF_INET, std::string(text).c_str(), &a) != 1) return false;
  const std::uint32_t host = ntohl(a.s_addr);
  return host != 0 && host != 0xFFFFFFFFu && (host >> 24) != 127 && (host >> 28) != 0xE;
}

std::optional<DeviceSearchInfo> ParseSearchReply(std::string_view text) {
  if (const auto zero = text.find('\0'); zero != std::string_view::npos) text = text.substr(0, zero);
  // One parse serves every element.
  TiXmlDocument doc;
  ParseUntrustedXml(doc, text);
  return ParseSearchReply(text, doc);
}

std::optional<DeviceSearchInfo> ParseSearchReply(std::string_view text, const TiXmlDocument& doc) {
  text = UpToZero(text);
  DeviceSearchInfo info;
  info.p2pStatus = -1;
  info.replyText = std::string(text.substr(0, kReplyTextWidth - 1));

  SerialNumberReply sn;
  sn.p2pStatus = -1;
  if (ReadSerialNumberReply(doc, sn) != 0) {
    Log("serial number not found\n, msg=%s\n", EscapeForLog(info.replyText).c_str());
    return std::nullopt;
  }
  // The serial number keys the map and names the device in every command: an
  // empty or cut one would merge devices or address the wrong one.
  if (sn.serialNumber.empty() || sn.serialCut) {
    Log("serial number empty or too long, reply dropped, type=%s\n", EscapeForLog(sn.deviceType).c_str());
    return std::nullopt;
  }
  info.serialNumber = std::move(sn.serialNumber);
  info.oemSerial = std::move(sn.oemSerial);
  info.platformId = std::move(sn.platformId);
  info.p2pType = sn.p2pType;
  info.p2pId = std::move(sn.p2pId);
  info.deviceType = std::move(sn.deviceType);
  info.uptime_s = sn.uptime_s;
  info.p2pStatus = sn.p2pStatus;
  info.titleHex = std::move(sn.titleHex);
  info.version = std::move(sn.version);
  info.afVersion = std::move(sn.afVersion);
  info.module4gVersion = std::move(sn.module4gVersion);
  info.uuid = std::move(sn.uuid);

  const std::string_view type = info.deviceType;
  bool recorder = false;
  for (std::string_view marker : {"NVS", "DVS", "DEC", "NVR"})
    recorder = recorder || type.find(marker) != std::string_view::npos;
  if (!recorder) {
    Log("Found one device not NVS or DVS, type=%s, sn=%s\n", EscapeForLog(info.deviceType).c_str(),
        EscapeForLog(info.serialNumber).c_str());
    return std::nullopt;
  }
  if (ReadLanConfigReply(doc, info.lanConfig) != 0) {
    Log("lan config not found.\n");
    return std::nullopt;
  }
  if (!IsDottedIpv4(info.lanConfig.ipAddress)) {
    Log("device address is not an IPv4 address, sn=%s\n", EscapeForLog(info.serialNumber).c_str());
    return std::nullopt;
  }
  // Any, broadcast, loopback and multicast addresses name no device: a reply
  // claiming one is forged or broken, and commands to it would go astray.
  if (!IsDeviceAddress(info.lanConfig.ipAddress)) {
    Log("device address %s is no device's, reply dropped, sn=%s\n",
        info.lanConfig.ipAddress.c_str(), EscapeForLog(info.serialNumber).c_str());
    return std::nullopt;
  }
  if (ReadStreamAccessReply(doc, info.streamAccess) != 0) {
    Log("stream config not found.\n");
    return std::nullopt;
  }
  if (ReadUserConfigReply(doc, info.userConfig) != 0) {
    Log("user config not found.\n");
    info.userConfig = UserConfigInfo{};
    info.hasAccounts = 0;
  } else {
    info.hasAccounts = 1;
  }
  return info;
}

}  // namespace kelvara::discovery

#include "discovery/core/device_map.h"

namespace kelvara::discovery {

namespace {

void StoreReply(std::optional<DeviceSearchInfo> info, const std::string& adapterAddress, DeviceMap& map,
                bool newDeviceMode, const std::function<void(const DeviceSearchInfo&)>& onNewUuid,
                const std::string& senderAddress) {
  if (!info) return;
  if (newDeviceMode) {
    DeviceSearchInfo copy = *info;
    map.AddOrUpdateDevice(std::move(*info), adapterAddress, TickCount_ms(), senderAddress);
    if (map.TrackNewDevice(copy, adapterAddress) && onNewUuid) {
      copy.adapterAddress = adapterAddress;
      onNewUuid(copy);
    }
    return;
  }
  map.AddOrUpdateDevice(std::move(*info), adapterAddress, TickCount_ms(), senderAddress);
}

}  // namespace

void OnSearchReply(std::string_view text, const std::string& adapterAddress, DeviceMap& map,
                   bool newDeviceMode,
                   const std::function<void(const DeviceSearchInfo&)>& onNewUuid,
                   const std::string& senderAddress) {
  StoreReply(ParseSearchReply(text), adapterAddress, map, newDeviceMode, onNewUuid, senderAddress);
}

void OnSearchReply(std::string_view text, const TiXmlDocument& parsed, const std::string& adapterAddress,
                   DeviceMap& map, bool newDeviceMode,
                   const std::function<void(const DeviceSearchInfo&)>& onNewUuid,
                   const std::string& senderAddress) {
  StoreReply(ParseSearchReply(text, parsed), adapterAddress, map, newDeviceMode, onNewUuid, senderAddress);
}

}  // namespace kelvara::discovery
