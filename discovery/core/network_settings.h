#pragma once
// Login-free network settings: the broadcast operations that re-address,
// restore, reboot or switch a device named by its serial number, the table of
// addresses this program handed out, the cached local network parameters,
// and the search for free addresses of the PC's subnet.
//
// Runs on the UI thread, except ProbeFreeAddresses, which a worker runs.
// Look-ups by serial number send while holding the device map's lock, so the
// record sent is the one the map holds at that moment.
//
// Credentials come in as the user typed them (UTF-8); devices get GBK.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/local_network.h"
#include "discovery/core/broadcast_commands.h"
#include "discovery/core/device_map.h"

namespace kelvara::discovery {

// Results beyond 0 and kBodyNotBuilt (-3).
inline constexpr int kSerialNotInMap = -1;

// The addresses sent to devices since the list was last cleared (at most 255),
// so two devices are not handed the same free address.
class HandedOutAddresses {
 public:
  // Holds the address once (a held address moves to the first free entry);
  // when every entry is in use it is not held. 0 is never held.
  void Hold(std::uint32_t hostOrder);
  bool Contains(std::uint32_t hostOrder) const;
  void Clear() { entries_.fill(0); }

 private:
  std::array<std::uint32_t, 255> entries_{};
};

class NetworkSettings {
 public:
  struct Hooks {
    SendRequest send;                             // to the search thread or a direct broadcast
    std::function<OperatorAuth()> defaultLogin;   // the settings' default login, GBK
    std::function<LocalNetworkConfig()> localNetwork;          // GetLocalNetworkConfig
    std::function<std::vector<std::uint32_t>()> localAddresses;  // host order, every local address
  };
  NetworkSettings(DeviceMap& map, Hooks hooks);

  // Msg_code 2 with the record's serial number and LAN settings; the
  // record's address is held in the handed-out table.
  int SetLanConfigByBD(const DeviceSearchInfo& record, const OperatorAuth& auth);
  // Under the map's lock: the record replaces the map's record for `serial`,
  // then SetLanConfigByBD on it. -1 when the map has no such serial number.
  int SetLanConfigBySerial(const std::string& serial, const DeviceSearchInfo& record, const OperatorAuth& auth);
  // Restore defaults by broadcast for the map's record (-1 when missing).
  int RestoreDeviceBySerial(const std::string& serial, int keepNetwork, const OperatorAuth& auth);
  // Reboot by broadcast for the map's record (-1 when missing).
  int RebootDevByBD(const std::string& serial, const OperatorAuth& auth);
  // Factory mode with the default login for the map's record (-1 when missing).
  int SetFactoryModeByBD(const std::string& serial, int mode);
  // The intercom settings of one device (Msg_code 2, once).
  int SendIntercomConfig(const std::string& serial, const IntercomConfig& intercom);

  // Entry 0-4 of the local network parameters (address, mask, gateway,
  // DNS 1, DNS 2), filled first when the address or the gateway is empty;
  // "" for any other index.
  std::string GetNetworkParam(int index);
  // A new search or a cleared list: the cache and the handed-out table empty.
  void ClearForNewList();

  // The hosts 2-254 of the PC's /24 (its cached address with the last octet
  // replaced), less the PC's address and gateway, every address of the map,
  // the handed-out table and every local address, in ascending order.
  // Gathered under the map's lock; nothing is probed here.
  std::vector<std::uint32_t> FreeIpCandidates();
  // The PC's address in host order (after filling the cache).
  std::uint32_t LocalAddress();

  HandedOutAddresses& HandedOut() { return handedOut_; }
  DeviceMap& Map() { return map_; }

 private:
  void FillCache();
  OperatorAuth ToDevice(const OperatorAuth& auth) const;

  DeviceMap& map_;
  Hooks hooks_;
  LocalNetworkConfig cache_;
  HandedOutAddresses handedOut_;
};

// Probes the candidates in order, up to `parallel` at a time, and returns the
// first `count` addresses that did not answer, in candidate order. `probe`
// gives 1 (answered: in use, never returned), 0 (no answer: free) or -1 (no
// probe could run at all: counts as free, and the address is also put into
// `*unchecked` when given, so the caller can say it was not checked).
// Returns once the answer is known, or when `cancel` becomes true, without
// waiting for probes still in flight: `probe` and `progress` are copied and
// may run until those end, so they must not refer to the caller's stack.
// `progress` (optional) gets the number of probes done.
std::vector<std::uint32_t> ProbeFreeAddresses(const std::vector<std::uint32_t>& candidates, std::size_t count,
                                              const std::function<int(std::uint32_t hostOrder)>& probe,
                                              int parallel = 32, const std::atomic<bool>* cancel = nullptr,
                                              const std::function<void(std::size_t done)>& progress = {},
                                              std::vector<std::uint32_t>* unchecked = nullptr);

// Consecutive addressing from `start`: `count` addresses that stay inside the
// subnet of `mask` (never its network or broadcast address) and end no later
// than `end` (0: the subnet's last host). nullopt when the range holds fewer.
std::optional<std::vector<std::uint32_t>> ConsecutiveAddresses(std::uint32_t start, std::uint32_t end,
                                                               std::uint32_t mask, std::size_t count);

// The default public DNS servers for consecutive addressing and the
// batch-debug rows, used when the PC has none.
inline constexpr const char* kFallbackDns1 = "8.8.8.8";
inline constexpr const char* kFallbackDns2 = "1.1.1.1";

// Gateway and DNS for a range the PC's own subnet suggests: an empty,
// "0.0.0.0" or "255.255.255.255" gateway becomes network + 1, such DNS
// servers become the fallbacks.
struct RangeDefaults {
  std::string start, mask, gateway, dns1, dns2;
};
RangeDefaults SuggestRangeDefaults(std::uint32_t start, std::uint32_t network, const std::string& mask,
                                   const std::string& gateway, const std::string& dns1, const std::string& dns2);

// The change-address dialog's start values from a device's LAN settings: a
// netmask that is not a valid mask becomes 255.255.255.0; a gateway outside
// the address's subnet becomes the subnet's first host.
LANConfigInfo PrepareChangeIpValues(const LANConfigInfo& lan);

// DHCP for a device without an address ("0.0.0.0"): the address, mask and
// gateway it is sent with.
void ApplyDhcpDefaults(LANConfigInfo& lan);

}  // namespace kelvara::discovery
