#pragma once
// The texts the device list puts on the clipboard, and the made-up devices
// of the batch-debug command.
#include <cstdint>
#include <string>
#include <vector>

#include "discovery/core/device_list_row.h"

namespace kelvara::discovery {

// The clipboard texts hold at most this many bytes.
inline constexpr std::size_t kCopyTextLimit = 4096;

// The text of copy command `commandId` (33301 serial number, 33302 UUID,
// 33303 P2P id, 33304 MAC, 33307 ability text, 33305 all fields) for a row;
// "" for another id. Cut to kCopyTextLimit - 1 bytes.
std::string CopyFieldText(const DeviceListRow& row, int commandId);

// The device's raw search reply.
std::string SearchReplyText(const DeviceListRow& row);

// Batch-debug device n: "batch_debug_%03d", MAC "00:00:00:00:00:%02x", the
// n-th address from `first` (host order), the given mask, gateway and DNS.
DeviceSearchInfo BatchDebugDevice(int n, std::uint32_t address, const std::string& mask, const std::string& gateway,
                                  const std::string& dns1, const std::string& dns2);
// The devices of a range: one per address from first to last, at most 253.
std::vector<DeviceSearchInfo> BatchDebugDevices(std::uint32_t first, std::uint32_t last, const std::string& mask,
                                                const std::string& gateway, const std::string& dns1,
                                                const std::string& dns2);

}  // namespace kelvara::discovery

namespace kelvara::discovery {

// The device's web page: "http://<address>:<port>" for a dotted IPv4
// address and a port from 1 to 65535; "" for anything else, which is not
// opened.
std::string WebPageUrl(const std::string& address, int port);

}  // namespace kelvara::discovery
