// An MP3 file of any bytes: tags at both ends, the first frame, its VBR
// header, the walk over every frame both ways, and the decoder's frame walk
// (runs of matching headers) over the range between the tags.
#include <cstddef>
#include <cstdint>
#include <span>

#include "media/core/mpa_file.h"
#include "media/core/mpa_frame_walk.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kelvara::media;
  try {
    CMPAFile file("fuzz.mp3", std::span<const std::uint8_t>(data, size), [](const CMPAException&) {});
    int frames = 0;
    for (auto f = file.GetFrame(CMPAFile::First); f && frames < 100000; f = file.GetFrame(CMPAFile::Next, f.get()))
      ++frames;
    int back = 0;
    for (auto f = file.GetFrame(CMPAFile::Last); f && back < 100000; f = file.GetFrame(CMPAFile::Prev, f.get()))
      ++back;
    if (const CVBRHeader* vbr = file.GetVBRHeader()) {
      vbr->SeekPoint(-5.0f);
      vbr->SeekPoint(50.5f);
      vbr->SeekPoint(1e9f);
    }
  } catch (const CMPAException&) {
  }
  try {
    CMPAFileStream stream("fuzz.mp3", std::span<const std::uint8_t>(data, size));
    std::int64_t begin = 0, end = stream.GetSize();
    CTags tags(stream, begin, end, [](const CMPAException&) {});
    MpaFrameWalk walk(stream, begin, end);
    std::int64_t last = -1;
    while (const auto f = walk.Next()) {
      // Frames come in file order, whole and inside the range.
      if (f->offset <= last || f->offset < begin || f->offset + f->length > end) __builtin_trap();
      last = f->offset;
    }
  } catch (const CMPAException&) {
  }
  return 0;
}
