// Encodes per second of our encoder and libqrencode on the same texts, level L,
// automatic version and mask. Compare the two rows of each text size.
#include <benchmark/benchmark.h>
#include <qrencode.h>

#include <memory>
#include <random>
#include <string>

#include "printing/core/qr_encode.h"

namespace {

std::string Text(int kind) {
  if (kind == 0) return "EF000000002F985D";  // a device serial
  std::mt19937 rng(7);
  const std::string alphabet = "abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789:;,.";
  std::string s(kind == 1 ? 100 : 2000, ' ');
  for (auto& c : s) c = alphabet[rng() % alphabet.size()];
  return s;
}

void BM_Ours(benchmark::State& state) {
  const std::string text = Text(int(state.range(0)));
  auto qr = std::make_unique<CQR_Encode>();
  for (auto _ : state) {
    bool ok = qr->Encode(0, 0, true, -1, text.data(), int(text.size()));
    benchmark::DoNotOptimize(ok);
  }
  state.counters["encodes/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Libqrencode(benchmark::State& state) {
  const std::string text = Text(int(state.range(0)));
  for (auto _ : state) {
    QRcode* code = QRcode_encodeString(text.c_str(), 0, QR_ECLEVEL_L, QR_MODE_8, 1);
    benchmark::DoNotOptimize(code);
    QRcode_free(code);
  }
  state.counters["encodes/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

}  // namespace

// Argument: 0 = 16-character serial, 1 = 100-byte text, 2 = 2000-byte text.
BENCHMARK(BM_Ours)->Arg(0)->Arg(1)->Arg(2);
BENCHMARK(BM_Libqrencode)->Arg(0)->Arg(1)->Arg(2);
BENCHMARK_MAIN();
