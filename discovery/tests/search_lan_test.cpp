// The search thread end to end in a LAN of namespaces: sockets per card,
// replies stored with the card's address, a dead socket, stop and restart,
// requests queued while the thread runs.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "discovery/core/device_map.h"
#include "discovery/core/discovery_log.h"
#include "discovery/core/discovery_protocol.h"
#include "discovery/core/search_reply.h"
#include "discovery/core/search_thread.h"
#include "discovery/tests/lan_fixture.h"
#include "discovery/tests/reply_fixture.h"

namespace kelvara::discovery {
namespace {

using namespace std::chrono_literals;
using test::FakeDevices;
using test::LanFixture;

std::vector<std::string> Replies(const std::string& prefix, int count, int card,
                                 const std::string& type = "NVS-IPC") {
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) {
    test::FakeDevice d;
    d.serial = prefix + std::to_string(i);
    d.deviceType = type;
    d.ip = "10." + std::to_string(77 + card) + "." + std::to_string(1 + i / 250) + "." +
           std::to_string(1 + i % 250);
    out.push_back(ReplyText(d));
  }
  return out;
}

template <typename Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds limit = 5000ms) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(10ms);
  }
  return pred();
}

class SearchLan : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!LanFixture::Enter(2, &why)) GTEST_SKIP() << why;
    SetLogSink([this](const std::string& l) {
      std::lock_guard lock(logMutex);
      log += l;
    });
  }
  void TearDown() override { SetLogSink(nullptr); }
  std::string Log() {
    std::lock_guard lock(logMutex);
    return log;
  }
  SearchThread MakeThread() {
    return SearchThread([this](std::string_view text, const std::string& adapter,
                                 const std::string& sender) {
      OnSearchReply(text, adapter, map, false, {}, sender);
    });
  }
  DeviceMap map;
  std::mutex logMutex;
  std::string log;
};

TEST_F(SearchLan, DevicesOnTwoCardsAreStoredWithTheirCardsAddress) {
  FakeDevices card0(0, [] { return Replies("A", 40, 0); });
  FakeDevices card1(1, [] { return Replies("B", 30, 1); });
  ASSERT_TRUE(card0.Ready() && card1.Ready());
  SearchThread search([this](std::string_view text, const std::string& adapter,
                                 const std::string& sender) {
    OnSearchReply(text, adapter, map, false, {}, sender);
  });
  ASSERT_TRUE(search.Start({}));
  EXPECT_FALSE(search.Start({})) << "never two search threads";
  ASSERT_TRUE(WaitFor([&] { return map.Size() == 70; })) << map.Size();
  ASSERT_TRUE(search.Stop());
  EXPECT_EQ(map.CopyDeviceRecord("A0")->adapterAddress, "10.77.0.1");
  EXPECT_EQ(map.CopyDeviceRecord("A39")->adapterAddress, "10.77.0.1");
  EXPECT_EQ(map.CopyDeviceRecord("B29")->adapterAddress, "10.78.0.1");
  EXPECT_EQ(map.CopyDeviceRecord("B29")->lanConfig.ipAddress, "10.78.1.30");
  // The any-address socket has no route here: its send fails, the cards' still go.
  EXPECT_NE(Log().find("SearchIPCThread(): sendto failed"), std::string::npos);
  EXPECT_EQ(card0.Received().size(), 1u) << "one request per card, no duplicates";
}

TEST_F(SearchLan, TypeFilterAndOneCardChoice) {
  FakeDevices card0(0, [] {
    auto r = Replies("N", 3, 0);
    auto ipc = Replies("I", 2, 0, "IPC-5M");
    r.insert(r.end(), ipc.begin(), ipc.end());
    return r;
  });
  FakeDevices card1(1, [] { return Replies("B", 3, 1); });
  SearchThread search = MakeThread();
  SearchConfig cfg;
  inet_pton(AF_INET, "10.77.0.1", &cfg.adapterChoice);
  ASSERT_TRUE(search.Start(cfg));
  ASSERT_TRUE(WaitFor([&] { return map.Size() >= 3; }));
  std::this_thread::sleep_for(200ms);
  search.Stop();
  EXPECT_EQ(map.Size(), 3u);
  EXPECT_FALSE(map.CopyDeviceRecord("I0"));
  EXPECT_TRUE(card1.Received().empty()) << "the other card was not chosen";
  EXPECT_NE(Log().find("Found one device not NVS or DVS, type=IPC-5M"), std::string::npos);
}

// Every reply reaches the map with the address it came from: one host that
// answers for more devices than its share gets only its share, another
// host's devices still get in.
TEST_F(SearchLan, OneSenderHoldsAtMostItsShareOfTheMap) {
  const int flood = static_cast<int>(kMaxDevicesPerSender) + 20;
  FakeDevices card0(0, [&] { return Replies("F", flood, 0); });
  FakeDevices card1(1, [] { return Replies("B", 3, 1); });
  SearchThread search = MakeThread();
  ASSERT_TRUE(search.Start({}));
  ASSERT_TRUE(WaitFor([&] { return search.GetCounters().replies >= static_cast<unsigned>(flood + 3); }))
      << search.GetCounters().replies;
  search.Stop();
  EXPECT_EQ(map.Size(), kMaxDevicesPerSender + 3);
  EXPECT_TRUE(map.CopyDeviceRecord("B2"));
}

TEST_F(SearchLan, QueuedRequestsGoOutPromptlyAndAreFlushedOnStop) {
  FakeDevices card0(0, [] { return std::vector<std::string>{}; });
  SearchThread search = MakeThread();
  ASSERT_TRUE(search.Start({}));
  ASSERT_TRUE(WaitFor([&] { return card0.Received().size() == 1; }));
  // Woken at once, not after the 1-second receive wait.
  const auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < 5; ++i)
    ASSERT_TRUE(search.Post(BuildDiscoveryMessage(kMsgReboot, "SN" + std::to_string(i), 0)));
  ASSERT_TRUE(WaitFor([&] { return card0.Received().size() == 6; }));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 900ms);
  // The any-address socket (no route here) fails on every send; logged once.
  const std::string log = Log();
  std::size_t failures = 0;
  for (auto p = log.find("sendto failed"); p != std::string::npos; p = log.find("sendto failed", p + 1)) ++failures;
  EXPECT_EQ(failures, 1u) << log;
  // Queued just before the stop: still sent.
  ASSERT_TRUE(search.Post(BuildDiscoveryMessage(kMsgReboot, std::string("LAST"), 0)));
  const auto t1 = std::chrono::steady_clock::now();
  ASSERT_TRUE(search.Stop());
  EXPECT_LT(std::chrono::steady_clock::now() - t1, 900ms) << "stop interrupts the wait";
  ASSERT_TRUE(WaitFor([&] { return card0.Received().size() == 7; }));
  EXPECT_NE(card0.Received().back().find("LAST"), std::string::npos);
  EXPECT_FALSE(search.Post("late")) << "no thread: the caller broadcasts directly";
  EXPECT_FALSE(search.Stop());
}

TEST_F(SearchLan, AStalledThreadsQueueIsBoundedAndNothingAcceptedIsLost) {
  FakeDevices card0(0, [] { return std::vector<std::string>{}; });
  // The thread stalls before its first pass while the window keeps posting commands.
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  SearchConfig config;
  config.adapters = [released] {
    released.wait();
    return LocalIpv4Addresses();
  };
  SearchThread search = MakeThread();
  ASSERT_TRUE(search.Start(config));
  std::size_t accepted = 0;
  bool refused = false;
  for (int i = 0; i < 20000 && !refused; ++i) {
    if (search.Post(BuildDiscoveryMessage(kMsgSetNetwork, "SN" + std::to_string(i), 0)))
      ++accepted;
    else
      refused = true;
  }
  EXPECT_TRUE(refused) << "a full queue hands the request back for a direct send";
  EXPECT_LT(accepted, 20000u);
  release.set_value();
  ASSERT_TRUE(search.Stop());
  EXPECT_GE(search.GetCounters().sends, accepted + 1) << "every accepted request went out";
}

TEST_F(SearchLan, RestartAfterStopAndDirectBroadcast) {
  FakeDevices card0(0, [] { return Replies("R", 2, 0); });
  SearchThread search = MakeThread();
  for (int round = 0; round < 3; ++round) {
    map.Clear();
    ASSERT_TRUE(search.Start({}));
    ASSERT_TRUE(WaitFor([&] { return map.Size() == 2; })) << round;
    ASSERT_TRUE(search.Stop());
  }
  const std::size_t before = card0.Received().size();
  BroadcastToAllAdapters(BuildDiscoveryMessage(kMsgReboot, std::string("X"), 0));
  ASSERT_TRUE(WaitFor([&] { return card0.Received().size() == before + 1; }));
}

TEST_F(SearchLan, OversizedAndForeignDatagramsAreDropped) {
  FakeDevices card0(0, [] {
    auto r = Replies("G", 1, 0);
    r.push_back("<XML_MARLOWCAM>" + std::string(6000, 'x') + "</XML_MARLOWCAM>");
    r.push_back("hello");
    test::FakeDevice d;
    d.serial = "OTHERROOT";
    d.root = "XML_ELSE";
    r.push_back(ReplyText(d));
    return r;
  });
  SearchThread search = MakeThread();
  ASSERT_TRUE(search.Start({}));
  ASSERT_TRUE(WaitFor([&] { return search.GetCounters().received >= 4; }));
  search.Stop();
  EXPECT_EQ(map.Size(), 1u);
  EXPECT_EQ(search.GetCounters().oversized, 1u);
  EXPECT_EQ(search.GetCounters().replies, 1u);
}

TEST_F(SearchLan, AFloodOfStrayDatagramsLogsAFewEscapedLinesPerSender) {
  FakeDevices card0(0, [] {
    std::vector<std::string> r = Replies("F", 1, 0);
    for (int i = 0; i < 400; ++i) {
      r.push_back("stray\r\nline " + std::to_string(i) + std::string("\x01\xff\0tail", 8));
      r.push_back("<XML_MARLOWCAM><MESSAGE_HEADER Msg_type=\"SYSTEM_SEARCHIPC_MESSAGE\" Msg_code=\"3\" "
                  "Msg_flag=\"0\"/>\r\nno serial\x02</XML_MARLOWCAM>");
    }
    return r;
  });
  SearchThread search = MakeThread();
  ASSERT_TRUE(search.Start({}));
  ASSERT_TRUE(WaitFor([&] { return search.GetCounters().received >= 200 && map.Size() == 1; }));
  search.Stop();
  const std::string log = Log();
  std::size_t about_datagrams = 0;
  for (std::size_t at = 0; (at = log.find("recv message", at)) != std::string::npos; ++at) ++about_datagrams;
  for (std::size_t at = 0; (at = log.find("serial number not found", at)) != std::string::npos; ++at)
    ++about_datagrams;
  EXPECT_GE(about_datagrams, 1u);
  EXPECT_LE(about_datagrams, 5u) << "the first few lines per sender, then only a count";
  EXPECT_LT(log.size(), 8000u);
  // Nothing of a datagram reaches the log raw: no CR, no control or 8-bit
  // bytes (the program's own send line ends with CR LF).
  std::string received = log;
  for (std::size_t at; (at = received.find("\r\n")) != std::string::npos;) received.erase(at, 1);
  for (unsigned char c : received) EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7f)) << int(c);
  EXPECT_NE(log.find("stray\\r\\nline"), std::string::npos) << log;
}

}  // namespace
}  // namespace kelvara::discovery
