#pragma once
// What a whole video access unit says, read by libavcodec's H.264 / H.265
// parser on complete units (so it buffers nothing): whether it is a key
// frame, and the picture size and frame rate of the stream's parameter sets.
extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstddef>
#include <cstdint>

namespace zq_rtsp {

class VideoFrameProbe {
 public:
  // The stream's parameters give the codec and the out-of-band parameter sets.
  explicit VideoFrameProbe(const AVCodecParameters* stream);
  ~VideoFrameProbe();
  VideoFrameProbe(const VideoFrameProbe&) = delete;
  VideoFrameProbe& operator=(const VideoFrameProbe&) = delete;

  // True when the unit is a key frame (an IDR / IRAP picture or a recovery point).
  bool IsKeyFrame(const std::uint8_t* unit, std::size_t size);
  // Known once a unit with a picture has been read (0 / {0, 1} until then).
  int width() const;
  int height() const;
  AVRational frame_rate() const;

 private:
  AVCodecParserContext* parser_ = nullptr;
  AVCodecContext* codec_ = nullptr;
};

}  // namespace zq_rtsp
