#include "dialogs/core/ip_setting_model.h"

#include <algorithm>
#include <mutex>
#include <thread>

#include "common/ipv4_host.h"

namespace kelvara::dialogs {


namespace {

std::uint32_t UsableMask(std::uint32_t mask) {
  return mask != 0 && IsContiguousMask(mask) && ~mask > 1u ? mask : 0xFFFFFF00u;
}

}  // namespace

std::uint32_t IpSettingModel::EndFor(std::uint32_t start, std::uint32_t mask) const {
  const std::uint32_t n = deviceCount > 0 ? static_cast<std::uint32_t>(deviceCount - 1) : 0u;
  // Up to the address ending in .254 after the start, and never past the last
  // host of the start's subnet (a mask narrower than /24 ends it sooner).
  const std::uint32_t lastByte = start & 0xFFu;
  const std::uint32_t byteRoom = lastByte < 254 ? 254 - lastByte : 0u;
  const std::uint32_t lastHost = BroadcastOf(start, UsableMask(mask)) - 1;
  const std::uint32_t subnetRoom = lastHost > start ? lastHost - start : 0u;
  return start + std::min({n, byteRoom, subnetRoom});
}

IpSettingError IpSettingModel::Validate(std::uint32_t start, std::uint32_t end, std::uint32_t mask,
                                        std::uint32_t gateway) const {
  if (start == 0 || start == 0xFFFFFFFFu) return IpSettingError::kBadAddress;
  if (mask != 0 && !IsContiguousMask(mask)) return IpSettingError::kBadAddress;
  if (gateway != 0) {
    if (NetworkOf(start, mask) != NetworkOf(gateway, mask)) return IpSettingError::kGatewayOutsideSubnet;
    if ((start & ~mask) == ~mask) return IpSettingError::kStartIsBroadcast;
  }
  if (mask != 0 && ~mask > 1u) {
    if (start == BroadcastOf(start, mask)) return IpSettingError::kStartIsBroadcast;
    if (start == NetworkOf(start, mask)) return IpSettingError::kStartIsNetwork;
  }
  if (rangeMode) {
    if (end < start) return IpSettingError::kEndBeforeStart;
    if (requireFullRange) {
      std::uint32_t last = end;
      if (mask != 0 && ~mask > 1u) last = std::min(last, BroadcastOf(start, mask) - 1);
      if (static_cast<std::uint64_t>(last - start) + 1 < static_cast<std::uint64_t>(std::max(deviceCount, 1)))
        return IpSettingError::kRangeTooShort;
    }
  }
  return IpSettingError::kNone;
}

std::vector<std::uint32_t> IpSettingModel::AddressesToCheck(std::uint32_t start, std::uint32_t end) const {
  std::vector<std::uint32_t> out;
  if (start == 0) return out;
  if (!rangeMode || end < start) return {start};
  for (std::uint64_t a = start; a <= end && out.size() < 256; ++a) out.push_back(static_cast<std::uint32_t>(a));
  return out;
}

AddressCheckResult CheckAddressesInUse(const std::vector<std::uint32_t>& addresses,
                                       const std::function<int(std::uint32_t)>& probe,
                                       const std::atomic<bool>& cancel, int parallel) {
  AddressCheckResult result;
  std::mutex mutex;
  std::size_t next = 0;
  auto worker = [&] {
    for (;;) {
      std::size_t i;
      {
        std::lock_guard lock(mutex);
        if (next >= addresses.size() || cancel.load()) return;
        i = next++;
      }
      if (probe(addresses[i]) > 0) {
        std::lock_guard lock(mutex);
        result.answered.push_back(addresses[i]);
      }
    }
  };
  std::vector<std::thread> pool;
  const int n = std::max(1, std::min<int>(parallel, static_cast<int>(addresses.size())));
  for (int i = 0; i < n; ++i) pool.emplace_back(worker);
  for (auto& t : pool) t.join();
  std::sort(result.answered.begin(), result.answered.end());
  result.cancelled = cancel.load();
  return result;
}

std::uint32_t FieldFromText(const std::string& text) {
  return ParseIpv4Host(text).value_or(0);
}

std::string TextFromField(std::uint32_t address, bool emptyWhenZero) {
  if (address == 0 && emptyWhenZero) return {};
  return FormatIpv4Host(address);
}

const char* IpSettingErrorKey(IpSettingError error) {
  switch (error) {
    case IpSettingError::kNone: return "";
    case IpSettingError::kGatewayOutsideSubnet:
    case IpSettingError::kStartIsBroadcast: return "MSGTIP46";
    case IpSettingError::kStartIsNetwork: return "IP_NETWORK_ADDRESS";
    case IpSettingError::kBadAddress: return "IP_INVALID";
    case IpSettingError::kEndBeforeStart: return "IP_RANGE_END_BEFORE_START";
    case IpSettingError::kRangeTooShort: return "IP_RANGE_TOO_SHORT";
  }
  return "";
}

}  // namespace kelvara::dialogs
