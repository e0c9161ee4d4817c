#include "media_description.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cstring>

namespace zq_rtsp {

namespace {
void CopyText(char* dst, size_t size, const char* text) {
  std::memset(dst, 0, size);
  std::strncpy(dst, text, size - 1);
}

unsigned FrameRate(const AVStream* s, AVRational from_stream) {
  for (AVRational r : {s->avg_frame_rate, s->r_frame_rate, from_stream}) {
    if (r.num > 0 && r.den > 0) {
      const double fps = av_q2d(r);
      if (fps >= 1.0 && fps <= 120.0) return static_cast<unsigned>(fps + 0.5);
    }
  }
  return 25;
}
}  // namespace

MEDIA_STREAM_INFO DescribeStreams(const AVStream* video, const VideoShape& shape, const AVStream* audio,
                                  int audio_packet_bytes) {
  MEDIA_STREAM_INFO info;
  std::memset(&info, 0, sizeof info);
  CopyText(info.name, sizeof info.name, "RTSP");
  if (video != nullptr) {
    const AVCodecParameters* p = video->codecpar;
    info.hasVideo = 1;
    CopyText(info.video.codec, sizeof info.video.codec, p->codec_id == AV_CODEC_ID_HEVC ? "H265" : "H264");
    info.video.width = static_cast<uint32_t>(std::max(0, p->width > 0 ? p->width : shape.width));
    info.video.height = static_cast<uint32_t>(std::max(0, p->height > 0 ? p->height : shape.height));
    info.video.framerate = FrameRate(video, shape.frame_rate);
    // Parameter sets in start-code form; they begin with a zero byte, so they
    // are copied as bytes. Longer sets than the field holds are left out (the
    // stream repeats them in band).
    if (p->extradata != nullptr && p->extradata_size > 0 &&
        static_cast<size_t>(p->extradata_size) <= sizeof info.video.extra) {
      std::memcpy(info.video.extra, p->extradata, static_cast<size_t>(p->extradata_size));
      info.video.extraLength = static_cast<uint32_t>(p->extradata_size);
    }
  }
  if (audio != nullptr) {
    const AVCodecParameters* p = audio->codecpar;
    const char* name = p->codec_id == AV_CODEC_ID_PCM_MULAW  ? "PCMU"
                       : p->codec_id == AV_CODEC_ID_PCM_ALAW ? "PCMA"
                       : p->codec_id == AV_CODEC_ID_AAC      ? "MPEG4-GENERIC"
                                                             : nullptr;
    if (name != nullptr) {
      info.hasAudio = 1;
      CopyText(info.audio.codec, sizeof info.audio.codec, name);
      info.audio.sampleRate = static_cast<uint32_t>(std::max(0, p->sample_rate));
      const int channels = std::max(1, p->ch_layout.nb_channels);
      info.audio.channels = static_cast<uint32_t>(channels);
      if (p->codec_id == AV_CODEC_ID_AAC)
        info.audio.samplesPerPacket = 1024;
      else  // G.711: one byte per sample and channel
        info.audio.samplesPerPacket = static_cast<uint32_t>(audio_packet_bytes > 0 ? audio_packet_bytes / channels : 320);
    }
  }
  return info;
}

}  // namespace zq_rtsp
