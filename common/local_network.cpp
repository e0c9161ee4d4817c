#include "common/local_network.h"

#include <arpa/inet.h>
#include <linux/if_addr.h>
#include <net/if.h>
#include <linux/if_arp.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

#include "common/debug_log.h"

namespace kelvara {
namespace {

// The public address whose route tells which adapter leads to the outside.
// Only the kernel's routing table is asked; nothing is sent.
constexpr char kOutsideProbeAddress[] = "8.8.8.8";
constexpr char kDefaultPublicDns[] = "8.8.8.8";

// A netlink route socket for one query, closed on scope exit.
class RouteSocket {
 public:
  RouteSocket() : fd_(socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE)) {
    if (fd_ >= 0) {
      timeval tv{1, 0};  // the kernel answers at once; never hang on it
      setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    }
  }
  ~RouteSocket() {
    if (fd_ >= 0) close(fd_);
  }
  RouteSocket(const RouteSocket&) = delete;
  RouteSocket& operator=(const RouteSocket&) = delete;

  // Sends one request and hands each answer message to `on_message` until
  // the end of the dump (or the single answer). False on any error.
  bool Query(nlmsghdr* request, const std::function<void(const nlmsghdr*)>& on_message) {
    if (fd_ < 0) return false;
    request->nlmsg_seq = ++seq_;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (sendto(fd_, request, request->nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof(kernel)) < 0) {
      return false;
    }
    const bool dump = (request->nlmsg_flags & NLM_F_DUMP) != 0;
    alignas(nlmsghdr) char buf[32768];
    for (int rounds = 0; rounds < 100000; ++rounds) {
      const ssize_t n = recv(fd_, buf, sizeof(buf), 0);
      if (n <= 0) return false;
      auto len = static_cast<unsigned>(n);
      for (auto* h = reinterpret_cast<nlmsghdr*>(buf); NLMSG_OK(h, len); h = NLMSG_NEXT(h, len)) {
        if (h->nlmsg_seq != seq_) continue;
        if (h->nlmsg_type == NLMSG_DONE) return true;
        if (h->nlmsg_type == NLMSG_ERROR) {
          const auto* err = static_cast<const nlmsgerr*>(NLMSG_DATA(h));
          return err->error == 0;
        }
        on_message(h);
        if (!dump) return true;
      }
    }
    return false;
  }

 private:
  int fd_;
  unsigned seq_ = 0;
};

template <class T>
struct Request {
  nlmsghdr header;
  T body;
  char attributes[64];
};

template <class T>
Request<T> MakeRequest(std::uint16_t type, std::uint16_t flags) {
  Request<T> r{};
  r.header.nlmsg_len = NLMSG_LENGTH(sizeof(T));
  r.header.nlmsg_type = type;
  r.header.nlmsg_flags = NLM_F_REQUEST | flags;
  return r;
}

// Calls fn(type, data, length) for each attribute of a message.
template <class T, class F>
void ForEachAttribute(const nlmsghdr* h, F fn) {
  const auto* body = static_cast<const T*>(NLMSG_DATA(h));
  int len = static_cast<int>(h->nlmsg_len) - static_cast<int>(NLMSG_LENGTH(sizeof(T)));
  const auto* a = reinterpret_cast<const rtattr*>(reinterpret_cast<const char*>(body) + NLMSG_ALIGN(sizeof(T)));
  for (; RTA_OK(a, len); a = RTA_NEXT(a, len)) fn(a->rta_type, RTA_DATA(a), RTA_PAYLOAD(a));
}

std::uint32_t Read32(const void* p) {
  std::uint32_t v;
  std::memcpy(&v, p, sizeof(v));
  return v;
}

std::uint32_t PrefixToMask(unsigned prefix) {
  return prefix == 0 ? 0 : htonl(prefix >= 32 ? 0xFFFFFFFFu : ~((1u << (32 - prefix)) - 1));
}

bool Usable(std::uint32_t address) { return address != 0 && address != 0xFFFFFFFFu; }

struct Route {
  int oif = 0;
  std::uint32_t gateway = 0;
  std::uint32_t priority = 0;
};

bool ReadLinks(RouteSocket& nl, std::vector<AdapterInfo>& adapters) {
  auto req = MakeRequest<ifinfomsg>(RTM_GETLINK, NLM_F_DUMP);
  req.body.ifi_family = AF_UNSPEC;
  return nl.Query(&req.header, [&](const nlmsghdr* h) {
    if (h->nlmsg_type != RTM_NEWLINK) return;
    const auto* info = static_cast<const ifinfomsg*>(NLMSG_DATA(h));
    if (info->ifi_flags & IFF_LOOPBACK) return;
    AdapterInfo a;
    a.index = info->ifi_index;
    a.type = info->ifi_type;
    a.up = (info->ifi_flags & IFF_UP) != 0;
    ForEachAttribute<ifinfomsg>(h, [&](int type, const void* data, size_t len) {
      if (type == IFLA_IFNAME) {
        a.name.assign(static_cast<const char*>(data), strnlen(static_cast<const char*>(data), len));
      } else if (type == IFLA_IFALIAS) {
        a.description.assign(static_cast<const char*>(data), strnlen(static_cast<const char*>(data), len));
      } else if (type == IFLA_ADDRESS) {
        a.mac_length = static_cast<int>(std::min(len, a.mac.size()));
        std::memcpy(a.mac.data(), data, static_cast<size_t>(a.mac_length));
      }
    });
    if (a.description.empty()) a.description = a.name;
    adapters.push_back(std::move(a));
  });
}

bool ReadAddresses(RouteSocket& nl, std::vector<AdapterInfo>& adapters) {
  auto req = MakeRequest<ifaddrmsg>(RTM_GETADDR, NLM_F_DUMP);
  req.body.ifa_family = AF_INET;
  return nl.Query(&req.header, [&](const nlmsghdr* h) {
    if (h->nlmsg_type != RTM_NEWADDR) return;
    const auto* info = static_cast<const ifaddrmsg*>(NLMSG_DATA(h));
    if (info->ifa_family != AF_INET) return;
    auto it = std::find_if(adapters.begin(), adapters.end(),
                           [&](const AdapterInfo& a) { return a.index == static_cast<int>(info->ifa_index); });
    if (it == adapters.end() || !it->up) return;
    std::uint32_t local = 0, address = 0, flags = info->ifa_flags;
    ForEachAttribute<ifaddrmsg>(h, [&](int type, const void* data, size_t len) {
      if (type == IFA_LOCAL && len >= 4) local = Read32(data);
      if (type == IFA_ADDRESS && len >= 4) address = Read32(data);
      if (type == IFA_FLAGS && len >= 4) flags = Read32(data);
    });
    if (it->addresses.empty()) it->dhcp_enabled = (flags & IFA_F_PERMANENT) == 0;
    it->addresses.push_back({local != 0 ? local : address, PrefixToMask(info->ifa_prefixlen)});
  });
}

bool ReadDefaultRoutes(RouteSocket& nl, std::vector<Route>& routes) {
  auto req = MakeRequest<rtmsg>(RTM_GETROUTE, NLM_F_DUMP);
  req.body.rtm_family = AF_INET;
  return nl.Query(&req.header, [&](const nlmsghdr* h) {
    if (h->nlmsg_type != RTM_NEWROUTE) return;
    const auto* info = static_cast<const rtmsg*>(NLMSG_DATA(h));
    if (info->rtm_family != AF_INET || info->rtm_dst_len != 0 || info->rtm_type != RTN_UNICAST) return;
    Route r;
    std::uint32_t table = info->rtm_table;
    ForEachAttribute<rtmsg>(h, [&](int type, const void* data, size_t len) {
      if (len < 4) return;
      if (type == RTA_OIF) r.oif = static_cast<int>(Read32(data));
      if (type == RTA_GATEWAY) r.gateway = Read32(data);
      if (type == RTA_PRIORITY) r.priority = Read32(data);
      if (type == RTA_TABLE) table = Read32(data);
    });
    if (table == RT_TABLE_MAIN && r.gateway != 0) routes.push_back(r);
  });
}

// The interface the kernel would send a packet to `destination` through; 0
// when it has no route.
int BestInterfaceIndex(RouteSocket& nl, std::uint32_t destination) {
  auto req = MakeRequest<rtmsg>(RTM_GETROUTE, 0);
  req.body.rtm_family = AF_INET;
  req.body.rtm_dst_len = 32;
  auto* attr = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(&req) + NLMSG_ALIGN(req.header.nlmsg_len));
  attr->rta_type = RTA_DST;
  attr->rta_len = RTA_LENGTH(4);
  std::memcpy(RTA_DATA(attr), &destination, 4);
  req.header.nlmsg_len = NLMSG_ALIGN(req.header.nlmsg_len) + RTA_ALIGN(attr->rta_len);
  int index = 0;
  nl.Query(&req.header, [&](const nlmsghdr* h) {
    if (h->nlmsg_type != RTM_NEWROUTE) return;
    ForEachAttribute<rtmsg>(h, [&](int type, const void* data, size_t len) {
      if (type == RTA_OIF && len >= 4) index = static_cast<int>(Read32(data));
    });
  });
  return index;
}

bool ReadAdapters(RouteSocket& nl, std::vector<AdapterInfo>& adapters) {
  adapters.clear();
  std::vector<Route> routes;
  if (!ReadLinks(nl, adapters) || !ReadAddresses(nl, adapters) || !ReadDefaultRoutes(nl, routes)) {
    adapters.clear();
    return false;
  }
  std::stable_sort(routes.begin(), routes.end(), [](const Route& a, const Route& b) { return a.priority < b.priority; });
  for (const Route& r : routes) {
    for (AdapterInfo& a : adapters) {
      if (a.index == r.oif) a.gateways.push_back(r.gateway);
    }
  }
  return true;
}

}  // namespace

std::vector<AdapterInfo> GetAdapters() {
  RouteSocket nl;
  std::vector<AdapterInfo> adapters;
  ReadAdapters(nl, adapters);
  return adapters;
}

std::map<std::uint32_t, AdapterInfo> GetAdapterAddressMap() {
  std::map<std::uint32_t, AdapterInfo> map;
  for (const AdapterInfo& a : GetAdapters()) {
    for (const AdapterAddress& addr : a.addresses) {
      if (Usable(addr.address)) map[addr.address] = a;
    }
  }
  return map;
}

std::uint32_t GetFirstAdapterAddress(std::uint32_t& address, std::uint32_t& mask, std::uint32_t& gateway) {
  for (const AdapterInfo& a : GetAdapters()) {
    if (a.addresses.empty() || !Usable(a.addresses.front().address)) continue;
    address = a.addresses.front().address;
    mask = a.addresses.front().mask;
    gateway = a.gateways.empty() ? 0 : a.gateways.front();
    return address;
  }
  return 0;
}

void GetDefaultNetworkConfig(LocalNetworkConfig& config) {
  config.ip = "192.168.1.253";
  config.mask = "255.255.255.0";
  config.gateway = "192.168.1.1";
  config.dns1 = "192.168.1.1";
  config.dns2 = kDefaultPublicDns;
}

std::vector<std::uint32_t> ReadDnsServers(const std::filesystem::path& resolv_conf) {
  std::vector<std::uint32_t> servers;
  std::ifstream in(resolv_conf);
  std::string line;
  for (int lines = 0; lines < 10000 && std::getline(in, line); ++lines) {
    std::istringstream words(line);
    std::string key, value;
    if (!(words >> key >> value) || key != "nameserver") continue;
    in_addr a{};
    if (inet_pton(AF_INET, value.c_str(), &a) != 1) continue;  // IPv6 or junk
    if ((ntohl(a.s_addr) >> 24) == 127) continue;
    servers.push_back(a.s_addr);
  }
  return servers;
}

int GetLocalNetworkConfig(LocalNetworkConfig& config, const std::filesystem::path& resolv_conf) {
  auto dns = ReadDnsServers(resolv_conf);
  if (dns.empty() && resolv_conf == "/etc/resolv.conf") {
    // systemd-resolved keeps the real servers behind its local stub.
    dns = ReadDnsServers("/run/systemd/resolve/resolv.conf");
  }
  DebugLogPrintf("GetNetworkParams OK.\n");
  config.dns1 = dns.size() > 0 ? IpToString(dns[0]) : "";
  config.dns2 = dns.size() > 1 ? IpToString(dns[1]) : "";
  DebugLogPrintf("DNS1: %s\n", config.dns1.c_str());
  DebugLogPrintf("DNS2: %s\n", config.dns2.c_str());

  RouteSocket nl;
  in_addr outside{};
  inet_pton(AF_INET, kOutsideProbeAddress, &outside);
  const int index = BestInterfaceIndex(nl, outside.s_addr);

  std::vector<AdapterInfo> adapters;
  if (!ReadAdapters(nl, adapters)) {
    DebugLogPrintf("GetAdaptersInfo failed!\n");
    GetDefaultNetworkConfig(config);
    return -1;
  }
  auto it = std::find_if(adapters.begin(), adapters.end(), [&](const AdapterInfo& a) { return a.index == index; });
  if (index == 0 || it == adapters.end() || it->addresses.empty() || !Usable(it->addresses.front().address)) {
    // No route to the outside (an isolated LAN, the usual bench): the first
    // adapter with a usable address, as GetFirstAdapterAddress takes it.
    it = std::find_if(adapters.begin(), adapters.end(), [](const AdapterInfo& a) {
      return !a.addresses.empty() && Usable(a.addresses.front().address);
    });
  }
  if (it == adapters.end()) {
    DebugLogPrintf("no adapter with an IPv4 address, using defaults.\n");
    GetDefaultNetworkConfig(config);
    return -1;
  }
  // A network without a gateway leaves it empty: the callers put their own
  // rule in its place (consecutive addressing: the network plus 1) rather
  // than a gateway of some other network.
  const std::uint32_t gateway = it->gateways.empty() ? 0 : it->gateways.front();
  config.gateway = gateway != 0 ? IpToString(gateway) : "";
  DebugLogPrintf("Gateway: %s\n", config.gateway.c_str());
  AdapterAddress chosen = it->addresses.front();
  for (const AdapterAddress& a : it->addresses) {
    if (gateway != 0 && (ntohl(a.address) & ntohl(a.mask)) == (ntohl(gateway) & ntohl(a.mask))) {
      chosen = a;
      break;
    }
  }
  config.ip = IpToString(chosen.address);
  config.mask = IpToString(chosen.mask);
  DebugLogPrintf("IPAddress: %s\n", config.ip.c_str());
  DebugLogPrintf("NetMask: %s\n", config.mask.c_str());
  // A network without a DNS server of its own: the gateway usually answers.
  if (config.dns1.empty()) config.dns1 = config.gateway;
  return 1;
}

std::uint32_t IpTextToHostOrder(std::string_view text) {
  const std::string s(text);
  in_addr a{};
  if (inet_aton(s.c_str(), &a) == 0) return 0xFFFFFFFFu;
  return ntohl(a.s_addr);
}

std::string IpToString(std::uint32_t address) {
  char buf[INET_ADDRSTRLEN];
  in_addr a{};
  a.s_addr = address;
  return inet_ntop(AF_INET, &a, buf, sizeof(buf)) ? std::string(buf) : std::string();
}

}  // namespace kelvara
