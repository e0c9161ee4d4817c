// The recovery service's threads together, without a window, in the test LAN:
// the listener's receive thread and workers, the server's table under
// parallel requests and reports, and the TFTP server's transfer threads,
// against devsim started with its --recover option, recovering from an image
// made by the fwimage program. Built under
// ThreadSanitizer too; every broadcast stays inside the test's namespaces.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "common/ping_test.h"
#include "firmware/recovery/recovery_listener.h"
#include "firmware/recovery/recovery_server.h"
#include "kelvara_test/test_env.h"
#include "kelvara_test/test_lan.h"
#include "tftp_server.h"

namespace kelvara::firmware {
namespace {

namespace fs = std::filesystem;
using ::kelvara::test::LanSide;
using ::kelvara::test::TestLan;
using ::kelvara::test::TestLanOptions;
using namespace std::chrono_literals;

constexpr int kDevices = 6;

TEST(RecoveryThreadsLan, ListenerServerAndFileServerRecoverDevsimDevices) {
  const fs::path devsim = ::kelvara::test::BinDir() / "devsim";
  if (!fs::exists(devsim)) GTEST_SKIP() << "no devsim";
  KELVARA_TEST_LAN_OR_SKIP(lan, (TestLanOptions{.lan_addresses = kDevices}));

  // The image made as the README makes one, by the fwimage program: its
  // version text holds the devices' type, which is what the server offers by.
  const fs::path folder = ::kelvara::test::MakeTempDir("fw");
  const std::string make = "'" + (::kelvara::test::BinDir() / "fwimage").string() + "' make '" +
                           (folder / "rcv.bin").string() + "' --version IPC-RCV_V7.0 --fill 400000 >/dev/null";
  ASSERT_EQ(std::system(make.c_str()), 0) << make;

  std::mutex lines_mutex;
  std::vector<std::string> lines;
  std::atomic<int> updates{0};
  RecoveryHooks hooks;
  hooks.language = [](std::string_view key) { return std::string(key); };
  hooks.log = [&](const std::string& line) {
    std::lock_guard lock(lines_mutex);
    lines.push_back(line);
  };
  hooks.device_update = [&](const BootDeviceInfo&) { ++updates; };
  hooks.probe = [](std::uint32_t address) { return PingTest(address); };
  RecoveryServer server(hooks);
  server.SetFirmwareFolder(folder.string());
  server.RebuildFirmwareList();
  server.SetAdapterAddress(inet_addr(TestLan::kPcAddress));
  RecoveryListener listener(server, ListenerOptions{}, hooks.log);
  tftp::ServerOptions file_options;
  file_options.folder = folder.string();
  tftp::TftpServer files(file_options);
  std::thread files_thread;

  // Threads started here live in the PC namespace.
  lan->CallInThread(LanSide::kPc, [&] {
    KELVARA_ASSERT_IN_TEST_LAN();
    listener.SetAdapter(inet_addr(TestLan::kPcAddress), inet_addr("255.255.0.0"),
                        static_cast<int>(if_nametoindex(TestLan::kPcInterface)));
    std::string error;
    ASSERT_TRUE(listener.Start(error)) << error;
    ASSERT_TRUE(files.Open(error)) << error;
    files_thread = std::thread([&] { files.Run(); });
  });
  ASSERT_TRUE(listener.running());

  // Devices 0..4 recover; device 5's flash write fails after the check.
  const pid_t sim = lan->Spawn(
      LanSide::kLan, {devsim.string(), "--count", std::to_string(kDevices), "--base-ip", TestLan::LanAddress(0),
                      "--set", "device_type=IPC-RCV", "--discovery-port", "0", "--no-stdin", "--max-seconds", "120",
                      "--recover", "0", "--recover", "1", "--recover", "2", "--recover", "3", "--recover", "4",
                      "--recover", "5 fault=flash_fail"});
  ASSERT_GT(sim, 0);

  auto final_steps = [&] {
    std::map<std::string, int> steps;
    for (const auto& d : server.Devices()) steps[d.uuid] = d.step;
    return steps;
  };
  const auto deadline = std::chrono::steady_clock::now() + 90s;
  std::map<std::string, int> steps;
  for (;;) {
    steps = final_steps();
    int finished = 0;
    for (const auto& [uuid, step] : steps) finished += step >= kStepSuccess;
    if (finished == kDevices || std::chrono::steady_clock::now() > deadline) break;
    std::this_thread::sleep_for(20ms);
  }
  std::multiset<int> got;
  for (const auto& [uuid, step] : steps) got.insert(step);
  EXPECT_EQ(got, (std::multiset<int>{10, 10, 10, 10, 10, 12})) << "devices seen: " << steps.size();
  std::set<std::string> addresses, macs;
  for (const auto& d : server.Devices()) {
    addresses.insert(d.address);
    macs.insert(d.mac);
    EXPECT_EQ(d.firmware_file, "rcv.bin");
  }
  EXPECT_EQ(addresses.size(), static_cast<std::size_t>(kDevices));
  EXPECT_EQ(macs.size(), static_cast<std::size_t>(kDevices));
  EXPECT_GE(updates.load(), kDevices * 10);

  // Stopping ends every thread while nothing is pending; a second stop does nothing.
  EXPECT_TRUE(listener.Stop());
  EXPECT_FALSE(listener.Stop());
  files.Stop();
  files_thread.join();
  EXPECT_EQ(files.active_transfers(), 0);
  lan->Stop(sim);
  std::lock_guard lock(lines_mutex);
  EXPECT_FALSE(lines.empty());
}

}  // namespace
}  // namespace kelvara::firmware
