#include "video_frame_probe.h"

namespace zq_rtsp {

VideoFrameProbe::VideoFrameProbe(const AVCodecParameters* stream) {
  parser_ = av_parser_init(stream->codec_id);
  codec_ = avcodec_alloc_context3(nullptr);
  if (parser_ != nullptr) parser_->flags |= PARSER_FLAG_COMPLETE_FRAMES;
  // The parser reads the out-of-band parameter sets from the context's extradata.
  if (codec_ != nullptr && avcodec_parameters_to_context(codec_, stream) < 0) avcodec_free_context(&codec_);
  // H.264 timing counts fields: two ticks make a frame, as its decoder has it.
  if (codec_ != nullptr && stream->codec_id == AV_CODEC_ID_H264) codec_->ticks_per_frame = 2;
}

VideoFrameProbe::~VideoFrameProbe() {
  if (parser_ != nullptr) av_parser_close(parser_);
  avcodec_free_context(&codec_);
}

bool VideoFrameProbe::IsKeyFrame(const std::uint8_t* unit, std::size_t size) {
  if (parser_ == nullptr || codec_ == nullptr || size == 0 || size > static_cast<std::size_t>(INT32_MAX)) return false;
  std::uint8_t* out = nullptr;
  int out_size = 0;
  av_parser_parse2(parser_, codec_, &out, &out_size, unit, static_cast<int>(size), AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
  return parser_->key_frame == 1 || (parser_->key_frame == -1 && parser_->pict_type == AV_PICTURE_TYPE_I);
}

int VideoFrameProbe::width() const { return parser_ != nullptr ? parser_->width : 0; }
int VideoFrameProbe::height() const { return parser_ != nullptr ? parser_->height : 0; }
AVRational VideoFrameProbe::frame_rate() const { return codec_ != nullptr ? codec_->framerate : AVRational{0, 1}; }

}  // namespace zq_rtsp
