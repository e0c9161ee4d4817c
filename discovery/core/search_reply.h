#pragma once
// Turning one accepted search reply (Msg_code 3) into a device record.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "discovery/core/device_records.h"

class TiXmlDocument;

namespace kelvara::discovery {

// The record for `text`, or nullopt when the reply is dropped (each drop is
// logged): no MESSAGE_BODY; an empty or over-long serial number; a device
// type naming none of NVS, DVS, DEC, NVR; no LANConfig or an address that is
// not a dotted IPv4 address or is no device's (IsDeviceAddress); no stream
// access. adapterAddress and the
// last-seen tick are left for the device map.
std::optional<DeviceSearchInfo> ParseSearchReply(std::string_view text);
// The same from `text` as ParseUntrustedXml parsed it (the search thread's
// header check), without a second parse.
std::optional<DeviceSearchInfo> ParseSearchReply(std::string_view text, const TiXmlDocument& parsed);

// True for a dotted-quad IPv4 address ("10.0.0.1"), nothing else.
bool IsDottedIpv4(std::string_view text);

// False for addresses no device can have: 0.0.0.0, 255.255.255.255,
// loopback (127.0.0.0/8) and multicast (224.0.0.0/4), and for text that is
// not dotted IPv4.
bool IsDeviceAddress(std::string_view text);

}  // namespace kelvara::discovery

namespace kelvara::discovery {

class DeviceMap;

// The search thread's handling of one accepted reply: parse it, store the
// record under its serial number, and in new-device mode track its UUID;
// `onNewUuid` runs (on the search thread, after the lock) for a UUID seen for
// the first time in this program run. `senderAddress` is where the datagram
// came from (empty: not known, no per-sender bound).
void OnSearchReply(std::string_view text, const std::string& adapterAddress, DeviceMap& map,
                   bool newDeviceMode,
                   const std::function<void(const DeviceSearchInfo&)>& onNewUuid = {},
                   const std::string& senderAddress = {});
// The same with the reply already parsed (ParsedReplyHandler).
void OnSearchReply(std::string_view text, const TiXmlDocument& parsed, const std::string& adapterAddress,
                   DeviceMap& map, bool newDeviceMode,
                   const std::function<void(const DeviceSearchInfo&)>& onNewUuid = {},
                   const std::string& senderAddress = {});

}  // namespace kelvara::discovery
