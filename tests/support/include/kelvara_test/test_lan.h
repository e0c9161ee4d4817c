#pragma once
// The test LAN for network tests: a "PC" and a "LAN" network namespace joined
// by a veth pair, so traffic of a test (broadcasts above all) never leaves the
// machine's own test namespaces.
//
//   PC side:  10.77.0.1/16 on "lan0"   (where the code under test runs)
//   LAN side: 10.77.0.2/16 on "pc0", plus N more addresses 10.77.1.1, 10.77.1.2,
//             ... (one per simulated device)
//
// Needs root and iproute2 ("ip netns"); Create() says why when it cannot, and
// KELVARA_TEST_LAN_OR_SKIP turns that into a GTEST_SKIP. The destructor ends
// every process started in the namespaces and deletes them, also when the test
// failed. Names are unique per process and object (kvt-<pid>-<n>-pc / -lan),
// so tests run in parallel without colliding; namespaces left by a killed
// test are removed by the next Create().
//
// Register tests that use it with LABELS lan.
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

namespace kelvara::test {

enum class LanSide { kPc, kLan };

struct TestLanOptions {
  int lan_addresses = 0;       // extra addresses on the LAN side (LanAddress(0..n-1))
  bool default_route = false;  // PC side: default route via 10.77.0.2
};

class TestLan {
 public:
  static constexpr char kPcAddress[] = "10.77.0.1";
  static constexpr char kLanAddress[] = "10.77.0.2";
  static constexpr int kPrefixLength = 16;
  static constexpr char kPcInterface[] = "lan0";
  static constexpr char kLanInterface[] = "pc0";

  // A new test LAN, or nullptr with *why saying what is missing.
  static std::unique_ptr<TestLan> Create(const TestLanOptions& options, std::string* why);
  ~TestLan();
  TestLan(const TestLan&) = delete;
  TestLan& operator=(const TestLan&) = delete;

  const std::string& Namespace(LanSide side) const { return side == LanSide::kPc ? pc_ : lan_; }
  // The n-th extra LAN address (n from 0): 10.77.1.1 .. 10.77.1.250, 10.77.2.1, ...
  static std::string LanAddress(int n);

  // Runs a program (argv[0] looked up in PATH) inside a namespace and waits
  // for it up to `timeout`. Its exit code; -1 when it could not start, died of
  // a signal or ran out of time (it is then killed). stdout and stderr go to
  // *output when given.
  int Run(LanSide side, const std::vector<std::string>& argv,
          std::chrono::milliseconds timeout = std::chrono::seconds(10), std::string* output = nullptr);

  // Starts a program inside a namespace and returns at once (pid, or -1).
  // Ended with SIGTERM (then SIGKILL after 2 s) by Stop() or the destructor.
  pid_t Spawn(LanSide side, const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
  // Ends a spawned program; its exit status as waitpid gives it, or -1.
  int Stop(pid_t pid);

  // Runs fn in a forked child that entered the namespace (it may then drop
  // privileges, change sysctls and so on without touching the test process).
  // fn's result (0-255); -1 when the child crashed or ran out of time.
  int CallInChild(LanSide side, const std::function<int()>& fn,
                  std::chrono::milliseconds timeout = std::chrono::seconds(10));

  // Runs fn on a new thread that entered the namespace and returns its
  // result. The network namespace belongs to the thread, so the rest of the
  // test process stays where it was. Throws std::runtime_error (a test
  // failure) when the thread cannot enter.
  template <class F>
  auto CallInThread(LanSide side, F&& fn) -> std::invoke_result_t<F&>;

  // Enters the calling thread into a namespace. Only for threads that end
  // afterwards; prefer CallInThread.
  bool EnterOnThisThread(LanSide side) const;

  // Network setup inside the namespaces through "ip".
  bool AddDefaultRoute(const std::string& via = kLanAddress);
  bool DeleteDefaultRoute();
  bool SetSysctl(LanSide side, const std::string& key, const std::string& value);

 private:
  TestLan() = default;
  bool SetUp(const TestLanOptions& options, std::string* why);
  void TearDown();

  std::string pc_;
  std::string lan_;
  std::vector<pid_t> spawned_;
};

// True when the calling thread runs in the namespace of a test LAN (one made
// by TestLan in this process, or the one named by KELVARA_TEST_NETNS, set by
// scripts/testlan.sh) and not in the machine's own. Every test that
// broadcasts checks it first: KELVARA_ASSERT_IN_TEST_LAN().
bool InTestLanNamespace();

template <class F>
auto TestLan::CallInThread(LanSide side, F&& fn) -> std::invoke_result_t<F&> {
  using R = std::invoke_result_t<F&>;
  bool entered = false;
  if constexpr (std::is_void_v<R>) {
    std::thread t([&] {
      entered = EnterOnThisThread(side);
      if (entered) fn();
    });
    t.join();
    if (!entered) throw std::runtime_error("cannot enter test LAN namespace " + Namespace(side));
  } else {
    R result{};
    std::thread t([&] {
      entered = EnterOnThisThread(side);
      if (entered) result = fn();
    });
    t.join();
    if (!entered) throw std::runtime_error("cannot enter test LAN namespace " + Namespace(side));
    return result;
  }
}

}  // namespace kelvara::test

// Declares `var` as a std::unique_ptr<TestLan>, or skips the test with the reason.
#define KELVARA_TEST_LAN_OR_SKIP(var, options)                                 \
  std::string var##_why;                                                      \
  auto var = ::kelvara::test::TestLan::Create((options), &var##_why);         \
  if (!var) GTEST_SKIP() << "test LAN unavailable (" << var##_why << ")"

// The guard in front of anything that broadcasts.
#define KELVARA_ASSERT_IN_TEST_LAN()                      \
  ASSERT_TRUE(::kelvara::test::InTestLanNamespace())      \
      << "refusing to broadcast outside a test LAN namespace"
