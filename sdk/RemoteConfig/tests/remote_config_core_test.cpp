// The remote-configuration library's GUI-free parts: the fields of a block and
// the block written back with them, and its own link to a simulated device on
// loopback (login, refusal, reads, writes, a lost link), and to hostile
// devices of the test's own.
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
#include <thread>

#include "../../VaRurOvoDiv/tests/fake_device_login.h"
#include "../../VaRurOvoDiv/tests/loopback_server.h"
#include "../../VaRurOvoDiv/tests/loopback_simulator.h"
#include "config_pages.h"
#include "digest.h"
#include "remote_session.h"
#include "simulator.h"

namespace remote_config {
namespace {

using kelvara::devsim::Simulator;

TEST(ConfigPages, FieldsInDocumentOrderAndWrittenBackWholly) {
  const std::string block =
      "<Video><Capture Brightness=\"128\" RecordBytes=\"00ff\"><SmartIr Level=\"4\" /></Capture>"
      "<Capture Brightness=\"7\" /><!-- kept --></Video>";
  const auto fields = BlockFields(block);
  ASSERT_TRUE(fields);
  const std::vector<std::pair<std::string, std::string>> expected = {{"Video/Capture.Brightness", "128"},
                                                                     {"Video/Capture.RecordBytes", "00ff"},
                                                                     {"Video/Capture/SmartIr.Level", "4"},
                                                                     {"Video/Capture[2].Brightness", "7"}};
  ASSERT_EQ(fields->size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ((*fields)[i].label, expected[i].first);
    EXPECT_EQ((*fields)[i].value, expected[i].second);
  }
  auto edited = *fields;
  edited[2].value = "9\"&";
  EXPECT_EQ(ApplyFields(block, edited),
            "<Video><Capture Brightness=\"128\" RecordBytes=\"00ff\"><SmartIr Level='9&quot;&amp;' /></Capture>"
            "<Capture Brightness=\"7\" /><!-- kept --></Video>");
  // Fields of another block, or a block that is no XML, give nothing.
  edited.pop_back();
  EXPECT_FALSE(ApplyFields(block, edited));
  EXPECT_FALSE(ApplyFields("<Video><Capture", *fields));
  EXPECT_FALSE(BlockFields("no xml"));
  for (const PageSpec& p : Pages()) EXPECT_EQ(p.set, p.get + 20) << p.title;
}

std::string Repeat(const std::string& s, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += s;
  return out;
}

// Blocks from a hostile device: 1 MiB of nesting overflowed TinyXML's stack,
// 20,000 nested elements with an attribute each built 2.6 GB of labels,
// 100,000 attributes kept the window busy for minutes. Each is refused with
// its reason; a full 102,400-byte block still reads.
TEST(ConfigPages, BlocksTooDeepOrWideAreRefusedWithTheReason) {
  const struct {
    const char* name;
    std::string block;
    std::string error;
  } cases[] = {
      {"1 MiB of nesting", Repeat("<a>", (1u << 20) / 3), "the XML nests deeper than 128 elements"},
      {"20,000 nested elements with an attribute each", Repeat("<e a='1'>", 20'000) + Repeat("</e>", 20'000),
       "the XML nests deeper than 128 elements"},
      {"100,000 attributes", "<r>" + Repeat("<e a='1' b='2' c='3' d='4'/>", 25'000) + "</r>",
       "the block has more than " + std::to_string(kMaxPageFields) + " fields"},
      {"long names deep down",
       Repeat("<" + std::string(200, 'n') + ">", 100) + "<leaf a='1'/>" + Repeat("</" + std::string(200, 'n') + ">", 100),
       "a field's name is longer than 512 bytes"},
  };
  for (const auto& c : cases) {
    const BlockRead read = ReadBlock(c.block);
    EXPECT_FALSE(read.fields) << c.name;
    EXPECT_TRUE(read.refused) << c.name;
    EXPECT_EQ(read.error, c.error) << c.name;
  }
  const BlockRead notXml = ReadBlock("no xml");
  EXPECT_FALSE(notXml.fields);
  EXPECT_FALSE(notXml.refused);

  std::string full = "<Config>";
  while (full.size() < 102'400 - 64) full += "<Channel Name=\"channel\" Value=\"0123456789\"/>";
  full += "</Config>";
  const BlockRead read = ReadBlock(full);
  ASSERT_TRUE(read.fields) << read.error;
  EXPECT_GT(read.fields->size(), 4'000u);
  EXPECT_TRUE(ApplyFields(full, *read.fields));
}

// The window's bound over all pages: a block that fits what the other pages
// leave keeps its fields; one past it by a single field is refused with the
// reason and keeps none; a block refused already stays as it was.
TEST(ConfigPages, BlocksPastTheWindowsBoundAreRefused) {
  const auto withFields = [](std::size_t n) {
    BlockRead read;
    read.fields = std::vector<Field>(n, Field{"Root.a", "1"});
    return read;
  };
  const struct {
    const char* name;
    std::size_t fields, shown;
    bool kept;
  } cases[] = {
      {"a full page into an empty window", kMaxPageFields, 0, true},
      {"exactly the bound", kMaxPageFields, kMaxWindowFields - kMaxPageFields, true},
      {"one field past the bound", kMaxPageFields, kMaxWindowFields - kMaxPageFields + 1, false},
      {"one field into a full window", 1, kMaxWindowFields, false},
      {"an empty block into a full window", 0, kMaxWindowFields, true},
  };
  for (const auto& c : cases) {
    BlockRead read = withFields(c.fields);
    FitInWindow(read, c.shown);
    EXPECT_EQ(read.fields.has_value(), c.kept) << c.name;
    EXPECT_EQ(read.pastWindow, !c.kept) << c.name;
    EXPECT_EQ(read.refused, !c.kept) << c.name;
    EXPECT_EQ(read.error, c.kept ? "" : "the window's pages would have more than 16384 fields") << c.name;
  }
  BlockRead unreadable = ReadBlock("<a><b></a>");
  FitInWindow(unreadable, kMaxWindowFields);
  EXPECT_FALSE(unreadable.fields);
  EXPECT_FALSE(unreadable.pastWindow);
  EXPECT_EQ(unreadable.error.find("the window"), std::string::npos);
  EXPECT_GT(kMaxWindowFields, kMaxPageFields);
}

class RemoteSessionLan : public ::testing::Test {
 protected:
  void SetUp() override {
    sim = varurovodiv::test::StartLoopbackDevice("pw1");
    ASSERT_TRUE(sim);
  }
  int Port() { return sim->command_port(0); }
  std::unique_ptr<Simulator> sim;
};

TEST_F(RemoteSessionLan, LogsInReadsAndWrites) {
  EXPECT_EQ(RemoteSession("127.0.0.1", Port(), "admin", "wrong").Login(), LoginOutcome::kRefused);
  EXPECT_EQ(RemoteSession("127.0.0.1", 1, "admin", "pw1", 1000).Login(), LoginOutcome::kUnreachable);
  RemoteSession s("127.0.0.1", Port(), "admin", "pw1");
  ASSERT_EQ(s.Login(), LoginOutcome::kOk);
  const Reply capture = s.GetConfig(507);
  ASSERT_EQ(capture.result, 0);
  EXPECT_EQ(capture.text, sim->device(0).GetConfig(507).text);
  auto fields = *BlockFields(capture.text);
  fields[0].value = "80";  // Capture.Volume
  EXPECT_EQ(s.SetConfig(527, *ApplyFields(capture.text, fields)).result, 0);
  EXPECT_NE(sim->device(0).GetConfig(507).text.find("Volume=\"80\""), std::string::npos);
  // The device's own checks answer: a volume out of range is refused and kept out.
  fields[0].value = "150";
  const Reply refused = s.SetConfig(527, *ApplyFields(capture.text, fields));
  EXPECT_EQ(refused.result, 3);
  EXPECT_EQ(ReplyStateText(refused, "saved"), "refused: the device did not accept the values (result 3)");
  const Reply unknown = s.GetConfig(9999);
  EXPECT_EQ(unknown.result, 2);
  EXPECT_EQ(ReplyStateText(unknown, "read"), "refused: the device has no such setting (result 2)");
  // A link lost between requests is logged in again.
  ASSERT_EQ(sim->Control("drop 0").rfind("ok", 0), 0u);
  EXPECT_EQ(s.GetConfig(507).result, 0);
}

// A device's block whose values grow when they are written back (an
// apostrophe comes back as &apos;) past what one frame carries: the save
// fails with its reason and nothing is sent, where the link's worker used to
// end the process; the link goes on.
TEST_F(RemoteSessionLan, ABlockThatGrowsPastOneFrameIsNotSentAndTheLinkGoesOn) {
  const std::string block = "<Capture Volume=\"50\" Note=\"" + std::string(300 * 1024, '\'') + "\" />";
  ASSERT_EQ(sim->Control("set 0 507 " + varurovodiv::wire::ToHex(block)), "ok");
  RemoteSession s("127.0.0.1", Port(), "admin", "pw1");
  ASSERT_EQ(s.Login(), LoginOutcome::kOk);
  const Reply read = s.GetConfig(507);
  ASSERT_EQ(read.result, 0);
  const auto text = ApplyFields(read.text, *BlockFields(read.text));
  ASSERT_TRUE(text);
  ASSERT_FALSE(varurovodiv::wire::FitsOneFrame(text->size()));
  const Reply set = s.SetConfig(527, *text);
  EXPECT_EQ(set.result, kResultNotSent);
  EXPECT_EQ(ReplyStateText(set, "saved"), "failed: too long to send (result 253)");
  EXPECT_EQ(s.GetConfig(507).text, block);
}

TEST(ReplyState, SaysWhatTheResultMeans) {
  const struct {
    int result;
    const char* text;
  } cases[] = {{0, "saved"},
               {-1, "no answer"},
               {1, "refused: wrong user name or password (result 1)"},
               {4, "refused: the device is busy, try again (result 4)"},
               {6, "refused: not supported by this device (result 6)"},
               {254, "failed: the connection was lost (result 254)"},
               {255, "failed: no answer in time (result 255)"},
               {77, "refused (result 77)"}};
  for (const auto& c : cases) EXPECT_EQ(ReplyStateText(Reply{c.result, ""}, "saved"), c.text) << c.result;
}

TEST_F(RemoteSessionLan, AbortEndsAWaitingRequest) {
  RemoteSession s("127.0.0.1", Port(), "admin", "pw1", 30000);
  ASSERT_EQ(s.Login(), LoginOutcome::kOk);
  ASSERT_EQ(sim->Control("codefault 0 507 drop").rfind("ok", 0), 0u);
  std::thread abort([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    s.Abort();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_LT(s.GetConfig(507).result, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << "not the 30 s time-out";
  abort.join();
}

// A device of the test's own on loopback: each connection it accepts runs the
// script, with a parser for what the session sends.
class ScriptedDevice {
 public:
  struct Link {
    int fd;
    varurovodiv::wire::FrameParser parser;
    bool Send(const std::string& bytes) {
      return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }
    std::optional<varurovodiv::wire::Frame> Next(int timeout_ms = 3000) {
      for (;;) {
        if (auto f = parser.Next()) return f;
        pollfd p{fd, POLLIN, 0};
        char buf[4096];
        if (::poll(&p, 1, timeout_ms) != 1) return std::nullopt;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0 || !parser.Feed(buf, static_cast<size_t>(n))) return std::nullopt;
      }
    }
  };
  explicit ScriptedDevice(std::function<void(Link&)> script)
      : script_(std::move(script)), server_([this](int fd, int) {
          Link link{fd, {}};
          script_(link);
        }) {}
  int port() const { return server_.port(); }
  int connections() const { return server_.accepted(); }

 private:
  std::function<void(Link&)> script_;
  varurovodiv::test::LoopbackServer server_;
};

namespace rc_wire = varurovodiv::wire;

// A device that knows no password gets the session's tag once: it hangs up
// then (or answers garbage, or nothing), the login is refused, and neither a
// further login nor a request of the window connects to it again.
TEST(RemoteSessionHostile, ARogueDeviceGetsOneGuess) {
  std::atomic<int> tags{0};
  ScriptedDevice rogue([&](ScriptedDevice::Link& link) {
    varurovodiv::test::FakeDeviceLogin guess("a guessed word");
    if (!link.Send(guess.HelloFrame())) return;
    const auto share = link.Next();
    const auto reply = share ? guess.Answer(*share) : std::nullopt;
    if (!reply || !link.Send(*reply)) return;
    if (link.Next()) ++tags;  // the tag: the guess is tested, then the line goes dead
  });
  RemoteSession s("127.0.0.1", rogue.port(), "admin", "pw", 2000);
  EXPECT_EQ(s.Login(), LoginOutcome::kRefused);
  EXPECT_EQ(s.Login(), LoginOutcome::kRefused);
  EXPECT_LT(s.GetConfig(507).result, 0);
  EXPECT_EQ(rogue.connections(), 1);
  EXPECT_EQ(tags.load(), 1);
}

// The login has one deadline, and so has each request: a device that dribbles
// its HELLO a byte at a time, or sends events instead of the reply, does not
// hold the session past its time-out.
TEST(RemoteSessionHostile, LoginAndRequestsEndAtTheirDeadline) {
  std::atomic<bool> stop{false};
  const auto dribble = [&](ScriptedDevice::Link& link) {
    const std::string hello = varurovodiv::test::FakeDeviceLogin("pw").HelloFrame();
    for (size_t i = 0; i < hello.size() && !stop.load(); ++i) {
      if (!link.Send(hello.substr(i, 1))) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }
  };
  const auto chatter = [&](ScriptedDevice::Link& link) {
    varurovodiv::test::FakeDeviceLogin login("pw");
    if (!link.Send(login.HelloFrame())) return;
    for (int step = 0; step < 2; ++step) {
      const auto f = link.Next();
      const auto reply = f ? login.Answer(*f) : std::nullopt;
      if (!reply || !link.Send(*reply)) return;
    }
    if (!login.seal()) return;
    while (!stop.load()) {  // events, never the reply
      if (!link.Send(login.seal()->Seal(rc_wire::FrameType::kEvent, 0, 0, 32, 0, "tick"))) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  };
  ScriptedDevice slow(dribble), busy(chatter);
  const auto took = [](const std::function<void()>& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::steady_clock::now() - start;
  };
  RemoteSession a("127.0.0.1", slow.port(), "admin", "pw", 1000);
  EXPECT_LT(took([&] { EXPECT_EQ(a.Login(), LoginOutcome::kUnreachable); }), std::chrono::milliseconds(2500));
  RemoteSession b("127.0.0.1", busy.port(), "admin", "pw", 1000);
  ASSERT_EQ(b.Login(), LoginOutcome::kOk);
  // The request, then the one login again after the link is given up, each within its time-out.
  EXPECT_LT(took([&] { EXPECT_LT(b.GetConfig(507).result, 0); }), std::chrono::milliseconds(4500));
  stop.store(true);
}

}  // namespace
}  // namespace remote_config
