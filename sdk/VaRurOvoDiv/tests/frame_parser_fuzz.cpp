// Fuzz target: the frame parser fed arbitrary bytes in arbitrary pieces.
#include <cstddef>
#include <cstdint>

#include "wire_frame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  varurovodiv::wire::FrameParser parser;
  size_t at = 0;
  // The first byte picks the piece size, so splits are explored too.
  const size_t piece = size > 0 ? (data[0] % 61) + 1 : 1;
  while (at < size) {
    const size_t n = size - at < piece ? size - at : piece;
    if (!parser.Feed(reinterpret_cast<const char*>(data + at), n)) break;
    while (auto f = parser.Next()) {
      if (f->payload.size() != f->header.payload_length) __builtin_trap();
    }
    at += n;
  }
  return 0;
}
