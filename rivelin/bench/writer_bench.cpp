// The writer against libavformat's mov muxer, in pairs in one run, for H.264
// and H.265: both write the same samples (the same access units in Annex B
// form, the same G.711 or raw AAC packets, interleaved by time) from memory to
// a file, with the same durability: the file's data is synced at most once a
// second while it is written and once more when it is closed (libavformat's
// buffer is flushed before each sync). The order alternates from pair to
// pair. The figure is process CPU time (every thread, user + system) per GB
// written; each pair prints "ratio <name> <value> goal <=0.6". Both files are
// read back and must last as long as the samples written. Also 1 to 64
// writers at once.
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

extern "C" {
#include <libavutil/mathematics.h>
}

#include "bench_media.h"
#include "rivelin.h"

namespace rivelin::bench {
namespace {

constexpr size_t kTargetBytes = 128ull << 20;  // per file
constexpr int kPairs = 5;
constexpr int64_t kFrameMs = 40;  // 25 fps
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

struct Fed {
  size_t bytes = 0;
  int64_t frames = 0;  // video frames written
};

// Feeds video units in a loop (25 fps) and the audio packets due by each
// frame's time, until `target` bytes went out. `write` returns false to stop.
template <typename Write>
Fed Feed(VideoCodec codec, Audio audio, size_t target, Write&& write,
         std::vector<size_t>* heapSamples = nullptr) {
  const auto& units = VideoUnits(codec);
  const auto& g711 = G711Minute();
  const auto& aac = AacFrames16k();
  const AudioFormat f = Format(audio);
  Fed fed;
  size_t& bytes = fed.bytes;
  size_t nextAudio = 0;
  int64_t audioTs = kFrameMs;
  for (int64_t frame = 0; bytes < target; ++frame) {
    const Unit& u = units[static_cast<size_t>(frame) % units.size()];
    const int64_t ts = kFrameMs + kFrameMs * frame;
    if (!write(true, u.data.data(), u.data.size(), u.key, ts)) break;
    fed.frames = frame + 1;
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
      if (!write(false, d, n, true, audioTs)) return fed;
      bytes += n;
    }
    if (heapSamples && frame % 32 == 0) heapSamples->push_back(HeapInUse());
  }
  return fed;
}

struct Run {
  double cpu = 0;  // seconds
  double bytes = 0;
  size_t peakHeap = 0;
  std::string error;  // a file that did not come out as written
};

// Reads the file back with libavformat: its video track must last as long as
// the frames written (one frame's time either way for rounding).
std::string CheckDuration(const std::string& path, int64_t frames) {
  AVFormatContext* in = nullptr;
  if (avformat_open_input(&in, path.c_str(), nullptr, nullptr) < 0) return path + ": cannot be read back";
  std::string error;
  const AVStream* video = nullptr;
  for (unsigned i = 0; i < in->nb_streams; ++i)
    if (in->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) video = in->streams[i];
  const int64_t expected = frames * kFrameMs;
  const int64_t got = video != nullptr && video->duration > 0
                          ? av_rescale_q(video->duration, video->time_base, AVRational{1, 1000})
                          : -1;
  if (got < expected - kFrameMs || got > expected + kFrameMs)
    error = path + ": video lasts " + std::to_string(got) + " ms, " + std::to_string(expected) + " ms written";
  avformat_close_input(&in);
  return error;
}

size_t Peak(size_t base, const std::vector<size_t>& heap) {
  const size_t peak = heap.empty() ? base : *std::max_element(heap.begin(), heap.end());
  return peak > base ? peak - base : 0;
}

// A writer for 720p video at 25 fps with the given mono audio.
long CreateWriter(const std::string& path, VideoCodec codec, Audio audio) {
  const AudioFormat f = Format(audio);
  MP4_VIDEO_PARAM v{};
  std::strcpy(v.codec, codec == VideoCodec::kH264 ? "H264" : "H265");
  v.width = 1280;
  v.height = 720;
  v.framerate = 25;
  MP4_AUDIO_PARAM a{};
  std::strcpy(a.codec, f.rivelinName);
  a.sampleRate = static_cast<uint32_t>(f.rate);
  a.channels = 1;
  return MP4Create(const_cast<char*>(path.c_str()), &v, &a, 3600);
}

// With `sampleHeap` the heap in use is sampled every 32 frames (outside the
// timed pairs: the sampling walks the allocator's lists).
bool RunRivelin(VideoCodec codec, Audio audio, Run& r, bool sampleHeap = false) {
  const std::string path = TempDir() + "/rivelin.mp4";
  std::vector<size_t> heap;
  const size_t base = HeapInUse();
  const double c0 = ProcessCpuSeconds();
  const long h = CreateWriter(path, codec, audio);
  if (h <= 0) return false;
  const Fed fed = Feed(
      codec, audio, kTargetBytes,
      [&](bool video, const uint8_t* d, size_t n, bool key, int64_t ts) {
        return WriteMP4Data(h, video, const_cast<uint8_t*>(d), n, key, static_cast<double>(ts)) ==
               0;
      },
      sampleHeap ? &heap : nullptr);
  MP4Close(h);
  r.cpu = ProcessCpuSeconds() - c0;
  r.bytes = static_cast<double>(fed.bytes);
  r.peakHeap = Peak(base, heap);
  r.error = CheckDuration(path, fed.frames);
  unlink(path.c_str());
  return true;
}

// The parameter sets of the first key frame (SPS and PPS; for H.265 VPS,
// SPS and PPS) as Annex B extradata.
std::vector<uint8_t> ParameterSets(VideoCodec codec) {
  const auto& k = VideoUnits(codec).front().data;
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 4 < k.size(); ++i) {
    if (k[i] != 0 || k[i + 1] != 0 || k[i + 2] != 1) continue;
    size_t end = i + 3;
    while (end + 3 < k.size() && !(k[end] == 0 && k[end + 1] == 0 && k[end + 2] <= 1)) ++end;
    if (end + 3 >= k.size()) end = k.size();
    const int type = codec == VideoCodec::kH264 ? k[i + 3] & 0x1F : (k[i + 3] >> 1) & 0x3F;
    const bool parameterSet = codec == VideoCodec::kH264 ? type == 7 || type == 8 : type >= 32 && type <= 34;
    if (parameterSet) {
      const uint8_t sc[4] = {0, 0, 0, 1};
      out.insert(out.end(), sc, sc + 4);
      out.insert(out.end(), k.begin() + static_cast<ptrdiff_t>(i + 3), k.begin() + static_cast<ptrdiff_t>(end));
    }
    i = end - 1;
  }
  return out;
}

void SetExtradata(AVCodecParameters* p, const std::vector<uint8_t>& bytes) {
  p->extradata = static_cast<uint8_t*>(av_mallocz(bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE));
  std::memcpy(p->extradata, bytes.data(), bytes.size());
  p->extradata_size = static_cast<int>(bytes.size());
}

bool RunLibavformat(VideoCodec codec, Audio audio, Run& r, bool sampleHeap = false) {
  static const std::vector<uint8_t> h264Sets = ParameterSets(VideoCodec::kH264);
  static const std::vector<uint8_t> h265Sets = ParameterSets(VideoCodec::kH265);
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
  vs->codecpar->codec_id = codec == VideoCodec::kH264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_HEVC;
  vs->codecpar->width = 1280;
  vs->codecpar->height = 720;
  SetExtradata(vs->codecpar, codec == VideoCodec::kH264 ? h264Sets : h265Sets);
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
  // The muxer sets each stream's time base in its header (the video's is no
  // longer milliseconds): timestamps are rescaled to what it chose.
  const AVRational videoBase = vs->time_base, audioBase = as->time_base;
  // The file's data is synced as ours is: at most once a second while
  // written, and at the end. Any descriptor of the file syncs its data.
  const int syncFd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  std::chrono::steady_clock::time_point lastSync{};
  AVPacket* pkt = av_packet_alloc();
  int64_t audioSamples = 0;
  const Fed fed = Feed(
      codec, audio, kTargetBytes,
      [&](bool video, const uint8_t* d, size_t n, bool key, int64_t ts) {
        pkt->data = const_cast<uint8_t*>(d);
        pkt->size = static_cast<int>(n);
        pkt->flags = key ? AV_PKT_FLAG_KEY : 0;
        if (video) {
          pkt->stream_index = 0;
          pkt->pts = pkt->dts = av_rescale_q(ts, AVRational{1, 1000}, videoBase);
          pkt->duration = av_rescale_q(kFrameMs, AVRational{1, 1000}, videoBase);
        } else {
          pkt->stream_index = 1;
          const int64_t samples = audio == Audio::kG711 ? static_cast<int64_t>(n) : f.samplesPerPacket;
          pkt->pts = pkt->dts = av_rescale_q(audioSamples, AVRational{1, f.rate}, audioBase);
          pkt->duration = av_rescale_q(samples, AVRational{1, f.rate}, audioBase);
          audioSamples += samples;
        }
        if (av_write_frame(ctx, pkt) < 0) return false;
        const auto now = std::chrono::steady_clock::now();
        if (now - lastSync >= std::chrono::seconds(1)) {
          avio_flush(ctx->pb);
          fdatasync(syncFd);
          lastSync = now;
        }
        return true;
      },
      sampleHeap ? &heap : nullptr);
  av_write_trailer(ctx);
  if (sampleHeap) heap.push_back(HeapInUse());
  av_packet_free(&pkt);
  avio_closep(&ctx->pb);
  avformat_free_context(ctx);
  if (syncFd >= 0) {
    fdatasync(syncFd);
    close(syncFd);
  }
  r.cpu = ProcessCpuSeconds() - c0;
  r.bytes = static_cast<double>(fed.bytes);
  r.peakHeap = Peak(base, heap);
  r.error = CheckDuration(path, fed.frames);
  unlink(path.c_str());
  return true;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void BM_WriterVsLibavformat(benchmark::State& state) {
  const VideoCodec codec = state.range(0) == 264 ? VideoCodec::kH264 : VideoCodec::kH265;
  const Audio audio = state.range(1) == 0 ? Audio::kG711 : Audio::kAac;
  const std::string name = std::string("writer_") + (codec == VideoCodec::kH264 ? "h264" : "h265") +
                           (audio == Audio::kG711 ? "_g711" : "_aac") + "_cpu_per_gb_vs_lavf";
  VideoUnits(codec);
  G711Minute();
  AacFrames16k();
  std::vector<double> ratios, ours, theirs;
  // One unmeasured run of each first: the first files of a process pay for
  // cold caches and allocator growth. They give the peak heap figures.
  Run warmOurs, warmTheirs;
  if (!RunRivelin(codec, audio, warmOurs, true) || !RunLibavformat(codec, audio, warmTheirs, true)) {
    state.SkipWithError("a writer failed to open");
    return;
  }
  for (auto _ : state) {
    for (int pair = 0; pair < kPairs; ++pair) {
      Run r, l;
      const bool oursFirst = pair % 2 == 0;
      bool ok = oursFirst ? RunRivelin(codec, audio, r) && RunLibavformat(codec, audio, l)
                          : RunLibavformat(codec, audio, l) && RunRivelin(codec, audio, r);
      if (!ok) {
        state.SkipWithError("a writer failed to open");
        return;
      }
      for (const std::string& error : {r.error, l.error}) {
        if (error.empty()) continue;
        std::printf("  %s\n", error.c_str());
        state.SkipWithError(error.c_str());
        return;
      }
      const double rs = r.cpu / (r.bytes / 1e9), ls = l.cpu / (l.bytes / 1e9);
      ours.push_back(rs);
      theirs.push_back(ls);
      ratios.push_back(rs / ls);
      std::printf("  pair %d (%s first): rivelin %.3f s/GB, libavformat %.3f s/GB\n", pair + 1,
                  oursFirst ? "rivelin" : "libavformat", rs, ls);
      std::printf("ratio %s %.3f goal <=%.1f\n", name.c_str(), rs / ls, kGoalRatio);
    }
  }
  std::printf("  min/median/max ratio %.3f / %.3f / %.3f\n", *std::min_element(ratios.begin(), ratios.end()),
              Median(ratios), *std::max_element(ratios.begin(), ratios.end()));
  std::fflush(stdout);
  state.counters["ratio_median"] = Median(ratios);
  state.counters["rivelin_s_per_GB"] = Median(ours);
  state.counters["lavf_s_per_GB"] = Median(theirs);
  state.counters["rivelin_peak_heap_MB"] = static_cast<double>(warmOurs.peakHeap) / 1e6;
  state.counters["lavf_peak_heap_MB"] = static_cast<double>(warmTheirs.peakHeap) / 1e6;
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
        const long h = CreateWriter(path, VideoCodec::kH264, Audio::kG711);
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
        bytes += Feed(VideoCodec::kH264, Audio::kG711, perWriter, write).bytes;
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
    ->ArgNames({"codec", "aac"})
    ->ArgsProduct({{264, 265}, {0, 1}})
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
