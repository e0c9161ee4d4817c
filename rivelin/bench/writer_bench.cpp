// The writer against libavformat's mov muxer (same H.264 + G.711 units, from
// memory to a file): CPU time per GB written and peak heap; and 1 to 64
// writers at once.
#include <benchmark/benchmark.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "bench_media.h"
#include "rivelin.h"

namespace rivelin::bench {
namespace {

constexpr size_t kTargetBytes = 128ull << 20;  // per file
constexpr int kG711PacketBytes = 320;          // 40 ms at 8 kHz

// Feeds video units in a loop (25 fps) with one G.711 packet per frame until
// `target` bytes of video went out. `write` returns false to stop.
template <typename Write>
size_t Feed(size_t target, Write&& write, std::vector<size_t>* heapSamples = nullptr) {
  const auto& units = VideoUnits();
  static const std::vector<uint8_t> g711(kG711PacketBytes, 0x7F);
  size_t bytes = 0;
  for (int64_t frame = 0; bytes < target; ++frame) {
    const Unit& u = units[static_cast<size_t>(frame) % units.size()];
    const int64_t ts = 40 + 40 * frame;
    if (!write(true, u.data.data(), u.data.size(), u.key, ts)) break;
    if (!write(false, g711.data(), g711.size(), true, ts)) break;
    bytes += u.data.size() + g711.size();
    if (heapSamples && frame % 32 == 0) heapSamples->push_back(HeapInUse());
  }
  return bytes;
}

void Report(benchmark::State& state, double cpu, double bytes, size_t heapBase,
            const std::vector<size_t>& heap) {
  const size_t peak = heap.empty() ? heapBase : *std::max_element(heap.begin(), heap.end());
  state.counters["cpu_s_per_GB"] = cpu / (bytes / 1e9);
  state.counters["peak_heap_MB"] = static_cast<double>(peak > heapBase ? peak - heapBase : 0) / 1e6;
  state.counters["MB_written"] = bytes / 1e6;
}

void BM_Writer_Rivelin(benchmark::State& state) {
  VideoUnits();
  const std::string path = TempDir() + "/rivelin.mp4";
  double cpu = 0, bytes = 0;
  std::vector<size_t> heap;
  const size_t base = HeapInUse();
  for (auto _ : state) {
    const double c0 = ThreadCpuSeconds();
    MP4_VIDEO_PARAM v{};
    std::strcpy(v.codec, "H264");
    v.width = 1280;
    v.height = 720;
    v.framerate = 25;
    MP4_AUDIO_PARAM a{};
    std::strcpy(a.codec, "PCMU");
    a.sampleRate = 8000;
    a.channels = 1;
    const long h = MP4Create(const_cast<char*>(path.c_str()), &v, &a, 3600);
    if (h <= 0) {
      state.SkipWithError("MP4Create failed");
      return;
    }
    bytes += static_cast<double>(Feed(
        kTargetBytes,
        [&](bool video, const uint8_t* d, size_t n, bool key, int64_t ts) {
          return WriteMP4Data(h, video, const_cast<uint8_t*>(d), n, key, static_cast<double>(ts)) ==
                 0;
        },
        &heap));
    MP4Close(h);
    cpu += ThreadCpuSeconds() - c0;
    unlink(path.c_str());
  }
  Report(state, cpu, bytes, base, heap);
}

void BM_Writer_Libavformat(benchmark::State& state) {
  const auto& units = VideoUnits();
  const std::string path = TempDir() + "/lavf.mov";
  // Parameter sets of the first key frame as Annex B extradata.
  std::vector<uint8_t> extradata;
  {
    const auto& k = units.front().data;
    for (size_t i = 0; i + 4 < k.size(); ++i) {
      if (k[i] == 0 && k[i + 1] == 0 && k[i + 2] == 1 && (k[i + 3] & 0x1F) == 5) {
        extradata.assign(k.begin(), k.begin() + static_cast<ptrdiff_t>(i > 0 ? i - 1 : 0));
        break;
      }
    }
  }
  double cpu = 0, bytes = 0;
  std::vector<size_t> heap;
  const size_t base = HeapInUse();
  for (auto _ : state) {
    const double c0 = ThreadCpuSeconds();
    AVFormatContext* ctx = nullptr;
    avformat_alloc_output_context2(&ctx, nullptr, "mov", path.c_str());
    AVStream* vs = avformat_new_stream(ctx, nullptr);
    vs->time_base = {1, 1000};
    vs->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    vs->codecpar->codec_id = AV_CODEC_ID_H264;
    vs->codecpar->width = 1280;
    vs->codecpar->height = 720;
    vs->codecpar->extradata =
        static_cast<uint8_t*>(av_mallocz(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::memcpy(vs->codecpar->extradata, extradata.data(), extradata.size());
    vs->codecpar->extradata_size = static_cast<int>(extradata.size());
    AVStream* as = avformat_new_stream(ctx, nullptr);
    as->time_base = {1, 8000};
    as->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
    as->codecpar->codec_id = AV_CODEC_ID_PCM_MULAW;
    as->codecpar->sample_rate = 8000;
    as->codecpar->ch_layout = AV_CHANNEL_LAYOUT_MONO;
    as->codecpar->bits_per_coded_sample = 8;
    if (avio_open(&ctx->pb, path.c_str(), AVIO_FLAG_WRITE) < 0 ||
        avformat_write_header(ctx, nullptr) < 0) {
      state.SkipWithError("libavformat open failed");
      return;
    }
    AVPacket* pkt = av_packet_alloc();
    int64_t audioPts = 0;
    bytes += static_cast<double>(Feed(
        kTargetBytes,
        [&](bool video, const uint8_t* d, size_t n, bool key, int64_t ts) {
          pkt->data = const_cast<uint8_t*>(d);
          pkt->size = static_cast<int>(n);
          pkt->flags = key ? AV_PKT_FLAG_KEY : 0;
          if (video) {
            pkt->stream_index = 0;
            pkt->pts = pkt->dts = av_rescale_q(ts, {1, 1000}, vs->time_base);
            pkt->duration = av_rescale_q(40, {1, 1000}, vs->time_base);
          } else {
            pkt->stream_index = 1;
            pkt->pts = pkt->dts = audioPts;
            pkt->duration = static_cast<int64_t>(n);
            audioPts += static_cast<int64_t>(n);
          }
          return av_write_frame(ctx, pkt) >= 0;
        },
        &heap));
    av_write_trailer(ctx);
    heap.push_back(HeapInUse());
    av_packet_free(&pkt);
    avio_closep(&ctx->pb);
    avformat_free_context(ctx);
    cpu += ThreadCpuSeconds() - c0;
    unlink(path.c_str());
  }
  Report(state, cpu, bytes, base, heap);
}

// N writers at once, each its own file; the same total bytes for every N.
void BM_ConcurrentWriters(benchmark::State& state) {
  VideoUnits();
  const int writers = static_cast<int>(state.range(0));
  const size_t perWriter = (512ull << 20) / static_cast<size_t>(writers);
  double maxWriteMs = 0, totalBytes = 0;
  for (auto _ : state) {
    std::atomic<size_t> bytes{0};
    std::atomic<int64_t> worstUs{0};
    std::vector<std::thread> threads;
    for (int w = 0; w < writers; ++w) {
      threads.emplace_back([&, w] {
        const std::string path = TempDir() + "/w" + std::to_string(w) + ".mp4";
        MP4_VIDEO_PARAM v{};
        std::strcpy(v.codec, "H264");
        v.width = 1280;
        v.height = 720;
        v.framerate = 25;
        MP4_AUDIO_PARAM a{};
        std::strcpy(a.codec, "PCMU");
        a.sampleRate = 8000;
        a.channels = 1;
        const long h = MP4Create(const_cast<char*>(path.c_str()), &v, &a, 3600);
        if (h <= 0) return;
        int64_t worst = 0;
        bytes += Feed(perWriter, [&](bool video, const uint8_t* d, size_t n, bool key, int64_t ts) {
          const auto t0 = std::chrono::steady_clock::now();
          const int rc =
              WriteMP4Data(h, video, const_cast<uint8_t*>(d), n, key, static_cast<double>(ts));
          const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                              std::chrono::steady_clock::now() - t0)
                              .count();
          worst = std::max<int64_t>(worst, us);
          return rc == 0;
        });
        MP4Close(h);
        unlink(path.c_str());
        int64_t prev = worstUs.load();
        while (worst > prev && !worstUs.compare_exchange_weak(prev, worst)) {
        }
      });
    }
    for (auto& t : threads) t.join();
    totalBytes += static_cast<double>(bytes.load());
    maxWriteMs = std::max(maxWriteMs, static_cast<double>(worstUs.load()) / 1000.0);
  }
  state.SetBytesProcessed(static_cast<int64_t>(totalBytes));
  state.counters["worst_write_ms"] = maxWriteMs;
}

BENCHMARK(BM_Writer_Rivelin)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_Writer_Libavformat)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_ConcurrentWriters)
    ->Arg(1)
    ->Arg(8)
    ->Arg(64)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

}  // namespace
}  // namespace rivelin::bench

BENCHMARK_MAIN();
