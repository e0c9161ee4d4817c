// G.711 (8 kHz mono) to AAC: Rivelin's FDK-AAC transcoder against
// libavcodec's native aac encoder, single thread, in times real time.
#include <benchmark/benchmark.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <vector>

#include "bench_media.h"
#include "emp4_aac_encoder.h"

extern "C" {
#include <libavutil/log.h>
}

namespace rivelin::bench {
namespace {

constexpr double kSeconds = 60.0;

void BM_Transcode_Rivelin(benchmark::State& state) {
  const auto& g711 = G711Minute();
  double cpu = 0;
  size_t outBytes = 0;
  for (auto _ : state) {
    const double c0 = ThreadCpuSeconds();
    Emp4AacEncoder* enc = emp4_aac_enc_create(11, 8000, 1);
    std::vector<uint8_t> out(emp4_aac_enc_max_out(enc));
    for (size_t i = 0; i + 320 <= g711.size(); i += 320) {
      int n = emp4_aac_enc_feed(enc, g711.data() + i, 320, out.data(), out.size());
      while (n > 0) {
        outBytes += static_cast<size_t>(n);
        n = emp4_aac_enc_take(enc, out.data(), out.size());
      }
    }
    for (int n; (n = emp4_aac_enc_flush(enc, out.data(), out.size())) > 0;) outBytes += n;
    emp4_aac_enc_destroy(enc);
    cpu += ThreadCpuSeconds() - c0;
  }
  state.counters["x_realtime"] = kSeconds * static_cast<double>(state.iterations()) / cpu;
  state.counters["kbit_per_s"] =
      static_cast<double>(outBytes) * 8 / 1000 / (kSeconds * static_cast<double>(state.iterations()));
}

void BM_Transcode_Libavcodec(benchmark::State& state) {
  const auto& g711 = G711Minute();
  double cpu = 0;
  size_t outBytes = 0;
  for (auto _ : state) {
    const double c0 = ThreadCpuSeconds();
    av_log_set_level(AV_LOG_ERROR);
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    ctx->sample_rate = 8000;
    ctx->ch_layout = AV_CHANNEL_LAYOUT_MONO;
    ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
    ctx->bit_rate = 32000;
    if (avcodec_open2(ctx, codec, nullptr) < 0) {
      state.SkipWithError("aac encoder open failed");
      return;
    }
    AVFrame* frame = av_frame_alloc();
    frame->nb_samples = ctx->frame_size;
    frame->format = ctx->sample_fmt;
    av_channel_layout_copy(&frame->ch_layout, &ctx->ch_layout);
    av_frame_get_buffer(frame, 0);
    AVPacket* pkt = av_packet_alloc();
    auto drain = [&] {
      while (avcodec_receive_packet(ctx, pkt) == 0) {
        outBytes += static_cast<size_t>(pkt->size);
        av_packet_unref(pkt);
      }
    };
    int64_t pts = 0;
    size_t fill = 0;
    for (uint8_t code : g711) {
      av_frame_make_writable(frame);
      reinterpret_cast<float*>(frame->data[0])[fill++] = G711UlawToLinear(code) / 32768.0f;
      if (fill == static_cast<size_t>(ctx->frame_size)) {
        frame->pts = pts;
        pts += ctx->frame_size;
        fill = 0;
        avcodec_send_frame(ctx, frame);
        drain();
      }
    }
    avcodec_send_frame(ctx, nullptr);
    drain();
    av_packet_free(&pkt);
    av_frame_free(&frame);
    avcodec_free_context(&ctx);
    cpu += ThreadCpuSeconds() - c0;
  }
  state.counters["x_realtime"] = kSeconds * static_cast<double>(state.iterations()) / cpu;
  state.counters["kbit_per_s"] =
      static_cast<double>(outBytes) * 8 / 1000 / (kSeconds * static_cast<double>(state.iterations()));
}

BENCHMARK(BM_Transcode_Rivelin)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Transcode_Libavcodec)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
}  // namespace rivelin::bench

BENCHMARK_MAIN();
