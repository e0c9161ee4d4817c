// One SDK process, many simulated devices: log in to all at once and read one
// configuration block from each. The simulator runs in a child process so the
// peak memory reported is the SDK's own. Both run in a network namespace of
// their own when the benchmark may create one (root), else on loopback.
#include <benchmark/benchmark.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "../tests/sdk_test_support.h"
#include "simulator.h"

namespace {

void RaiseFileLimit() {
  rlimit r{};
  if (getrlimit(RLIMIT_NOFILE, &r) == 0) {
    r.rlim_cur = r.rlim_max;
    setrlimit(RLIMIT_NOFILE, &r);
  }
}

bool PrivateLoopback() {
  if (unshare(CLONE_NEWNET) != 0) return false;
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  ifreq ifr{};
  std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
  const bool ok = ioctl(fd, SIOCGIFFLAGS, &ifr) == 0 &&
                  (ifr.ifr_flags |= IFF_UP, ioctl(fd, SIOCSIFFLAGS, &ifr) == 0);
  close(fd);
  return ok;
}

bool ReadAll(int fd, void* data, size_t size) {
  auto* p = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t n = read(fd, p, size);
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Starts the simulator in a child; fills ports; returns its pid (or -1).
pid_t StartSimulator(int devices, std::vector<uint16_t>& ports, int& control_fd) {
  int up[2], down[2];
  if (pipe(up) != 0 || pipe(down) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    close(up[0]);
    close(down[1]);
    kelvara::devsim::SimConfig c;
    c.discovery_port = 0;
    for (int i = 0; i < devices; ++i) {
      kelvara::devsim::DeviceConfig d;
      d.command_port = 0;
      d.log_port = 0;
      kelvara::devsim::CompleteDevice(d, i);
      c.devices.push_back(d);
    }
    kelvara::devsim::Simulator sim(c);
    if (!sim.Start().empty()) _exit(1);
    for (int i = 0; i < devices; ++i) {
      const uint16_t p = sim.command_port(i);
      if (write(up[1], &p, sizeof p) != sizeof p) _exit(1);
    }
    char c1;
    [[maybe_unused]] ssize_t n = read(down[0], &c1, 1);  // until the parent goes away
    sim.Stop();
    _exit(0);
  }
  close(up[1]);
  close(down[0]);
  ports.resize(static_cast<size_t>(devices));
  if (!ReadAll(up[0], ports.data(), ports.size() * sizeof(uint16_t))) return -1;
  close(up[0]);
  control_fd = down[1];
  return pid;
}

void BM_LoginAndReadOneBlock(benchmark::State& state) {
  const int devices = static_cast<int>(state.range(0));
  static const bool isolated = PrivateLoopback();
  RaiseFileLimit();
  std::vector<uint16_t> ports;
  int control_fd = -1;
  const pid_t child = StartSimulator(devices, ports, control_fd);
  if (child < 0) {
    state.SkipWithError("simulator did not start");
    return;
  }
  setenv("VARUROVODIV_CONNECT_TIMEOUT_MS", "10000", 1);
  setenv("VARUROVODIV_REPLY_TIMEOUT_MS", "20000", 1);
  ZQ_NETSDK_IPC_Init();
  varurovodiv::test::EventRecorder rec;
  rec.Register();
  double login_ms = 0, read_ms = 0;
  bool ok = true;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    std::vector<int> handles;
    for (int i = 0; i < devices; ++i) {
      handles.push_back(ZQ_NETSDK_IPC_Login("127.0.0.1", ports[static_cast<size_t>(i)], "admin",
                                            "admin123", 0));
    }
    ok = rec.WaitFor(
        [&](const auto& ev) {
          size_t n = 0;
          for (const auto& e : ev) n += !e.aux && e.code == STATUS_EVENT_LOGIN_OK;
          return n >= static_cast<size_t>(devices);
        },
        std::chrono::seconds(60));
    const auto t1 = std::chrono::steady_clock::now();
    for (int h : handles) ZQ_NETSDK_IPC_GetDVRConfig(h, 504, 0, "", nullptr, 0);
    ok = ok && rec.WaitFor(
                   [&](const auto& ev) {
                     size_t n = 0;
                     for (const auto& e : ev) n += e.aux && e.code == 504 && e.result == 0;
                     return n >= static_cast<size_t>(devices);
                   },
                   std::chrono::seconds(60));
    const auto t2 = std::chrono::steady_clock::now();
    login_ms = std::chrono::duration<double, std::milli>(t1 - t0).count();
    read_ms = std::chrono::duration<double, std::milli>(t2 - t1).count();
    state.SetIterationTime(std::chrono::duration<double>(t2 - t0).count());
    ZQ_NETSDK_IPC_LogoutAll();
  }
  ZQ_NETSDK_IPC_Cleanup();
  close(control_fd);
  rusage child_usage{};
  int status = 0;
  wait4(child, &status, 0, &child_usage);
  rusage self{};
  getrusage(RUSAGE_SELF, &self);
  if (!ok) state.SkipWithError("not every device answered in time");
  state.counters["devices"] = devices;
  state.counters["login_all_ms"] = login_ms;
  state.counters["read_all_ms"] = read_ms;
  state.counters["sdk_peak_rss_MiB"] = static_cast<double>(self.ru_maxrss) / 1024.0;
  state.counters["devsim_peak_rss_MiB"] = static_cast<double>(child_usage.ru_maxrss) / 1024.0;
  state.counters["own_namespace"] = isolated ? 1 : 0;
}

BENCHMARK(BM_LoginAndReadOneBlock)->Arg(500)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
