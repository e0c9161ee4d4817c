// Boot recovery in the test LAN: N devsim devices recovering at once from a
// 16 MB image through the recovery listener and the TFTP server (the window's
// parts without the window), against one device alone. Needs root (the test
// LAN); skips otherwise. Real address probes (PingTest) are part of the cost.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <net/if.h>

#include <chrono>
#include <memory>
#include <thread>

#include "firmware/recovery/recovery_listener.h"
#include "firmware/recovery/recovery_server.h"
#include "firmware/tests/image_builder.h"
#include "kelvara_test/bench.h"
#include "kelvara_test/test_env.h"
#include "kelvara_test/test_lan.h"
#include "common/ping_test.h"
#include "simulator.h"
#include "tftp_server.h"

namespace {

using namespace kelvara;
using kelvara::test::LanSide;
using kelvara::test::TestLan;

constexpr int kDevices = 20;

struct Rig {
  std::unique_ptr<TestLan> lan;
  std::unique_ptr<devsim::Simulator> sim;
  std::unique_ptr<firmware::RecoveryServer> server;
  std::unique_ptr<firmware::RecoveryListener> listener;
  std::unique_ptr<tftp::TftpServer> files;
  std::thread files_thread;
  std::string why;
  bool skipped = false;  // no test LAN on this machine (it needs root)

  Rig() {
    lan = TestLan::Create({.lan_addresses = kDevices}, &why);
    if (!lan) {
      skipped = true;
      return;
    }
    const auto folder = kelvara::test::MakeTempDir("fw");
    firmware::test::WriteFile(folder / "big.bin", firmware::test::BuildImage("IPC-BENCH_V1", 16u << 20));
    devsim::SimConfig config;
    config.discovery_port = 0;
    config.stdin_control = false;
    devsim::GenerateDevices({}, kDevices, TestLan::LanAddress(0), "BEN", config.devices);
    for (auto& d : config.devices) d.device_type = "IPC-BENCH";
    sim = std::make_unique<devsim::Simulator>(config);
    if (!lan->CallInThread(LanSide::kLan, [&] { return sim->Start(); }).empty()) {
      why = "devsim did not start";
      lan.reset();
      return;
    }
    firmware::RecoveryHooks hooks;
    hooks.probe = [](std::uint32_t a) { return PingTest(a); };
    server = std::make_unique<firmware::RecoveryServer>(hooks);
    server->SetFirmwareFolder(folder.string());
    server->RebuildFirmwareList();
    server->SetAdapterAddress(inet_addr(TestLan::kPcAddress));
    listener = std::make_unique<firmware::RecoveryListener>(*server, firmware::ListenerOptions{}, nullptr);
    tftp::ServerOptions options;
    options.folder = folder.string();
    files = std::make_unique<tftp::TftpServer>(options);
    // Every thread started here lives in the PC namespace.
    lan->CallInThread(LanSide::kPc, [&] {
      listener->SetAdapter(inet_addr(TestLan::kPcAddress), inet_addr("255.255.0.0"),
                           static_cast<int>(if_nametoindex(TestLan::kPcInterface)));
      std::string error;
      listener->Start(error);
      files->Open(error);
      files_thread = std::thread([this] { files->Run(); });
      return 0;
    });
  }
  ~Rig() {
    if (!lan) return;
    listener->Stop();
    files->Stop();
    files_thread.join();
    sim->Stop();
  }
  // The firmware folder (a 16 MiB image) goes with the rig.
  kelvara::test::ScopedTestHome home;
  // Seconds until `n` devices have all finished.
  double Recover(int n) {
    server->ClearHistory();
    const auto start = std::chrono::steady_clock::now();
    lan->CallInThread(LanSide::kLan, [&] {
      for (int i = 0; i < n; ++i) sim->Control("recover " + std::to_string(i));
      return 0;
    });
    for (int i = 0; i < n; ++i)
      while (sim->Control("recovery " + std::to_string(i)) == "ok recovering")
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
};

Rig& TheRig() {
  static Rig rig;
  return rig;
}

void BM_RecoverAtOnce(benchmark::State& state) {
  Rig& rig = TheRig();
  if (rig.skipped) {
    kelvara::bench::Skip(state, "test LAN unavailable: " + rig.why);
    return;
  }
  if (!rig.lan) {
    state.SkipWithError(rig.why.c_str());
    return;
  }
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) state.SetIterationTime(rig.Recover(n));
  for (int i = 0; i < n; ++i)
    if (rig.sim->Control("recovery " + std::to_string(i)).rfind("ok recovered", 0) != 0)
      state.SkipWithError("a device did not recover");
  state.counters["devices"] = n;
}
BENCHMARK(BM_RecoverAtOnce)->Arg(1)->Arg(kDevices)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
