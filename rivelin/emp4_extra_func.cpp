#include "emp4_extra_func.h"

#include <cmath>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <new>

#include "debug_util.h"
#include "rivelin_boundary.h"

namespace {

constexpr const char* kModule = "emp4_extra_func";

// One open file. The registry lock is held only to find the slot; the slot's
// own lock serialises calls on one handle, so writers of different files
// never wait for each other's disk I/O.
struct WriterSlot {
  std::mutex lock;
  Emp4Muxer* muxer = nullptr;  // NULL once closed
};

class WriterRegistry {
 public:
  long Add(Emp4Muxer* muxer) {
    auto slot = std::make_shared<WriterSlot>();
    slot->muxer = muxer;
    std::lock_guard g(lock_);
    // Ids grow and wrap within the positive 31-bit range, skipping ids in use,
    // so a stale handle does not reach a newer file for a very long time.
    do {
      next_ = next_ >= 0x7FFFFFFF ? 1 : next_ + 1;
    } while (slots_.count(next_));
    slots_[next_] = slot;
    return next_;
  }
  std::shared_ptr<WriterSlot> Find(long id) {
    std::lock_guard g(lock_);
    auto it = slots_.find(id);
    return it == slots_.end() ? nullptr : it->second;
  }
  std::shared_ptr<WriterSlot> Remove(long id) {
    std::lock_guard g(lock_);
    auto it = slots_.find(id);
    if (it == slots_.end()) return nullptr;
    auto slot = it->second;
    slots_.erase(it);
    return slot;
  }

 private:
  std::mutex lock_;
  std::map<long, std::shared_ptr<WriterSlot>> slots_;
  long next_ = 0;
};

WriterRegistry& Registry() {
  static WriterRegistry registry;
  return registry;
}

bool NameIs(const char* name, const char* what) { return std::strcmp(name, what) == 0; }

long Create(char* path, MP4_VIDEO_PARAM* video, MP4_AUDIO_PARAM* audio, long durationSec,
            int convertToAac) {
  if (!path || !video) {
    RLOG(nullptr, "MP4Create: bad argument\n");
    return 0;
  }
  Emp4VideoDesc v;
  Emp4AudioDesc a;
  ConvertMp4Param(video, audio, &v, &a);
  Emp4Limits limits{};
  limits.durationSec = (durationSec > 0 && durationSec <= 3600) ? static_cast<uint32_t>(durationSec)
                                                                : 0;
  limits.creationTime = static_cast<uint32_t>(static_cast<uint64_t>(time(nullptr)) + 2082844800ull);
  Emp4Muxer* m = Emp4MuxerOpen(&v, path, &a, &limits, convertToAac);
  if (!m) return 0;
  try {
    return Registry().Add(m);
  } catch (...) {
    // No handle for it: the file goes (it has no key frame yet) and nothing is left open.
    RLOG(m, "MP4Create: out of memory for the handle\n");
    Emp4MuxerClose(m);
    return 0;
  }
}

}  // namespace

void ConvertMp4Param(const MP4_VIDEO_PARAM* video, const MP4_AUDIO_PARAM* audio,
                     Emp4VideoDesc* outVideo, Emp4AudioDesc* outAudio) {
  std::memset(outVideo, 0, sizeof *outVideo);
  std::memset(outAudio, 0, sizeof *outAudio);
  if (video) {
    char name[257];
    std::memcpy(name, video->codec, 256);
    name[256] = '\0';
    if (std::strncmp(name, "H264", 4) == 0 || std::strncmp(name, "H.264", 5) == 0)
      outVideo->codec = kEmp4CodecH264;
    else if (std::strncmp(name, "H265", 4) == 0 || std::strncmp(name, "H.265", 5) == 0)
      outVideo->codec = kEmp4CodecH265;
    outVideo->width = video->width;
    outVideo->height = video->height;
    outVideo->framerate = video->framerate;
  }
  if (audio) {
    char name[257];
    std::memcpy(name, audio->codec, 256);
    name[256] = '\0';
    if (NameIs(name, "AAC") || NameIs(name, "MPEG4-AAC") || NameIs(name, "MP4A") ||
        NameIs(name, "MPEG4-GENERIC") || std::strncmp(name, "AACG4-GENERIC", 13) == 0) {
      outAudio->codec = kEmp4CodecAac;
      outAudio->samplesPerPacket = 1024;
    } else if (NameIs(name, "G711A") || NameIs(name, "PCMA") || NameIs(name, "G.711A")) {
      outAudio->codec = kEmp4CodecAlaw;
      outAudio->samplesPerPacket = 320;
    } else if (NameIs(name, "G711U") || NameIs(name, "PCMU") || NameIs(name, "G.711U")) {
      outAudio->codec = kEmp4CodecUlaw;
      outAudio->samplesPerPacket = 320;
    } else {
      // Storing an unknown codec under a G.711 label would make noise of it.
      RLOG(nullptr, "Audio codec \"%s\" not supported, recording video only.\n", name);
      return;
    }
    outAudio->sampleRate = audio->sampleRate;
    outAudio->channels = audio->channels;
    outAudio->enabled = 1;
  }
}

extern "C" {

long MP4Create(char* path, MP4_VIDEO_PARAM* video, MP4_AUDIO_PARAM* audio, long durationSec) {
  return RivelinCall(__func__, 0L, [&] { return Create(path, video, audio, durationSec, 0); });
}

long MP4Create_aac(char* path, MP4_VIDEO_PARAM* video, MP4_AUDIO_PARAM* audio, long durationSec) {
  return RivelinCall(__func__, 0L, [&] { return Create(path, video, audio, durationSec, 1); });
}

int WriteMP4Data(long handle, int isVideo, unsigned char* data, unsigned long length,
                 int keyFrame, double timestampMs) {
  return RivelinCall(__func__, int{kEmp4NoMemory}, [&]() -> int {
    if (timestampMs == 0.0 || !data || !std::isfinite(timestampMs) || timestampMs < 0 ||
        timestampMs >= 9.0e15) {
      return -1;
    }
    auto slot = Registry().Find(handle);
    if (!slot) {
      RLOG(nullptr, "WriteMP4Data: unknown handle %ld\n", handle);
      return kEmp4BadArgument;
    }
    std::lock_guard g(slot->lock);
    if (!slot->muxer) return kEmp4BadArgument;
    const auto ts = static_cast<int64_t>(timestampMs);
    const int rc = isVideo ? Emp4MuxerWriteVideoNALU(slot->muxer, keyFrame, data, length, ts)
                           : Emp4MuxerWriteAudio(slot->muxer, data, length, ts);
    if (rc != 0) return rc;
    return _emp4MuxerWritePendingSample(slot->muxer);
  });
}

int MP4Close(long handle) {
  return RivelinCall(__func__, 0, [&] {
    auto slot = Registry().Remove(handle);
    if (!slot) return 0;
    std::lock_guard g(slot->lock);
    Emp4MuxerClose(slot->muxer);
    slot->muxer = nullptr;
    return 0;
  });
}

}  // extern "C"
