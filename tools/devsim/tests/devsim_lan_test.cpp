// The simulator from the device side of the test LAN: Kelvara's search request
// broadcast in the PC namespace reaches every simulated device, each answers
// from its own address, and the login-free commands really change the device.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <memory>
#include <thread>

#include "discovery/core/body_builders.h"
#include "discovery/core/discovery_protocol.h"
#include "discovery/core/search_reply.h"
#include "kelvara_test/test_env.h"
#include "kelvara_test/test_lan.h"
#include "digest.h"
#include "lan_addresses.h"
#include "simulator.h"
#include "wire_frame.h"

namespace kelvara::devsim {
namespace {

using kelvara::test::LanSide;
using kelvara::test::TestLan;
using kelvara::test::TestLanOptions;

// Broadcasts one request from the PC side and collects the replies for
// `wait`: sender address -> parsed record. Runs on a thread inside the PC
// namespace and refuses to broadcast anywhere else.
std::map<std::string, DeviceSearchInfo> Broadcast(TestLan& lan, const std::string& text,
                                                  std::chrono::milliseconds wait) {
  return lan.CallInThread(LanSide::kPc, [&] {
    std::map<std::string, DeviceSearchInfo> found;
    if (!kelvara::test::InTestLanNamespace()) return found;
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(3001);
    to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    const auto end = std::chrono::steady_clock::now() + wait;
    char buf[5120];
    while (std::chrono::steady_clock::now() < end) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      sockaddr_in from{};
      socklen_t len = sizeof from;
      const ssize_t n = recvfrom(fd, buf, sizeof buf - 1, 0, reinterpret_cast<sockaddr*>(&from), &len);
      if (n <= 0) continue;
      const std::string reply(buf, static_cast<size_t>(n));
      discovery::ReplyHeader h;
      if (discovery::ParseReplyHeader("", reply, h) != 0 || h.msgCode != "3") continue;
      if (auto rec = discovery::ParseSearchReply(reply)) found[inet_ntoa(from.sin_addr)] = *rec;
    }
    close(fd);
    return found;
  });
}

std::string Search() { return discovery::BuildDiscoveryMessage(1, std::nullopt, 0); }

class DevsimLan : public ::testing::Test {
 protected:
  void StartSimulator(TestLan& lan, int count) {
    SimConfig c;
    std::vector<DeviceConfig> devices;
    DeviceConfig templ;
    templ.password = "op-pw";
    templ.reboot_ms = 600;
    ASSERT_EQ(GenerateDevices(templ, count, TestLan::LanAddress(0), "LAN", c.devices), "");
    sim_ = std::make_unique<Simulator>(c);
    // Threads started from a thread inside the LAN namespace stay in it.
    const std::string err = lan.CallInThread(LanSide::kLan, [&] { return sim_->Start(); });
    ASSERT_EQ(err, "");
  }
  void TearDown() override {
    if (sim_) sim_->Stop();
  }
  std::unique_ptr<Simulator> sim_;
};

TEST_F(DevsimLan, EveryDeviceAnswersTheSearchFromItsOwnAddress) {
  KELVARA_TEST_LAN_OR_SKIP(lan, (TestLanOptions{.lan_addresses = 60, .default_route = true}));
  StartSimulator(*lan, 5);
  const auto found = Broadcast(*lan, Search(), std::chrono::milliseconds(700));
  ASSERT_EQ(found.size(), 5u);
  for (int i = 0; i < 5; ++i) {
    const std::string ip = TestLan::LanAddress(i);
    ASSERT_TRUE(found.count(ip)) << ip;
    EXPECT_EQ(found.at(ip).lanConfig.ipAddress, ip);
    EXPECT_EQ(found.at(ip).serialNumber, sim_->device(i).serial());
  }
  // What the device received is the request, byte for byte.
  const std::string journal = sim_->Control("journal 0");
  EXPECT_NE(journal.find("udp " + varurovodiv::wire::ToHex(Search())), std::string::npos);
}

TEST_F(DevsimLan, LanSettingsMoveTheDeviceOnlyWithTheOperatorsCredentials) {
  KELVARA_TEST_LAN_OR_SKIP(lan, (TestLanOptions{.lan_addresses = 60, .default_route = true}));
  StartSimulator(*lan, 2);
  const std::string serial = sim_->device(1).serial();
  LANConfigInfo target;
  target.macAddress = sim_->device(1).config().mac;
  target.ipAddress = TestLan::LanAddress(49);
  target.netmask = "255.255.0.0";
  target.gateway = "10.77.0.2";
  target.dns1 = "10.77.0.2";
  target.dns2 = "10.77.0.3";

  // Wrong password: the device ignores the command.
  auto wrong = discovery::BuildLanConfigXml(serial, target, discovery::OperatorAuth{"admin", "x"});
  Broadcast(*lan, discovery::BuildDiscoveryMessage(2, *wrong, 0), std::chrono::milliseconds(100));
  EXPECT_EQ(sim_->device(1).ip(), TestLan::LanAddress(1));

  auto body = discovery::BuildLanConfigXml(serial, target, discovery::OperatorAuth{"admin", "op-pw"});
  ASSERT_TRUE(body.has_value());
  Broadcast(*lan, discovery::BuildDiscoveryMessage(2, *body, 0), std::chrono::milliseconds(100));
  EXPECT_EQ(sim_->device(1).ip(), TestLan::LanAddress(49));
  EXPECT_EQ(sim_->device(0).ip(), TestLan::LanAddress(0));  // the other one stays

  // The next search finds it at its new address, answering from there.
  const auto found = Broadcast(*lan, Search(), std::chrono::milliseconds(700));
  ASSERT_TRUE(found.count(TestLan::LanAddress(49)));
  EXPECT_EQ(found.at(TestLan::LanAddress(49)).serialNumber, serial);
  EXPECT_EQ(found.at(TestLan::LanAddress(49)).lanConfig.dns2, "10.77.0.3");
  EXPECT_FALSE(found.count(TestLan::LanAddress(1)));
}

TEST_F(DevsimLan, RebootRestoreAndFactoryModeByBroadcast) {
  KELVARA_TEST_LAN_OR_SKIP(lan, (TestLanOptions{.lan_addresses = 4, .default_route = true}));
  StartSimulator(*lan, 2);
  const discovery::OperatorAuth auth{"admin", "op-pw"};
  const std::string serial = sim_->device(0).serial();

  // Reboot: silent while rebooting, back afterwards.
  auto reboot = discovery::BuildSerialAuthXml(serial, 0, auth);
  Broadcast(*lan, discovery::BuildDiscoveryMessage(7, *reboot, 0), std::chrono::milliseconds(50));
  auto found = Broadcast(*lan, Search(), std::chrono::milliseconds(300));
  EXPECT_FALSE(found.count(TestLan::LanAddress(0)));
  EXPECT_TRUE(found.count(TestLan::LanAddress(1)));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  found = Broadcast(*lan, Search(), std::chrono::milliseconds(500));
  EXPECT_TRUE(found.count(TestLan::LanAddress(0)));

  // Factory mode from Msg_flag; restore by UUID.
  auto plain = discovery::BuildSerialAuthXml(serial, 0, auth);
  Broadcast(*lan, discovery::BuildDiscoveryMessage(9, *plain, 3), std::chrono::milliseconds(100));
  EXPECT_NE(sim_->Control("state 0").find("factory_mode=3"), std::string::npos);
  auto by_uuid = discovery::BuildSerialAuthXml(sim_->device(1).config().uuid, 0, auth);
  Broadcast(*lan, discovery::BuildDiscoveryMessage(5898, *by_uuid, 0), std::chrono::milliseconds(100));
  EXPECT_NE(sim_->Control("state 1").find("restores=1"), std::string::npos);
  EXPECT_NE(sim_->Control("state 0").find("restores=0"), std::string::npos);
}

// devsim as a person drives it: its commands go to the program's stdin (a
// FIFO here) and its replies are read from its output.
class DevsimProcess {
 public:
  DevsimProcess(TestLan& lan, const std::string& args) : lan_(lan) {
    const auto dir = kelvara::test::MakeTempDir("devsim");
    const auto fifo = dir / "in";
    out_ = dir / "out";
    if (mkfifo(fifo.c_str(), 0600) != 0) return;
    const std::string devsim = (kelvara::test::BinDir() / "devsim").string();
    pid_ = lan.Spawn(LanSide::kLan, {"sh", "-c", devsim + " " + args + " <" + fifo.string() + " >" +
                                                     out_.string() + " 2>&1"});
    // The shell opens the FIFO for reading before devsim starts.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (fd_ < 0 && std::chrono::steady_clock::now() < end) {
      fd_ = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (fd_ < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~DevsimProcess() { Finish(); }
  // Ends devsim: it ends when its stdin closes.
  void Finish() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    if (pid_ > 0) lan_.Stop(pid_);
    pid_ = -1;
  }
  // Everything devsim wrote so far (stdout and stderr).
  std::string Output() const {
    std::ifstream in(out_);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // Waits for "ready" (the device list printed before it).
  bool Ready() {
    return WaitFor([&](const std::vector<std::string>& lines) {
      return std::find(lines.begin(), lines.end(), "ready") != lines.end();
    });
  }
  // Sends one command; its reply line ("ok ..." or "err ...").
  std::string Command(const std::string& line) {
    const size_t before = Replies(Lines()).size();
    const std::string text = line + "\n";
    if (fd_ < 0 || write(fd_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return "no devsim";
    std::string reply = "no reply";
    WaitFor([&](const std::vector<std::string>& lines) {
      const auto r = Replies(lines);
      if (r.size() <= before) return false;
      reply = r[before];
      return true;
    });
    return reply;
  }

 private:
  std::vector<std::string> Lines() const {
    std::ifstream in(out_);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }
  static std::vector<std::string> Replies(const std::vector<std::string>& lines) {
    std::vector<std::string> r;
    for (const auto& l : lines)
      if (l.rfind("ok", 0) == 0 || l.rfind("err", 0) == 0) r.push_back(l);
    return r;
  }
  template <class Pred>
  bool WaitFor(Pred pred) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < end) {
      if (pred(Lines())) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  TestLan& lan_;
  std::filesystem::path out_;
  pid_t pid_ = -1;
  int fd_ = -1;
};

// From the PC side: 1 connected (and, when `silent_ms` > 0, nothing but the
// greeting arrives within that time after a login frame), 0 refused or
// unreachable.
int ConnectFromPc(TestLan& lan, const std::string& ip, uint16_t port, int silent_ms = 0) {
  return lan.CallInThread(LanSide::kPc, [&] {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, ip.c_str(), &a.sin_addr);
    timeval tv{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    int result = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 ? 1 : 0;
    if (result == 1 && silent_ms > 0) {
      namespace wire = varurovodiv::wire;
      char buf[4096];
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 1000) == 1) (void)recv(fd, buf, sizeof buf, 0);  // the greeting
      const std::string login = wire::EncodeFrame(wire::FrameType::kLogin, 1, 0, 0, 0, std::string("admin\0x", 7));
      (void)send(fd, login.data(), login.size(), MSG_NOSIGNAL);
      if (poll(&p, 1, silent_ms) != 0) result = 2;  // an answer (or a close) came
    }
    close(fd);
    return result;
  });
}

template <class Pred>
bool Eventually(Pred pred) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (std::chrono::steady_clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return pred();
}

TEST(DevsimExecutable, ControlCommandsMoveSilenceAndUnplugDevices) {
  KELVARA_TEST_LAN_OR_SKIP(lan, (TestLanOptions{.lan_addresses = 4, .default_route = true}));
  DevsimProcess sim(*lan, "--count 3 --base-ip " + TestLan::LanAddress(0) + " --max-seconds 60");
  ASSERT_TRUE(sim.Ready());
  const uint16_t port = 8091;
  const auto a = [](int n) { return TestLan::LanAddress(n); };
  auto found = Broadcast(*lan, Search(), std::chrono::milliseconds(500));
  ASSERT_EQ(found.size(), 3u);

  // set D 305 HEX: the device answers from its new address, its sockets moved.
  const std::string lan_block = "<LANConfig IPAddress=\"" + a(3) +
                                "\" Netmask=\"255.255.0.0\" Gateway=\"10.77.0.2\" DHCP=\"0\" />";
  EXPECT_EQ(sim.Command("set 0 305 " + varurovodiv::wire::ToHex(lan_block)), "ok");
  EXPECT_EQ(sim.Command("set 0 305 " + varurovodiv::wire::ToHex("<Other/>")), "err bad LAN block");
  EXPECT_NE(sim.Command("state 0").find("ip=" + a(3)), std::string::npos);
  EXPECT_TRUE(Eventually([&] { return ConnectFromPc(*lan, a(3), port) == 1; }));
  EXPECT_TRUE(Eventually([&] { return ConnectFromPc(*lan, a(0), port) == 0; }));
  found = Broadcast(*lan, Search(), std::chrono::milliseconds(500));
  ASSERT_TRUE(found.count(a(3)));
  EXPECT_EQ(found.at(a(3)).serialNumber, "SIM00000001");
  EXPECT_EQ(found.at(a(3)).lanConfig.ipAddress, a(3));
  EXPECT_FALSE(found.count(a(0)));

  // offline / online: gone from the search and refusing connections, then back.
  EXPECT_EQ(sim.Command("offline 1"), "ok");
  EXPECT_NE(sim.Command("state 1").find("offline=1"), std::string::npos);
  EXPECT_TRUE(Eventually([&] { return ConnectFromPc(*lan, a(1), port) == 0; }));
  found = Broadcast(*lan, Search(), std::chrono::milliseconds(500));
  EXPECT_FALSE(found.count(a(1)));
  EXPECT_TRUE(found.count(a(2)));
  EXPECT_EQ(sim.Command("online 1"), "ok");
  EXPECT_TRUE(Eventually([&] { return ConnectFromPc(*lan, a(1), port) == 1; }));
  found = Broadcast(*lan, Search(), std::chrono::milliseconds(500));
  EXPECT_TRUE(found.count(a(1)));

  // drop_replies: no search answer, no login answer, the link stays open.
  EXPECT_EQ(sim.Command("fault 2 drop_replies 1"), "ok");
  found = Broadcast(*lan, Search(), std::chrono::milliseconds(500));
  EXPECT_FALSE(found.count(a(2)));
  EXPECT_TRUE(found.count(a(1)));
  EXPECT_EQ(ConnectFromPc(*lan, a(2), port, 300), 1);
  EXPECT_EQ(sim.Command("fault 2 clear 0"), "ok");
  EXPECT_EQ(ConnectFromPc(*lan, a(2), port, 300), 2);  // the login is answered again
  found = Broadcast(*lan, Search(), std::chrono::milliseconds(500));
  EXPECT_TRUE(found.count(a(2)));
  EXPECT_EQ(sim.Command("offline 9"), "err unknown device '9'");
}

// A device told an address the LAN does not carry yet takes it, as a camera
// would: devsim puts it on the LAN interface, the PC reaches the device there
// (search, login, ping), and at the end devsim takes off only what it added.
TEST(DevsimExecutable, AMovedDeviceTakesItsNewAddressAndDevsimGivesBackOnlyWhatItAdded) {
  KELVARA_TEST_LAN_OR_SKIP(lan, (TestLanOptions{.lan_addresses = 3, .default_route = true}));
  const auto a = [](int n) { return TestLan::LanAddress(n); };
  DevsimProcess sim(*lan, "--count 3 --base-ip " + a(0) + " --set rtsp=0 --max-seconds 60");
  ASSERT_TRUE(sim.Ready());
  const auto addresses = [&] {
    std::string out;
    lan->Run(LanSide::kLan, {"ip", "-4", "-o", "addr", "show", "dev", TestLan::kLanInterface},
             std::chrono::seconds(5), &out);
    return out;
  };
  const auto has = [](const std::string& list, const std::string& ip) {
    return list.find(" " + ip + "/16 ") != std::string::npos;
  };
  const auto said = [&](const std::string& text) {
    return Eventually([&] { return sim.Output().find(text) != std::string::npos; });
  };
  const auto move = [&](int device, const std::string& ip) {
    return sim.Command("set " + std::to_string(device) + " 305 " +
                       varurovodiv::wire::ToHex("<LANConfig IPAddress=\"" + ip +
                                                "\" Netmask=\"255.255.0.0\" Gateway=\"10.77.0.2\" DHCP=\"0\" />"));
  };
  const std::string moved = "10.77.3.33", kept = "10.77.3.34";
  ASSERT_FALSE(has(addresses(), moved));

  EXPECT_EQ(move(0, moved), "ok");
  EXPECT_TRUE(Eventually([&] { return ConnectFromPc(*lan, moved, 8091, 300) == 2; }));  // the login is answered
  EXPECT_EQ(lan->Run(LanSide::kPc, {"ping", "-c", "1", "-W", "2", moved}), 0);
  const auto found = Broadcast(*lan, Search(), std::chrono::milliseconds(500));
  ASSERT_TRUE(found.count(moved));
  EXPECT_EQ(found.at(moved).serialNumber, "SIM00000001");
  EXPECT_TRUE(said("device 0 SIM00000001: added " + moved + "/16 to pc0"));

  // The PC answers for its own address: devsim does not take it, and the PC
  // still reaches the other devices. An address outside the LAN's network
  // stays unreachable, as a camera there would be. Both are said.
  EXPECT_EQ(move(1, TestLan::kPcAddress), "ok");
  EXPECT_TRUE(said("10.77.0.1 is not on any interface and another host of the LAN answers for it"));
  EXPECT_EQ(ConnectFromPc(*lan, a(2), 8091), 1);
  EXPECT_EQ(move(2, "192.168.9.9"), "ok");
  EXPECT_TRUE(said("192.168.9.9 is not on any interface and outside every network here"));
  EXPECT_FALSE(has(addresses(), TestLan::kPcAddress));

  // An added address another program still listens on at the end stays.
  EXPECT_EQ(move(1, kept), "ok");
  EXPECT_TRUE(Eventually([&] { return has(addresses(), kept); }));
  const int listener = lan->CallInThread(LanSide::kLan, [&] {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(7070);
    inet_pton(AF_INET, kept.c_str(), &at.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || listen(fd, 1) != 0) {
      close(fd);
      return -1;
    }
    return fd;
  });
  ASSERT_GE(listener, 0);
  sim.Finish();
  EXPECT_TRUE(Eventually([&] { return !has(addresses(), moved); }));
  const std::string left = addresses();
  EXPECT_TRUE(has(left, kept)) << left;
  for (const std::string& ip : {std::string(TestLan::kLanAddress), a(0), a(1), a(2)}) EXPECT_TRUE(has(left, ip)) << ip;
  EXPECT_NE(sim.Output().find("kept " + kept + ": another program still listens on it"), std::string::npos);
  close(listener);
}

// A device whose address no interface carries is named at start; a simulator
// that may not change the namespace's addresses says so when a device moves.
TEST(DevsimAddresses, MissingAddressesAndAMoveDevsimMayNotMakeAreSaid) {
  KELVARA_TEST_LAN_OR_SKIP(lan, (TestLanOptions{.lan_addresses = 1}));
  const int result = lan->CallInChild(LanSide::kLan, [] {
    if (setgid(65534) != 0 || setuid(65534) != 0) return 10;
    std::mutex m;
    std::string notices;
    SimConfig c;
    c.discovery_port = 0;
    c.notice = [&](const std::string& line) {
      std::lock_guard lock(m);
      notices += line + "\n";
    };
    DeviceConfig templ;
    templ.command_port = 0;
    templ.log_port = 0;
    if (!GenerateDevices(templ, 2, TestLan::LanAddress(0), "U", c.devices).empty()) return 11;
    Simulator sim(c);
    if (!sim.Start().empty()) return 12;
    const auto seen = [&](const std::string& text) {
      for (int k = 0; k < 150; ++k) {
        {
          std::lock_guard lock(m);
          if (notices.find(text) != std::string::npos) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      return false;
    };
    if (!seen("1 of 2 devices have an address on no interface of this namespace (unreachable): device 1 U00000002 " +
              TestLan::LanAddress(1)))
      return 13;
    sim.Control("set 0 305 " + varurovodiv::wire::ToHex("<LANConfig IPAddress=\"10.77.3.40\" Netmask=\"255.255.0.0\" />"));
    if (!seen("device 0 U00000001: 10.77.3.40 is not on any interface and devsim may not add it")) return 14;
    sim.Stop();
    return IsLocalAddress("10.77.3.40") || !sim.added_addresses().empty() ? 15 : 0;
  });
  EXPECT_EQ(result, 0);
}

TEST(DevsimExecutable, RunsInTheLanAndTakesControlCommandsOnStdin) {
  KELVARA_TEST_LAN_OR_SKIP(lan, (TestLanOptions{.lan_addresses = 2}));
  const auto devsim = kelvara::test::BinDir() / "devsim";
  std::string out;
  const std::string script =
      "printf 'state 1\\nfault 1 stall 1\\nbogus\\nquit\\n' | " + devsim.string() +
      " --count 2 --base-ip " + TestLan::LanAddress(0) + " --max-seconds 20";
  ASSERT_EQ(lan->Run(LanSide::kLan, {"sh", "-c", script}, std::chrono::seconds(15), &out), 0) << out;
  EXPECT_NE(out.find("device 1 SIM00000002 10.77.1.2 sdk=8091 log=9999"), std::string::npos) << out;
  EXPECT_NE(out.find("ready"), std::string::npos);
  EXPECT_NE(out.find("ok serial=SIM00000002"), std::string::npos);
  EXPECT_NE(out.find("err unknown command 'bogus'"), std::string::npos);
  // Without a controller on stdin it ends by itself.
  out.clear();
  EXPECT_EQ(lan->Run(LanSide::kLan, {"sh", "-c", devsim.string() + " --count 1 --base-ip " +
                                                     TestLan::LanAddress(0) + " </dev/null"},
                     std::chrono::seconds(10), &out),
            0);
}

}  // namespace
}  // namespace kelvara::devsim
