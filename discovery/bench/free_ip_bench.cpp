// Free addresses in a /24 of the test LAN where 200 addresses answer echo
// requests (the LAN side and 199 device addresses) and 53 stay silent:
// the time to the first free address and to 50 of them, probed 32 at a time
// as the list does, against the one-by-one loop (each silent address costs a
// whole probe time-out there). Counters give each as a ratio to one probe
// time-out. Needs root for the namespaces; skipped otherwise.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>

#include <chrono>

#include "common/ipv4_host.h"
#include "common/ping_test.h"
#include "discovery/core/network_settings.h"
#include "discovery/tests/lan_fixture.h"
#include "kelvara_test/bench.h"

namespace kelvara::discovery {
namespace {

// 10.77.0.2 is the LAN side of the card; .3 to .201 are device addresses.
constexpr std::uint32_t kBase = 0x0A4D0000;  // 10.77.0.0
constexpr int kAnswering = 200;

bool SetUpLan(benchmark::State& state) {
  static int ready = -1;
  static std::string why;
  if (ready < 0) {
    ready = test::LanFixture::Enter(1, &why) ? 1 : 0;
    if (!ready) why = "test LAN unavailable: " + why;
    for (int h = 3; ready && h <= 1 + kAnswering; ++h) {
      ready = test::LanFixture::AddLanAddress(0, FormatIpv4Host(kBase + h)) ? 1 : 0;
      if (!ready) why = "cannot add the LAN's addresses";
    }
  }
  if (ready) return true;
  // Without root there is no test LAN: a skip. With one, a failure.
  if (why.rfind("test LAN unavailable", 0) == 0)
    bench::Skip(state, why);
  else
    state.SkipWithError(why.c_str());
  return false;
}

std::vector<std::uint32_t> Candidates() {
  std::vector<std::uint32_t> c;
  for (std::uint32_t h = 2; h <= 254; ++h) c.push_back(kBase + h);
  return c;
}

int Probe(std::uint32_t host) { return PingTest(htonl(host)); }

double TimeoutSeconds() {
  static double t = [] {
    const auto start = std::chrono::steady_clock::now();
    Probe(kBase + 250);  // silent
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }();
  return t;
}

void Report(benchmark::State& state, double seconds, std::size_t found) {
  state.SetIterationTime(seconds);
  state.counters["timeouts"] = seconds / TimeoutSeconds();
  state.counters["found"] = static_cast<double>(found);
}

void BM_ProbeTimeout(benchmark::State& state) {
  if (!SetUpLan(state)) return;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(Probe(kBase + 251));
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
}

void BM_ParallelFree(benchmark::State& state) {
  if (!SetUpLan(state)) return;
  const auto candidates = Candidates();
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const auto found = ProbeFreeAddresses(candidates, static_cast<std::size_t>(state.range(0)), Probe, 32);
    Report(state, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), found.size());
  }
}

// The one-by-one loop: probe candidates in order until `count` are free.
void BM_SerialFree(benchmark::State& state) {
  if (!SetUpLan(state)) return;
  const auto candidates = Candidates();
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    std::size_t found = 0;
    for (std::uint32_t c : candidates) {
      if (Probe(c) == 0 && ++found == static_cast<std::size_t>(state.range(0))) break;
    }
    Report(state, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), found);
  }
}

BENCHMARK(BM_ProbeTimeout)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParallelFree)->Arg(1)->Arg(50)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SerialFree)->Arg(1)->Arg(50)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelvara::discovery

BENCHMARK_MAIN();
