// The UI thread's whole cost of one 200-ms refresh tick with 1,000 rows in
// the report control: (a) nothing changed, (b) every uptime changed.
#include <QApplication>
#include <benchmark/benchmark.h>

#include "discovery/core/search_reply.h"
#include "discovery/tests/reply_fixture.h"
#include "discovery/ui/device_list_controller.h"
#include "kelvara_test/bench.h"

namespace kelvara::discovery {
namespace {

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

std::vector<DeviceSearchInfo> Parsed(const std::vector<std::string>& replies) {
  std::vector<DeviceSearchInfo> out;
  for (const auto& r : replies) out.push_back(*ParseSearchReply(r));
  return out;
}

void BM_ListRefreshTick(benchmark::State& state) {
  const bool everyUptimeChanged = state.range(0) != 0;
  constexpr int kRows = 1000;
  DeviceListController::Options options;
  options.lookup = [](const char* key) { return std::string(key); };
  DeviceListController controller(options);
  QWidget window;
  controls::CReportCtrl* list = controller.CreateListWidget(&window);
  controller.InitDeviceListColumns();
  list->resize(1600, 900);
  window.show();
  // The search thread's side of a tick, without its parsing: records stored.
  auto store = [&](const std::vector<DeviceSearchInfo>& records) {
    for (const auto& r : records) controller.Map().AddOrUpdateDevice(r, "10.77.0.1", TickCount_ms());
  };
  store(Parsed(Replies(kRows, 1000)));
  controller.RefreshDeviceList();
  QCoreApplication::processEvents();
  const auto first = Parsed(Replies(kRows, 2000)), second = Parsed(Replies(kRows, 3000));
  bool flip = false;
  for (auto _ : state) {
    if (everyUptimeChanged) {
      state.PauseTiming();
      store(flip ? first : second);
      flip = !flip;
      state.ResumeTiming();
    }
    controller.RefreshDeviceList();
    // The repaint the changes caused, on the same thread.
    QCoreApplication::processEvents();
  }
  state.counters["rows"] = list->GetItemCount();
  // Goals, in microseconds of CPU per tick (scripts/bench-table.py).
  state.counters["goal"] = everyUptimeChanged ? 2000 : 10;
}
BENCHMARK(BM_ListRefreshTick)->Arg(0)->Arg(1)->ArgNames({"every_uptime_changed"})->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kelvara::discovery

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  return kelvara::bench::RunBenchmarks(argc, argv);
}
