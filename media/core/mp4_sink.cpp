#include "mp4_sink.h"

#include <vector>

namespace kelvara::media {

namespace {
class Rivelin final : public Mp4Sink {
 public:
  long Create(const std::string& path, MEDIA_STREAM_INFO& info, bool with_aac, long duration_s) override {
    std::vector<char> p(path.begin(), path.end());
    p.push_back('\0');
    return with_aac ? MP4Create_aac(p.data(), &info.video, &info.audio, duration_s)
                    : MP4Create(p.data(), &info.video, nullptr, duration_s);
  }
  int Write(long handle, int is_video, const unsigned char* data, unsigned long length, int key_frame,
            double timestamp_ms) override {
    return WriteMP4Data(handle, is_video, const_cast<unsigned char*>(data), length, key_frame, timestamp_ms);
  }
  int Close(long handle) override { return MP4Close(handle); }
};
}  // namespace

Mp4Sink& RivelinSink() {
  static Rivelin sink;
  return sink;
}

}  // namespace kelvara::media
