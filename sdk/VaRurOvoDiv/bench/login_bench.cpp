// One SDK process, many simulated devices: log in to all at once and read one
// configuration block from each. The simulator runs in a child process so the
// CPU time and memory reported are the SDK's own. Both run in a network
// namespace of their own when the benchmark may create one (root), else on
// loopback.
//
// Each run prints "measured login_client_cpu_ms_per_login <ms> ms goal <=3":
// the SDK's CPU per login, the sealed link's keys included.
//
// BM_LoginCalls times what 2,000 login calls cost the thread that makes them
// (a program's UI thread): the calls return a handle at once and the SDK
// starts each login's work elsewhere. Each round prints
// "measured login_calls_2000_ms <ms> ms goal <=50". Once all are logged in,
// ZQ_NETSDK_IPC_LogoutAll ends them, and what that one call costs the same
// thread is printed as "measured logout_all_2000_ms <ms> ms goal <=50"; the counters
// ended_ms_* say when the last of the 2,000 login threads had gone.
//
// BM_LoginCrypto pairs the CPU a login's cryptography costs the client, in one
// run: the key exchange against the former PBKDF2 proof (100,000 rounds of
// HMAC-SHA-256 and one HMAC), which libcrypto computes here as the SDK did.
#include <benchmark/benchmark.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../tests/sdk_test_support.h"
#include "kelvara_test/bench.h"
#include "login_handshake.h"
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

// Once per process: both benchmarks run in the one namespace.
bool Isolated() {
  static const bool isolated = PrivateLoopback();
  return isolated;
}

// A field of /proc/self/status in its unit (kB for memory), or 0.
double ProcStatus(const std::string& key) {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(key + ":", 0) == 0) return std::stod(line.substr(key.size() + 1));
  }
  return 0;
}

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// CPU seconds another process of ours has used so far (from /proc).
double ProcessCpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto close = stat.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(stat.substr(close + 2));
  std::string f;
  double utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> f; ++i) {
    if (i == 14) utime = std::stod(f);
    if (i == 15) stime = std::stod(f);
  }
  return (utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double ThreadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
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

// The simulator for a crowd of logins, and the SDK's time limits for one: the
// simulator's pid, or -1 (the benchmark is then skipped).
pid_t StartCrowd(benchmark::State& state, int devices, std::vector<uint16_t>& ports, int& control_fd) {
  RaiseFileLimit();
  const pid_t child = StartSimulator(devices, ports, control_fd);
  if (child < 0) state.SkipWithError("simulator did not start");
  setenv("VARUROVODIV_CONNECT_TIMEOUT_MS", "10000", 1);
  setenv("VARUROVODIV_REPLY_TIMEOUT_MS", "20000", 1);
  return child;
}

void BM_LoginAndReadOneBlock(benchmark::State& state) {
  const int devices = static_cast<int>(state.range(0));
  const bool isolated = Isolated();
  std::vector<uint16_t> ports;
  int control_fd = -1;
  const pid_t child = StartCrowd(state, devices, ports, control_fd);
  if (child < 0) return;
  const double rss_before_kb = ProcStatus("VmRSS");
  ZQ_NETSDK_IPC_Init();
  varurovodiv::test::EventRecorder rec;
  rec.Register();
  double login_ms = 0, read_ms = 0, cpu_per_login_ms = 0, devsim_cpu_per_login_ms = 0;
  double rss_kb = 0, threads = 0;
  bool ok = true;
  for (auto _ : state) {
    const double cpu0 = CpuSeconds();
    const double devsim_cpu0 = ProcessCpuSeconds(child);
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
        std::chrono::seconds(120));
    const auto t1 = std::chrono::steady_clock::now();
    cpu_per_login_ms = (CpuSeconds() - cpu0) * 1000.0 / devices;
    devsim_cpu_per_login_ms = (ProcessCpuSeconds(child) - devsim_cpu0) * 1000.0 / devices;
    rss_kb = ProcStatus("VmRSS");
    threads = ProcStatus("Threads");
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
    rss_kb = std::max(rss_kb, ProcStatus("VmRSS"));
    state.SetIterationTime(std::chrono::duration<double>(t2 - t0).count());
    ZQ_NETSDK_IPC_LogoutAll();
  }
  ZQ_NETSDK_IPC_Cleanup();
  close(control_fd);
  rusage child_usage{};
  int status = 0;
  wait4(child, &status, 0, &child_usage);
  if (!ok) state.SkipWithError("not every device answered in time");
  if (ok) kelvara::bench::PrintMeasured("login_client_cpu_ms_per_login", cpu_per_login_ms, "ms", "<=3");
  state.counters["devices"] = devices;
  state.counters["login_all_ms"] = login_ms;
  state.counters["logins_per_s"] = devices * 1000.0 / login_ms;
  state.counters["client_cpu_ms_per_login"] = cpu_per_login_ms;
  state.counters["devsim_cpu_ms_per_login"] = devsim_cpu_per_login_ms;
  state.counters["read_all_ms"] = read_ms;
  state.counters["sdk_rss_MiB"] = rss_kb / 1024.0;
  state.counters["sdk_rss_added_MiB"] = (rss_kb - rss_before_kb) / 1024.0;
  state.counters["sdk_threads"] = threads;
  state.counters["devsim_peak_rss_MiB"] = static_cast<double>(child_usage.ru_maxrss) / 1024.0;
  state.counters["own_namespace"] = isolated ? 1 : 0;
}

void BM_LoginCalls(benchmark::State& state) {
  constexpr int kDevices = 2000, kRounds = 5;
  const bool isolated = Isolated();
  std::vector<uint16_t> ports;
  int control_fd = -1;
  const pid_t child = StartCrowd(state, kDevices, ports, control_fd);
  if (child < 0) return;
  ZQ_NETSDK_IPC_Init();
  varurovodiv::test::EventRecorder rec;
  rec.Register();
  std::vector<double> calls_ms, calls_cpu_ms, logout_ms, ended_ms;
  bool ok = true;
  const double threads_before = ProcStatus("Threads");
  for (auto _ : state) {
    for (int round = 0; round < kRounds; ++round) {
      rec.Clear();
      std::vector<int> handles;
      handles.reserve(kDevices);
      const double cpu0 = ThreadCpuMs();
      const auto t0 = std::chrono::steady_clock::now();
      for (int i = 0; i < kDevices; ++i) {
        const int h = ZQ_NETSDK_IPC_Login("127.0.0.1", ports[static_cast<size_t>(i)], "admin", "admin123", 0);
        // As a program does after each login.
        ZQ_NETSDK_IPC_SetAutoReconnect(h, 1);
        handles.push_back(h);
      }
      const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
      calls_cpu_ms.push_back(ThreadCpuMs() - cpu0);
      calls_ms.push_back(ms);
      kelvara::bench::PrintMeasured("login_calls_2000_ms", ms, "ms", "<=50");
      // Every login is made before the next round, so each round starts alike.
      ok = ok && rec.WaitFor(
                     [&](const auto& ev) {
                       size_t n = 0;
                       for (const auto& e : ev) n += !e.aux && e.code == STATUS_EVENT_LOGIN_OK;
                       return n >= static_cast<size_t>(kDevices);
                     },
                     std::chrono::seconds(120));
      const auto t1 = std::chrono::steady_clock::now();
      ZQ_NETSDK_IPC_LogoutAll();
      const auto t2 = std::chrono::steady_clock::now();
      logout_ms.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
      kelvara::bench::PrintMeasured("logout_all_2000_ms", logout_ms.back(), "ms", "<=50");
      // Each round starts with the former round's threads gone: only the
      // login starter, made by the first round, stays besides what was there.
      while (ProcStatus("Threads") > threads_before + 1 &&
             std::chrono::steady_clock::now() - t2 < std::chrono::seconds(60)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
      ended_ms.push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t1).count());
    }
  }
  ZQ_NETSDK_IPC_Cleanup();
  close(control_fd);
  int status = 0;
  waitpid(child, &status, 0);
  if (!ok) state.SkipWithError("not every device logged in in time");
  std::sort(calls_ms.begin(), calls_ms.end());
  state.counters["devices"] = kDevices;
  state.counters["calls_ms_min"] = calls_ms.front();
  state.counters["calls_ms_median"] = calls_ms[calls_ms.size() / 2];
  state.counters["calls_ms_max"] = calls_ms.back();
  std::sort(logout_ms.begin(), logout_ms.end());
  state.counters["logout_all_ms_min"] = logout_ms.front();
  state.counters["logout_all_ms_median"] = logout_ms[logout_ms.size() / 2];
  state.counters["logout_all_ms_max"] = logout_ms.back();
  std::sort(ended_ms.begin(), ended_ms.end());
  state.counters["ended_ms_min"] = ended_ms.front();
  state.counters["ended_ms_median"] = ended_ms[ended_ms.size() / 2];
  state.counters["ended_ms_max"] = ended_ms.back();
  // The calling thread's own CPU time: what is left of the wall time is the
  // time other threads of the machine had the CPU.
  std::sort(calls_cpu_ms.begin(), calls_cpu_ms.end());
  state.counters["calls_cpu_ms_max"] = calls_cpu_ms.back();
  state.counters["own_namespace"] = isolated ? 1 : 0;
}

// Arg 0: the former PBKDF2 proof; arg 1: the key exchange (the client's share,
// the shared key and both tags, against a device share made once).
void BM_LoginCrypto(benchmark::State& state) {
  namespace wire = varurovodiv::wire;
  const bool exchange = state.range(0) == 1;
  const std::string nonce(wire::kNonceSize, 'n');
  wire::LoginExchange device(wire::LoginExchange::Side::kDevice, "admin123", "admin", nonce, nonce);
  unsigned char key[32];
  unsigned char proof[32];
  for (auto _ : state) {
    if (exchange) {
      wire::LoginExchange client(wire::LoginExchange::Side::kClient, "admin123", "admin", nonce,
                                 wire::RandomBytes(wire::kNonceSize));
      client.TakePeerShare(device.share());
      benchmark::DoNotOptimize(client.Tag());
      benchmark::DoNotOptimize(client.CheckPeerTag(device.share()));
    } else {
      PKCS5_PBKDF2_HMAC("admin123", 8, reinterpret_cast<const unsigned char*>(nonce.data()),
                        static_cast<int>(nonce.size()), 100000, EVP_sha256(), sizeof key, key);
      size_t size = 0;
      EVP_Q_mac(nullptr, "HMAC", nullptr, "SHA256", nullptr, key, sizeof key,
                reinterpret_cast<const unsigned char*>(nonce.data()), nonce.size(), proof,
                sizeof proof, &size);
      benchmark::DoNotOptimize(proof);
    }
  }
  state.SetLabel(exchange ? "key exchange" : "former PBKDF2 proof");
}

BENCHMARK(BM_LoginCalls)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoginCrypto)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();
BENCHMARK(BM_LoginAndReadOneBlock)->Arg(500)->Arg(2000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
