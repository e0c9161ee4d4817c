// A relay between the SDK and the device simulator that knows no password: it
// passes the login's messages unchanged, so the login is made, and then tries
// to take over the link. Every frame after the login is sealed, so nothing it
// alters, forges, repeats or injects is taken by either end: the link ends.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "loopback_server.h"
#include "sdk_test_support.h"
#include "loopback_simulator.h"
#include "wire_frame.h"

namespace relay_test {

namespace wire = varurovodiv::wire;
using kelvara::devsim::Simulator;
using varurovodiv::test::Delivered;
using varurovodiv::test::EventRecorder;

// The frames of one direction are numbered from 0: towards the device the
// LOGIN_SHARE (0) and LOGIN (1), towards the SDK the HELLO (0), the share
// (1) and the verdict (2); the sealed link follows. The relay forwards what
// the tamper function returns for each frame (its bytes as they came, by
// default).
struct Passing {
  bool to_sdk = false;
  int index = 0;
  wire::Frame frame;   // as parsed (still sealed after the login)
  std::string bytes;   // as on the wire
};
using Tamper = std::function<std::string(const Passing&)>;
constexpr int kLoginFramesToDevice = 2;
constexpr int kLoginFramesToSdk = 3;

class Relay {
 public:
  Relay(uint16_t device_port, Tamper tamper)
      : device_port_(device_port), tamper_(std::move(tamper)), server_([this](int sdk, int) { Connect(sdk); }) {}
  uint16_t port() const { return server_.port(); }

 private:
  // Connects to the device for the SDK's connection and relays between them.
  void Connect(int sdk) {
    const int device = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(device_port_);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(device, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) Serve(sdk, device);
    close(device);
  }

  static bool SendAll(int fd, const std::string& bytes) {
    timeval tv{3, 0};  // bounds a send to a peer that reads nothing
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return false;
      sent += static_cast<size_t>(n);
    }
    return true;
  }

  void Serve(int sdk, int device) {
    wire::FrameParser parsers[2];  // 0: from the SDK, 1: from the device
    int counts[2] = {0, 0};
    char buf[64 * 1024];
    while (!server_.stopping().load()) {
      pollfd p[2] = {{sdk, POLLIN, 0}, {device, POLLIN, 0}};
      if (poll(p, 2, 50) <= 0) continue;
      for (int side = 0; side < 2; ++side) {
        if (!(p[side].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        const ssize_t n = recv(p[side].fd, buf, sizeof buf, 0);
        if (n <= 0 || !parsers[side].Feed(buf, static_cast<size_t>(n))) return;
        while (auto f = parsers[side].Next()) {
          Passing pass;
          pass.to_sdk = side == 1;
          pass.index = counts[side]++;
          std::string header(wire::kHeaderSize, '\0');
          wire::EncodeHeader(f->header, reinterpret_cast<unsigned char*>(header.data()));
          pass.bytes = header + f->payload;
          pass.frame = std::move(*f);
          if (!SendAll(side == 0 ? device : sdk, tamper_(pass))) return;
        }
      }
    }
  }

  uint16_t device_port_;
  Tamper tamper_;
  varurovodiv::test::LoopbackServer server_;
};

// The frames of one type in the device's journal (it records what it opened).
size_t JournalFramesOfType(const std::string& journal, wire::FrameType type) {
  size_t n = 0;
  std::istringstream lines(journal);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("sdk ", 0) != 0 || line.size() < 4 + 2 * wire::kHeaderSize) continue;
    n += std::stoi(line.substr(4 + 12, 4), nullptr, 16) == static_cast<int>(type);
  }
  return n;
}

bool IsType(const Passing& p, uint16_t type) { return p.frame.header.type == type; }
constexpr uint16_t kGetConfigReply = static_cast<uint16_t>(wire::FrameType::kGetConfig) | wire::kReplyBit;
constexpr uint16_t kSetConfig = static_cast<uint16_t>(wire::FrameType::kSetConfig);

std::string Flip(std::string bytes, size_t at) {
  bytes[at] = static_cast<char>(bytes[at] ^ 1);
  return bytes;
}

class RelayedLink : public ::testing::Test {
 protected:
  void SetUp() override {
    varurovodiv::test::SetTestSdkTimeouts();
    sim_ = varurovodiv::test::StartLoopbackDevice("pw");
    ASSERT_TRUE(sim_);
    ASSERT_EQ(ZQ_NETSDK_IPC_Init(), 0);
    rec_.Register();
    ZQ_NETSDK_IPC_SetAutoReconnect(0, 0);
  }
  void TearDown() override {
    EXPECT_EQ(ZQ_NETSDK_IPC_Cleanup(), 0);
    sim_->Stop();
  }
  int LoginThrough(const Relay& relay) {
    const int h = ZQ_NETSDK_IPC_Login("127.0.0.1", relay.port(), "admin", "pw", 0);
    EXPECT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_LOGIN_OK));
    return h;
  }
  std::unique_ptr<Simulator> sim_;
  EventRecorder rec_;
};

// The relay rewrites the device's reply to a read: in clear, with a byte of
// the sealed payload or header changed, or sent twice. The SDK takes none of
// it: the link ends as broken by the device (status event 5) and the request
// ends as lost, never with the altered text or result.
TEST_F(RelayedLink, RewrittenRepliesAreNotTaken) {
  const std::string block = sim_->device(0).GetConfig(504).text;
  ASSERT_FALSE(block.empty());
  struct Case {
    const char* name;
    std::function<std::string(const Passing&)> rewrite;  // of the reply
    bool honest_first;  // the true reply is taken before the link ends
  };
  const Case cases[] = {
      {"forged in clear",
       [](const Passing& p) {
         const wire::FrameHeader& h = p.frame.header;
         return wire::EncodeFrame(h.type, h.sequence, h.handle, h.command, 0, "<Video><Capture TVSystem=\"9\" /></Video>");
       },
       false},
      {"payload byte changed", [](const Passing& p) { return Flip(p.bytes, wire::kHeaderSize + 3); }, false},
      {"result changed", [](const Passing& p) { return Flip(p.bytes, 23); }, false},
      {"tag byte changed", [](const Passing& p) { return Flip(p.bytes, p.bytes.size() - 1); }, false},
      {"sent twice", [](const Passing& p) { return p.bytes + p.bytes; }, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rec_.Clear();
    Relay relay(sim_->command_port(0), [&](const Passing& p) {
      return p.to_sdk && p.index >= kLoginFramesToSdk && IsType(p, kGetConfigReply) ? c.rewrite(p) : p.bytes;
    });
    const int h = LoginThrough(relay);
    ASSERT_EQ(ZQ_NETSDK_IPC_GetDVRConfig(h, 504, 0, "", nullptr, 0), 0);
    ASSERT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_PROTOCOL_ERROR));
    ASSERT_TRUE(rec_.WaitAux(h, 504));
    size_t honest = 0;
    for (const Delivered& e : rec_.For(h)) {
      if (!e.aux) continue;
      EXPECT_TRUE(e.result == 0 ? e.data == block : e.result == ZQ_AUX_RESULT_LINK_LOST) << e.result << " " << e.data;
      honest += e.result == 0;
    }
    EXPECT_EQ(honest, c.honest_first ? 1u : 0u);
    ZQ_NETSDK_IPC_Logout(h);
  }
}

// The relay sends requests of its own to the device under the SDK's login: in
// clear, a copy of the SDK's own sealed request, or the SDK's request with its
// header changed. The device carries out none of them and ends the link.
TEST_F(RelayedLink, InjectedAndReplayedRequestsAreNotCarriedOut) {
  const std::string ours = "<Capture Volume=\"80\" />";
  const std::string theirs = "<Capture Volume=\"7\" />";
  struct Case {
    const char* name;
    std::function<std::string(const Passing&)> rewrite;  // of the SDK's set request
    size_t sets_carried_out;
  };
  const Case cases[] = {
      {"request in clear",
       [&](const Passing& p) {
         return p.bytes + wire::EncodeFrame(wire::FrameType::kSetConfig, p.frame.header.sequence + 1, 0, 527, 0, theirs);
       },
       1},
      {"request replayed", [](const Passing& p) { return p.bytes + p.bytes; }, 1},
      {"header changed (another code)", [](const Passing& p) { return Flip(p.bytes, 19); }, 0},
      {"in clear before the SDK's",
       [&](const Passing& p) {
         return wire::EncodeFrame(wire::FrameType::kSetConfig, p.frame.header.sequence, 0, 527, 0, theirs) + p.bytes;
       },
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rec_.Clear();
    sim_->Control("journal 0 clear");
    ASSERT_EQ(sim_->Control("set 0 507 " + wire::ToHex("<Capture Volume=\"50\" />")).rfind("ok", 0), 0u);
    Relay relay(sim_->command_port(0), [&](const Passing& p) {
      return !p.to_sdk && p.index >= kLoginFramesToDevice && IsType(p, kSetConfig) ? c.rewrite(p) : p.bytes;
    });
    const int h = LoginThrough(relay);
    ASSERT_EQ(ZQ_NETSDK_IPC_SetDVRConfig(h, 527, 0, ours.c_str(), static_cast<int>(ours.size())), 0);
    // The device closes the link on the frame that does not open.
    ASSERT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_LINK_LOST));
    const std::string now = sim_->device(0).GetConfig(507).text;
    EXPECT_EQ(now.find("Volume=\"7\""), std::string::npos) << now;
    EXPECT_EQ(now.find("Volume=\"80\"") != std::string::npos, c.sets_carried_out == 1) << now;
    EXPECT_EQ(JournalFramesOfType(sim_->Control("journal 0"), wire::FrameType::kSetConfig), c.sets_carried_out);
    ZQ_NETSDK_IPC_Logout(h);
  }
}

}  // namespace relay_test
