// LAN hosts against the TFTP helper as the recovery window runs it: the
// zqfileserver program started in its firmware folder with no arguments on
// the PC side of the test LAN (UDP 69 of every address). A hostile host with
// many addresses on the LAN side takes every transfer slot and keeps taking
// them; an honest client (curl) must still get its image within 10 s each
// time, and a boot loader asking for 8-byte blocks must finish while slots
// change hands around it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "kelvara_test/test_env.h"
#include "kelvara_test/test_lan.h"
#include "tftp_packets.h"
#include "tftp_test_client.h"

namespace kelvara::tftp {
namespace {

namespace fs = std::filesystem;
using ::kelvara::test::LanSide;
using ::kelvara::test::TestLan;
using ::kelvara::test::TestLanOptions;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kSlots = 64;      // the helper's bound on transfers at once
constexpr int kPerAddress = 4;  // and on those of one client address
// The silent requests that follow the first 64 come from addresses of their
// own (a spoofing host has as many as it likes): 48 at one every 150 ms last
// the test.
constexpr int kMoreSilentAddresses = 48;
// The hostile host's addresses are LanAddress(0 .. kSlots + 47); the boot
// loader's is the next one, the honest client's the LAN side's own.
constexpr int kBootLoaderAddress = kSlots + kMoreSilentAddresses;

std::string Bytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string out(n, '\0');
  for (char& c : out) c = static_cast<char>(gen());
  return out;
}

std::string FileText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

sockaddr_in HelperAddress() {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(69);
  inet_pton(AF_INET, TestLan::kPcAddress, &a.sin_addr);
  return a;
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The last lines of the helper's output, for a failure's message.
std::string Tail(const std::string& text) {
  return text.size() > 3000 ? text.substr(text.size() - 3000) : text;
}

enum class Load {
  // 16 addresses x 4 transfers of 65464-byte blocks: the first packet
  // acknowledged at once, then every block 45 s late (1,455 bytes a second,
  // above the rate floor). A transfer ended or refused asks again 100 ms later.
  kLateAcks,
  // Requests never acknowledged, as from spoofed sources: one from each of 64
  // addresses at once, then one more every 150 ms from a further address
  // (each would hold its slot 15 s: this keeps them all taken, and takes the
  // slots of the oldest once they have waited 2 s).
  kNoAcks,
};

// The hostile host: one socket per transfer on its LAN addresses, driven by
// one thread.
class HostileHost {
 public:
  HostileHost(TestLan& lan, Load load) : load_(load) {
    lan.CallInThread(LanSide::kLan, [&] {
      for (int i = 0; i < (load == Load::kLateAcks ? kSlots : kSlots + kMoreSilentAddresses); ++i) {
        const int address = load == Load::kLateAcks ? i / kPerAddress : i;
        Client c;
        c.fd = test_client::SocketOn(TestLan::LanAddress(address));
        clients_.push_back(c);
      }
    });
    for (const Client& c : clients_)
      if (c.fd < 0) throw std::runtime_error("cannot bind the hostile host's addresses");
    thread_ = std::thread([this] { Run(); });
  }
  ~HostileHost() {
    stop_ = true;
    thread_.join();
    for (const Client& c : clients_) close(c.fd);
  }
  // Transfers that reached the wait for an ACK that does not come (DATA 1 for
  // the late acknowledger, the first packet for the silent one), in all.
  int started() const { return started_.load(); }
  // When the first kSlots of them were all waiting.
  std::optional<Clock::time_point> full_since() const {
    std::lock_guard lock(mutex_);
    return full_since_;
  }

 private:
  struct Client {
    int fd = -1;
    bool waiting = false;  // a transfer of ours is held by the helper
    sockaddr_in tid{};
    std::optional<Clock::time_point> request_at;
    std::optional<Clock::time_point> ack_at;
    std::uint16_t ack_block = 0;
  };

  void Request(Client& c) {
    const std::string rrq = load_ == Load::kLateAcks
                                ? test_client::ReadRequest("fw.bin", {{"blksize", "65464"}, {"timeout", "10"}})
                                : test_client::ReadRequest("fw.bin", {{"timeout", "10"}});
    const sockaddr_in helper = HelperAddress();
    sendto(c.fd, rrq.data(), rrq.size(), 0, reinterpret_cast<const sockaddr*>(&helper), sizeof helper);
    c.request_at.reset();
    c.ack_at.reset();
    c.waiting = false;
    c.tid = {};
  }

  void Waiting(Client& c, const sockaddr_in& from, Clock::time_point now) {
    c.waiting = true;
    c.tid = from;
    if (++started_ == kSlots) {
      std::lock_guard lock(mutex_);
      full_since_ = now;
    }
  }

  void Run() {
    std::vector<char> buffer(70000);
    for (std::size_t i = 0; i < kSlots; ++i) Request(clients_[i]);
    auto next_spoof = Clock::now() + 150ms;
    std::size_t turn = kSlots;
    while (!stop_) {
      std::vector<pollfd> fds;
      for (const Client& c : clients_) fds.push_back({c.fd, POLLIN, 0});
      poll(fds.data(), fds.size(), 20);
      const auto now = Clock::now();
      for (std::size_t i = 0; i < clients_.size(); ++i) {
        Client& c = clients_[i];
        for (;;) {
          sockaddr_in from{};
          socklen_t length = sizeof from;
          const ssize_t n = recvfrom(c.fd, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&from), &length);
          if (n < 0) break;
          if (n < 4) continue;
          const char op = buffer[1];
          const std::uint16_t block = static_cast<std::uint16_t>((static_cast<unsigned char>(buffer[2]) << 8) |
                                                                 static_cast<unsigned char>(buffer[3]));
          if (op == kError) {  // refused, or our slot went to someone else
            c.waiting = false;
            if (load_ == Load::kLateAcks) c.request_at = now + 100ms;
            continue;
          }
          if (load_ == Load::kNoAcks) {
            if (op == kOack && from.sin_port != c.tid.sin_port) Waiting(c, from, now);
            continue;
          }
          if (op == kOack && c.tid.sin_port == 0) {
            c.tid = from;
            test_client::SendAck(c.fd, from, 0);
          } else if (op == kData && from.sin_port == c.tid.sin_port && !c.ack_at) {
            if (!c.waiting) Waiting(c, from, now);
            c.ack_at = now + 45s;
            c.ack_block = block;
          }
        }
        if (c.request_at && now >= *c.request_at) Request(c);
        if (c.ack_at && now >= *c.ack_at) {
          test_client::SendAck(c.fd, c.tid, c.ack_block);
          c.ack_at.reset();
        }
      }
      if (load_ == Load::kNoAcks && now >= next_spoof) {
        Request(clients_[turn++ % clients_.size()]);
        next_spoof += 150ms;
      }
    }
  }

  const Load load_;
  std::vector<Client> clients_;
  std::atomic<bool> stop_{false};
  std::atomic<int> started_{0};
  mutable std::mutex mutex_;
  std::optional<Clock::time_point> full_since_;
  std::thread thread_;
};

void HonestClientsFetchUnder(Load load) {
  const fs::path helper = ::kelvara::test::BinDir() / "zqfileserver";
  if (!fs::exists(helper)) GTEST_SKIP() << "no zqfileserver";
  if (std::system("command -v curl >/dev/null") != 0) GTEST_SKIP() << "curl missing";
  KELVARA_TEST_LAN_OR_SKIP(lan, (TestLanOptions{.lan_addresses = kBootLoaderAddress + 1}));

  const fs::path folder = ::kelvara::test::MakeTempDir("fw");
  const fs::path out = ::kelvara::test::MakeTempDir("got");
  const std::string image = Bytes(1 << 20, 1);
  const std::string boot = Bytes(16 << 10, 2);  // 2,048 blocks of 8 bytes
  std::ofstream(folder / "fw.bin", std::ios::binary) << image;
  std::ofstream(folder / "boot.bin", std::ios::binary) << boot;
  const fs::path log = out / "helper.log";
  // As the recovery window starts it: in the firmware folder, no arguments.
  const pid_t pid = lan->Spawn(LanSide::kPc, {"sh", "-c", "cd \"$1\" && exec \"$2\" >\"$3\" 2>&1", "sh",
                                              folder.string(), helper.string(), log.string()});
  ASSERT_GT(pid, 0);
  for (auto deadline = Clock::now() + 10s; FileText(log).find("serving") == std::string::npos;) {
    ASSERT_LT(Clock::now(), deadline) << "the helper did not start: " << FileText(log);
    std::this_thread::sleep_for(10ms);
  }

  HostileHost host(*lan, load);
  for (auto deadline = Clock::now() + 20s; !host.full_since();) {
    ASSERT_LT(Clock::now(), deadline) << "the hostile host holds " << host.started() << " slots";
    std::this_thread::sleep_for(10ms);
  }
  // Every slot is taken, and a slot may go to a newcomer only once its
  // transfer has waited 2 s for an ACK: the honest clients come after that.
  std::this_thread::sleep_until(*host.full_since() + 2100ms);

  const int boot_fd = lan->CallInThread(
      LanSide::kLan, [] { return test_client::SocketOn(TestLan::LanAddress(kBootLoaderAddress)); });
  ASSERT_GE(boot_fd, 0);
  test_client::SmallBlockFetch boot_fetch;
  // Acknowledging each block 1 ms after it came keeps it running through the
  // honest fetches below.
  std::thread boot_loader(
      [&] { boot_fetch = test_client::FetchInSmallBlocks(boot_fd, HelperAddress(), "boot.bin", 1ms); });

  const std::string url = std::string("tftp://") + TestLan::kPcAddress + "/fw.bin";
  for (int round = 0; round < 3; ++round) {
    const fs::path got = out / ("fw" + std::to_string(round) + ".bin");
    std::string output;
    const auto start = Clock::now();
    const int rc = lan->Run(LanSide::kLan, {"curl", "-sS", "-o", got.string(), url}, 30s, &output);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    EXPECT_EQ(rc, 0) << "round " << round << ": " << output << "helper's last lines:\n" << Tail(FileText(log));
    EXPECT_LT(took, 10s) << "round " << round;
    EXPECT_TRUE(FileText(got) == image) << "round " << round;
    ::testing::Test::RecordProperty("honest_fetch_ms_" + std::to_string(round), std::to_string(took.count()));
    std::printf("honest fetch %d: %lld ms\n", round, static_cast<long long>(took.count()));
    // The hostile host takes back the slot the fetch left before the next one.
    const int started = host.started();
    for (auto deadline = Clock::now() + 5s; host.started() == started && Clock::now() < deadline;)
      std::this_thread::sleep_for(10ms);
  }
  boot_loader.join();
  close(boot_fd);
  EXPECT_TRUE(boot_fetch.ok) << boot_fetch.error;
  EXPECT_TRUE(boot_fetch.data == boot) << boot_fetch.data.size() << " bytes";
  ::testing::Test::RecordProperty("boot_loader_ms", std::to_string(boot_fetch.took.count()));
  std::printf("boot loader (8-byte blocks): %lld ms\n", static_cast<long long>(boot_fetch.took.count()));

  lan->Stop(pid);
  // The boot loader's request and the first honest one both came while every
  // slot was held, and each took one.
  const std::string lines = FileText(log);
  EXPECT_GE(Count(lines, "its slot went to"), 2u) << Tail(lines);
  ::testing::Test::RecordProperty("slots_taken", std::to_string(Count(lines, "its slot went to")));
}

TEST(TftpHelperLan, HonestClientsFetchWhileLateAcknowledgersHoldEverySlot) {
  HonestClientsFetchUnder(Load::kLateAcks);
}

TEST(TftpHelperLan, HonestClientsFetchWhileUnacknowledgedRequestsHoldEverySlot) {
  HonestClientsFetchUnder(Load::kNoAcks);
}

}  // namespace
}  // namespace kelvara::tftp
