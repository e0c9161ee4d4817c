// Reading an .xls whose cells all show one shared string: 1,000 device rows,
// each with 200 cells of one 12,000-character text (a 3 MB file written by
// xlwt through discovery/tests/xls_oracle.py, in a temporary folder removed
// at exit). Counters: the peak resident memory of this process and of the
// reader child, in MiB.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "discovery/core/xls_workbook.h"
#include "kelvara_test/bench.h"

namespace {

const std::string& SharedFile() {
  static const std::string path = [] {
    static const kelvara::bench::TempFolder dir("kelvara-xls-bench");
    const std::string p = (dir / "shared.xls").string();
    const std::string command = "/usr/bin/python3 '" KELVARA_SOURCE_DIR "/discovery/tests/xls_oracle.py' shared '" + p +
                                "' 1000 200 12000";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
    return p;
  }();
  return path;
}

double PeakMiB(int who) {
  rusage usage{};
  ::getrusage(who, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void BM_ReadSharedStrings(benchmark::State& state) {
  const std::string& path = SharedFile();
  for (auto _ : state) {
    const auto read = kelvara::discovery::ReadXlsFile(path, "EXPORT", 1001);
    if (!read.ok) state.SkipWithError(read.error.c_str());
  }
  state.counters["peak_MiB"] = PeakMiB(RUSAGE_SELF);
  state.counters["reader_peak_MiB"] = PeakMiB(RUSAGE_CHILDREN);
}

BENCHMARK(BM_ReadSharedStrings)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
