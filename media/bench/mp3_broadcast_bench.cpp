// MP3 work of a broadcast against FFmpeg doing the same on the same file in
// the same run:
// - decode and convert 44.1 kHz stereo to 32 kHz mono: LAME's decoder and
//   the broadcast's converter against libavcodec's MP3 decoder and
//   swr_convert;
// - walk every frame of a one-hour file: the MP3 analysis against
//   av_read_frame;
// - a broadcast's start on a file with 4 MiB of noise before the audio: what
//   the caller's thread spends in Mp3PcmStream::Start, and the time to the
//   first PCM.
// The files are made once in a temporary folder with the ffmpeg command.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include "media/core/mp3_pcm_decoder.h"
#include "media/core/mpa_file.h"

namespace {

namespace fs = std::filesystem;
using namespace kelvara::media;

fs::path BenchDir() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("kelvara-mp3-bench-" + std::to_string(::getpid()));
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

void Run(const std::string& command) {
  if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

// 60 s of 44.1 kHz stereo music-like sound at 128 kbit/s.
const std::string& MinuteFile() {
  static const std::string path = [] {
    const std::string p = (BenchDir() / "minute.mp3").string();
    Run("ffmpeg -v error -nostdin -y -f lavfi -i 'sine=frequency=440:sample_rate=44100:duration=60' "
        "-f lavfi -i 'anoisesrc=d=60:c=pink:r=44100:a=0.2' -filter_complex amix=inputs=2 -ac 2 "
        "-c:a libmp3lame -b:a 128k -id3v2_version 0 -write_xing 0 '" + p + "'");
    return p;
  }();
  return path;
}

// One hour: the minute's frames sixty times over.
const std::string& HourFile() {
  static const std::string path = [] {
    const std::string p = (BenchDir() / "hour.mp3").string();
    std::ifstream in(MinuteFile(), std::ios::binary);
    const std::string minute((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream out(p, std::ios::binary);
    for (int i = 0; i < 60; ++i) out << minute;
    return p;
  }();
  return path;
}

// The minute after 4 MiB of noise.
const std::string& JunkFile() {
  static const std::string path = [] {
    const std::string p = (BenchDir() / "junk.mp3").string();
    std::ifstream in(MinuteFile(), std::ios::binary);
    const std::string minute((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string noise(4 << 20, '\0');
    std::uint32_t x = 2463534242u;
    for (char& c : noise) {
      x ^= x << 13, x ^= x >> 17, x ^= x << 5;
      c = static_cast<char>(x);
    }
    std::ofstream(p, std::ios::binary) << noise << minute;
    return p;
  }();
  return path;
}

void BM_StartAfterJunk(benchmark::State& state) {
  const std::string& path = JunkFile();
  for (auto _ : state) {
    Mp3PcmStream stream(path, 32000, 1);
    if (stream.Start() != Mp3DecodeStatus::Ok) state.SkipWithError("no audio found");
    state.PauseTiming();
    std::uint8_t piece[2560];
    stream.Read(piece, sizeof piece);
    state.ResumeTiming();
  }
}

void BM_FirstPcmAfterJunk(benchmark::State& state) {
  const std::string& path = JunkFile();
  for (auto _ : state) {
    Mp3PcmStream stream(path, 32000, 1);
    stream.Start();
    std::uint8_t piece[2560];
    benchmark::DoNotOptimize(stream.Read(piece, sizeof piece));
  }
}

void BM_DecodeConvert_Kelvara(benchmark::State& state) {
  const std::string& path = MinuteFile();
  std::size_t bytes = 0;
  for (auto _ : state) {
    bytes = 0;
    DecodeMp3File(path, 32000, 1, [&](const std::uint8_t*, std::size_t n) {
      bytes += n;
      return true;
    });
  }
  state.counters["pcm_bytes"] = static_cast<double>(bytes);
}

void BM_DecodeConvert_Libav(benchmark::State& state) {
  const std::string& path = MinuteFile();
  std::size_t bytes = 0;
  for (auto _ : state) {
    bytes = 0;
    AVFormatContext* fmt = nullptr;
    avformat_open_input(&fmt, path.c_str(), nullptr, nullptr);
    avformat_find_stream_info(fmt, nullptr);
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MP3);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(ctx, fmt->streams[0]->codecpar);
    avcodec_open2(ctx, codec, nullptr);
    SwrContext* swr = nullptr;
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    swr_alloc_set_opts2(&swr, &mono, AV_SAMPLE_FMT_S16, 32000, &ctx->ch_layout, ctx->sample_fmt,
                        ctx->sample_rate, 0, nullptr);
    swr_init(swr);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    std::vector<std::uint8_t> out(64 * 1024);
    while (av_read_frame(fmt, packet) >= 0) {
      avcodec_send_packet(ctx, packet);
      av_packet_unref(packet);
      while (avcodec_receive_frame(ctx, frame) == 0) {
        std::uint8_t* dst = out.data();
        const int n = swr_convert(swr, &dst, static_cast<int>(out.size() / 2),
                                  const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples);
        if (n > 0) bytes += static_cast<std::size_t>(n) * 2;
      }
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    swr_free(&swr);
    avcodec_free_context(&ctx);
    avformat_close_input(&fmt);
  }
  state.counters["pcm_bytes"] = static_cast<double>(bytes);
}

void BM_FrameWalkHour_Kelvara(benchmark::State& state) {
  const std::string& path = HourFile();
  std::size_t frames = 0;
  for (auto _ : state) {
    frames = 0;
    CMPAFile file(path);
    for (auto f = file.GetFrame(CMPAFile::First); f; f = file.GetFrame(CMPAFile::Next, f.get())) ++frames;
  }
  state.counters["frames"] = static_cast<double>(frames);
}

void BM_FrameWalkHour_Libav(benchmark::State& state) {
  const std::string& path = HourFile();
  std::size_t frames = 0;
  for (auto _ : state) {
    frames = 0;
    AVFormatContext* fmt = nullptr;
    avformat_open_input(&fmt, path.c_str(), nullptr, nullptr);
    avformat_find_stream_info(fmt, nullptr);
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(fmt, packet) >= 0) {
      ++frames;
      av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avformat_close_input(&fmt);
  }
  state.counters["frames"] = static_cast<double>(frames);
}

BENCHMARK(BM_DecodeConvert_Kelvara)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_DecodeConvert_Libav)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_FrameWalkHour_Kelvara)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_FrameWalkHour_Libav)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_StartAfterJunk)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FirstPcmAfterJunk)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  av_log_set_level(AV_LOG_ERROR);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
