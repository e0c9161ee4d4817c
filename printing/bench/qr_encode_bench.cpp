// Our QR encoder against libqrencode on the same texts, level L, automatic
// version and mask, CPU time of the thread. Per text size (a 16-character
// serial, 100 and 2,000 bytes), five pairs of a batch of encodes each, the
// order alternating; each pair prints
// "ratio qr_encode_<text>_over_libqrencode <value> goal -". Counters: encodes
// per second of both.
#include <benchmark/benchmark.h>
#include <qrencode.h>
#include <time.h>

#include <cstdio>
#include <memory>
#include <random>
#include <string>

#include "kelvara_test/bench.h"
#include "printing/core/qr_encode.h"

namespace {

constexpr int kPairs = 5;

std::string Text(int kind) {
  if (kind == 0) return "EF000000002F985D";  // a device serial
  std::mt19937 rng(7);
  const std::string alphabet = "abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789:;,.";
  std::string s(kind == 1 ? 100 : 2000, ' ');
  for (auto& c : s) c = alphabet[rng() % alphabet.size()];
  return s;
}

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// CPU seconds of `n` encodes; false in `ok` when one failed.
double Ours(const std::string& text, int n, bool& ok) {
  const double t = ThreadCpuSeconds();
  for (int i = 0; i < n; ++i) {
    // A fresh object per encode, as the label printing makes one.
    auto qr = std::make_unique<CQR_Encode>();
    ok = qr->Encode(0, 0, true, -1, text.data(), static_cast<int>(text.size())) && ok;
    benchmark::DoNotOptimize(qr.get());
  }
  return ThreadCpuSeconds() - t;
}

double Libqrencode(const std::string& text, int n, bool& ok) {
  const double t = ThreadCpuSeconds();
  for (int i = 0; i < n; ++i) {
    QRcode* code = QRcode_encodeString(text.c_str(), 0, QR_ECLEVEL_L, QR_MODE_8, 1);
    ok = code != nullptr && ok;
    benchmark::DoNotOptimize(code);
    QRcode_free(code);
  }
  return ThreadCpuSeconds() - t;
}

// state.range(0): 0 = 16-character serial, 1 = 100-byte text, 2 = 2000-byte text.
void BM_EncodePair(benchmark::State& state) {
  const int kind = static_cast<int>(state.range(0));
  const std::string text = Text(kind);
  const char* names[] = {"serial", "100_bytes", "2000_bytes"};
  const std::string name = std::string("qr_encode_") + names[kind] + "_over_libqrencode";
  // About 20-50 ms of each side per pair.
  const int n = kind == 0 ? 2000 : kind == 1 ? 1000 : 100;
  double ours = 0, reference = 0;
  for (auto _ : state) {
    for (int pair = 0; pair < kPairs; ++pair) {
      bool ok = true;
      double o = 0, r = 0;
      if (pair % 2 == 0) {
        o = Ours(text, n, ok);
        r = Libqrencode(text, n, ok);
      } else {
        r = Libqrencode(text, n, ok);
        o = Ours(text, n, ok);
      }
      if (!ok) {
        state.SkipWithError("an encode failed");
        return;
      }
      kelvara::bench::PrintRatio(name, o / r, "-");
      ours += o;
      reference += r;
    }
  }
  const double encodes = static_cast<double>(n) * kPairs * static_cast<double>(state.iterations());
  state.counters["ours_encodes_per_s"] = encodes / ours;
  state.counters["libqrencode_encodes_per_s"] = encodes / reference;
  state.SetLabel(names[kind]);
}
BENCHMARK(BM_EncodePair)->Arg(0)->Arg(1)->Arg(2)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return kelvara::bench::RunBenchmarks(argc, argv); }
