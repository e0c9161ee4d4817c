// The XML guard's cost: refusing the hostile shapes that crashed or froze
// the program (1 MiB of nesting, 200,000 attributes on one element), and the
// pre-scan's share of a guarded parse of the largest legitimate texts (a
// 102,400-byte device reply, a 2,048-device list import) against TinyXML
// alone on the same text: five pairs of a batch of parses each, the order
// alternating, CPU time of the thread; each prints
// "ratio xml_guarded_parse_over_tinyxml_<text> <value> goal -".
#include <benchmark/benchmark.h>
#include <time.h>

#include <string>

#include "common/xml_guard.h"
#include "kelvara_test/bench.h"

namespace kelvara {
namespace {

std::string Deep() {
  std::string s;
  for (std::size_t i = 0; i < (1u << 20) / 3; ++i) s += "<a>";
  return s;
}

std::string Wide() {
  std::string s = "<root><ipcamera";
  for (int i = 0; i < 200'000; ++i) s += " a" + std::to_string(i) + "='1'";
  return s + "/></root>";
}

std::string Reply() {
  std::string s = "<MESSAGE><MESSAGE_BODY>";
  for (int i = 0; s.size() < 102'400 - 100; ++i)
    s += "<ITEM ID=\"" + std::to_string(i) + "\" NAME=\"channel\" VALUE=\"0123456789\" ENABLE=\"1\"/>";
  return s + "</MESSAGE_BODY></MESSAGE>";
}

std::string Import() {
  std::string s = "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n<root>\n";
  for (int i = 0; i < 2048; ++i) {
    s += "    <ipcamera";
    for (int a = 0; a < 19; ++a) s += " A" + std::to_string(a) + "=\"value " + std::to_string(i) + "\"";
    s += " />\n";
  }
  return s + "</root>\n";
}

void Refuse(benchmark::State& state, const std::string& text) {
  for (auto _ : state) {
    TiXmlDocument doc;
    const XmlParseOutcome outcome = ParseXmlGuarded(doc, text);
    if (!outcome.refused) state.SkipWithError("not refused");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// `batch` parses of the text per side and pair; counters: CPU ms per parse.
void GuardedOverTinyXml(benchmark::State& state, const std::string& name, const std::string& text, int batch) {
  double guarded = 0, alone = 0;
  for (auto _ : state) {
    for (int pair = 0; pair < 5; ++pair) {
      double g = 0, a = 0;
      for (int side = 0; side < 2; ++side) {
        const double t = ThreadCpuSeconds();
        if ((side == 0) == (pair % 2 == 0)) {
          for (int i = 0; i < batch; ++i) {
            TiXmlDocument doc;
            if (!ParseXmlGuarded(doc, text)) state.SkipWithError("refused");
          }
          g = ThreadCpuSeconds() - t;
        } else {
          for (int i = 0; i < batch; ++i) {
            TiXmlDocument doc;
            doc.Parse(text.c_str());
            benchmark::DoNotOptimize(doc.RootElement());
          }
          a = ThreadCpuSeconds() - t;
        }
      }
      bench::PrintRatio("xml_guarded_parse_over_tinyxml_" + name, g / a, "-");
      guarded += g;
      alone += a;
    }
  }
  const double parses = 5.0 * batch * static_cast<double>(state.iterations());
  state.counters["guarded_ms_per_parse"] = guarded * 1e3 / parses;
  state.counters["tinyxml_ms_per_parse"] = alone * 1e3 / parses;
}

BENCHMARK_CAPTURE(Refuse, nesting_1MiB, Deep())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Refuse, attributes_200000_on_one_element, Wide())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(GuardedOverTinyXml, device_reply_102400_bytes, "device_reply", Reply(), 40)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(GuardedOverTinyXml, list_import_2048_devices, "list_import", Import(), 8)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelvara
BENCHMARK_MAIN();
