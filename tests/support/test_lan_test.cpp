// The test LAN itself: the namespaces are wired as documented, the guard
// tells them from the machine's own, and teardown leaves nothing behind.
#include "kelvara_test/test_lan.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "kelvara_test/test_env.h"

namespace kelvara::test {
namespace {

TEST(TestLan, PcReachesEveryLanAddressAndTearsDown) {
  std::string pc_name;
  {
    KELVARA_TEST_LAN_OR_SKIP(lan, (TestLanOptions{.lan_addresses = 300, .default_route = true}));
    pc_name = lan->Namespace(LanSide::kPc);
    EXPECT_TRUE(std::filesystem::exists("/run/netns/" + pc_name));
    for (const std::string& to : {std::string(TestLan::kLanAddress), TestLan::LanAddress(0), TestLan::LanAddress(299)}) {
      EXPECT_EQ(lan->Run(LanSide::kPc, {"ping", "-c1", "-W2", to}), 0) << to;
    }
    EXPECT_EQ(TestLan::LanAddress(299), "10.77.2.50");
    std::string routes;
    EXPECT_EQ(lan->Run(LanSide::kPc, {"ip", "route"}, std::chrono::seconds(5), &routes), 0);
    EXPECT_NE(routes.find("default via 10.77.0.2 dev lan0"), std::string::npos) << routes;
    // A process left running is ended by the teardown.
    EXPECT_GT(lan->Spawn(LanSide::kLan, {"sleep", "30"}), 0);
  }
  EXPECT_FALSE(std::filesystem::exists("/run/netns/" + pc_name));
}

TEST(TestLan, GuardRecognisesOnlyTestNamespaces) {
  EXPECT_FALSE(InTestLanNamespace()) << "the test process itself runs in a test LAN?";
  KELVARA_TEST_LAN_OR_SKIP(lan, TestLanOptions{});
  EXPECT_FALSE(InTestLanNamespace());
  EXPECT_TRUE(lan->CallInThread(LanSide::kPc, [] { return InTestLanNamespace(); }));
  EXPECT_EQ(lan->CallInChild(LanSide::kLan, [] { return InTestLanNamespace() ? 7 : 1; }), 7);
  // The shell script's guard agrees.
  const auto script = SourceDir() / "scripts" / "testlan.sh";
  EXPECT_EQ(lan->Run(LanSide::kPc, {script.string(), "guard"}), 0);
  EXPECT_NE(std::system((script.string() + " guard 2>/dev/null").c_str()), 0);
}

// The neighbour table's limits are the machine's: the script raises all three
// for a LAN of more than 256 addresses and the last such LAN's "down" puts back what
// it found.
TEST(TestLan, ScriptRaisesTheNeighbourTableForLargeLansUntilTheLastIsDown) {
  KELVARA_TEST_LAN_OR_SKIP(probe, TestLanOptions{});
  const std::string script = (SourceDir() / "scripts" / "testlan.sh").string();
  const auto limit = [](int k) {
    std::ifstream in("/proc/sys/net/ipv4/neigh/default/gc_thresh" + std::to_string(k));
    long v = -1;
    in >> v;
    return v;
  };
  const auto up = [&] {
    std::string out;
    FILE* p = popen((script + " up --addrs 300 2>/dev/null").c_str(), "r");
    if (p == nullptr) return out;
    char buf[256];
    while (fgets(buf, sizeof buf, p) != nullptr) out += buf;
    pclose(p);
    const auto at = out.find("PC=");
    return at == std::string::npos ? std::string() : out.substr(at + 3, out.find(' ', at) - at - 3);
  };
  const long before1 = limit(1), before2 = limit(2), before3 = limit(3);
  const std::string first = up(), second = up();
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  // N, 2N and 4N, as the README tells for a real LAN.
  EXPECT_GE(limit(1), 300);
  EXPECT_GE(limit(2), 600);
  EXPECT_GE(limit(3), 1200);
  EXPECT_EQ(std::system((script + " down " + first).c_str()), 0);
  EXPECT_GE(limit(1), 300);  // the second LAN still needs them
  EXPECT_GE(limit(3), 1200);
  EXPECT_EQ(std::system((script + " down " + second).c_str()), 0);
  EXPECT_EQ(limit(1), before1);
  EXPECT_EQ(limit(2), before2);
  EXPECT_EQ(limit(3), before3);
}

TEST(TestLan, ParallelLansAreIsolated) {
  KELVARA_TEST_LAN_OR_SKIP(a, TestLanOptions{});
  KELVARA_TEST_LAN_OR_SKIP(b, TestLanOptions{});
  EXPECT_NE(a->Namespace(LanSide::kPc), b->Namespace(LanSide::kPc));
  // Same addresses, separate wires: both work.
  EXPECT_EQ(a->Run(LanSide::kPc, {"ping", "-c1", "-W2", TestLan::kLanAddress}), 0);
  EXPECT_EQ(b->Run(LanSide::kPc, {"ping", "-c1", "-W2", TestLan::kLanAddress}), 0);
  // A run that outlives its time-out is killed and reported.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(a->Run(LanSide::kPc, {"sleep", "10"}, std::chrono::milliseconds(200)), -1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
}  // namespace kelvara::test
