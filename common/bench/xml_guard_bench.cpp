// The XML guard's cost: refusing the hostile shapes that crashed or froze
// the program (1 MiB of nesting, 200,000 attributes on one element), and the
// pre-scan's share of a guarded parse of the largest legitimate texts (a
// 102,400-byte device reply, a 2,048-device list import) next to TinyXML alone.
#include <benchmark/benchmark.h>

#include <string>

#include "common/xml_guard.h"

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

void Guarded(benchmark::State& state, const std::string& text) {
  for (auto _ : state) {
    TiXmlDocument doc;
    if (!ParseXmlGuarded(doc, text)) state.SkipWithError("refused");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void TinyXmlAlone(benchmark::State& state, const std::string& text) {
  for (auto _ : state) {
    TiXmlDocument doc;
    doc.Parse(text.c_str());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

BENCHMARK_CAPTURE(Refuse, nesting_1MiB, Deep())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Refuse, attributes_200000_on_one_element, Wide())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Guarded, device_reply_102400_bytes, Reply())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(TinyXmlAlone, device_reply_102400_bytes, Reply())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Guarded, list_import_2048_devices, Import())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(TinyXmlAlone, list_import_2048_devices, Import())->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelvara
BENCHMARK_MAIN();
