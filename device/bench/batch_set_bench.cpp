// 500 simulated devices, one in ten refusing the write: a batch set of the
// maintenance schedule (228) from the first request to the last row's
// terminal state, against 500 plain gets of the same block. Four pairs, the
// order alternating, each printing
// "ratio device_batch_set_over_plain_gets <value> goal -"; it also checks the rows' terminal states against what the devices
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
#include "kelvara_test/bench.h"

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
  // Made first, so it goes after the devices at exit.
  static const kelvara::bench::TempFolder docs("kelvara-bench-docs");
  static std::unique_ptr<device::test::DevsimCommands> lan = [] {
    RaiseFileLimit();
    auto l = std::make_unique<device::test::DevsimCommands>(kDevices, docs.path());
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

// 500 plain gets of block 208: seconds, or a negative number when replies are missing.
double PlainGets(device::test::DevsimCommands& lan) {
  int replies = 0;
  lan.onReply = [&](const device::DeviceAuxResponse& r) { replies += r.command == 208; };
  const auto start = Clock::now();
  for (int i = 0; i < kDevices; ++i) lan.Commands().Sdk().GetDVRConfig(lan.Row(i).m_loginHandle, 208);
  const bool all = lan.PumpUntil([&] { return replies == kDevices; }, std::chrono::milliseconds(60000));
  lan.onReply = nullptr;
  return all ? std::chrono::duration<double>(Clock::now() - start).count() : -1;
}

// Each iteration is one pair; its time is the batch set's.
void BM_BatchMaintenanceSetAgainstPlainGets(benchmark::State& state) {
  auto& lan = Lan();
  device::BatchRunner runner(lan.Commands(), lan.Tap(), std::chrono::milliseconds(30000));
  std::optional<device::BatchSummary> summary;
  runner.onFinished = [&summary](const device::BatchSummary& s) { summary = s; };
  auto hook = [&] {
    lan.onReply = [&runner](const device::DeviceAuxResponse& r) { runner.OnReply(r.loginHandle, r.command, r.result); };
    lan.onEvent = [&runner](const device::DeviceStatusEvent& e) { runner.OnStatusEvent(e.loginHandle, e.eventType); };
  };
  std::vector<discovery::DeviceListRow*> rows;
  for (int i = 0; i < kDevices; ++i) rows.push_back(&lan.Row(i));
  int day = 0, pair = 0, mismatches = 0;
  device::BatchSummary last;
  // The batch set to the last terminal state: seconds, negative when it did not end.
  auto batchSet = [&]() -> double {
    hook();
    day = day % 7 + 1;
    const std::string text = "<MaintainConfig Enable=\"1\" Day=\"" + std::to_string(day) + "\" Time=\"03:30:00\" />";
    summary.reset();
    const auto start = Clock::now();
    runner.Run(rows, runner.FromWorker([&lan, &text](discovery::DeviceListRow* row) {
      lan.Commands().SetRowMaintenance(row, text);
    }));
    const bool ended = lan.PumpUntil([&] {
      runner.OnTick();
      return summary.has_value();
    }, std::chrono::milliseconds(120000));
    const double s = std::chrono::duration<double>(Clock::now() - start).count();
    lan.onReply = nullptr;
    lan.onEvent = nullptr;
    if (!ended) return -1;
    last = *summary;
    // The devices' own truth: stored schedule <=> row done.
    int stored = 0;
    for (int i = 0; i < kDevices; ++i) stored += lan.Block(i, 208) == text;
    mismatches += stored != last.Count(device::BatchState::kDone);
    mismatches += last.Count(device::BatchState::kFailed) != kDevices / 10;
    return s;
  };
  for (auto _ : state) {
    double plain = 0, set = 0;
    for (int side = 0; side < 2; ++side) {
      if ((side == 0) == (pair % 2 == 0))
        plain = PlainGets(lan);
      else
        set = batchSet();
    }
    ++pair;
    if (plain <= 0 || set <= 0) {
      state.SkipWithError(plain <= 0 ? "replies missing" : "rows without their terminal state");
      break;
    }
    state.SetIterationTime(set);
    std::printf("pair %d: plain gets %.1f ms, batch set %.1f ms\n", pair, plain * 1e3, set * 1e3);
    std::printf("ratio device_batch_set_over_plain_gets %.2f goal -\n", set / plain);
  }
  state.counters["devices"] = kDevices;
  state.counters["done"] = last.Count(device::BatchState::kDone);
  state.counters["failed"] = last.Count(device::BatchState::kFailed);
  state.counters["other_states"] = last.Total() - last.Count(device::BatchState::kDone) -
                                   last.Count(device::BatchState::kFailed);
  state.counters["mismatches"] = mismatches;
}
BENCHMARK(BM_BatchMaintenanceSetAgainstPlainGets)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(4);

}  // namespace

BENCHMARK_MAIN();
