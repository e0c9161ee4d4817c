#pragma once
// The two built-in lists of known devices whose rows the device list colours.
#include <span>
#include <string_view>

namespace kelvara {

struct KnownDevice {
  std::string_view serial;  // 16 hexadecimal characters
  std::string_view code;    // 22 characters looked for inside the P2P identifier
};

// 1 when a row of the first list matches (serial number equal, code inside
// the P2P identifier), else 2 when a row of the second list does, else 0.
int MatchKnownDevice(std::string_view serial, std::string_view p2p_id);

// The same against given lists.
int MatchKnownDevice(std::string_view serial, std::string_view p2p_id, std::span<const KnownDevice> first,
                     std::span<const KnownDevice> second);

}  // namespace kelvara
