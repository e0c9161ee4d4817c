// G.711 (8 kHz mono) to AAC: Rivelin's FDK-AAC transcoder against
// libavcodec's native aac encoder on the same minute of sound, single
// thread, CPU time of the thread. Five pairs, the order alternating; each
// prints "ratio rivelin_transcode_g711_aac_cpu_over_libavcodec <value> goal -"
// (no goal: the two encoders are not the same encoder, so the figure tells
// what ours costs against the usual choice). Counters: times real time and
// the bit rates of both.
#include <benchmark/benchmark.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include <cstdio>
#include <vector>

#include "bench_media.h"
#include "emp4_aac_encoder.h"
#include "kelvara_test/bench.h"

namespace rivelin::bench {
namespace {

constexpr double kSeconds = 60.0;
constexpr int kPairs = 5;

struct Run {
  double cpu = 0;  // thread CPU seconds
  size_t outBytes = 0;
};

Run TranscodeRivelin(const std::vector<uint8_t>& g711) {
  Run r;
  const double c0 = ThreadCpuSeconds();
  Emp4AacEncoder* enc = emp4_aac_enc_create(11, 8000, 1);
  std::vector<uint8_t> out(emp4_aac_enc_max_out(enc));
  for (size_t i = 0; i + 320 <= g711.size(); i += 320) {
    int n = emp4_aac_enc_feed(enc, g711.data() + i, 320, out.data(), out.size());
    while (n > 0) {
      r.outBytes += static_cast<size_t>(n);
      n = emp4_aac_enc_take(enc, out.data(), out.size());
    }
  }
  for (int n; (n = emp4_aac_enc_flush(enc, out.data(), out.size())) > 0;) r.outBytes += static_cast<size_t>(n);
  emp4_aac_enc_destroy(enc);
  r.cpu = ThreadCpuSeconds() - c0;
  return r;
}

// Zero bytes out when the encoder does not open.
Run TranscodeLibavcodec(const std::vector<uint8_t>& g711) {
  Run r;
  const double c0 = ThreadCpuSeconds();
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  ctx->sample_rate = 8000;
  ctx->ch_layout = AV_CHANNEL_LAYOUT_MONO;
  ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
  ctx->bit_rate = 32000;
  if (avcodec_open2(ctx, codec, nullptr) < 0) {
    avcodec_free_context(&ctx);
    return r;
  }
  AVFrame* frame = av_frame_alloc();
  frame->nb_samples = ctx->frame_size;
  frame->format = ctx->sample_fmt;
  av_channel_layout_copy(&frame->ch_layout, &ctx->ch_layout);
  av_frame_get_buffer(frame, 0);
  AVPacket* pkt = av_packet_alloc();
  auto drain = [&] {
    while (avcodec_receive_packet(ctx, pkt) == 0) {
      r.outBytes += static_cast<size_t>(pkt->size);
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
  r.cpu = ThreadCpuSeconds() - c0;
  return r;
}

void BM_TranscodePair(benchmark::State& state) {
  av_log_set_level(AV_LOG_ERROR);
  const auto& g711 = G711Minute();
  Run ours, reference;  // totals
  for (auto _ : state) {
    for (int pair = 0; pair < kPairs; ++pair) {
      Run o, ref;
      for (int side = 0; side < 2; ++side) {
        if ((side == 0) == (pair % 2 == 0))
          o = TranscodeRivelin(g711);
        else
          ref = TranscodeLibavcodec(g711);
      }
      if (o.outBytes == 0 || ref.outBytes == 0) {
        state.SkipWithError("an encoder gave no output");
        return;
      }
      std::printf("pair %d: rivelin %.1f ms CPU, libavcodec %.1f ms\n", pair + 1, o.cpu * 1e3, ref.cpu * 1e3);
      kelvara::bench::PrintRatio("rivelin_transcode_g711_aac_cpu_over_libavcodec", o.cpu / ref.cpu, "-");
      ours.cpu += o.cpu, ours.outBytes += o.outBytes;
      reference.cpu += ref.cpu, reference.outBytes += ref.outBytes;
    }
  }
  const double audio = kSeconds * kPairs * static_cast<double>(state.iterations());
  state.counters["rivelin_x_realtime"] = audio / ours.cpu;
  state.counters["libavcodec_x_realtime"] = audio / reference.cpu;
  state.counters["rivelin_kbit_per_s"] = static_cast<double>(ours.outBytes) * 8 / 1000 / audio;
  state.counters["libavcodec_kbit_per_s"] = static_cast<double>(reference.outBytes) * 8 / 1000 / audio;
}

BENCHMARK(BM_TranscodePair)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace rivelin::bench

int main(int argc, char** argv) { return kelvara::bench::RunBenchmarks(argc, argv); }
