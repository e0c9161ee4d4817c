// Refresh: the UI-thread cost of one 200-ms list refresh with 1,000 rows,
// when nothing changed and when every uptime changed.
// Discovery: Search to every one of 500 devices in the rows, in a LAN of
// network namespaces; counters report replies lost.
#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

#include "discovery/core/device_rows.h"
#include "discovery/core/search_reply.h"
#include "discovery/core/search_thread.h"
#include "discovery/tests/lan_fixture.h"
#include "discovery/tests/reply_fixture.h"
#include "simulator.h"

namespace kelvara::discovery {
namespace {

class CountingView : public RowView {
 public:
  void RowInserted(DeviceListRow&) override { ++inserted; }
  void CellText(DeviceListRow&, int, const std::string& text) override {
    ++cells;
    bytes += text.size();
  }
  void RowTextColour(DeviceListRow&, RowColour) override {}
  void RowsCleared() override {}
  long inserted = 0, cells = 0, bytes = 0;
};

RowFormatContext BenchContext() {
  RowFormatContext c;
  c.labels = RowLabels::FromLookup([](const char* key) { return std::string(key); });
  return c;
}

std::vector<std::string> Replies(int count, int uptime) {
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) {
    test::FakeDevice d;
    d.serial = "BENCH" + std::to_string(100000 + i);
    d.ip = "10.77." + std::to_string(1 + i / 250) + "." + std::to_string(1 + i % 250);
    d.uptime_s = uptime + i;
    out.push_back(ReplyText(d));
  }
  return out;
}

void StoreAll(DeviceMap& map, const std::vector<std::string>& replies) {
  for (const auto& r : replies) OnSearchReply(r, "10.77.0.1", map, false);
}

std::vector<DeviceSearchInfo> Parsed(const std::vector<std::string>& replies) {
  std::vector<DeviceSearchInfo> out;
  for (const auto& r : replies) out.push_back(*ParseSearchReply(r));
  return out;
}

// The search thread's side without the parsing: records stored as parsed.
void StoreAll(DeviceMap& map, const std::vector<DeviceSearchInfo>& records) {
  for (const auto& r : records) map.AddOrUpdateDevice(r, "10.77.0.1", TickCount_ms());
}

void BM_RefreshTick(benchmark::State& state) {
  const bool everyUptimeChanged = state.range(0) != 0;
  constexpr int kRows = 1000;
  ColumnMap columns;
  columns.BuildColumnMap({});
  CountingView view;
  DeviceMap map;
  DeviceRows rows(columns, view);
  rows.SetFormatContext(BenchContext());
  StoreAll(map, Replies(kRows, 1000));
  rows.RefreshDeviceList(map, {});
  const auto first = Parsed(Replies(kRows, 2000)), second = Parsed(Replies(kRows, 3000));
  bool flip = false;
  long cells = 0;
  for (auto _ : state) {
    if (everyUptimeChanged) {
      // The search thread's side of the tick: 1,000 replies stored.
      state.PauseTiming();
      StoreAll(map, flip ? first : second);
      flip = !flip;
      state.ResumeTiming();
    }
    const long before = view.cells;
    auto relogin = rows.RefreshDeviceList(map, {});
    benchmark::DoNotOptimize(relogin);
    cells += view.cells - before;
  }
  state.counters["rows"] = static_cast<double>(rows.Count());
  state.counters["cells_written_per_tick"] =
      benchmark::Counter(static_cast<double>(cells) / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_RefreshTick)->Arg(0)->Arg(1)->ArgNames({"every_uptime_changed"})->Unit(benchmark::kMicrosecond);

void BM_Discover500(benchmark::State& state) {
  constexpr int kDevices = 500;
  std::string why;
  if (!test::LanFixture::Enter(1, &why)) {
    state.SkipWithError(("test LAN unavailable: " + why).c_str());
    return;
  }
  const auto replies = Replies(kDevices, 100);
  test::FakeDevices lan(0, [&] { return replies; });
  double lost = 0, runs = 0;
  for (auto _ : state) {
    DeviceMap map;
    ColumnMap columns;
    columns.BuildColumnMap({});
    CountingView view;
    DeviceRows rows(columns, view);
    rows.SetFormatContext(BenchContext());
    SearchThread search([&](std::string_view text, const std::string& adapter,
                                 const std::string& sender) {
      OnSearchReply(text, adapter, map, false, {}, sender);
    });
    const auto start = std::chrono::steady_clock::now();
    search.Start({});
    // The UI's 200-ms refresh ticks, until every device is a row or 1.5 s passed.
    while (rows.Count() < kDevices && std::chrono::steady_clock::now() - start < std::chrono::milliseconds(1500)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      rows.RefreshDeviceList(map, {});
    }
    const auto end = std::chrono::steady_clock::now();
    state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    search.Stop();
    lost += kDevices - static_cast<double>(rows.Count());
    runs += 1;
  }
  state.counters["replies_lost_per_search"] = lost / runs;
}
BENCHMARK(BM_Discover500)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

// Where the time of one discovery goes without the 200-ms tick granularity:
// Search to the 500th record stored in the device map.
void BM_Discover500ToMap(benchmark::State& state) {
  constexpr int kDevices = 500;
  std::string why;
  if (!test::LanFixture::Enter(1, &why)) {
    state.SkipWithError(("test LAN unavailable: " + why).c_str());
    return;
  }
  const auto replies = Replies(kDevices, 100);
  test::FakeDevices lan(0, [&] { return replies; });
  double lost = 0, runs = 0;
  for (auto _ : state) {
    DeviceMap map;
    SearchThread search([&](std::string_view text, const std::string& adapter,
                                 const std::string& sender) {
      OnSearchReply(text, adapter, map, false, {}, sender);
    });
    const auto start = std::chrono::steady_clock::now();
    search.Start({});
    while (map.Size() < kDevices && std::chrono::steady_clock::now() - start < std::chrono::milliseconds(1500))
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    search.Stop();
    lost += kDevices - static_cast<double>(map.Size());
    runs += 1;
  }
  state.counters["replies_lost_per_search"] = lost / runs;
}
BENCHMARK(BM_Discover500ToMap)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

// The same search against the device simulator playing 500 devices, each
// answering from its own address.
void BM_Discover500Devsim(benchmark::State& state) {
  constexpr int kDevices = 500;
  std::string why;
  if (!test::LanFixture::Enter(1, &why)) {
    state.SkipWithError(("test LAN unavailable: " + why).c_str());
    return;
  }
  const std::string ns = test::LanFixture::LanNamespace();
  // Every address of 10.77.1.0/24 and 10.77.2.0/24 is the LAN side's own.
  test::LanFixture::Shell("ip -n " + ns + " route add local 10.77.1.0/24 dev lan0 2>/dev/null; ip -n " + ns +
                          " route add local 10.77.2.0/24 dev lan0 2>/dev/null");
  devsim::SimConfig config;
  config.stdin_control = false;
  devsim::GenerateDevices(devsim::DeviceConfig{}, kDevices, "10.77.1.1", "B", config.devices);
  std::unique_ptr<devsim::Simulator> sim;
  std::string error = "not started";
  test::LanFixture::RunInLan([&] {
    sim = std::make_unique<devsim::Simulator>(config);
    error = sim->Start();
  });
  if (!error.empty()) {
    state.SkipWithError(("devsim: " + error).c_str());
    return;
  }
  double lost = 0, runs = 0;
  for (auto _ : state) {
    DeviceMap map;
    ColumnMap columns;
    columns.BuildColumnMap({});
    CountingView view;
    DeviceRows rows(columns, view);
    rows.SetFormatContext(BenchContext());
    SearchThread search([&](std::string_view text, const std::string& adapter,
                                 const std::string& sender) {
      OnSearchReply(text, adapter, map, false, {}, sender);
    });
    const auto start = std::chrono::steady_clock::now();
    search.Start({});
    while (rows.Count() < kDevices && std::chrono::steady_clock::now() - start < std::chrono::milliseconds(1500)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      rows.RefreshDeviceList(map, {});
    }
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    search.Stop();
    lost += kDevices - static_cast<double>(rows.Count());
    runs += 1;
  }
  state.counters["replies_lost_per_search"] = lost / runs;
  sim->Stop();
}
BENCHMARK(BM_Discover500Devsim)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelvara::discovery

BENCHMARK_MAIN();
