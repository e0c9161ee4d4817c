#pragma once
// The on-screen title each device gets from the OSD command: the user's title
// and the device facts switched on, joined with "^", as the lowercase hex of
// its UTF-8 bytes. Every caller builds it here, so the title appears once.
#include <cstddef>
#include <string>
#include <string_view>

#include "common/settings_records.h"
#include "discovery/core/device_records.h"

namespace kelvara::device {

// Which device facts go into the title, after the user's title.
struct OsdTitleChoice {
  bool model = false;   // "[" model without "DAV-ODUVE-" "]"
  bool ip = false;      // the device's address
  bool serial = false;  // "[" serial number "]"
};

// The longest title in UTF-8 bytes: its hex fills the device's 220-byte title
// field with the terminating zero.
inline constexpr std::size_t kMaxOsdTitleBytes = 109;

// Two hex digits per byte; an odd length or a character that is not a hex
// digit gives "" (a stored title that cannot be read shows as no title).
std::string DecodeTitleHex(std::string_view hex);

// The title text (UTF-8) of one device: the parts that are not empty joined
// with "^", cut to kMaxOsdTitleBytes at a character boundary.
std::string OsdTitleText(const OverlayConfig& overlay, const OsdTitleChoice& choice, const DeviceSearchInfo& device);

// The title value sent in TitleUtf8: the hex of OsdTitleText.
std::string BuildOsdTitleHex(const OverlayConfig& overlay, const OsdTitleChoice& choice,
                             const DeviceSearchInfo& device);

// A device text (GBK or UTF-8 bytes) as UTF-8.
std::string DeviceTextToUtf8(std::string_view text);

}  // namespace kelvara::device
