#pragma once
// The address dialog's values and rules, without widgets: one device's
// network settings, or a start and end address for a batch. The dialog shows
// these fields and asks this model what to do when they change.
//
// Addresses are host-order numbers (0 = empty field); texts are dotted.
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kelvara::dialogs {

struct IpSettingValues {
  int dhcp = 0;
  std::string startAddress;  // the device's address, or the first of the range
  std::string netmask;
  std::string gateway;  // "" when none
  std::string dns1;
  std::string dns2;
  std::string endAddress;  // range mode
};

// What OK found wrong; kNone lets the dialog close.
enum class IpSettingError {
  kNone,
  kGatewayOutsideSubnet,  // "MSGTIP46"
  kStartIsBroadcast,      // "MSGTIP46"
  kStartIsNetwork,
  kBadAddress,            // start not a usable address, or a bad mask
  kEndBeforeStart,
  kRangeTooShort,         // fewer addresses than devices (consecutive addressing)
};

class IpSettingModel {
 public:
  bool rangeMode = false;
  int deviceCount = 1;
  // Consecutive addressing needs one address per device; the batch-debug
  // rows take as many as the range holds.
  bool requireFullRange = false;

  // The end address shown for a start address: start + min(count - 1, room),
  // where room runs to the last host of the start's subnet (of `mask`; the
  // /24 when the mask is not usable).
  std::uint32_t EndFor(std::uint32_t start, std::uint32_t mask) const;
  // The gateway proposed when the start address changes: its last octet 1.
  static std::uint32_t GatewayFor(std::uint32_t start) { return (start & 0xFFFFFF00u) | 1u; }

  // OK's checks on the fields (host order; 0 = empty).
  IpSettingError Validate(std::uint32_t start, std::uint32_t end, std::uint32_t mask, std::uint32_t gateway) const;

  // The addresses the Check button probes: start to end in range mode (at
  // most 256), else the start address alone.
  std::vector<std::uint32_t> AddressesToCheck(std::uint32_t start, std::uint32_t end) const;
};

// Probes the addresses, up to `parallel` at a time, until all are probed or
// `cancel` becomes true. `probe` gives 1 for an address that answered.
struct AddressCheckResult {
  std::vector<std::uint32_t> answered;  // in ascending order
  bool cancelled = false;
};
AddressCheckResult CheckAddressesInUse(const std::vector<std::uint32_t>& addresses,
                                       const std::function<int(std::uint32_t hostOrder)>& probe,
                                       const std::atomic<bool>& cancel, int parallel = 32);

// "0.0.0.0", "" and unparsable texts give 0.
std::uint32_t FieldFromText(const std::string& text);
// 0 gives "" when `emptyWhenZero`, else "0.0.0.0".
std::string TextFromField(std::uint32_t address, bool emptyWhenZero);

// The language key of an error's message.
const char* IpSettingErrorKey(IpSettingError error);

}  // namespace kelvara::dialogs
