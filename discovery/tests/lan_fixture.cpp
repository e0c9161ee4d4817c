#include "discovery/tests/lan_fixture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

namespace kelvara::discovery::test {
namespace {

std::mutex gMutex;
int gCards = 0;
std::string gError;
std::string gLan;

ino_t NetNsInode(const char* path) {
  struct stat st{};
  return stat(path, &st) == 0 ? st.st_ino : 0;
}

void DeleteLan() {
  if (!gLan.empty()) LanFixture::Shell("ip netns del " + gLan + " 2>/dev/null");
}

}  // namespace

bool LanFixture::Shell(const std::string& cmd) { return std::system(cmd.c_str()) == 0; }

std::string LanFixture::PcAddress(int card) { return "10." + std::to_string(77 + card) + ".0.1"; }

std::string LanFixture::LanNamespace() { return gLan; }

bool LanFixture::AddLanAddress(int card, const std::string& address) {
  return Shell("ip -n " + gLan + " addr add " + address + "/16 dev lan" + std::to_string(card) +
               " 2>/dev/null || ip -n " + gLan + " addr show dev lan" + std::to_string(card) +
               " | grep -q 'inet " + address + "/'");
}

bool LanFixture::RunInLan(const std::function<void()>& fn) {
  bool entered = false;
  std::thread t([&] {
    const int ns = open(("/run/netns/" + gLan).c_str(), O_RDONLY | O_CLOEXEC);
    entered = ns >= 0 && setns(ns, CLONE_NEWNET) == 0;
    if (ns >= 0) close(ns);
    if (entered) fn();
  });
  t.join();
  return entered;
}

bool LanFixture::Enter(int cards, std::string* why) {
  std::lock_guard lock(gMutex);
  if (gCards >= cards) return true;
  if (!gError.empty()) {
    if (why) *why = gError;
    return false;
  }
  auto fail = [&](std::string reason) {
    gError = std::move(reason);
    if (why) *why = gError;
    return false;
  };
  if (gCards == 0) {
    const ino_t before = NetNsInode("/proc/self/ns/net");
    if (unshare(CLONE_NEWNET) != 0) return fail("cannot create a network namespace (needs root)");
    // The guard: never broadcast in the namespace this process started in.
    if (NetNsInode("/proc/self/ns/net") == before) return fail("still in the machine's namespace");
    gLan = "kvdisc" + std::to_string(getpid());
    if (!Shell("ip link set lo up && ip netns add " + gLan + " && ip -n " + gLan + " link set lo up"))
      return fail("ip netns add failed");
    std::atexit(DeleteLan);
  }
  for (int i = gCards; i < cards; ++i) {
    const std::string net = "10." + std::to_string(77 + i) + ".0.";
    const std::string pc = "pc" + std::to_string(i), lan = "lan" + std::to_string(i);
    if (!Shell("ip link add " + pc + " type veth peer name " + lan + " netns " + gLan +
               " && ip addr add " + net + "1/16 dev " + pc + " && ip link set " + pc + " up" +
               " && ip -n " + gLan + " addr add " + net + "2/16 dev " + lan + " && ip -n " + gLan +
               " link set " + lan + " up"))
      return fail("veth set-up failed");
  }
  gCards = cards;
  // Let the veth pairs come up (carrier) before the first broadcast.
  for (int i = 0; i < 100; ++i) {
    bool up = true;
    for (int c = 0; c < cards; ++c)
      up = up && Shell("ip link show pc" + std::to_string(c) + " | grep -q LOWER_UP");
    if (up) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

FakeDevices::FakeDevices(int card, std::function<std::vector<std::string>()> replies)
    : replies_(std::move(replies)) {
  wakeFd_ = eventfd(0, EFD_CLOEXEC);
  thread_ = std::thread([this, card] { Loop(card); });
  for (int i = 0; i < 200 && !ready_; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

FakeDevices::~FakeDevices() {
  stop_ = true;
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
  thread_.join();
  close(wakeFd_);
}

std::vector<std::string> FakeDevices::Received() {
  std::lock_guard lock(mutex_);
  return received_;
}

void FakeDevices::SetReplies(std::function<std::vector<std::string>()> replies) {
  std::lock_guard lock(mutex_);
  replies_ = std::move(replies);
}

void FakeDevices::Loop(int card) {
  // Only this thread moves into the LAN namespace.
  const int ns = open(("/run/netns/" + LanFixture::LanNamespace()).c_str(), O_RDONLY | O_CLOEXEC);
  if (ns < 0 || setns(ns, CLONE_NEWNET) != 0) return;
  close(ns);
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  const std::string dev = "lan" + std::to_string(card);
  setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, dev.c_str(), dev.size());
  const int big = 4 << 20;
  setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &big, sizeof big);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(3001);
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    close(fd);
    return;
  }
  ready_ = true;
  std::vector<char> buffer(65536);
  pollfd p[2] = {{fd, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
  while (!stop_) {
    if (poll(p, 2, 1000) <= 0 || !(p[0].revents & POLLIN)) continue;
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n = recvfrom(fd, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n <= 0) continue;
    std::string text(buffer.data(), static_cast<std::size_t>(n));
    std::vector<std::string> replies;
    {
      std::lock_guard lock(mutex_);
      received_.push_back(text);
      if (text.find("Msg_code=\"1\"") != std::string::npos && replies_) replies = replies_();
    }
    for (const auto& r : replies)
      sendto(fd, r.data(), r.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
  }
  close(fd);
}

}  // namespace kelvara::discovery::test
