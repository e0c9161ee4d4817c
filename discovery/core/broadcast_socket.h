#pragma once
// UDP broadcast sockets of the discovery protocol, one per local IPv4 address.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvara::discovery {

// IPv4 addresses in network byte order (as inet_addr gives them).
using Ipv4 = std::uint32_t;

// The local addresses the search uses: every usable IPv4 address of an
// adapter that is up (the loopback is no adapter). Injected in tests.
using AdapterSource = std::function<std::vector<Ipv4>()>;
std::vector<Ipv4> LocalIpv4Addresses();

// The adapter table: the given addresses, de-duplicated and ascending, with
// the any-address entry 0 first.
std::vector<Ipv4> AdapterTable(const std::vector<Ipv4>& addresses);

std::string DottedText(Ipv4 address);

// A UDP socket with broadcast and address reuse, a receive buffer large
// enough for the replies of a thousand devices, bound to address:port
// (port 0: the system picks). -1 on failure (logged).
int OpenBroadcastSocket(Ipv4 address, std::uint16_t port);

// Where requests go: 255.255.255.255:3001, or a test's own port.
struct Destination {
  Ipv4 address = 0xFFFFFFFFu;
  std::uint16_t port = 3001;
};

// Sends `text` once from every socket. A socket that is not writable within
// `wait_ms`, or whose send fails, is logged and skipped: the other adapters
// still send. Returns the number of sockets that sent the whole text.
// `lastError` (one entry per socket, when given) keeps each socket's last
// send error, so a card that keeps failing is logged once, not every second.
int SendFromEach(const std::vector<int>& sockets, std::string_view text, Destination to,
                 int wait_ms, std::vector<int>* lastError = nullptr);

// Sends `text` once from a temporary socket per local address (the any
// address included), for commands given while no search runs. Returns 0.
int BroadcastToAllAdapters(std::string_view text, const AdapterSource& adapters = LocalIpv4Addresses,
                           Destination to = {});

}  // namespace kelvara::discovery
