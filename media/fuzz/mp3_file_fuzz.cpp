// An MP3 file of any bytes: tags at both ends, the first frame, its VBR
// header, and the walk over every frame both ways.
#include <cstddef>
#include <cstdint>
#include <span>

#include "media/core/mpa_file.h"

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
  return 0;
}
