// Sorting 10,000 cell texts of each kind a column holds, without a widget.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "controls/core/report_sort.h"

namespace kelvara::controls {
namespace {

enum Kind { kHex, kNumber, kDate, kIpv4, kText, kMixed };

std::u16string Make(Kind kind, std::mt19937& rng) {
  std::string s;
  switch (kind) {
    case kHex: s = std::to_string(rng() % 100000000); break;  // ports, counts, serial digits
    case kNumber: s = std::to_string(rng() % 10000) + "." + std::to_string(rng() % 100) + "%"; break;
    case kDate:
      s = "2026-" + std::to_string(1 + rng() % 12) + "-" + std::to_string(10 + rng() % 18) + " " +
          std::to_string(rng() % 24) + ":" + std::to_string(10 + rng() % 50) + ":" + std::to_string(10 + rng() % 50);
      break;
    case kIpv4:
      s = "10." + std::to_string(rng() % 256) + "." + std::to_string(rng() % 256) + "." + std::to_string(rng() % 256);
      break;
    case kText: s = "IPC-Camera-" + std::string(1, static_cast<char>('A' + rng() % 26)) + std::to_string(rng()); break;
    case kMixed: return Make(static_cast<Kind>(rng() % 5), rng);
  }
  return std::u16string(s.begin(), s.end());
}

void BM_SortColumn(benchmark::State& state) {
  const Kind kind = static_cast<Kind>(state.range(0));
  std::mt19937 rng(42);
  std::vector<std::u16string> texts(10000);
  for (auto& t : texts) t = Make(kind, rng);
  const std::vector<std::u16string_view> views(texts.begin(), texts.end());
  for (auto _ : state) benchmark::DoNotOptimize(SortColumnOrder(views, true, std::nullopt));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(texts.size()));
  const char* names[] = {"hex", "number", "date", "ipv4", "text", "mixed"};
  state.SetLabel(names[kind]);
}
BENCHMARK(BM_SortColumn)->DenseRange(kHex, kMixed)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelvara::controls

BENCHMARK_MAIN();
