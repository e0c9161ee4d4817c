// Hostile devices against the SDK: each fake device is a small loopback peer
// that breaks the protocol in one way; each test shows the SDK holds.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "kelvara_test/test_env.h"
#include "loopback_server.h"
#include "sdk_test_support.h"
#include "fake_device_login.h"
#include "digest.h"
#include "login_handshake.h"
#include "wire_frame.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using varurovodiv::test::Delivered;
using varurovodiv::test::EventRecorder;
namespace wire = varurovodiv::wire;
using wire::FrameType;

// Bytes of undelivered events the SDK holds per login (docs/device-protocol.md).
constexpr size_t kLoginBudget = 4u << 20;

// One accepted connection, as the device sees it.
class Link {
 public:
  Link(int fd, const std::atomic<bool>& stop) : fd_(fd), stop_(stop) {}

  bool Send(const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size() && !stop_.load()) {
      pollfd p{fd_, POLLOUT, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      const ssize_t n = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return false;
      sent += static_cast<size_t>(n);
    }
    return sent == bytes.size();
  }
  // A frame as the device sends it: sealed once the link is logged in.
  std::string Frame(uint16_t type, uint32_t sequence, uint32_t command, int32_t result,
                    const std::string& payload = {}) {
    return login_ && login_->seal() ? login_->seal()->Seal(type, sequence, 0, command, result, payload)
                                    : wire::EncodeFrame(type, sequence, 0, command, result, payload);
  }
  std::string Frame(FrameType type, uint32_t sequence, uint32_t command, int32_t result,
                    const std::string& payload = {}) {
    return Frame(static_cast<uint16_t>(type), sequence, command, result, payload);
  }
  bool SendFrame(uint16_t type, uint32_t sequence, uint32_t command, int32_t result,
                 const std::string& payload = {}) {
    return Send(Frame(type, sequence, command, result, payload));
  }
  bool SendFrame(FrameType type, uint32_t sequence, uint32_t command, int32_t result,
                 const std::string& payload = {}) {
    return SendFrame(static_cast<uint16_t>(type), sequence, command, result, payload);
  }
  bool Reply(const wire::Frame& request, int32_t result, const std::string& payload = {}) {
    return SendFrame(request.header.type | wire::kReplyBit, request.header.sequence,
                     request.header.command, result, payload);
  }

  // The next frame other than a heartbeat (answered on the way when asked).
  std::optional<wire::Frame> Next(milliseconds timeout = milliseconds(3000),
                                  bool answer_heartbeats = true) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
      while (auto f = parser_.Next()) {
        if (login_ && login_->seal() && !login_->seal()->Open(*f)) return std::nullopt;
        if (f->header.type != static_cast<uint16_t>(FrameType::kHeartbeat)) return f;
        if (answer_heartbeats && !Reply(*f, 0)) return std::nullopt;
      }
      if (stop_.load() || Clock::now() >= deadline) return std::nullopt;
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      char buf[64 * 1024];
      const ssize_t n = recv(fd_, buf, sizeof buf, 0);
      if (n <= 0 || !parser_.Feed(buf, static_cast<size_t>(n))) return std::nullopt;
    }
  }

  // The device's side of a login to its account (password "pw").
  bool AcceptLogin() {
    auto login = std::make_unique<varurovodiv::test::FakeDeviceLogin>("pw");
    if (!Send(login->HelloFrame())) return false;
    for (int step = 0; step < 2; ++step) {
      const auto f = Next();
      const auto reply = f ? login->Answer(*f) : std::nullopt;
      if (!reply || !Send(*reply)) return false;
    }
    login_ = std::move(login);
    return login_->logged_in();
  }
  static wire::Hello Hello() { return {std::string(16, 'c')}; }

  // Answers heartbeats until the SDK closes the link or the device stops.
  void Idle() {
    while (!stop_.load()) {
      if (!Next(milliseconds(200)) && Closed()) return;
    }
  }

  // A small send buffer: what the device has sent is mostly with the peer.
  void SmallSendBuffer() {
    const int bytes = 64 * 1024;
    setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
  }

  bool Closed() {
    pollfd p{fd_, POLLIN, 0};
    char c;
    return poll(&p, 1, 0) == 1 && recv(fd_, &c, 1, MSG_PEEK | MSG_DONTWAIT) <= 0;
  }

 private:
  int fd_;
  const std::atomic<bool>& stop_;
  wire::FrameParser parser_;
  std::unique_ptr<varurovodiv::test::FakeDeviceLogin> login_;  // once logged in
};

// Serves the connections it accepts one after another with a script; the
// argument is the number of the connection, from 0.
class FakeDevice {
 public:
  using Script = std::function<void(Link&, int)>;

  explicit FakeDevice(Script script)
      : script_(std::move(script)), server_([this](int fd, int n) {
          Link link(fd, server_.stopping());
          script_(link, n);
        }) {}
  uint16_t port() const { return server_.port(); }
  // Waits until this many connections have ended.
  bool WaitServed(int count, milliseconds timeout = varurovodiv::test::Scaled(milliseconds(5000))) {
    const auto end = Clock::now() + timeout;
    while (server_.served() < count) {
      if (Clock::now() >= end) return false;
      std::this_thread::sleep_for(milliseconds(5));
    }
    return true;
  }

 private:
  Script script_;
  varurovodiv::test::LoopbackServer server_;
};

int OpenDescriptors() {
  int n = 0;
  DIR* d = opendir("/proc/self/fd");
  while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
  closedir(d);
  return n - 1;  // the directory itself
}

// The descriptor count once it is `expected` or a bounded wait is over: a
// logout leaves the login's last descriptor to the thread that joins it.
int OpenDescriptorsSettled(int expected) {
  int n = OpenDescriptors();
  for (int i = 0; i < 100 * varurovodiv::test::TimeScale() && n != expected; ++i) {
    std::this_thread::sleep_for(milliseconds(10));
    n = OpenDescriptors();
  }
  return n;
}

std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

class HostileDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    varurovodiv::test::SetTestSdkTimeouts();
    ASSERT_EQ(ZQ_NETSDK_IPC_Init(), 0);
    rec_.Register();
    ZQ_NETSDK_IPC_SetAutoReconnect(0, 0);
  }
  void TearDown() override {
    rec_.Hold(false);
    EXPECT_EQ(ZQ_NETSDK_IPC_Cleanup(), 0);
  }

  int Login(const FakeDevice& device) {
    const int h = ZQ_NETSDK_IPC_Login("127.0.0.1", device.port(), "admin", "pw", 0);
    EXPECT_GT(h, 0);
    EXPECT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_LOGIN_OK));
    return h;
  }

  size_t Count(int handle, int code) {
    return EventRecorder::Count(rec_.Snapshot(), handle, code, false);
  }

  EventRecorder rec_;
};

// A device sends 32 events of 1 MiB to a callback that takes none, then
// answers a request: the SDK holds at most its login budget of them and drops
// the rest; the link stays up and the reply arrives after the events held.
TEST_F(HostileDevice, AFloodOfLargeEventsIsBoundedAndTheLinkStays) {
  constexpr int kEvents = 32;
  // Events still in the sockets when the callback is released: the SDK's
  // 1 MiB receive buffer (doubled by the kernel) and the device's small send
  // buffer span at most three.
  constexpr size_t kInSockets = 3;
  std::atomic<bool> go{false};
  std::atomic<int> sent{0};
  FakeDevice device([&](Link& link, int) {
    if (!link.AcceptLogin()) return;
    link.SmallSendBuffer();
    while (!go.load()) link.Next(milliseconds(20));
    const std::string big(wire::kMaxPayload, 'x');
    for (int i = 0; i < kEvents && link.SendFrame(FrameType::kEvent, 0, 32, 0, big); ++i) sent.fetch_add(1);
    while (auto f = link.Next(milliseconds(10000))) {
      if (f->header.type == static_cast<uint16_t>(FrameType::kSystemControl)) link.Reply(*f, 0, "<done/>");
    }
  });
  const int h = Login(device);
  rec_.Hold(true);
  go.store(true);
  // All sent: the SDK read on while its budget was full, dropping.
  for (int i = 0; i < 500 * varurovodiv::test::TimeScale() && sent.load() < kEvents; ++i) {
    std::this_thread::sleep_for(milliseconds(10));
  }
  ASSERT_EQ(sent.load(), kEvents);
  ASSERT_EQ(ZQ_NETSDK_IPC_SystemControl(h, 1019, nullptr, ""), 0);
  rec_.Hold(false);
  ASSERT_TRUE(rec_.WaitAux(h, 1019));
  const std::vector<Delivered> got = rec_.For(h);
  // One event in the held callback, the rest within the budget; no link end.
  EXPECT_LE(Count(h, 32), kLoginBudget / wire::kMaxPayload + 1 + kInSockets);
  EXPECT_GE(Count(h, 32), 2u);
  EXPECT_EQ(got.size(), Count(h, 32) + 2);  // and LOGIN_OK, the reply
  EXPECT_TRUE(got.back().aux);
  EXPECT_EQ(got.back().result, 0);
}

// While one device floods small events at a held callback, another device's
// 100 replies all arrive; once the callback runs again the two logins take
// turns, so the replies come out among the first events, and the flooding
// login is not cut.
TEST_F(HostileDevice, RepliesOfAnotherLoginSurviveAFlood) {
  std::atomic<bool> go{false};
  FakeDevice flooder([&](Link& link, int) {
    if (!link.AcceptLogin()) return;
    while (!go.load()) {
      if (!link.Next(milliseconds(20)) && link.Closed()) return;
    }
    // Each burst is sealed anew: a frame sent twice does not open.
    for (;;) {
      std::string burst;
      while (burst.size() < 64 * 1024) {
        burst += link.Frame(FrameType::kEvent, 0, 32, 0, std::string(100, 'e'));
      }
      if (!link.Send(burst)) return;
    }
  });
  std::atomic<int> answered{0};
  FakeDevice quiet([&](Link& link, int) {
    if (!link.AcceptLogin()) return;
    while (auto f = link.Next(milliseconds(10000))) {
      if (f->header.type == static_cast<uint16_t>(FrameType::kSystemControl) &&
          link.Reply(*f, 0, "<RESPONSE_PARAM n=\"" + std::to_string(answered.load()) + "\" />")) {
        answered.fetch_add(1);
      }
    }
  });
  const int a = Login(flooder);
  const int b = Login(quiet);
  const size_t before = rec_.Snapshot().size();
  rec_.Hold(true);
  go.store(true);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(ZQ_NETSDK_IPC_SystemControl(b, 1019, nullptr, ""), 0);
  for (int i = 0; i < 500 * varurovodiv::test::TimeScale() && answered.load() < 100; ++i) {
    std::this_thread::sleep_for(milliseconds(10));
  }
  ASSERT_EQ(answered.load(), 100);
  // The replies reach the SDK's queue (the flood fills A's budget meanwhile).
  std::this_thread::sleep_for(varurovodiv::test::Scaled(milliseconds(200)));
  rec_.Hold(false);
  ASSERT_TRUE(rec_.WaitAux(b, 1019, 100));
  const std::vector<Delivered> all = rec_.Snapshot();
  size_t k = 0;
  for (size_t i = before; i < all.size(); ++i) {
    if (all[i].handle != b) continue;
    EXPECT_EQ(all[i].result, 0);
    EXPECT_EQ(all[i].data, "<RESPONSE_PARAM n=\"" + std::to_string(k) + "\" />");
    // The held event, then one of A's between two of B's.
    EXPECT_LE(i - before, 2 * k + 2) << "reply " << k;
    ++k;
  }
  EXPECT_EQ(k, 100u);
  // The flood goes on being read and served, and its link stays.
  EXPECT_TRUE(rec_.WaitStatus(a, 32, 20000));
  for (int code : {STATUS_EVENT_PROTOCOL_ERROR, STATUS_EVENT_LINK_LOST, STATUS_EVENT_HEARTBEAT_LOST}) {
    EXPECT_EQ(Count(a, code), 0u) << code;
  }
}

// Replies beyond the login's budget are never dropped: the SDK stops reading
// the link until the callback catches up, and neither the replies nor the
// link time out meanwhile.
TEST_F(HostileDevice, LargeRepliesToASlowCallbackWaitAndAllArrive) {
  // More than the budget and the socket buffers (1 MiB receive buffer, doubled
  // by the kernel, and at most 4 MiB of send buffer) together can hold.
  constexpr int kReplies = 32;
  constexpr size_t kReplySize = 512 * 1024;
  std::atomic<int> answered{0};
  FakeDevice device([&](Link& link, int) {
    if (!link.AcceptLogin()) return;
    const std::string big(kReplySize, 'r');
    while (auto f = link.Next(milliseconds(10000))) {
      if (f->header.type == static_cast<uint16_t>(FrameType::kGetConfig) && link.Reply(*f, 0, big)) {
        answered.fetch_add(1);
      }
    }
  });
  const int h = Login(device);
  rec_.Hold(true);
  for (int i = 0; i < kReplies; ++i) ASSERT_EQ(ZQ_NETSDK_IPC_GetDVRConfig(h, 504, 0, "", nullptr, 0), 0);
  for (int i = 0; i < 500 * varurovodiv::test::TimeScale() && answered.load() * kReplySize < kLoginBudget; ++i) {
    std::this_thread::sleep_for(milliseconds(10));
  }
  // Longer than the reply time-out and the dead-link time.
  std::this_thread::sleep_for(varurovodiv::test::Scaled(milliseconds(3200)));
  EXPECT_LT(answered.load(), kReplies);  // the device waits in flow control
  rec_.Hold(false);
  ASSERT_TRUE(rec_.WaitAux(h, 504, kReplies));
  for (const Delivered& e : rec_.For(h)) {
    if (e.aux) {
      EXPECT_EQ(e.result, 0);
      EXPECT_EQ(e.data.size(), kReplySize);
    } else {
      EXPECT_EQ(e.code, STATUS_EVENT_LOGIN_OK);
    }
  }
  EXPECT_EQ(answered.load(), kReplies);
}

// Event codes that belong to the SDK are not passed on, whatever the device
// sends; a forged "upload done" does not end the upload twice.
TEST_F(HostileDevice, ForgedSdkEventCodesAreNotPassedOn) {
  const uint32_t forged[] = {2,  3,  4,  5,  14, 15, 16, 17, 31, 34, 54, 55,
                             0xFFFFFFFFu, 0xFFFFFFF0u, 0, 1000};
  FakeDevice device([&](Link& link, int) {
    if (!link.AcceptLogin()) return;
    for (uint32_t code : forged) {
      link.SendFrame(FrameType::kEvent, 0, code, 0, "<RESPONSE_PARAM LocalFileName=\"/etc/passwd\" />");
    }
    link.SendFrame(FrameType::kEvent, 0, 23, 0, std::string(168, '\0'));
    link.SendFrame(FrameType::kEvent, 0, 32, 0, "forged-done");
    auto begin = link.Next();
    if (!begin || !link.Reply(*begin, 0)) return;
    link.SendFrame(FrameType::kEvent, 0, STATUS_EVENT_UPLOAD_DONE, 0, "");
    while (auto f = link.Next()) {
      if (f->header.type == static_cast<uint16_t>(FrameType::kPutEnd)) {
        link.Reply(*f, wire::kResultChecksum);
        break;
      }
    }
    link.SendFrame(FrameType::kEvent, 0, 32, 0, "upload-done");
    link.Idle();
  });
  const int h = Login(device);
  ASSERT_TRUE(rec_.WaitStatus(h, 32));
  std::vector<int> codes;
  for (const Delivered& e : rec_.For(h)) codes.push_back(e.code);
  EXPECT_EQ(codes, (std::vector<int>{STATUS_EVENT_LOGIN_OK, STATUS_EVENT_ALARM, 32}));

  const auto file = kelvara::test::MakeTempDir("hostile") / "cfg.xml";
  std::ofstream(file) << "<CONFIG />";
  ASSERT_EQ(ZQ_NETSDK_IPC_SetConfigFile(h, file.c_str()), 0);
  ASSERT_TRUE(rec_.WaitStatus(h, 32, 2));
  EXPECT_EQ(Count(h, STATUS_EVENT_UPLOAD_FAILED), 1u);
  EXPECT_EQ(Count(h, STATUS_EVENT_UPLOAD_DONE), 0u);
}

// Transfer replies count only when they are the reply the transfer waits for;
// downloads go to a new ".part" file that is never one found in the way.
TEST_F(HostileDevice, TransferRepliesOfTheWrongKindAreRefused) {
  enum class Act { kAnswerUploadAsDownload, kAnswerDownloadAsUploadEnd, kWrongHash, kGood };
  enum class Part { kNone, kFile, kLink };
  struct Case {
    const char* name;
    bool upload;
    Act act;
    Part part;  // what lies at "<local>.part" beforehand
    int outcome;
  };
  const Case cases[] = {
      {"upload answered as a download", true, Act::kAnswerUploadAsDownload, Part::kFile,
       STATUS_EVENT_UPLOAD_FAILED},
      {"download answered as an upload end", false, Act::kAnswerDownloadAsUploadEnd, Part::kNone,
       STATUS_EVENT_DOWNLOAD_FAILED},
      {"download with a wrong checksum", false, Act::kWrongHash, Part::kNone,
       STATUS_EVENT_DOWNLOAD_FAILED},
      {"download over a leftover part file", false, Act::kGood, Part::kFile,
       STATUS_EVENT_DOWNLOAD_FAILED},
      {"download over a part-file link", false, Act::kGood, Part::kLink,
       STATUS_EVENT_DOWNLOAD_FAILED},
      {"good download", false, Act::kGood, Part::kNone, STATUS_EVENT_DOWNLOAD_DONE},
  };
  const std::string content = "file content";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto dir = kelvara::test::MakeTempDir("hostile");
    const auto local = dir / "local.xml";
    const auto part = dir / "local.xml.part";
    const auto victim = dir / "victim";
    std::ofstream(victim) << "victim";
    if (c.upload) std::ofstream(local) << "<CONFIG />";
    if (c.part == Part::kFile) std::ofstream(part) << "keep";
    if (c.part == Part::kLink) std::filesystem::create_symlink(victim, part);

    FakeDevice device([&](Link& link, int) {
      if (!link.AcceptLogin()) return;
      auto request = link.Next();
      if (!request) return;
      const uint32_t seq = request->header.sequence;
      const uint32_t kind = request->header.command;
      switch (c.act) {
        case Act::kAnswerUploadAsDownload:
          link.SendFrame(static_cast<uint16_t>(FrameType::kGetFile) | wire::kReplyBit, seq, kind, 0);
          link.SendFrame(FrameType::kFileEnd, 0, kind, 0, "");
          break;
        case Act::kAnswerDownloadAsUploadEnd:
          link.SendFrame(static_cast<uint16_t>(FrameType::kPutEnd) | wire::kReplyBit, seq, kind, 0);
          break;
        case Act::kWrongHash:
        case Act::kGood:
          link.Reply(*request, 0);
          link.SendFrame(FrameType::kFileData, 0, kind, 0, content);
          link.SendFrame(FrameType::kFileEnd, 0, kind, 0,
                         wire::DigestBytes(wire::Sha256Of(c.act == Act::kGood ? content : "x")));
          break;
      }
      // Let the SDK read it all before the link ends.
      link.Next(milliseconds(300));
    });
    const int before = OpenDescriptors();
    const int h = Login(device);
    ASSERT_EQ(c.upload ? ZQ_NETSDK_IPC_SetConfigFile(h, local.c_str())
                       : ZQ_NETSDK_IPC_GetConfigFile(h, local.c_str()),
              0);
    ASSERT_TRUE(rec_.WaitStatus(h, c.outcome));
    ASSERT_TRUE(device.WaitServed(1));
    ASSERT_EQ(ZQ_NETSDK_IPC_Logout(h), 0);
    EXPECT_EQ(OpenDescriptorsSettled(before), before);
    // Exactly one terminal event.
    const auto events = rec_.For(h);
    size_t terminal = 0;
    for (int code : {STATUS_EVENT_UPLOAD_DONE, STATUS_EVENT_UPLOAD_FAILED,
                     STATUS_EVENT_DOWNLOAD_DONE, STATUS_EVENT_DOWNLOAD_FAILED}) {
      terminal += EventRecorder::Count(events, h, code, false);
    }
    EXPECT_EQ(terminal, 1u);
    EXPECT_EQ(ReadFile(victim), "victim");
    if (c.part == Part::kFile) { EXPECT_EQ(ReadFile(part), "keep"); }
    if (c.part == Part::kLink) { EXPECT_TRUE(std::filesystem::is_symlink(part)); }
    if (c.part == Part::kNone) { EXPECT_FALSE(std::filesystem::exists(part)); }
    if (!c.upload) {
      EXPECT_EQ(std::filesystem::exists(local), c.outcome == STATUS_EVENT_DOWNLOAD_DONE);
      if (c.outcome == STATUS_EVENT_DOWNLOAD_DONE) { EXPECT_EQ(ReadFile(local), content); }
    }
  }
}

// Bytes that never complete a frame do not keep a link alive.
TEST_F(HostileDevice, ADribblingDeviceGoesOffline) {
  FakeDevice device([&](Link& link, int) {
    if (!link.AcceptLogin()) return;
    // At 100 ms a byte the frame takes far longer than the dead-link time.
    const std::string frame = link.Frame(FrameType::kEvent, 0, 32, 0, std::string(256, 'd'));
    for (char c : frame) {
      if (!link.Send(std::string(1, c))) return;
      link.Next(milliseconds(100), /*answer_heartbeats=*/false);
      if (link.Closed()) return;
    }
  });
  const int h = Login(device);
  EXPECT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_HEARTBEAT_LOST, 1, varurovodiv::test::Scaled(milliseconds(6000))));
  EXPECT_EQ(Count(h, 32), 0u);
}

// A device that does not know the password (one posing as another device,
// or the address of a spoofed discovery reply) gets nothing to test passwords
// against: every share the SDK sends is new, its one guess per login fails,
// and a verdict it forges is refused, after which the SDK sends nothing more.
TEST_F(HostileDevice, AnImpostorGetsFreshSharesAndCannotFinishTheLogin) {
  std::vector<wire::LoginShare> shares;
  std::vector<std::string> tags;
  std::mutex mutex;
  std::atomic<int> guesses_right{0}, frames_after_verdict{0};
  FakeDevice impostor([&](Link& link, int) {
    varurovodiv::test::FakeDeviceLogin guess("guess");  // the same HELLO every time
    if (!link.Send(guess.HelloFrame())) return;
    const auto share = link.Next();
    const auto share_reply = share ? guess.Answer(*share) : std::nullopt;
    if (!share_reply || !link.Send(*share_reply)) return;
    const auto login = link.Next();
    if (!login) return;
    guess.Answer(*login);
    guesses_right += guess.logged_in() ? 1 : 0;
    {
      std::lock_guard lock(mutex);
      if (guess.share()) shares.push_back(*guess.share());
      tags.push_back(login->payload);
    }
    link.Reply(*login, 0, std::string(wire::kTagSize, 't'));
    if (link.Next(milliseconds(300))) ++frames_after_verdict;
  });
  for (int i = 0; i < 2; ++i) {  // one connection at a time
    const int h = ZQ_NETSDK_IPC_Login("127.0.0.1", impostor.port(), "admin", "pw", 0);
    EXPECT_TRUE(rec_.WaitStatus(h, STATUS_EVENT_LOGIN_REFUSED));
    ASSERT_TRUE(impostor.WaitServed(i + 1));
    for (const Delivered& e : rec_.For(h)) EXPECT_NE(e.code, STATUS_EVENT_LOGIN_OK);
    ZQ_NETSDK_IPC_Logout(h);
  }
  ASSERT_EQ(shares.size(), 2u);
  ASSERT_EQ(tags.size(), 2u);
  EXPECT_EQ(shares[0].user, "admin");
  EXPECT_NE(shares[0].nonce, shares[1].nonce);
  EXPECT_NE(shares[0].share, shares[1].share);
  EXPECT_NE(tags[0], tags[1]);
  EXPECT_EQ(guesses_right.load(), 0);
  EXPECT_EQ(frames_after_verdict.load(), 0);
}

// A share that is no point, a tag that does not prove the password and a
// refusal all end as a refused login, the outcome of a wrong password; a share
// of the wrong size breaks the protocol, a verdict of any kind that does not
// prove the password is a refusal. After a bad share the SDK sends no tag.
TEST_F(HostileDevice, BadSharesAndTagsFailTheLogin) {
  struct Case {
    const char* name;
    int step;  // the reply changed: 0 to LOGIN_SHARE, 1 the verdict
    int32_t result;
    std::function<std::string(const std::string& honest, const wire::Frame& request)> payload;
    int event;
    bool tag_follows;  // whether the SDK still sends its tag
  };
  auto same = [](const std::string& honest, const wire::Frame&) { return honest; };
  auto flipped = [](const std::string& honest, const wire::Frame&) {
    std::string p = honest;
    p[5] = static_cast<char>(p[5] ^ 1);
    return p;
  };
  auto fixed = [](std::string bytes) {
    return [bytes](const std::string&, const wire::Frame&) { return bytes; };
  };
  const Case cases[] = {
      {"identity share", 0, 0, fixed(std::string(32, '\0')), STATUS_EVENT_LOGIN_REFUSED, false},
      {"share that is no point", 0, 0, fixed(std::string(32, '\xff')), STATUS_EVENT_LOGIN_REFUSED,
       false},
      {"share one byte short", 0, 0, [](const std::string& h, auto&) { return h.substr(1); },
       STATUS_EVENT_PROTOCOL_ERROR, false},
      {"account refused", 0, wire::kResultBadCredentials, fixed(""), STATUS_EVENT_LOGIN_REFUSED,
       false},
      // A point, but of another exchange: the device cannot check the SDK's tag.
      {"share replaced in transit", 0, 0,
       fixed(wire::LoginExchange(wire::LoginExchange::Side::kDevice, "pw", "admin",
                                 std::string(16, 'c'), std::string(16, 'n'))
                 .share()),
       STATUS_EVENT_LOGIN_REFUSED, true},
      {"forged tag", 1, 0, flipped, STATUS_EVENT_LOGIN_REFUSED, true},
      {"the SDK's own tag reflected", 1, 0,
       [](auto&, const wire::Frame& request) { return request.payload; }, STATUS_EVENT_LOGIN_REFUSED,
       true},
      {"tag one byte short", 1, 0, [](const std::string& h, auto&) { return h.substr(1); },
       STATUS_EVENT_LOGIN_REFUSED, true},
      {"verdict refused", 1, wire::kResultBadCredentials, same, STATUS_EVENT_LOGIN_REFUSED, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::atomic<bool> tag_sent{false};
    FakeDevice device([&](Link& link, int) {
      varurovodiv::test::FakeDeviceLogin login("pw");
      if (!link.Send(login.HelloFrame())) return;
      for (int step = 0; step < 2; ++step) {
        const auto f = link.Next(milliseconds(300));
        if (!f) return;
        if (step == 1) tag_sent.store(true);
        const auto honest = login.Answer(*f);
        if (!honest) return;
        if (step != c.step) {
          if (!link.Send(*honest)) return;
        } else if (!link.Reply(*f, c.result, c.payload(honest->substr(wire::kHeaderSize), *f))) {
          return;
        }
      }
      link.Next(milliseconds(300));
    });
    const int h = ZQ_NETSDK_IPC_Login("127.0.0.1", device.port(), "admin", "pw", 0);
    ASSERT_TRUE(rec_.WaitStatus(h, c.event));
    EXPECT_EQ(rec_.For(h).size(), 1u);
    ZQ_NETSDK_IPC_Logout(h);
    ASSERT_TRUE(device.WaitServed(1));
    EXPECT_EQ(tag_sent.load(), c.tag_follows);
  }
}

// A device that does not know the password learns whether one guess was
// right from the SDK's tag. Whatever it does once it has the tag, short of
// proving the password (hanging up, sending garbage, staying silent, answering
// out of turn), the login is refused and the automatic reconnection does not
// come back to offer it another tag: one guess per login call.
TEST_F(HostileDevice, ARogueDeviceGetsOneGuessPerLoginCall) {
  struct Case {
    const char* name;
    std::function<void(Link&, const wire::Frame& login)> after_tag;
  };
  const Case cases[] = {
      {"hangs up", [](Link&, const wire::Frame&) {}},
      {"sends garbage", [](Link& l, const wire::Frame&) { l.Send("garbage, not a frame at all....."); }},
      {"stays silent", [](Link& l, const wire::Frame&) { l.Next(varurovodiv::test::Scaled(milliseconds(3000))); }},
      {"answers another request",
       [](Link& l, const wire::Frame& login) {
         l.SendFrame(static_cast<uint16_t>(FrameType::kHeartbeat) | wire::kReplyBit, login.header.sequence, 0, 0);
         l.Next(milliseconds(500));
       }},
      {"sends a short tag",
       [](Link& l, const wire::Frame& login) {
         l.Reply(login, 0, std::string(wire::kTagSize - 1, 't'));
         l.Next(milliseconds(500));
       }},
  };
  ZQ_NETSDK_IPC_SetAutoReconnect(0, 1);
  // All rogues at once, each with its own login; every one counts the tags it got.
  std::vector<std::unique_ptr<FakeDevice>> rogues;
  std::vector<std::unique_ptr<std::atomic<int>>> tags;
  std::vector<int> handles;
  for (const Case& c : cases) {
    tags.push_back(std::make_unique<std::atomic<int>>(0));
    std::atomic<int>& got = *tags.back();
    rogues.push_back(std::make_unique<FakeDevice>([&c, &got](Link& link, int) {
      varurovodiv::test::FakeDeviceLogin guess("a guessed word");
      if (!link.Send(guess.HelloFrame())) return;
      const auto share = link.Next();
      const auto share_reply = share ? guess.Answer(*share) : std::nullopt;
      if (!share_reply || !link.Send(*share_reply)) return;
      const auto login = link.Next();
      if (!login || login->header.type != static_cast<uint16_t>(FrameType::kLogin)) return;
      ++got;
      c.after_tag(link, *login);
    }));
    handles.push_back(ZQ_NETSDK_IPC_Login("127.0.0.1", rogues.back()->port(), "admin", "pw", 0));
  }
  for (size_t i = 0; i < handles.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_TRUE(rec_.WaitStatus(handles[i], STATUS_EVENT_LOGIN_REFUSED));
  }
  // Ten times the first reconnection pause and more: a retry would have come.
  std::this_thread::sleep_for(varurovodiv::test::Scaled(milliseconds(1500)));
  for (size_t i = 0; i < handles.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_EQ(tags[i]->load(), 1);
    const auto events = rec_.For(handles[i]);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].code, STATUS_EVENT_LOGIN_REFUSED);
  }
  for (int h : handles) ZQ_NETSDK_IPC_Logout(h);
}

int Threads() {
  int n = 0;
  DIR* d = opendir("/proc/self/task");
  while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
  closedir(d);
  return n;
}

// Polls `count` until it is at most `bound`, within a bounded wait; its last value.
int SettlesTo(const std::function<int()>& count, int bound) {
  int n = count();
  for (int i = 0; i < 200 * varurovodiv::test::TimeScale() && n > bound; ++i) {
    std::this_thread::sleep_for(milliseconds(10));
    n = count();
  }
  return n;
}

// A host answering many logins with refusals (one guess each) must not use
// up the process: a refused login keeps no thread, descriptor or buffer, yet
// its handle answers as before until the logout, and nothing writes to the
// wake-up descriptor it gave back, whose number the process reuses.
TEST_F(HostileDevice, ARefusedLoginKeepsNoThreadOrDescriptor) {
  std::atomic<int> guesses{0};
  FakeDevice rogue([&guesses](Link& link, int) {
    varurovodiv::test::FakeDeviceLogin guess("a guessed word");
    if (!link.Send(guess.HelloFrame())) return;
    for (int step = 0; step < 2; ++step) {
      const auto f = link.Next();
      if (f && f->header.type == static_cast<uint16_t>(FrameType::kLogin)) ++guesses;
      const auto reply = f ? guess.Answer(*f) : std::nullopt;
      if (!reply || !link.Send(*reply)) return;
    }
  });
  // The SDK's own threads (starter, callbacks) exist before the count.
  const int warm = ZQ_NETSDK_IPC_Login("127.0.0.1", rogue.port(), "admin", "pw", 0);
  ASSERT_TRUE(rec_.WaitStatus(warm, STATUS_EVENT_LOGIN_REFUSED));
  ZQ_NETSDK_IPC_Logout(warm);
  const int threads_before = SettlesTo(Threads, Threads() - 1);
  const int fds_before = OpenDescriptorsSettled(OpenDescriptors());

  // In rounds of eight, as the fake device takes one connection at a time.
  constexpr int kLogins = 64;
  std::vector<int> handles;
  while (handles.size() < kLogins) {
    const size_t first = handles.size();
    for (int i = 0; i < 8; ++i) handles.push_back(ZQ_NETSDK_IPC_Login("127.0.0.1", rogue.port(), "admin", "pw", 0));
    for (size_t i = first; i < handles.size(); ++i) ASSERT_TRUE(rec_.WaitStatus(handles[i], STATUS_EVENT_LOGIN_REFUSED));
  }
  EXPECT_EQ(guesses.load(), kLogins + 1);
  const int threads_after = SettlesTo(Threads, threads_before);
  const int fds_after = OpenDescriptorsSettled(fds_before);
  RecordProperty("threads_after_refusals", threads_after - threads_before);
  RecordProperty("descriptors_after_refusals", fds_after - fds_before);
  EXPECT_LE(threads_after, threads_before) << "threads left by " << kLogins << " refused logins";
  EXPECT_LE(fds_after, fds_before) << "descriptors left by " << kLogins << " refused logins";

  // New descriptors take the numbers given back; calls on the refused
  // handles that would wake their threads write nothing into them.
  int pipes[8][2];
  for (auto& p : pipes) ASSERT_EQ(pipe2(p, O_NONBLOCK | O_CLOEXEC), 0);
  for (int h : handles) {
    EXPECT_EQ(ZQ_NETSDK_IPC_SetAutoReconnect(h, 0), 0);
    EXPECT_EQ(ZQ_NETSDK_IPC_SetAutoReconnect(h, 1), 0);
    EXPECT_EQ(ZQ_NETSDK_IPC_SystemControl(h, 1019, nullptr, ""), ZQ_NETSDK_ERR_NOT_ONLINE);
    EXPECT_EQ(ZQ_NETSDK_IPC_GetUpgradeProgress(h), 0);
  }
  for (auto& p : pipes) {
    char c;
    EXPECT_EQ(read(p[0], &c, 1), -1) << "something wrote into a reused descriptor";
    close(p[0]);
    close(p[1]);
  }
  // No event after the refusal, and the reconnection offered no further guess.
  std::this_thread::sleep_for(varurovodiv::test::Scaled(milliseconds(500)));
  EXPECT_EQ(guesses.load(), kLogins + 1);
  for (int h : handles) EXPECT_EQ(rec_.For(h).size(), 1u);
  for (int h : handles) EXPECT_EQ(ZQ_NETSDK_IPC_Logout(h), 0);
  EXPECT_EQ(ZQ_NETSDK_IPC_SystemControl(handles[0], 1019, nullptr, ""), ZQ_NETSDK_ERR_BAD_HANDLE);
}

// A handshake that breaks the protocol is reported as a protocol error; a
// device that only hangs up is unreachable.
TEST_F(HostileDevice, HandshakeErrorsAreReportedAsProtocolErrors) {
  struct Case {
    const char* name;
    std::function<void(Link&)> act;
    int event;
  };
  const Case cases[] = {
      {"bad magic", [](Link& l) {
         std::string h = wire::EncodeFrame(FrameType::kHello, 0, 0, 0, 0, wire::EncodeHello(Link::Hello()));
         h[0] = 'X';
         l.Send(h);
       },
       STATUS_EVENT_PROTOCOL_ERROR},
      {"short challenge", [](Link& l) { l.SendFrame(FrameType::kHello, 0, 0, 0, "abc"); },
       STATUS_EVENT_PROTOCOL_ERROR},
      {"HELLO of another login method",
       [](Link& l) {
         // Method 1: the same exchange with the link left in clear.
         std::string hello = wire::EncodeHello(Link::Hello());
         hello[3] = 1;
         l.SendFrame(FrameType::kHello, 0, 0, 0, hello);
       },
       STATUS_EVENT_PROTOCOL_ERROR},
      {"event before the challenge", [](Link& l) { l.SendFrame(FrameType::kEvent, 0, 32, 0, "x"); },
       STATUS_EVENT_PROTOCOL_ERROR},
      {"verdict of another type",
       [](Link& l) {
         l.SendFrame(FrameType::kHello, 0, 0, 0, wire::EncodeHello(Link::Hello()));
         if (auto login = l.Next()) {
           l.SendFrame(static_cast<uint16_t>(FrameType::kHeartbeat) | wire::kReplyBit,
                       login->header.sequence, 0, 0);
         }
       },
       STATUS_EVENT_PROTOCOL_ERROR},
      {"hangs up", [](Link&) {}, STATUS_EVENT_CONNECT_FAILED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDevice device([&](Link& link, int) {
      c.act(link);
      link.Next(milliseconds(300));
    });
    const int h = ZQ_NETSDK_IPC_Login("127.0.0.1", device.port(), "admin", "pw", 0);
    ASSERT_TRUE(rec_.WaitStatus(h, c.event));
    EXPECT_EQ(rec_.For(h).size(), 1u);
    ZQ_NETSDK_IPC_Logout(h);
  }
}

// A logout closes the link at once (the device sees it before any thread is
// joined), and a login to the same device right after it works. The fake
// device serves one connection at a time, so the new login is answered only
// once the device has seen the old link end.
TEST_F(HostileDevice, ALogoutClosesTheLinkAndTheDeviceTakesANewLogin) {
  FakeDevice device([](Link& link, int) {
    if (link.AcceptLogin()) link.Idle();
  });
  for (int round = 0; round < 3; ++round) {
    const int h = Login(device);
    ASSERT_EQ(ZQ_NETSDK_IPC_Logout(h), 0);
    EXPECT_EQ(ZQ_NETSDK_IPC_SystemControl(h, 1019, nullptr, ""), ZQ_NETSDK_ERR_BAD_HANDLE);
    // Well within a heartbeat period and the dead-link time: the SDK ended it.
    EXPECT_TRUE(device.WaitServed(round + 1, varurovodiv::test::Scaled(milliseconds(1000))));
  }
  // Logged out and in again at once, many times: each new login is made.
  int h = Login(device);
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(ZQ_NETSDK_IPC_Logout(h), 0);
    h = Login(device);
  }
  EXPECT_EQ(Count(h, STATUS_EVENT_LOGIN_OK), 1u);
  ASSERT_EQ(ZQ_NETSDK_IPC_LogoutAll(), 0);
  EXPECT_TRUE(device.WaitServed(24, varurovodiv::test::Scaled(milliseconds(1000))));
}

}  // namespace
