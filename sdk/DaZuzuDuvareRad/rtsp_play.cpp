#include "rtsp_play.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

#include <deque>
#include <vector>

#include "media_description.h"

namespace zq_rtsp {

namespace {
using Clock = std::chrono::steady_clock;

long long NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// Frames read while the description is still being completed.
struct HeldPacket {
  int type;
  std::vector<unsigned char> data;
  int key;
  long long ts_ms;
};

// How many packets may be held back before the description is sent anyway.
constexpr size_t kMaxHeldPackets = 100;
}  // namespace

RtspPlay::RtspPlay(ZQ_RTSP_PLAY_HANDLE handle, PlayRequest request, PlayTimings timings)
    : handle_(handle), request_(std::move(request)), timings_(timings) {}

RtspPlay::~RtspPlay() {
  if (thread_.joinable()) thread_.detach();  // only a self-stopped play gets here with a thread
}

void RtspPlay::Start() {
  auto self = shared_from_this();
  thread_ = std::thread([self] { self->Run(); });
}

void RtspPlay::Stop() {
  stop_.store(true);
  {
    std::lock_guard lock(wait_mutex_);
  }
  wait_cv_.notify_all();
  if (!thread_.joinable()) return;
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();  // the thread holds itself alive and ends after this callback
    return;
  }
  thread_.join();
}

int RtspPlay::InterruptCallback(void* opaque) {
  auto* self = static_cast<RtspPlay*>(opaque);
  if (self->Stopping()) return 1;
  return NowNs() > self->deadline_ns_.load(std::memory_order_relaxed) ? 1 : 0;
}

void RtspPlay::Run() {
  while (!Stopping()) {
    PlayOnce();
    if (Stopping()) break;
    std::unique_lock lock(wait_mutex_);
    wait_cv_.wait_for(lock, timings_.reconnect_delay, [this] { return Stopping(); });
  }
}

void RtspPlay::PlayOnce() {
  connections_.fetch_add(1);
  AVFormatContext* ctx = avformat_alloc_context();
  if (ctx == nullptr) return;
  ctx->interrupt_callback.callback = &RtspPlay::InterruptCallback;
  ctx->interrupt_callback.opaque = this;
  deadline_ns_.store(NowNs() + std::chrono::nanoseconds(timings_.open_timeout).count());

  AVDictionary* options = nullptr;
  av_dict_set(&options, "rtsp_transport", request_.tcp ? "tcp" : "udp", 0);
  av_dict_set(&options, "analyzeduration", "1000000", 0);
  av_dict_set(&options, "probesize", "2000000", 0);
  av_dict_set(&options, "fflags", "nobuffer", 0);
  const int opened = avformat_open_input(&ctx, request_.url.c_str(), nullptr, &options);
  av_dict_free(&options);
  if (opened < 0) return;  // ctx is freed by a failed open
  struct Closer {
    AVFormatContext*& c;
    ~Closer() { avformat_close_input(&c); }
  } closer{ctx};

  if (avformat_find_stream_info(ctx, nullptr) < 0) return;
  int video = -1, audio = -1;
  for (unsigned i = 0; i < ctx->nb_streams; ++i) {
    const AVCodecID id = ctx->streams[i]->codecpar->codec_id;
    if (video < 0 && (id == AV_CODEC_ID_H264 || id == AV_CODEC_ID_HEVC) && !request_.audio_only)
      video = static_cast<int>(i);
    if (audio < 0 && (id == AV_CODEC_ID_PCM_MULAW || id == AV_CODEC_ID_PCM_ALAW || id == AV_CODEC_ID_AAC))
      audio = static_cast<int>(i);
  }
  if (video < 0 && audio < 0) return;

  // Timestamps count in milliseconds from the first packet of the connection,
  // offset so that no frame carries 0 (which MP4 writers refuse).
  constexpr long long kTimestampOrigin = 40;
  bool have_origin = false;
  long long origin_ms = 0;
  auto timestamp_ms = [&](const AVPacket* pkt) -> long long {
    const int64_t pts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
    if (pts == AV_NOPTS_VALUE) return kTimestampOrigin;
    const long long ms = av_rescale_q(pts, ctx->streams[pkt->stream_index]->time_base, AVRational{1, 1000});
    if (!have_origin) {
      have_origin = true;
      origin_ms = ms;
    }
    return std::max(1LL, ms - origin_ms + kTimestampOrigin);
  };

  auto deliver = [&](int type, const unsigned char* data, int length, int key, long long ts) {
    ZQ_RTSP_FRAME_INFO info{};
    info.key_frame = key;
    info.timestamp = ts;
    info.user = request_.user;
    request_.callback(handle_, type, data, length, &info);
  };

  std::deque<HeldPacket> held;
  bool described = false;
  // Pictures before the first key frame of a connection cannot be decoded.
  bool seen_key = false;
  int first_audio_bytes = 0;
  auto describe = [&] {
    const MEDIA_STREAM_INFO info = DescribeStreams(video >= 0 ? ctx->streams[video] : nullptr,
                                                   audio >= 0 ? ctx->streams[audio] : nullptr, first_audio_bytes);
    deliver(ZQ_RTSP_FRAME_MEDIA_INFO, reinterpret_cast<const unsigned char*>(&info), sizeof info, 0, 0);
    described = true;
    for (const HeldPacket& p : held) {
      if (Stopping()) break;
      deliver(p.type, p.data.data(), static_cast<int>(p.data.size()), p.key, p.ts_ms);
    }
    held.clear();
  };
  // Without audio nothing is missing from the description.
  if (audio < 0) describe();

  AVPacket* pkt = av_packet_alloc();
  while (!Stopping() && pkt != nullptr) {
    deadline_ns_.store(NowNs() + std::chrono::nanoseconds(timings_.stall_timeout).count());
    if (av_read_frame(ctx, pkt) < 0) break;
    const int type = pkt->stream_index == video ? ZQ_RTSP_FRAME_VIDEO
                     : pkt->stream_index == audio ? ZQ_RTSP_FRAME_AUDIO
                                                  : -1;
    const int key = (pkt->flags & AV_PKT_FLAG_KEY) ? 1 : 0;
    if (type == ZQ_RTSP_FRAME_VIDEO) seen_key = seen_key || key;
    if (type >= 0 && pkt->size > 0 && (type != ZQ_RTSP_FRAME_VIDEO || seen_key)) {
      const long long ts = timestamp_ms(pkt);
      if (!described) {
        if (type == ZQ_RTSP_FRAME_AUDIO && first_audio_bytes == 0) first_audio_bytes = pkt->size;
        held.push_back({type, std::vector<unsigned char>(pkt->data, pkt->data + pkt->size), key, ts});
        if (first_audio_bytes > 0 || held.size() >= kMaxHeldPackets) describe();
      } else {
        deliver(type, pkt->data, pkt->size, key, ts);
      }
    }
    av_packet_unref(pkt);
  }
  av_packet_free(&pkt);
}

}  // namespace zq_rtsp
