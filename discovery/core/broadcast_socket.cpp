#include "discovery/core/broadcast_socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "common/local_network.h"
#include "discovery/core/discovery_log.h"

namespace kelvara::discovery {
namespace {

// 500 replies of ~2 KB arrive within milliseconds of one broadcast; each
// costs about twice its size in kernel memory.
constexpr int kReceiveBuffer_bytes = 4 * 1024 * 1024;

}  // namespace

std::vector<Ipv4> LocalIpv4Addresses() {
  std::vector<Ipv4> out;
  for (const auto& [address, adapter] : GetAdapterAddressMap())
    if (adapter.up) out.push_back(address);
  return out;
}

std::vector<Ipv4> AdapterTable(const std::vector<Ipv4>& addresses) {
  std::vector<Ipv4> table = addresses;
  table.push_back(0);
  std::sort(table.begin(), table.end());
  table.erase(std::unique(table.begin(), table.end()), table.end());
  return table;
}

std::string DottedText(Ipv4 address) {
  char text[INET_ADDRSTRLEN] = {};
  in_addr a{};
  a.s_addr = address;
  inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

int OpenBroadcastSocket(Ipv4 address, std::uint16_t port) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    Log("OpenBroadcastSocket(): socket failed, error=%d\n", errno);
    return -1;
  }
  const int on = 1;
  if (setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
      setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
    Log("OpenBroadcastSocket(): setsockopt failed, error=%d\n", errno);
    close(fd);
    return -1;
  }
  // The forced size needs CAP_NET_ADMIN; otherwise the kernel's cap applies.
  if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &kReceiveBuffer_bytes, sizeof kReceiveBuffer_bytes) != 0)
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kReceiveBuffer_bytes, sizeof kReceiveBuffer_bytes);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = address;
  local.sin_port = htons(port);
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    Log("OpenBroadcastSocket(): bind %s failed, error=%d\n", DottedText(address).c_str(), errno);
    close(fd);
    return -1;
  }
  return fd;
}

int SendFromEach(const std::vector<int>& sockets, std::string_view text, Destination to,
                 int wait_ms, std::vector<int>* lastError) {
  if (lastError) lastError->resize(sockets.size(), 0);
  sockaddr_in dest{};
  dest.sin_family = AF_INET;
  dest.sin_addr.s_addr = to.address;
  dest.sin_port = htons(to.port);
  int sent = 0;
  for (std::size_t i = 0; i < sockets.size(); ++i) {
    const int fd = sockets[i];
    if (fd < 0) continue;
    pollfd p{fd, POLLOUT, 0};
    const int ready = poll(&p, 1, wait_ms);
    if (ready < 0) {
      Log("SearchIPCThread(): select failed, error=%d\n", errno);
      continue;
    }
    if (ready == 0) continue;
    if (p.revents & (POLLERR | POLLNVAL)) {
      // Clears the pending error (for example an ICMP unreachable) so the next send can go.
      int err = 0;
      socklen_t len = sizeof err;
      getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
      Log("SearchIPCThread(): select sock find socket error\n");
      if (!(p.revents & POLLOUT)) continue;
    }
    const ssize_t n = sendto(fd, text.data(), text.size(), MSG_NOSIGNAL,
                             reinterpret_cast<sockaddr*>(&dest), sizeof dest);
    if (n != static_cast<ssize_t>(text.size())) {
      // One card without a route (say the any-address socket on a LAN with
      // no default route) must not silence the others.
      const int error = n < 0 ? errno : EMSGSIZE;
      if (!lastError || (*lastError)[i] != error) Log("SearchIPCThread(): sendto failed, error=%d\n", error);
      if (lastError) (*lastError)[i] = error;
      continue;
    }
    if (lastError) (*lastError)[i] = 0;
    ++sent;
  }
  return sent;
}

int BroadcastToAllAdapters(std::string_view text, const AdapterSource& adapters, Destination to) {
  std::vector<int> sockets;
  for (Ipv4 a : AdapterTable(adapters ? adapters() : std::vector<Ipv4>{}))
    sockets.push_back(OpenBroadcastSocket(a, 0));
  SendFromEach(sockets, text, to, 1000);
  for (int fd : sockets)
    if (fd >= 0) close(fd);
  return 0;
}

}  // namespace kelvara::discovery
