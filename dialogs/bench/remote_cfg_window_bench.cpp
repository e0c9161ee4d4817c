// The remote configuration window against a hostile device that knows its
// own password and sends every block at a page's field cap (8,192 fields,
// 720 KB): the window opens, every page is shown in turn, the window
// closes and its widgets are deleted. Five runs (BM_HostileDeviceWindow);
// per run, one line each (the table of `make bench` gives their
// min/median/max)
//   measured remote_cfg_longest_pass_ms <wall ms> ms goal <=100
//   measured remote_cfg_longest_pass_cpu_ms <UI-thread CPU ms> ms goal <=100
//   measured remote_cfg_close_ms <ms> ms goal <=100
//   measured remote_cfg_widgets <count> widgets goal <=17384
//   measured remote_cfg_open_rss_mib <MiB> MiB goal -
// (the longest pass is the longest the UI thread stayed away from its event
// loop, the wall figure also holding the time other processes took the CPU;
// the memory is what the process holds with every page shown, over what it
// held before the first window).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTabWidget>

#include <cstdio>
#include <vector>

#include "config_pages.h"
#include "dialogs/tests/remote_cfg_fixture.h"
#include "dialogs/tests/ui_pass_probe.h"
#include "dialogs/ui/dialog_remote_cfg.h"
#include "kelvara_test/bench.h"

namespace kelvara::dialogs {
namespace {

// One run: false, with the reason on standard error, when the window did
// not get as far as the figures.
bool HostileDeviceWindow(devsim::Simulator& sim, const std::vector<std::size_t>& fields, double residentBefore) {
  const qsizetype widgetsBefore = QApplication::allWidgets().size();
  test::UiPassProbe probe;
  qsizetype widgets = 0;
  qint64 closeMs = 0;
  double open = 0;
  {
    CRemoteCfgDlg d({"127.0.0.1", sim.command_port(0), "admin", "pw1", 0}, "en-us");
    d.show();
    auto* tabs = d.findChild<QTabWidget*>("RemoteConfigPages");
    if (!test::RunLoopUntil([&] { return tabs->count() == static_cast<int>(fields.size()); }, 30000)) {
      std::fprintf(stderr, "the pages did not come\n");
      return false;
    }
    std::size_t shown = 0;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const bool fits = shown + fields[i] <= remote_config::kMaxWindowFields;
      if (fits) shown += fields[i];
      if (test::OpenPage(tabs, remote_config::Pages()[i].get, fits ? fields[i] : 0) == nullptr) {
        std::fprintf(stderr, "page %zu did not open\n", i);
        return false;
      }
    }
    widgets = d.findChildren<QWidget*>().size();
    open = test::ResidentMiB() - residentBefore;
    QElapsedTimer closing;
    closing.start();
    d.close();
    closeMs = closing.elapsed();
    test::RunLoopUntil([&] { return QApplication::allWidgets().size() <= widgetsBefore + 1; }, 30000);
  }
  using bench::PrintMeasured;
  PrintMeasured("remote_cfg_longest_pass_ms", static_cast<double>(probe.LongestMs()), "ms", "<=100");
  PrintMeasured("remote_cfg_longest_pass_cpu_ms", probe.LongestCpuMs(), "ms", "<=100");
  PrintMeasured("remote_cfg_close_ms", static_cast<double>(closeMs), "ms", "<=100");
  PrintMeasured("remote_cfg_widgets", static_cast<double>(widgets), "widgets",
                "<=" + std::to_string(remote_config::kMaxWindowFields + 1000));
  PrintMeasured("remote_cfg_open_rss_mib", open, "MiB", "-");
  return true;
}

// Five runs against one device.
void BM_HostileDeviceWindow(benchmark::State& state) {
  const auto sim = test::StartDevice();
  if (sim == nullptr) {
    state.SkipWithError("the simulated device did not start");
    return;
  }
  const std::string block = test::BlockAtTheFieldCap();
  for (const remote_config::PageSpec& p : remote_config::Pages()) sim->device(0).PutBlock(p.get, block);
  std::vector<std::size_t> fields;
  for (const remote_config::PageSpec& p : remote_config::Pages()) fields.push_back(test::DeviceFields(*sim, p.get));
  const double residentBefore = test::ResidentMiB();
  for (auto _ : state) {
    for (int run = 0; run < 5; ++run) {
      if (!HostileDeviceWindow(*sim, fields, residentBefore)) {
        state.SkipWithError("the window did not get as far as the figures");
        return;
      }
    }
  }
}
BENCHMARK(BM_HostileDeviceWindow)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace kelvara::dialogs

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  return kelvara::bench::RunBenchmarks(argc, argv);
}
