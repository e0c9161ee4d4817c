#pragma once
// The stream's media description (MEDIA_STREAM_INFO) from what libavformat
// learned of the stream.
#include "rivelin.h"

struct AVStream;

namespace zq_rtsp {

// video or audio may be null. audio_packet_bytes is the size of the first
// audio packet seen (0 when none), from which G.711's samples per packet follow.
MEDIA_STREAM_INFO DescribeStreams(const AVStream* video, const AVStream* audio, int audio_packet_bytes);

}  // namespace zq_rtsp
