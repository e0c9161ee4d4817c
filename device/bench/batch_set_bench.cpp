// 500 simulated devices, one in ten refusing the write: a batch set of the
// maintenance schedule (228) from the first request to the last row's
// terminal state, against 500 plain gets of the same block. Reports the
// ratio, and checks the rows' terminal states against what the devices
// themselves hold: every row done has the new schedule stored, every refusing
// device kept its old one and its row failed.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <memory>
#include <optional>

#include "device/core/batch_runner.h"
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
    for (int i = 0; i < kDevices; i += 10)
      l->Sim().Control("codefault " + l->Sim().device(i).serial() + " " +
                       std::to_string(device::SET_CFG_TIMED_MAINTENANCE) + " refuse");
    return l;
  }();
  return *lan;
}

double g_plain_s = 0;

void BM_PlainGets(benchmark::State& state) {
  auto& lan = Lan();
  for (auto _ : state) {
    int replies = 0;
    lan.onReply = [&](const device::DeviceAuxResponse& r) { replies += r.command == 208; };
    const auto start = Clock::now();
    for (int i = 0; i < kDevices; ++i) lan.Commands().Sdk().GetDVRConfig(lan.Row(i).m_loginHandle, 208);
    if (!lan.PumpUntil([&] { return replies == kDevices; }, std::chrono::milliseconds(60000)))
      state.SkipWithError("replies missing");
    const double s = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(s);
    g_plain_s = s;
    lan.onReply = nullptr;
  }
}
BENCHMARK(BM_PlainGets)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_BatchMaintenanceSet(benchmark::State& state) {
  auto& lan = Lan();
  device::BatchRunner runner(lan.Commands(), lan.Tap(), std::chrono::milliseconds(30000));
  std::optional<device::BatchSummary> summary;
  runner.onFinished = [&summary](const device::BatchSummary& s) { summary = s; };
  lan.onReply = [&runner](const device::DeviceAuxResponse& r) { runner.OnReply(r.loginHandle, r.command, r.result); };
  lan.onEvent = [&runner](const device::DeviceStatusEvent& e) { runner.OnStatusEvent(e.loginHandle, e.eventType); };
  std::vector<discovery::DeviceListRow*> rows;
  for (int i = 0; i < kDevices; ++i) rows.push_back(&lan.Row(i));
  int day = 0;
  double total_s = 0;
  int runs = 0;
  int mismatches = 0;
  device::BatchSummary last;
  for (auto _ : state) {
    day = day % 7 + 1;
    const std::string text = "<MaintainConfig Enable=\"1\" Day=\"" + std::to_string(day) + "\" Time=\"03:30:00\" />";
    summary.reset();
    const auto start = Clock::now();
    runner.Run(rows, runner.FromWorker([&lan, &text](discovery::DeviceListRow* row) {
      lan.Commands().SetRowMaintenance(row, text);
    }));
    if (!lan.PumpUntil([&] {
          runner.OnTick();
          return summary.has_value();
        }, std::chrono::milliseconds(120000))) {
      state.SkipWithError("rows without their terminal state");
      break;
    }
    const double s = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(s);
    total_s += s;
    ++runs;
    last = *summary;
    // The devices' own truth: stored schedule <=> row done.
    state.PauseTiming();
    int stored = 0;
    for (int i = 0; i < kDevices; ++i) stored += lan.Block(i, 208) == text;
    mismatches += stored != last.Count(device::BatchState::kDone);
    mismatches += last.Count(device::BatchState::kFailed) != kDevices / 10;
    state.ResumeTiming();
  }
  state.counters["devices"] = kDevices;
  state.counters["done"] = last.Count(device::BatchState::kDone);
  state.counters["failed"] = last.Count(device::BatchState::kFailed);
  state.counters["other_states"] = last.Total() - last.Count(device::BatchState::kDone) -
                                   last.Count(device::BatchState::kFailed);
  state.counters["mismatches"] = mismatches;
  if (g_plain_s > 0 && runs > 0) state.counters["ratio_to_plain_gets"] = total_s / runs / g_plain_s;
  lan.onReply = nullptr;
  lan.onEvent = nullptr;
}
BENCHMARK(BM_BatchMaintenanceSet)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(4);

}  // namespace

BENCHMARK_MAIN();
