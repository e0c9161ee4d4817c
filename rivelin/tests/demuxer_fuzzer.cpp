// libFuzzer target: the MP4 reader on arbitrary bytes (open, read every
// frame, seek, read again).
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "emp4_demuxer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int fd = memfd_create("mp4", MFD_CLOEXEC);
  if (fd < 0) return 0;
  size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  Emp4VideoDesc video;
  Emp4AudioDesc audio;
  Emp4FileInfo info;
  int error = 0;
  if (Emp4Demuxer* d = Emp4DemuxerOpen(path.c_str(), &video, &audio, &info, &error)) {
    for (int pass = 0; pass < 2; ++pass) {
      for (int i = 0; i < 100000; ++i) {
        uint8_t* frame = nullptr;
        int isAudio = 0, key = 0;
        uint64_t ts = 0;
        const int n = Emp4DemuxerReadFrame(d, &frame, &isAudio, &key, &ts);
        if (n <= 0) break;
        // Touch the first and last byte: the frame must be fully readable.
        volatile uint8_t sink = frame[0] ^ frame[n - 1];
        (void)sink;
      }
      Emp4DemuxerSeek(d, Emp4DemuxerDurationMs(d) / 2);
    }
    Emp4DemuxerClose(d);
  }
  close(fd);
  return 0;
}
