// libFuzzer target: the writer on arbitrary camera frames (start-code
// splitting, parameter-set parsing, avcC/hvcC building, sample conversion).
// The first byte picks H.264 or H.265; the rest is split into frames at 0xFF
// 0xFE markers, the first of them sent as a key frame.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "emp4_muxer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int fd = memfd_create("mp4", MFD_CLOEXEC);
  if (fd < 0) return 0;
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  Emp4VideoDesc video{};
  video.codec = (data[0] & 1) ? kEmp4CodecH265 : kEmp4CodecH264;
  video.width = 32;
  video.height = 32;
  video.framerate = 5;
  Emp4AudioDesc audio{};
  audio.enabled = 1;
  audio.codec = (data[0] & 2) ? kEmp4CodecAac : kEmp4CodecUlaw;
  audio.samplesPerPacket = audio.codec == kEmp4CodecAac ? 1024 : 320;
  audio.sampleRate = 8000;
  audio.channels = 1;
  Emp4Limits limits{2, 0};
  Emp4Muxer* m = Emp4MuxerOpen(&video, path.c_str(), &audio, &limits, 0);
  if (m) {
    size_t start = 1;
    int64_t ts = 40;
    for (size_t i = 1; i <= size; ++i) {
      if (i == size || (i + 1 < size && data[i] == 0xFF && data[i + 1] == 0xFE)) {
        if (i > start) {
          const bool key = start == 1 || (data[start] & 0x80);
          if (Emp4MuxerWriteVideoNALU(m, key, data + start, i - start, ts) == 0)
            _emp4MuxerWritePendingSample(m);
          if (Emp4MuxerWriteAudio(m, data + start, i - start, ts) == 0)
            _emp4MuxerWritePendingSample(m);
          ts += 40;
        }
        start = i + 2;
        ++i;
      }
    }
    Emp4MuxerClose(m);
  }
  close(fd);
  return 0;
}
