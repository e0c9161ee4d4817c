#pragma once
// What the PC's own IPv4 network looks like: its adapters and their
// addresses, the adapter that routes to the outside with its gateway, and the
// DNS servers. Read from the kernel (rtnetlink) and /etc/resolv.conf on every
// call, for the network namespace of the calling thread. Stateless; any
// thread may call them. Failures give an empty result, 0 or -1, never an
// exception.
//
// Addresses as numbers are 32-bit values in network byte order, as
// inet_addr returns them.
#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace kelvara {

struct AdapterAddress {
  std::uint32_t address = 0;  // network order
  std::uint32_t mask = 0;     // network order
};

// One network adapter (a network interface that is not the loopback).
struct AdapterInfo {
  std::string name;                  // interface name, e.g. "eth0"
  std::string description;           // the interface's alias when it has one, else its name
  std::array<std::uint8_t, 8> mac{};  // hardware address, mac_length bytes used
  int mac_length = 0;
  int index = 0;                     // kernel interface index
  int type = 0;                      // hardware type (ARPHRD_ETHER, ...)
  bool dhcp_enabled = false;         // its first address is leased (has a finite lifetime)
  bool up = false;
  std::vector<AdapterAddress> addresses;  // IPv4 addresses while the adapter is up, in kernel order
  std::vector<std::uint32_t> gateways;    // gateways of its default routes, best metric first
};

// Adapters in the kernel's order (by interface index); empty on failure.
std::vector<AdapterInfo> GetAdapters();

// Every usable local address (neither 0 nor all-ones) mapped to its adapter;
// a later adapter with the same address replaces the earlier one.
std::map<std::uint32_t, AdapterInfo> GetAdapterAddressMap();

// The first adapter whose first address is usable: stores that address, its
// mask and the adapter's first gateway (0 when it has none) and returns the
// address. 0, outputs untouched, when no adapter qualifies.
std::uint32_t GetFirstAdapterAddress(std::uint32_t& address, std::uint32_t& mask, std::uint32_t& gateway);

// Dotted IPv4 texts, at most 31 characters each.
struct LocalNetworkConfig {
  std::string ip;
  std::string mask;
  std::string gateway;
  std::string dns1;
  std::string dns2;  // may be empty: only one DNS server known
};

// Address, mask and gateway of the adapter that routes to the outside, and the
// DNS servers. Without a route to the outside (a LAN with no default route)
// the address and mask are those of the first adapter with a usable address
// and the gateway is empty, as is DNS 1 when no server is known. 1 on
// success; -1 when it fell back to the built-in defaults (the adapters could
// not be read, or none has a usable IPv4 address).
int GetLocalNetworkConfig(LocalNetworkConfig& config,
                          const std::filesystem::path& resolv_conf = "/etc/resolv.conf");

// Built-in defaults: 192.168.1.253/255.255.255.0, gateway and DNS 1
// 192.168.1.1, DNS 2 a public DNS server.
void GetDefaultNetworkConfig(LocalNetworkConfig& config);

// IPv4 DNS servers of a resolv.conf, in file order, loopback ones skipped
// (a local resolver's address means nothing to a device).
std::vector<std::uint32_t> ReadDnsServers(const std::filesystem::path& resolv_conf);

// The dotted text's address in host byte order; all-ones when unparsable.
std::uint32_t IpTextToHostOrder(std::string_view text);

// Dotted text of an address in network order.
std::string IpToString(std::uint32_t address);

}  // namespace kelvara
