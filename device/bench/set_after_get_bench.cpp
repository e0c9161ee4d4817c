// 500 simulated devices: one set-after-get (the TV system) on every device,
// from the first request to the last row's final text, against 500 plain
// gets of the same block. Four pairs, the order alternating, each printing
// "ratio device_set_after_get_over_plain_gets <value> goal -"; also how many
// stored blocks came out changed in exactly their TV system (it must be all
// of them).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <memory>

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
    return l;
  }();
  return *lan;
}

// 500 plain gets of block 504: seconds, or a negative number when replies are missing.
double PlainGets(device::test::DevsimCommands& lan) {
  int replies = 0;
  lan.onReply = [&](const device::DeviceAuxResponse& r) { replies += r.command == device::GET_CFG_VIDEO_CAPTURE; };
  const auto start = Clock::now();
  for (int i = 0; i < kDevices; ++i) lan.Commands().Sdk().GetDVRConfig(lan.Row(i).m_loginHandle, 504);
  const bool all = lan.PumpUntil([&] { return replies == kDevices; }, std::chrono::milliseconds(60000));
  lan.onReply = nullptr;
  return all ? std::chrono::duration<double>(Clock::now() - start).count() : -1;
}

// The TV system set to `value` on every device: seconds to the last row's
// final text (negative when some row lacks it); `changed` counts blocks
// changed in exactly their TV system.
double SetAfterGet(device::test::DevsimCommands& lan, int value, int& changed) {
  std::vector<std::string> before;
  for (int i = 0; i < kDevices; ++i) {
    before.push_back(lan.Block(i, 504));
    lan.Rows().SetCellTextIfChanged(lan.Row(i), discovery::kColState, "-");
  }
  const std::string old = value == 0 ? "1" : "0";
  const auto start = Clock::now();
  for (int i = 0; i < kDevices; ++i) lan.Commands().RequestTvSystemChange(&lan.Row(i), value);
  // The final text is the write's own reply.
  const bool all = lan.PumpUntil([&] {
    for (int i = 0; i < kDevices; ++i) {
      if (lan.Status(i) != "SET_OK") return false;
    }
    return true;
  }, std::chrono::milliseconds(120000));
  const double s = std::chrono::duration<double>(Clock::now() - start).count();
  changed = 0;
  for (int i = 0; i < kDevices; ++i) {
    const auto diff = device::test::DiffXml(before[i], lan.Block(i, 504));
    changed += diff.size() == 1 && diff.count("Video/Capture[0]@TVSystem") &&
               diff.at("Video/Capture[0]@TVSystem") == std::make_pair(old, std::to_string(value));
  }
  return all ? s : -1;
}

// Each iteration is one pair; its time is the set-after-get's.
void BM_TvSystemSetAfterGetAgainstPlainGets(benchmark::State& state) {
  auto& lan = Lan();
  int value = 0, changed = 0, pair = 0;
  for (auto _ : state) {
    double plain = 0, set = 0;
    for (int side = 0; side < 2; ++side) {
      if ((side == 0) == (pair % 2 == 0))
        plain = PlainGets(lan);
      else
        set = SetAfterGet(lan, value, changed);
    }
    ++pair;
    value = 1 - value;
    if (plain <= 0 || set <= 0) {
      state.SkipWithError(plain <= 0 ? "replies missing" : "rows without their final text");
      break;
    }
    state.SetIterationTime(set);
    std::printf("pair %d: plain gets %.1f ms, set-after-get %.1f ms, %d blocks changed\n", pair, plain * 1e3,
                set * 1e3, changed);
    std::printf("ratio device_set_after_get_over_plain_gets %.2f goal -\n", set / plain);
  }
  state.counters["changed_blocks"] = changed;
  state.counters["devices"] = kDevices;
}
BENCHMARK(BM_TvSystemSetAfterGetAgainstPlainGets)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(4);

}  // namespace

BENCHMARK_MAIN();
