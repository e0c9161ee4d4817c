#include "lan_addresses.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <ifaddrs.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netpacket/packet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace kelvara::devsim {
namespace {

std::string Text(uint32_t host) {
  in_addr a{};
  a.s_addr = htonl(host);
  char buf[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &a, buf, sizeof buf);
  return buf;
}

uint32_t Mask(int prefix) { return prefix <= 0 ? 0 : ~uint32_t{0} << (32 - prefix); }

// The interface whose IPv4 network holds `ip` (the longest prefix wins), with
// its hardware address for the ARP probe.
struct Network {
  int ifindex = 0;
  int prefix = -1;
  std::string name;
  unsigned char mac[ETH_ALEN] = {};
  bool has_mac = false;
};

Network FindNetwork(uint32_t ip) {
  Network best;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return best;
  for (const ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
    if (i->ifa_addr == nullptr || i->ifa_netmask == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
    if ((i->ifa_flags & IFF_LOOPBACK) || !(i->ifa_flags & IFF_UP)) continue;
    const uint32_t addr = ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
    const uint32_t mask = ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr);
    const int prefix = __builtin_popcount(mask);
    if ((addr & mask) != (ip & mask) || prefix <= best.prefix) continue;
    best.prefix = prefix;
    best.name = i->ifa_name;
    best.ifindex = static_cast<int>(if_nametoindex(i->ifa_name));
  }
  for (const ifaddrs* i = list; i != nullptr && best.prefix >= 0; i = i->ifa_next) {
    if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_PACKET || best.name != i->ifa_name) continue;
    const auto* ll = reinterpret_cast<const sockaddr_ll*>(i->ifa_addr);
    if (ll->sll_halen == ETH_ALEN) {
      std::memcpy(best.mac, ll->sll_addr, ETH_ALEN);
      best.has_mac = true;
    }
  }
  freeifaddrs(list);
  return best;
}

// An ARP probe (sender address 0.0.0.0, as a device checks an address before
// taking it): true when another host answers for `ip` within ~300 ms. Without
// a packet socket (no CAP_NET_RAW) nothing can be told: false.
bool AnsweredByAnotherHost(const Network& net, uint32_t ip) {
  if (!net.has_mac) return false;
  const int fd = socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_ARP));
  if (fd < 0) return false;
  sockaddr_ll at{};
  at.sll_family = AF_PACKET;
  at.sll_protocol = htons(ETH_P_ARP);
  at.sll_ifindex = net.ifindex;
  if (bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
    close(fd);
    return false;
  }
  struct __attribute__((packed)) ArpPacket {
    arphdr h;
    unsigned char sha[ETH_ALEN];
    uint32_t spa;
    unsigned char tha[ETH_ALEN];
    uint32_t tpa;
  } probe{};
  probe.h.ar_hrd = htons(ARPHRD_ETHER);
  probe.h.ar_pro = htons(ETH_P_IP);
  probe.h.ar_hln = ETH_ALEN;
  probe.h.ar_pln = 4;
  probe.h.ar_op = htons(ARPOP_REQUEST);
  std::memcpy(probe.sha, net.mac, ETH_ALEN);
  probe.tpa = htonl(ip);
  sockaddr_ll to = at;
  to.sll_halen = ETH_ALEN;
  std::memset(to.sll_addr, 0xFF, ETH_ALEN);
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::milliseconds(300);
  auto next_probe = Clock::now();
  bool answered = false;
  while (!answered && Clock::now() < end) {
    if (Clock::now() >= next_probe) {
      sendto(fd, &probe, sizeof probe, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
      next_probe += std::chrono::milliseconds(100);
    }
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    ArpPacket in{};
    if (recv(fd, &in, sizeof in, 0) != static_cast<ssize_t>(sizeof in)) continue;
    // A reply for the address, or another host announcing it.
    answered = in.spa == htonl(ip) && std::memcmp(in.sha, net.mac, ETH_ALEN) != 0;
  }
  close(fd);
  return answered;
}

// Sends one netlink request and reads its acknowledgement: 0 or -errno.
int NetlinkRequest(int fd, const void* request, size_t size) {
  if (send(fd, request, size, 0) != static_cast<ssize_t>(size)) return -errno;
  alignas(nlmsghdr) char buf[4096];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 1000) <= 0) return -ETIMEDOUT;
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n < 0) return -errno;
    for (auto* h = reinterpret_cast<nlmsghdr*>(buf); NLMSG_OK(h, n); h = NLMSG_NEXT(h, n)) {
      if (h->nlmsg_type == NLMSG_ERROR) return reinterpret_cast<const nlmsgerr*>(NLMSG_DATA(h))->error;
    }
  }
}

}  // namespace

bool InPrivateNamespace() {
  struct stat mine {};
  if (stat("/proc/thread-self/ns/net", &mine) != 0) return false;
  auto same = [&mine](const struct stat& other) {
    return other.st_ino == mine.st_ino && other.st_dev == mine.st_dev;
  };
  struct stat init {};
  const bool init_known = stat("/proc/1/ns/net", &init) == 0;
  if (init_known && same(init)) return false;
  if (DIR* dir = opendir("/run/netns")) {
    bool named = false;
    while (dirent* e = readdir(dir)) {
      struct stat st {};
      if (e->d_name[0] != '.' && stat((std::string("/run/netns/") + e->d_name).c_str(), &st) == 0 &&
          same(st)) {
        named = true;
        break;
      }
    }
    closedir(dir);
    if (named) return true;
  }
  return init_known;
}

bool IsLocalAddress(const std::string& ip) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  if (inet_pton(AF_INET, ip.c_str(), &a.sin_addr) != 1) return false;
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  // Without IP_FREEBIND a bind succeeds only for an address of the namespace.
  const bool local = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(fd);
  return local;
}

InterfaceAddresses::InterfaceAddresses(std::function<void(const std::string&)> notice)
    : notice_(std::move(notice)) {}

InterfaceAddresses::~InterfaceAddresses() {
  if (route_fd_ >= 0) close(route_fd_);
  if (diag_fd_ >= 0) close(diag_fd_);
}

std::vector<std::string> InterfaceAddresses::added() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  for (const Added& a : added_) out.push_back(Text(a.ip));
  return out;
}

bool InterfaceAddresses::OpenSockets() {
  if (route_fd_ < 0) route_fd_ = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (diag_fd_ < 0) diag_fd_ = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
  return route_fd_ >= 0 && diag_fd_ >= 0;
}

bool InterfaceAddresses::ChangeAddress(bool add, const Added& a, int& error) {
  struct {
    nlmsghdr h;
    ifaddrmsg m;
    char attrs[64];
  } req{};
  req.h.nlmsg_len = NLMSG_LENGTH(sizeof(ifaddrmsg));
  req.h.nlmsg_type = add ? RTM_NEWADDR : RTM_DELADDR;
  req.h.nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK | (add ? NLM_F_CREATE | NLM_F_EXCL : 0);
  req.m.ifa_family = AF_INET;
  req.m.ifa_prefixlen = static_cast<unsigned char>(a.prefix);
  req.m.ifa_scope = RT_SCOPE_UNIVERSE;
  req.m.ifa_index = static_cast<unsigned>(a.ifindex);
  const uint32_t addr = htonl(a.ip);
  for (const unsigned short type : {IFA_LOCAL, IFA_ADDRESS}) {
    auto* rta = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(&req) + NLMSG_ALIGN(req.h.nlmsg_len));
    rta->rta_type = type;
    rta->rta_len = RTA_LENGTH(sizeof addr);
    std::memcpy(RTA_DATA(rta), &addr, sizeof addr);
    req.h.nlmsg_len = NLMSG_ALIGN(req.h.nlmsg_len) + RTA_ALIGN(rta->rta_len);
  }
  error = NetlinkRequest(route_fd_, &req, req.h.nlmsg_len);
  return error == 0;
}

// True when a TCP socket of the namespace listens on `ip` (sock_diag).
bool InterfaceAddresses::Listening(uint32_t ip) {
  struct {
    nlmsghdr h;
    inet_diag_req_v2 r;
  } req{};
  req.h.nlmsg_len = sizeof req;
  req.h.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  req.h.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  req.r.sdiag_family = AF_INET;
  req.r.sdiag_protocol = IPPROTO_TCP;
  req.r.idiag_states = 1u << TCP_LISTEN;
  if (send(diag_fd_, &req, sizeof req, 0) != static_cast<ssize_t>(sizeof req)) return true;  // keep it
  alignas(nlmsghdr) char buf[16384];
  bool found = false;
  for (;;) {
    pollfd p{diag_fd_, POLLIN, 0};
    if (poll(&p, 1, 1000) <= 0) return true;
    ssize_t n = recv(diag_fd_, buf, sizeof buf, 0);
    if (n <= 0) return true;
    for (auto* h = reinterpret_cast<nlmsghdr*>(buf); NLMSG_OK(h, n); h = NLMSG_NEXT(h, n)) {
      if (h->nlmsg_type == NLMSG_DONE) return found;
      if (h->nlmsg_type == NLMSG_ERROR) return true;
      const auto* m = reinterpret_cast<const inet_diag_msg*>(NLMSG_DATA(h));
      if (m->id.idiag_src[0] == htonl(ip)) found = true;
    }
  }
}

InterfaceAddresses::Outcome InterfaceAddresses::Ensure(const std::string& ip, const std::string& who) {
  in_addr parsed{};
  if (inet_pton(AF_INET, ip.c_str(), &parsed) != 1) {
    notice_(who + ": " + ip + " is no IPv4 address: unreachable");
    return Outcome::kOutsideNetwork;
  }
  if (IsLocalAddress(ip)) return Outcome::kPresent;
  const uint32_t host = ntohl(parsed.s_addr);
  const std::string unreachable = who + ": " + ip + " is not on any interface and ";
  const Network net = FindNetwork(host);
  const uint32_t mask = Mask(net.prefix);
  if (net.prefix < 0 || (net.prefix < 31 && ((host & ~mask) == 0 || (host & ~mask) == ~mask))) {
    notice_(unreachable + (net.prefix < 0 ? "outside every network here" : "no host address of " + net.name +
                                                                                "'s network") +
            ": unreachable, as a camera would be");
    return Outcome::kOutsideNetwork;
  }
  if (!InPrivateNamespace()) {
    notice_(unreachable + "devsim adds addresses only inside a test LAN namespace: unreachable");
    return Outcome::kNotAllowed;
  }
  std::lock_guard lock(mutex_);
  if (!OpenSockets()) {
    notice_(unreachable + "devsim may not add it (netlink: " + std::strerror(errno) + "): unreachable");
    return Outcome::kNotAllowed;
  }
  if (AnsweredByAnotherHost(net, host)) {
    notice_(unreachable + "another host of the LAN answers for it (an address conflict): not added");
    return Outcome::kInUse;
  }
  const Added a{host, net.ifindex, net.prefix};
  int error = 0;
  if (!ChangeAddress(true, a, error)) {
    if (error == -EEXIST) return Outcome::kPresent;  // added meanwhile by another simulator
    const bool denied = error == -EPERM || error == -EACCES;
    notice_(unreachable + (denied ? "devsim may not add it (run it as root in the test LAN)"
                                  : "adding it failed (" + std::string(std::strerror(-error)) + ")") +
            ": unreachable");
    return denied ? Outcome::kNotAllowed : Outcome::kFailed;
  }
  added_.push_back(a);
  notice_(who + ": added " + ip + "/" + std::to_string(net.prefix) + " to " + net.name +
          " (removed again when devsim ends)");
  return Outcome::kAdded;
}

void InterfaceAddresses::RemoveAdded() {
  std::lock_guard lock(mutex_);
  for (const Added& a : added_) {
    if (Listening(a.ip)) {
      notice_("kept " + Text(a.ip) + ": another program still listens on it");
      continue;
    }
    int error = 0;
    if (!ChangeAddress(false, a, error) && error != -EADDRNOTAVAIL) {
      notice_("removing " + Text(a.ip) + " failed (" + std::strerror(-error) + ")");
    }
  }
  added_.clear();
}

}  // namespace kelvara::devsim
