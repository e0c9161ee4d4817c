// Batch upgrade: 200 devices played by devsim (a separate process, on
// loopback) take a 16 MB image from Kelvara's upgrade
// handlers over the device SDK. Reported: the batch's wall time, Kelvara's CPU
// time for it, both as ratios to one device's transfer alone, and how often
// the image was read for its check (once).
// Listing: the header listing of a folder of 1,000 images against a stat of
// the same files.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <VaRurOvoDiv/zq_netsdk_ipc.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "device/core/login_events.h"
#include "device/core/zq_netsdk.h"
#include "firmware/core/firmware_list.h"
#include "firmware/tests/image_builder.h"
#include "firmware/tests/upgrade_harness.h"
#include "kelvara_test/bench.h"
#include "kelvara_test/test_env.h"

extern char** environ;

namespace kelvara::firmware {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// devsim in its own process: `count` devices on 127.0.0.1, each with its own
// command port (read from devsim's "device" lines).
class DevsimProcess {
 public:
  explicit DevsimProcess(int count) {
    const fs::path exe = fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "bin" / "devsim";
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_addclose(&fa, in[1]);
    posix_spawn_file_actions_addclose(&fa, out[0]);
    const std::string n = std::to_string(count);
    std::vector<std::string> args = {exe.string(), "--count", n, "--base-ip", "127.0.0.1", "--discovery-port", "0",
                                     "--set", "command_port=0", "--set", "log_port=0", "--set", "reboot_ms=300",
                                     "--set", "upgrade_ms=0", "--max-seconds", "900"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, exe.c_str(), &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    close(in[0]);
    close(out[1]);
    stdin_ = in[1];
    FILE* lines = fdopen(out[0], "r");
    char line[256];
    while (pid_ > 0 && lines && std::fgets(line, sizeof line, lines)) {
      int index = 0, port = 0;
      char serial[64], ip[64];
      if (std::sscanf(line, "device %d %63s %63s sdk=%d", &index, serial, ip, &port) == 4) ports.push_back(port);
      if (std::strncmp(line, "ready", 5) == 0) break;
    }
    if (lines) std::fclose(lines);
  }
  ~DevsimProcess() {
    if (stdin_ >= 0) close(stdin_);  // devsim ends when its input closes
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
  }
  bool ok() const { return pid_ > 0; }
  std::vector<int> ports;

 private:
  pid_t pid_ = -1;
  int stdin_ = -1;
};

void BM_BatchUpgrade200(benchmark::State& state) {
  constexpr int kDevices = 200;
  const kelvara::bench::TempFolder dir("kelvara-fw-bench");
  const std::string image_path = (dir / "image.bin").string();
  test::WriteFile(image_path, test::BuildImage("BENCH_V2", 16u << 20));
  DevsimProcess devsim(kDevices);
  if (!devsim.ok() || devsim.ports.size() != kDevices) {
    state.SkipWithError("devsim did not start");
    return;
  }
  // A simulator object only for the harness's rows and addresses (never started):
  // the same generated devices as the devsim process.
  devsim::SimConfig config;
  devsim::DeviceConfig templ;
  // (Rows carry LAN-like addresses: search records naming loopback are refused.)
  devsim::GenerateDevices(templ, kDevices, "10.77.1.1", "SIM", config.devices);
  devsim::Simulator layout(config);
  for (auto _ : state) {
    test::UpgradeHarness h(layout);
    // Log in against the devsim process (port 8091 on each address).
    for (int i = 0; i < kDevices; ++i) {
      discovery::DeviceListRow& row = h.Row(i);
      const int handle = ZQ_NETSDK_IPC_Login("127.0.0.1", static_cast<unsigned short>(devsim.ports[i]), "admin",
                                             "admin123", 0);
      ZQ_NETSDK_IPC_SetAutoReconnect(handle, 1);
      h.rows.rows.SetLoginHandle(row, handle);
      row.checked = i == 0;
    }
    const auto all_online = [&] {
      for (int i = 0; i < kDevices; ++i)
        if (!h.Row(i).m_online) return false;
      return true;
    };
    if (!h.PumpUntil(all_online, std::chrono::seconds(30))) {
      state.SkipWithError("logins missing");
      return;
    }
    h.window.fields[ctl::kFirmwareFile] = image_path;
    // One device alone.
    auto t0 = Clock::now();
    h.actions->OnUpgradeByFile();
    h.FinishRun(std::chrono::seconds(120));
    const double one = std::chrono::duration<double>(Clock::now() - t0).count();
    h.window.busy = false;
    // The device reboots with its new image and logs in again.
    h.PumpUntil([&] { return !h.Row(0).m_online; }, std::chrono::seconds(10));
    h.PumpUntil(all_online, std::chrono::seconds(30));
    // The batch.
    for (int i = 0; i < kDevices; ++i) h.Row(i).checked = true;
    const double cpu0 = CpuSeconds();
    t0 = Clock::now();
    h.actions->OnUpgradeByFile();
    const bool finished = h.FinishRun(std::chrono::seconds(600));
    const double batch = std::chrono::duration<double>(Clock::now() - t0).count();
    const double cpu = CpuSeconds() - cpu0;
    h.actions->OnUpgradeRunEnded();
    state.SetIterationTime(batch);
    state.counters["one_device_s"] = one;
    state.counters["batch_s"] = batch;
    state.counters["batch_over_one"] = batch / one;
    state.counters["kelvara_cpu_s"] = cpu;
    state.counters["cpu_over_one"] = cpu / one;
    state.counters["done"] = h.window.summaries.empty() ? 0 : h.window.summaries.back().done;
    state.counters["image_reads"] = h.actions->ImageChecks().reads();
    if (!finished) state.SkipWithError("the run did not finish");
  }
}
BENCHMARK(BM_BatchUpgrade200)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// A folder of 1,000 images: the header listing against a stat of each file.
void BM_ListFolder1000(benchmark::State& state) {
  const kelvara::bench::TempFolder dir("kelvara-fw-list");
  std::vector<fs::path> files;
  const std::string image = test::BuildImage("LIST_V1", 16 * 1024);
  for (int i = 0; i < 1000; ++i) {
    files.push_back(dir / ("image_" + std::to_string(i) + ".bin"));
    test::WriteFile(files.back(), image);
  }
  double list_s = 0, stat_s = 0;
  std::size_t listed = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    listed = ListFirmwareFiles(dir.path().string()).size();
    list_s += std::chrono::duration<double>(Clock::now() - t0).count();
    t0 = Clock::now();
    struct stat st {};
    std::size_t found = 0;
    for (const auto& f : files) found += stat(f.c_str(), &st) == 0;
    benchmark::DoNotOptimize(found);
    stat_s += std::chrono::duration<double>(Clock::now() - t0).count();
  }
  state.counters["listed"] = static_cast<double>(listed);
  state.counters["list_ms"] = list_s * 1e3 / state.iterations();
  state.counters["stat_ms"] = stat_s * 1e3 / state.iterations();
  state.counters["list_over_stat"] = list_s / stat_s;
}
BENCHMARK(BM_ListFolder1000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelvara::firmware

int main(int argc, char** argv) {
  kelvara::test::ScopedTestHome home;
  return kelvara::bench::RunBenchmarks(argc, argv);
}
