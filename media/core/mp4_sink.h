#pragma once
// The four MP4 writer exports the recorder uses, behind an interface so tests
// can make the writer fail the way a full disk or a full file does.
#include <string>

#include "rivelin.h"

namespace kelvara::media {

class Mp4Sink {
 public:
  virtual ~Mp4Sink() = default;
  // MP4Create_aac when with_aac (G.711 becomes AAC), else MP4Create without
  // audio. A handle > 0, or 0 on failure.
  virtual long Create(const std::string& path, MEDIA_STREAM_INFO& info, bool with_aac, long duration_s) = 0;
  virtual int Write(long handle, int is_video, const unsigned char* data, unsigned long length, int key_frame,
                    double timestamp_ms) = 0;
  virtual int Close(long handle) = 0;
};

// Rivelin's exports.
Mp4Sink& RivelinSink();

// Rivelin's results the recorder tells apart.
inline constexpr int kMp4BadTimestamp = -1;   // this frame only
inline constexpr int kMp4FileFull = -1003;    // a limit of this file: next segment at once
inline constexpr int kMp4NotReady = -1004;    // no key frame or parameter sets yet: this frame only

}  // namespace kelvara::media
