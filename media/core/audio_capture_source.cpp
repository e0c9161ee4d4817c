#include "media/core/audio_capture_source.h"

#include <fstream>
#include <iterator>

namespace kelvara::media {

int FileCaptureSource::Start(int rate, int bits, int channels, Callback callback) {
  Stop();
  std::ifstream in(path_, std::ios::binary);
  if (!in || rate <= 0 || bits != 16 || channels < 1) return -1;
  pcm_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  piece_ = static_cast<std::size_t>(rate) * channels * 2 / 25;  // 40 ms
  if (pcm_.size() < piece_ || piece_ == 0) return -1;
  position_ = 0;
  callback_ = std::move(callback);
  return timer_.Start(0.04, [this]() -> std::optional<double> {
    if (position_ + piece_ > pcm_.size()) position_ = 0;
    callback_(pcm_.data() + position_, piece_);
    position_ += piece_;
    return 0.04;
  })
             ? 0
             : -1;
}

}  // namespace kelvara::media
