#pragma once
// The stream's media description (MEDIA_STREAM_INFO) from what libavformat
// learned of the stream.
#include "rivelin.h"

extern "C" {
#include <libavutil/rational.h>
}

struct AVStream;

namespace zq_rtsp {

// What the video's own parameter sets say, for what the session description
// leaves out (0 / {0, 1} when unknown).
struct VideoShape {
  int width = 0, height = 0;
  AVRational frame_rate{0, 1};
};

// video or audio may be null. audio_packet_bytes is the size of the first
// audio packet seen (0 when none), from which G.711's samples per packet follow.
MEDIA_STREAM_INFO DescribeStreams(const AVStream* video, const VideoShape& shape, const AVStream* audio,
                                  int audio_packet_bytes);

}  // namespace zq_rtsp
