// The writer against libavformat's mov muxer, in pairs in one run: both write
// the same samples (the same H.264 access units in Annex B form, the same
// G.711 or raw AAC packets, interleaved by time) from memory to a file, and
// both leave a durable file (libavformat's is synced once after its trailer;
// ours syncs as it records). The order alternates from pair to pair. The
// figure is process CPU time (every thread, user + system) per GB written;
// each pair's ratio is printed, then "ratio <name> <median> goal <goal>".
// Also 1 to 64 writers at once.
#include <benchmark/benchmark.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "bench_media.h"
#include "rivelin.h"

namespace rivelin::bench {
namespace {

constexpr size_t kTargetBytes = 128ull << 20;  // per file
constexpr int kPairs = 3;
constexpr double kGoalRatio = 0.6;

enum class Audio { kG711, kAac };

struct AudioFormat {
  const char* rivelinName;
  AVCodecID lavfCodec;
  int rate;
  int packetMs;          // per packet, for interleaving
  int samplesPerPacket;  // lavf durations, in 1/rate
};

AudioFormat Format(Audio a) {
  if (a == Audio::kG711) return {"PCMU", AV_CODEC_ID_PCM_MULAW, 8000, 40, 320};
  return {"AAC", AV_CODEC_ID_AAC, 16000, 64, 1024};
}

// Feeds video units in a loop (25 fps) and the audio packets due by each
// frame's time, until `target` bytes went out. `write` returns false to stop.
template <typename Write>
size_t Feed(Audio audio, size_t target, Write&& write, std::vector<size_t>* heapSamples = nullptr) {
  const auto& units = VideoUnits();
  const auto& g711 = G711Minute();
  const auto& aac = AacFrames16k();
  const AudioFormat f = Format(audio);
  size_t bytes = 0, nextAudio = 0;
  int64_t audioTs = 40;
  for (int64_t frame = 0; bytes < target; ++frame) {
    const Unit& u = units[static_cast<size_t>(frame) % units.size()];
    const int64_t ts = 40 + 40 * frame;
    if (!write(true, u.data.data(), u.data.size(), u.key, ts)) break;
    bytes += u.data.size();
    for (; audioTs <= ts; audioTs += f.packetMs, ++nextAudio) {
      const uint8_t* d;
      size_t n;
      if (audio == Audio::kG711) {
        const size_t packets = g711.size() / 320;
        d = g711.data() + 320 * (nextAudio % packets);
        n = 320;
      } else {
        const auto& frameBytes = aac[nextAudio % aac.size()];
        d = frameBytes.data();
        n = frameBytes.size();
      }
      if (!write(false, d, n, true, audioTs)) return bytes;
      bytes += n;
    }
    if (heapSamples && frame % 32 == 0) heapSamples->push_back(HeapInUse());
  }
  return bytes;
}

struct Run {
  double cpu = 0;        // seconds
  double cpuNoSync = 0;  // libavformat: before its closing fdatasync
  double bytes = 0;
  size_t peakHeap = 0;
};

size_t Peak(size_t base, const std::vector<size_t>& heap) {
  const size_t peak = heap.empty() ? base : *std::max_element(heap.begin(), heap.end());
  return peak > base ? peak - base : 0;
}

// A writer for 720p H.264 at 25 fps with the given mono audio.
long CreateWriter(const std::string& path, Audio audio) {
  const AudioFormat f = Format(audio);
  MP4_VIDEO_PARAM v{};
  std::strcpy(v.codec, "H264");
  v.width = 1280;
  v.height = 720;
  v.framerate = 25;
  MP4_AUDIO_PARAM a{};
  std::strcpy(a.codec, f.rivelinName);
  a.sampleRate = static_cast<uint32_t>(f.rate);
  a.channels = 1;
  return MP4Create(const_cast<char*>(path.c_str()), &v, &a, 3600);
}

bool RunRivelin(Audio audio, Run& r) {
  const std::string path = TempDir() + "/rivelin.mp4";
  std::vector<size_t> heap;
  const size_t base = HeapInUse();
  const double c0 = ProcessCpuSeconds();
  const long h = CreateWriter(path, audio);
  if (h <= 0) return false;
  r.bytes = static_cast<double>(Feed(
      audio, kTargetBytes,
      [&](bool video, const uint8_t* d, size_t n, bool key, int64_t ts) {
        return WriteMP4Data(h, video, const_cast<uint8_t*>(d), n, key, static_cast<double>(ts)) ==
               0;
      },
      &heap));
  MP4Close(h);
  r.cpu = ProcessCpuSeconds() - c0;
  r.cpuNoSync = r.cpu;
  r.peakHeap = Peak(base, heap);
  unlink(path.c_str());
  return true;
}

std::vector<uint8_t> AvcExtradata() {
  // Parameter sets of the first key frame as Annex B extradata.
  const auto& k = VideoUnits().front().data;
  for (size_t i = 0; i + 4 < k.size(); ++i) {
    if (k[i] == 0 && k[i + 1] == 0 && k[i + 2] == 1 && (k[i + 3] & 0x1F) == 5)
      return {k.begin(), k.begin() + static_cast<ptrdiff_t>(i > 0 ? i - 1 : 0)};
  }
  return {};
}

void SetExtradata(AVCodecParameters* p, const std::vector<uint8_t>& bytes) {
  p->extradata = static_cast<uint8_t*>(av_mallocz(bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE));
  std::memcpy(p->extradata, bytes.data(), bytes.size());
  p->extradata_size = static_cast<int>(bytes.size());
}

bool RunLibavformat(Audio audio, Run& r) {
  static const std::vector<uint8_t> avcC = AvcExtradata();
  const std::string path = TempDir() + "/lavf.mov";
  const AudioFormat f = Format(audio);
  std::vector<size_t> heap;
  const size_t base = HeapInUse();
  const double c0 = ProcessCpuSeconds();
  AVFormatContext* ctx = nullptr;
  avformat_alloc_output_context2(&ctx, nullptr, "mov", path.c_str());
  AVStream* vs = avformat_new_stream(ctx, nullptr);
  vs->time_base = {1, 1000};
  vs->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
  vs->codecpar->codec_id = AV_CODEC_ID_H264;
  vs->codecpar->width = 1280;
  vs->codecpar->height = 720;
  SetExtradata(vs->codecpar, avcC);
  AVStream* as = avformat_new_stream(ctx, nullptr);
  as->time_base = {1, f.rate};
  as->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
  as->codecpar->codec_id = f.lavfCodec;
  as->codecpar->sample_rate = f.rate;
  as->codecpar->ch_layout = AV_CHANNEL_LAYOUT_MONO;
  if (audio == Audio::kG711) {
    as->codecpar->bits_per_coded_sample = 8;
  } else {
    as->codecpar->frame_size = 1024;
    // AudioSpecificConfig: AAC-LC, 16 kHz (index 8), one channel.
    SetExtradata(as->codecpar, {0x14, 0x08});
  }
  if (avio_open(&ctx->pb, path.c_str(), AVIO_FLAG_WRITE) < 0 ||
      avformat_write_header(ctx, nullptr) < 0) {
    avformat_free_context(ctx);
    return false;
  }
  AVPacket* pkt = av_packet_alloc();
  int64_t audioPts = 0;
  r.bytes = static_cast<double>(Feed(
      audio, kTargetBytes,
      [&](bool video, const uint8_t* d, size_t n, bool key, int64_t ts) {
        pkt->data = const_cast<uint8_t*>(d);
        pkt->size = static_cast<int>(n);
        pkt->flags = key ? AV_PKT_FLAG_KEY : 0;
        if (video) {
          pkt->stream_index = 0;
          pkt->pts = pkt->dts = ts;
          pkt->duration = 40;
        } else {
          pkt->stream_index = 1;
          const int64_t duration =
              audio == Audio::kG711 ? static_cast<int64_t>(n) : f.samplesPerPacket;
          pkt->pts = pkt->dts = audioPts;
          pkt->duration = duration;
          audioPts += duration;
        }
        return av_write_frame(ctx, pkt) >= 0;
      },
      &heap));
  av_write_trailer(ctx);
  heap.push_back(HeapInUse());
  av_packet_free(&pkt);
  avio_closep(&ctx->pb);
  avformat_free_context(ctx);
  r.cpuNoSync = ProcessCpuSeconds() - c0;
  // The same durability as ours: the finished file reaches the disk.
  const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd >= 0) {
    fdatasync(fd);
    close(fd);
  }
  r.cpu = ProcessCpuSeconds() - c0;
  r.peakHeap = Peak(base, heap);
  unlink(path.c_str());
  return true;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void BM_WriterVsLibavformat(benchmark::State& state) {
  const Audio audio = state.range(0) == 0 ? Audio::kG711 : Audio::kAac;
  const char* name = audio == Audio::kG711 ? "writer_g711_cpu_per_gb_vs_lavf"
                                           : "writer_aac_cpu_per_gb_vs_lavf";
  VideoUnits();
  G711Minute();
  AacFrames16k();
  std::vector<double> ratios, ratiosNoSync, ours, theirs;
  size_t heapOurs = 0, heapTheirs = 0;
  {
    // One unmeasured run of each first: the first files of a process pay
    // for cold caches and allocator growth.
    Run warm;
    if (!RunRivelin(audio, warm) || !RunLibavformat(audio, warm)) {
      state.SkipWithError("a writer failed to open");
      return;
    }
  }
  for (auto _ : state) {
    for (int pair = 0; pair < kPairs; ++pair) {
      Run r, l;
      const bool oursFirst = pair % 2 == 0;
      bool ok = oursFirst ? RunRivelin(audio, r) && RunLibavformat(audio, l)
                          : RunLibavformat(audio, l) && RunRivelin(audio, r);
      if (!ok) {
        state.SkipWithError("a writer failed to open");
        return;
      }
      const double rs = r.cpu / (r.bytes / 1e9), ls = l.cpu / (l.bytes / 1e9);
      const double lns = l.cpuNoSync / (l.bytes / 1e9);
      ours.push_back(rs);
      theirs.push_back(ls);
      ratios.push_back(rs / ls);
      ratiosNoSync.push_back(rs / lns);
      heapOurs = std::max(heapOurs, r.peakHeap);
      heapTheirs = std::max(heapTheirs, l.peakHeap);
      std::printf("  pair %d (%s first): rivelin %.3f s/GB, libavformat %.3f s/GB "
                  "(%.3f before its fdatasync), ratio %.3f\n",
                  pair + 1, oursFirst ? "rivelin" : "libavformat", rs, ls, lns, rs / ls);
    }
  }
  std::printf("  min/median/max ratio %.3f / %.3f / %.3f (against unsynced libavformat %.3f / "
              "%.3f / %.3f)\n",
              *std::min_element(ratios.begin(), ratios.end()), Median(ratios),
              *std::max_element(ratios.begin(), ratios.end()),
              *std::min_element(ratiosNoSync.begin(), ratiosNoSync.end()), Median(ratiosNoSync),
              *std::max_element(ratiosNoSync.begin(), ratiosNoSync.end()));
  std::printf("ratio %s %.3f goal %.2f\n", name, Median(ratios), kGoalRatio);
  std::fflush(stdout);
  state.counters["ratio_median"] = Median(ratios);
  state.counters["rivelin_s_per_GB"] = Median(ours);
  state.counters["lavf_s_per_GB"] = Median(theirs);
  state.counters["rivelin_peak_heap_MB"] = static_cast<double>(heapOurs) / 1e6;
  state.counters["lavf_peak_heap_MB"] = static_cast<double>(heapTheirs) / 1e6;
}

// N writers at once, each its own file; the same total bytes for every N.
void BM_ConcurrentWriters(benchmark::State& state) {
  VideoUnits();
  G711Minute();
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
        const long h = CreateWriter(path, Audio::kG711);
        if (h <= 0) return;
        int64_t worst = 0;
        const auto write = [&](bool video, const uint8_t* d, size_t n, bool key, int64_t ts) {
          const auto t0 = std::chrono::steady_clock::now();
          const int rc =
              WriteMP4Data(h, video, const_cast<uint8_t*>(d), n, key, static_cast<double>(ts));
          const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                              std::chrono::steady_clock::now() - t0)
                              .count();
          worst = std::max<int64_t>(worst, us);
          return rc == 0;
        };
        bytes += Feed(Audio::kG711, perWriter, write);
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

BENCHMARK(BM_WriterVsLibavformat)
    ->ArgName("aac")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();
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
