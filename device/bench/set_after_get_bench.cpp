// 500 simulated devices: one set-after-get (the TV system) on every device,
// from the first request to the last row's final text, against 500 plain
// gets of the same block. Reports the ratio and how many stored blocks came
// out changed in exactly their TV system (it must be all of them).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <memory>

#include "device/core/command_codes.h"
#include "device/tests/devsim_fixture.h"

namespace {

using namespace kelvara;
using Clock = std::chrono::steady_clock;

constexpr int kDevices = 500;

void RaiseFileLimit() {
  rlimit r{};
  if (getrlimit(RLIMIT_NOFILE, &r) == 0) {
    r.rlim_cur = r.rlim_max;
    setrlimit(RLIMIT_NOFILE, &r);
  }
}

device::test::DevsimCommands& Lan() {
  static std::unique_ptr<device::test::DevsimCommands> lan = [] {
    RaiseFileLimit();
    auto docs = std::filesystem::temp_directory_path() / "kelvara-bench-docs";
    auto l = std::make_unique<device::test::DevsimCommands>(kDevices, docs);
    if (!l->StartError().empty() || !l->LoginAll(std::chrono::milliseconds(600000))) {
      std::fprintf(stderr, "devices did not all log in\n");
      std::exit(1);
    }
    l->Drain(std::chrono::milliseconds(500));
    return l;
  }();
  return *lan;
}

double g_plain_s = 0;

void BM_PlainGets(benchmark::State& state) {
  auto& lan = Lan();
  for (auto _ : state) {
    int replies = 0;
    lan.onReply = [&](const device::DeviceAuxResponse& r) { replies += r.command == device::GET_CFG_VIDEO_CAPTURE; };
    const auto start = Clock::now();
    for (int i = 0; i < kDevices; ++i) lan.Commands().Sdk().GetDVRConfig(lan.Row(i).m_loginHandle, 504);
    if (!lan.PumpUntil([&] { return replies == kDevices; }, std::chrono::milliseconds(60000)))
      state.SkipWithError("replies missing");
    const double s = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(s);
    g_plain_s = s;
    lan.onReply = nullptr;
  }
}
BENCHMARK(BM_PlainGets)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_TvSystemSetAfterGet(benchmark::State& state) {
  auto& lan = Lan();
  int value = 0;
  int changed = 0;
  double total_s = 0;
  int runs = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<std::string> before;
    for (int i = 0; i < kDevices; ++i) {
      before.push_back(lan.Block(i, 504));
      lan.Rows().SetCellTextIfChanged(lan.Row(i), discovery::kColState, "-");
    }
    const std::string old = value == 0 ? "1" : "0";
    state.ResumeTiming();
    const auto start = Clock::now();
    for (int i = 0; i < kDevices; ++i) lan.Commands().RequestTvSystemChange(&lan.Row(i), value);
    // The final text is the write's own reply.
    if (!lan.PumpUntil([&] {
          for (int i = 0; i < kDevices; ++i) {
            if (lan.Status(i) != "SET_OK") return false;
          }
          return true;
        }, std::chrono::milliseconds(120000))) {
      state.SkipWithError("rows without their final text");
    }
    const double s = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(s);
    total_s += s;
    ++runs;
    state.PauseTiming();
    changed = 0;
    for (int i = 0; i < kDevices; ++i) {
      const auto diff = device::test::DiffXml(before[i], lan.Block(i, 504));
      changed += diff.size() == 1 && diff.count("Video/Capture[0]@TVSystem") &&
                 diff.at("Video/Capture[0]@TVSystem") == std::make_pair(old, std::to_string(value));
    }
    value = 1 - value;
    state.ResumeTiming();
  }
  state.counters["changed_blocks"] = changed;
  state.counters["devices"] = kDevices;
  if (g_plain_s > 0 && runs > 0) state.counters["ratio_to_plain_gets"] = total_s / runs / g_plain_s;
}
BENCHMARK(BM_TvSystemSetAfterGet)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(4);

}  // namespace

BENCHMARK_MAIN();
