#include "rtsp_play.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "access_units.h"
#include "media_description.h"
#include "video_frame_probe.h"

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

RtspPlay::RtspPlay(ZQ_RTSP_PLAY_HANDLE handle, PlayRequest request, PlayTimings timings, PictureBudget& budget)
    : handle_(handle), request_(std::move(request)), timings_(timings), share_(budget) {}

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
  if (self->restrict_pending_.load(std::memory_order_relaxed) && self->restrict_pending_.exchange(false) &&
      !self->RestrictToOneConnection())
    self->restrict_failed_.store(true);
  if (self->Stopping() || self->restrict_failed_.load(std::memory_order_relaxed) || self->share_.asked_to_end())
    return 1;
  return NowNs() > self->deadline_ns_.load(std::memory_order_relaxed) ? 1 : 0;
}

// libavformat asks first while it connects to the URL built from the row. A
// redirect it receives later would be followed to any host, again and again,
// with the credentials (and a Basic answer in clear): from here on the
// context may open RTP and UDP sockets only, so a redirect fails before it
// connects anywhere and the play tries the row's URL again after its pause.
bool RtspPlay::RestrictToOneConnection() {
  char* only_media = av_strdup("rtp,udp");
  if (only_media == nullptr) return false;
  av_free(opening_->protocol_whitelist);
  opening_->protocol_whitelist = only_media;
  return true;
}

long long RtspPlay::ConnectionOrigin() const {
  // An MP4 writer refuses 0, hence 40 for the first frame of a play.
  constexpr long long kFirstTimestamp = 40;
  if (last_timestamp_ms_ < 0) return kFirstTimestamp;
  const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - last_delivery_).count();
  return last_timestamp_ms_ + std::max<long long>(1, gap);
}

void RtspPlay::Run() {
  while (!Stopping()) {
    // Nothing thrown on the play's thread may end the process: a connection
    // that throws (memory running out, a callback that throws) ends as a
    // lost one, and the play connects again after its pause.
    try {
      PlayOnce();
    } catch (...) {
    }
    if (Stopping()) break;
    std::unique_lock lock(wait_mutex_);
    wait_cv_.wait_for(lock, timings_.reconnect_delay, [this] { return Stopping(); });
  }
}

void RtspPlay::PlayOnce() {
  connections_.fetch_add(1);
  share_.Restart();
  // Declared first, so it runs after the connection's buffers are freed.
  struct Released {
    PictureBudget::Share& share;
    ~Released() { share.Set(0); }
  } released{share_};
  AVFormatContext* ctx = avformat_alloc_context();
  if (ctx == nullptr) return;
  ctx->interrupt_callback.callback = &RtspPlay::InterruptCallback;
  ctx->interrupt_callback.opaque = this;
  opening_ = ctx;
  restrict_failed_.store(false);
  restrict_pending_.store(true);
  deadline_ns_.store(NowNs() + std::chrono::nanoseconds(timings_.open_timeout).count());

  AVDictionary* options = nullptr;
  av_dict_set(&options, "rtsp_transport", request_.tcp ? "tcp" : "udp", 0);
  // Packets come as the RTP depacketiser gives them: libavformat's parser
  // would assemble pictures without any bound; they are assembled here, and
  // the stream is not probed (the probe parses too), the session description
  // and the pictures' own parameter sets tell what is needed.
  av_dict_set(&options, "fflags", "noparse", 0);
  const int opened = avformat_open_input(&ctx, request_.url.c_str(), nullptr, &options);
  av_dict_free(&options);
  if (opened < 0) return;  // ctx is freed by a failed open
  struct Closer {
    AVFormatContext*& c;
    ~Closer() { avformat_close_input(&c); }
  } closer{ctx};

  int video = -1, audio = -1;
  for (unsigned i = 0; i < ctx->nb_streams; ++i) {
    const AVCodecID id = ctx->streams[i]->codecpar->codec_id;
    if (video < 0 && (id == AV_CODEC_ID_H264 || id == AV_CODEC_ID_HEVC) && !request_.audio_only)
      video = static_cast<int>(i);
    if (audio < 0 && (id == AV_CODEC_ID_PCM_MULAW || id == AV_CODEC_ID_PCM_ALAW || id == AV_CODEC_ID_AAC))
      audio = static_cast<int>(i);
  }
  if (video < 0 && audio < 0) return;

  // Timestamps count in milliseconds from each stream's first packet of the
  // connection, from one origin that keeps them rising with real time across
  // reconnections. Each stream counts from its own first packet: the streams'
  // clocks start apart, and one stream measured from another's start could
  // begin below what it delivered before the reconnection.
  bool have_origin = false;
  long long origin_ms = 0;
  std::map<int, long long> first_ms;
  auto timestamp_ms = [&](int stream, int64_t pts) -> long long {
    if (pts == AV_NOPTS_VALUE) return last_timestamp_ms_ >= 0 ? last_timestamp_ms_ : ConnectionOrigin();
    const long long ms = av_rescale_q(pts, ctx->streams[stream]->time_base, AVRational{1, 1000});
    if (!have_origin) {
      have_origin = true;
      origin_ms = ConnectionOrigin();
    }
    const long long first = first_ms.try_emplace(stream, ms).first->second;
    return std::max(1LL, ms - first + origin_ms);
  };

  auto deliver = [&](int type, const unsigned char* data, int length, int key, long long ts) {
    ZQ_RTSP_FRAME_INFO info{};
    info.key_frame = key;
    info.timestamp = ts;
    info.user = request_.user;
    request_.callback(handle_, type, data, length, &info);
    if (type != ZQ_RTSP_FRAME_MEDIA_INFO) {
      last_timestamp_ms_ = std::max(last_timestamp_ms_, ts);
      last_delivery_ = Clock::now();
    }
  };

  std::optional<VideoFrameProbe> probe;
  if (video >= 0) probe.emplace(ctx->streams[video]->codecpar);
  std::deque<HeldPacket> held;
  std::size_t held_bytes = 0;
  bool described = false;
  int first_audio_bytes = 0;
  auto describe = [&] {
    VideoShape shape;
    if (probe) shape = VideoShape{probe->width(), probe->height(), probe->frame_rate()};
    const MEDIA_STREAM_INFO info = DescribeStreams(video >= 0 ? ctx->streams[video] : nullptr, shape,
                                                   audio >= 0 ? ctx->streams[audio] : nullptr, first_audio_bytes);
    deliver(ZQ_RTSP_FRAME_MEDIA_INFO, reinterpret_cast<const unsigned char*>(&info), sizeof info, 0, 0);
    described = true;
    for (const HeldPacket& p : held) {
      if (Stopping()) break;
      deliver(p.type, p.data.data(), static_cast<int>(p.data.size()), p.key, p.ts_ms);
    }
    held.clear();
    held_bytes = 0;
  };
  // The description waits for the picture size (from the first picture read,
  // or the first key frame when the parameter sets come only in band) and the
  // first sound packet, or until enough is held.
  auto complete = [&] {
    return (!probe || probe->width() > 0) && (audio < 0 || first_audio_bytes > 0);
  };
  auto pass_on = [&](int type, const unsigned char* data, int length, int key, long long ts) {
    if (described) {
      deliver(type, data, length, key, ts);
      return;
    }
    if (type == ZQ_RTSP_FRAME_AUDIO && first_audio_bytes == 0) first_audio_bytes = length;
    held.push_back({type, std::vector<unsigned char>(data, data + length), key, ts});
    held_bytes += static_cast<std::size_t>(length);
    if (complete() || held.size() >= kMaxHeldPackets || held_bytes >= kMaxHeldBytes) describe();
  };

  AccessUnitAssembler units(kMaxFrameBytes);
  // Pictures before the connection's first key frame cannot be decoded, and a
  // first picture whose beginning was missed is no key frame.
  bool seen_key = false;
  auto take_unit = [&](const UnitBuffer& unit, int64_t pts) {
    const bool whole = seen_key || (unit.size() > 3 && unit[0] == 0 && unit[1] == 0 &&
                                    (unit[2] == 1 || (unit[2] == 0 && unit[3] == 1)));
    const bool key = probe->IsKeyFrame(unit.data(), unit.size()) && whole;
    seen_key = seen_key || key;
    if (seen_key) pass_on(ZQ_RTSP_FRAME_VIDEO, unit.data(), static_cast<int>(unit.size()), key ? 1 : 0,
                          timestamp_ms(video, pts));
    else if (!described && complete()) describe();
  };

  // Freed however the connection ends, a callback that throws included.
  struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
  };
  const std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
  AVPacket* pkt = packet.get();
  while (!Stopping() && pkt != nullptr) {
    deadline_ns_.store(NowNs() + std::chrono::nanoseconds(timings_.stall_timeout).count());
    if (av_read_frame(ctx, pkt) < 0) break;
    bool too_large = false;
    if (pkt->size > 0 && pkt->stream_index == video) {
      switch (units.Add(pkt->pts, pkt->data, static_cast<std::size_t>(pkt->size))) {
        case AccessUnitAssembler::Result::kTooLarge:
          too_large = true;
          break;
        case AccessUnitAssembler::Result::kCompleted:
          take_unit(units.completed(), units.completed_pts());
          units.ReleaseCompleted();
          break;
        case AccessUnitAssembler::Result::kAppended:
          break;
      }
    } else if (pkt->size > 0 && pkt->stream_index == audio) {
      pass_on(ZQ_RTSP_FRAME_AUDIO, pkt->data, pkt->size, 1, timestamp_ms(audio, pkt->pts));
    }
    av_packet_unref(pkt);
    const std::size_t buffered = units.pending_bytes() + held_bytes;
    if (static_cast<long long>(buffered) > peak_buffered_.load(std::memory_order_relaxed))
      peak_buffered_.store(static_cast<long long>(buffered));
    share_.Set(units.storage_bytes() + held_bytes);
    // A picture that never ends, or the plays together past their budget with
    // this one holding the most: the connection is made again.
    if (too_large || share_.asked_to_end()) break;
  }
}

}  // namespace zq_rtsp
