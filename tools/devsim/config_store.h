#pragma once
// What a simulated device stores and how it can misbehave per command code:
// the default configuration blocks (realistic texts, with attributes,
// elements and raw record bytes that Kelvara does not know, so a client that
// drops what it does not know is caught), and the per-code fault switches.
#include <cstdint>
#include <map>
#include <string>

#include "device_config.h"

namespace kelvara::devsim {

// Every block a device holds, by the code of the get that reads it (a set
// writes the block of its get: 524 -> 504, 670 -> 650, ...). System controls
// that change state keep their last request under their own code.
std::map<uint32_t, std::string> DefaultConfigBlocks(const DeviceConfig& c);

// The LAN block's attributes beyond those of the device's network settings.
inline constexpr const char* kDefaultLanExtra = " MTU=\"1500\" Ipv6Mode=\"auto\" LinkSpeed=\"100M-full\"";

// System controls whose request the device keeps as a block.
bool IsStoredControl(uint32_t code);

// How a device answers one command code.
struct CodeFault {
  enum class Kind { kNone, kRefuse, kDrop, kResult, kMalformed };
  Kind kind = Kind::kNone;
  int result = 0;            // kResult: the result sent (the store is not changed)
  std::string alarm_record;  // not empty: an alarm event with this record on each request
};

// "refuse" (answered at once with result 6, nothing changed), "drop" (never
// answered), "result N" (answered with N and the usual text, nothing
// changed), "malformed" (result 0 and a block cut in the middle), "alarm CODE
// [DETAIL]" / "alarm_hex HEX" (an alarm with that record on each request),
// "clear". Returns "" or an error text.
std::string ParseCodeFault(const std::string& args, CodeFault& fault);

// A block text cut in the middle of an attribute: no XML reader takes it.
std::string MalformedBlock(const std::string& text);

// The 168-byte alarm record with the local time.
std::string AlarmRecordNow(int code, int ai_kind, const std::string& detail);

}  // namespace kelvara::devsim
