// Hostile peers of the simulated devices over loopback: a logged-in client
// that grows a block past what one frame carries, and peers that never log in
// but send what the device journals.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "../../../sdk/VaRurOvoDiv/tests/loopback_simulator.h"
#include "../../../sdk/VaRurOvoDiv/tests/raw_client.h"
#include "device.h"
#include "device_config.h"
#include "digest.h"
#include "link_seal.h"
#include "login_handshake.h"
#include "simulator.h"
#include "wire_frame.h"

namespace kelvara::devsim {
namespace {

namespace wire = varurovodiv::wire;
using varurovodiv::test::RawClient;
using varurovodiv::test::StartLoopbackDevices;
using wire::FrameType;

// A client of a device's command port that logs in with the key exchange
// and then sends sealed requests of its own making, as any program could.
class SealedClient {
 public:
  SealedClient(uint16_t port, const std::string& user, const std::string& password) : link_(port) {
    const auto hello_frame = link_.Next();
    const auto hello = hello_frame ? wire::DecodeHello(hello_frame->payload) : std::nullopt;
    if (!hello) return;
    const std::string nonce = wire::RandomBytes(wire::kNonceSize);
    wire::LoginExchange pake(wire::LoginExchange::Side::kClient, password, user, hello->nonce, nonce);
    if (!link_.Send(wire::EncodeFrame(FrameType::kLoginShare, 1, 0, 0, 0,
                                      wire::EncodeLoginShare({user, nonce, pake.share()})))) {
      return;
    }
    const auto share = link_.Next();
    if (!share || share->header.result != 0 || !pake.TakePeerShare(share->payload)) return;
    if (!link_.Send(wire::EncodeFrame(FrameType::kLogin, 2, 0, 0, 0, pake.Tag()))) return;
    const auto verdict = link_.Next();
    if (!verdict || verdict->header.result != 0 || !pake.CheckPeerTag(verdict->payload)) return;
    seal_ = std::make_unique<wire::LinkSeal>(pake);
  }
  bool logged_in() const { return seal_ != nullptr; }

  // Sends one request and waits for its reply (events meanwhile are passed
  // over); none when the link ends or stays silent.
  std::optional<wire::Frame> Request(FrameType type, uint32_t command, std::string_view payload) {
    if (!seal_) return std::nullopt;
    const uint32_t sequence = ++sequence_;
    if (!link_.Send(seal_->Seal(type, sequence, 0, command, 0, payload))) return std::nullopt;
    while (auto f = link_.Next()) {
      if (!seal_->Open(*f)) return std::nullopt;
      if (f->header.type == (static_cast<uint16_t>(type) | wire::kReplyBit) &&
          f->header.sequence == sequence) {
        return f;
      }
    }
    return std::nullopt;
  }

 private:
  RawClient link_;
  std::unique_ptr<wire::LinkSeal> seal_;
  uint32_t sequence_ = 10;
};

// A number from the device's `state` line.
size_t StateValue(Simulator& sim, int device, const std::string& name) {
  const std::string state = sim.Control("state " + std::to_string(device));
  const size_t at = state.find(" " + name + "=");
  EXPECT_NE(at, std::string::npos) << name << " in " << state;
  return at == std::string::npos ? 0 : std::strtoull(state.c_str() + at + name.size() + 2, nullptr, 10);
}

// A device answers a new login and a request on it.
bool Answers(Simulator& sim, int device) {
  SealedClient client(sim.command_port(device), "admin", "pw");
  const auto reply = client.Request(FrameType::kGetConfig, 504, {});
  return reply && reply->header.result == 0 && reply->payload.find("<Capture") != std::string::npos;
}

// A logged-in client cannot make a device hold a block that one frame cannot
// carry back: a set that would grow it past that (alarm parts merged into
// 800, attribute values that grow when the device prints them escaped) is
// refused with result 3 and changes nothing, and a reply that still cannot be
// sent (a block put through the control interface) is answered with result 3
// and no text. The device and its neighbours keep answering.
TEST(DevsimHostileClient, BlocksGrownPastOneFrameAreRefusedAndEveryDeviceKeepsAnswering) {
  auto sim = StartLoopbackDevices("pw", 3);
  ASSERT_TRUE(sim);
  SealedClient client(sim->command_port(1), "admin", "pw");
  ASSERT_TRUE(client.logged_in());
  const std::string pad(700 * 1024, 'p');
  const std::string apostrophes(300 * 1024, '\'');  // each printed as &apos;
  struct Set {
    FrameType type;
    uint32_t code;
    std::string text;
    int32_t result;
  };
  struct Case {
    const char* name;
    std::vector<Set> sets;
    uint32_t get;
    const char* kept;  // what the block read back holds
  };
  const Case cases[] = {
      {"alarm parts merged into 800",
       {{FrameType::kSetDeviceConfig, 829, "<PDAlarm Pad=\"" + pad + "\" />", 0},
        {FrameType::kSetDeviceConfig, 827, "<AudioAlarm Pad=\"" + pad + "\" />", wire::kResultBadRequest},
        {FrameType::kSetDeviceConfig, 822, "<MDAlarm Pad=\"" + pad + "\" />", wire::kResultBadRequest}},
       800, "<PDAlarm Pad=\"ppp"},
      {"an alarm part printed escaped",
       {{FrameType::kSetDeviceConfig, 829, "<PDAlarm Pad=\"" + apostrophes + "\" />", wire::kResultBadRequest}},
       800, "<PDAlarm Pad=\"ppp"},
      {"LAN attributes printed escaped",
       {{FrameType::kSetConfig, 325, "<LANConfig Pad=\"" + apostrophes + "\" />", wire::kResultBadRequest}},
       305, "<LANConfig MacAddress="},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const Set& set : c.sets) {
      const auto reply = client.Request(set.type, set.code, set.text);
      ASSERT_TRUE(reply) << set.code;
      EXPECT_EQ(reply->header.result, set.result) << set.code;
    }
    const auto block = client.Request(FrameType::kGetConfig, c.get, {});
    ASSERT_TRUE(block);
    EXPECT_EQ(block->header.result, 0);
    EXPECT_LE(block->payload.size(), wire::kMaxPayload);
    EXPECT_NE(block->payload.find(c.kept), std::string::npos);
    EXPECT_EQ(block->payload.find("AudioAlarm Pad"), std::string::npos);
  }
  // A block the control interface put there, too long for a frame.
  ASSERT_EQ(sim->Control("set 1 504 " + wire::ToHex("<Video>" + std::string(wire::kMaxPayload, 'v') + "</Video>")),
            "ok");
  const auto too_long = client.Request(FrameType::kGetConfig, 504, {});
  ASSERT_TRUE(too_long);
  EXPECT_EQ(too_long->header.result, wire::kResultBadRequest);
  EXPECT_EQ(too_long->payload, "");
  // The link goes on, and so does every device.
  const auto after = client.Request(FrameType::kSystemControl, 1019, {});
  ASSERT_TRUE(after);
  EXPECT_NE(after->payload.find("SerialNumber="), std::string::npos);
  EXPECT_TRUE(Answers(*sim, 0));
  EXPECT_TRUE(Answers(*sim, 2));
  sim->Stop();
}

// Peers that never log in (malformed frames on the command port, bytes on the
// log port) make a device keep little of what they send: each connection at
// most kUnauthenticatedJournalPerPeer bytes, the device at most
// kUnauthenticatedJournalBytes in all, and the logged-in traffic's journal
// stays as it was.
TEST(DevsimHostileClient, PeersThatNeverLogInMakeADeviceKeepLittle) {
  constexpr int kDevices = 4;
  auto sim = StartLoopbackDevices("pw", kDevices);
  ASSERT_TRUE(sim);
  const std::string marker = "<REQUEST_PARAM Marker=\"kept\" />";
  for (int d = 0; d < kDevices; ++d) {
    SealedClient client(sim->command_port(d), "admin", "pw");
    ASSERT_TRUE(client.Request(FrameType::kSystemControl, 1019, marker));
  }
  const std::string garbage(64 * 1024, 'G');  // no frame's magic
  for (int d = 0; d < kDevices; ++d) {
    // 40 connections, each a malformed chunk the device journals, then closes.
    for (int i = 0; i < 40; ++i) {
      RawClient peer(sim->command_port(d));
      peer.Send(garbage);
      while (peer.Next()) {
      }
    }
    // The log port takes anything and says how much it read.
    RawClient log(sim->log_port(d));
    size_t sent = 0;
    size_t acknowledged = 0;
    std::string said;
    for (int i = 0; i < 16; ++i) sent += log.Send(garbage) ? garbage.size() : 0;
    char buf[4096];
    while (acknowledged < sent) {
      const ssize_t n = recv(log.fd(), buf, sizeof buf, 0);
      ASSERT_GT(n, 0) << acknowledged << " of " << sent;
      said.append(buf, static_cast<size_t>(n));
      const std::string ack = "command received (";
      for (size_t at; (at = said.find(ack)) != std::string::npos;) {
        const size_t end = said.find(')', at);
        if (end == std::string::npos) break;
        acknowledged += std::strtoull(said.c_str() + at + ack.size(), nullptr, 10);
        said.erase(0, end + 1);
      }
    }
  }
  for (int d = 0; d < kDevices; ++d) {
    SCOPED_TRACE(d);
    const size_t unauthenticated = StateValue(*sim, d, "journal_unauthenticated_bytes");
    EXPECT_LE(unauthenticated, kUnauthenticatedJournalBytes);
    EXPECT_LE(StateValue(*sim, d, "journal_bytes"), unauthenticated + 1024);
    size_t largest = 0;
    const std::string journal = sim->Control("journal " + std::to_string(d));
    for (size_t at = 0; (at = journal.find('\n', at)) != std::string::npos; ++at) {
      const size_t end = journal.find('\n', at + 1);
      const size_t hex = (end == std::string::npos ? journal.size() : end) - journal.find(' ', at) - 1;
      largest = std::max(largest, hex / 2);
    }
    EXPECT_LE(largest, kUnauthenticatedJournalPerPeer);
    EXPECT_NE(journal.find(wire::ToHex(marker)), std::string::npos);
    EXPECT_TRUE(Answers(*sim, d));
  }
  sim->Stop();
}

}  // namespace
}  // namespace kelvara::devsim
