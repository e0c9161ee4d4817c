// The CPU the sealed link costs: seal, and open, 64 KiB frames (a file
// transfer's chunks) in one direction, per GiB of frames. Five rounds of
// 256 MiB each; every round prints
//   measured sealed_link_seal_cpu_s_per_gib <seconds> s/GiB goal <=1.5
//   measured sealed_link_open_cpu_s_per_gib <seconds> s/GiB goal <=1.5
// (make bench shows their min/median/max against the goal).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <string>
#include <vector>

#include "kelvara_test/bench.h"
#include "link_seal.h"
#include "wire_frame.h"

namespace {

namespace wire = varurovodiv::wire;

double ThreadCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_THREAD, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void BM_SealAndOpen(benchmark::State& state) {
  constexpr size_t kRoundBytes = 256u << 20;
  constexpr size_t kFrames = kRoundBytes / wire::kChunkSize;
  std::array<unsigned char, 32> a{}, b{};
  a.fill(1);
  b.fill(2);
  const std::string chunk(wire::kChunkSize, 'c');
  std::string out;
  out.reserve(wire::kHeaderSize + wire::kChunkSize + wire::kSealTagSize);
  double seal_s = 0, open_s = 0;
  for (auto _ : state) {
    // Sealing alone, each frame into the send buffer as the SDK does.
    wire::LinkSeal sender(a, b);
    const double t0 = ThreadCpuSeconds();
    for (size_t i = 0; i < kFrames; ++i) {
      out.clear();
      benchmark::DoNotOptimize(
          sender.Append(out, wire::FrameType::kPutData, static_cast<uint32_t>(i), 1, 2, 0, chunk));
      benchmark::DoNotOptimize(out.data());
    }
    const double t1 = ThreadCpuSeconds();
    // The same frames again (a new sender counts from 0 too), as the parser
    // hands them over, then opened alone.
    wire::LinkSeal again(a, b), receiver(b, a);
    std::vector<wire::Frame> frames(kFrames);
    bool ok = true;
    for (size_t i = 0; i < kFrames; ++i) {
      out.clear();
      ok &= again.Append(out, wire::FrameType::kPutData, static_cast<uint32_t>(i), 1, 2, 0, chunk);
      frames[i].header = wire::DecodeHeader(reinterpret_cast<const unsigned char*>(out.data()));
      frames[i].payload.assign(out, wire::kHeaderSize);
    }
    const double t2 = ThreadCpuSeconds();
    for (wire::Frame& f : frames) ok &= receiver.Open(f);
    const double t3 = ThreadCpuSeconds();
    if (!ok) state.SkipWithError("a frame was not sealed or did not open");
    const double gib = static_cast<double>(kRoundBytes) / (1u << 30);
    seal_s = (t1 - t0) / gib;
    open_s = (t3 - t2) / gib;
    kelvara::bench::PrintMeasured("sealed_link_seal_cpu_s_per_gib", seal_s, "s/GiB", "<=1.5");
    kelvara::bench::PrintMeasured("sealed_link_open_cpu_s_per_gib", open_s, "s/GiB", "<=1.5");
  }
  state.counters["seal_cpu_s_per_GiB"] = seal_s;
  state.counters["open_cpu_s_per_GiB"] = open_s;
}

BENCHMARK(BM_SealAndOpen)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
