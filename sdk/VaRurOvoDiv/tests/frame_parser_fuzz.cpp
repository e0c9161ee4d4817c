// Fuzz target: the frame parser fed arbitrary bytes in arbitrary pieces, and
// the login messages (and the key exchange's handling of a peer's share) and
// talk parameters read from the frames it yields.
#include <cstddef>
#include <cstdint>

#include "login_handshake.h"
#include "talk_wire.h"
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
      namespace wire = varurovodiv::wire;
      if (f->header.type == static_cast<uint16_t>(wire::FrameType::kHello)) {
        if (auto h = wire::DecodeHello(f->payload)) {
          if (wire::EncodeHello(*h) != f->payload) __builtin_trap();
        }
      } else if (f->header.type == static_cast<uint16_t>(wire::FrameType::kLoginShare)) {
        if (auto l = wire::DecodeLoginShare(f->payload)) {
          if (wire::EncodeLoginShare(*l) != f->payload) __builtin_trap();
          // Whatever share a peer sends, the exchange refuses it or yields a
          // tag; it never reads outside the message.
          wire::LoginExchange x(wire::LoginExchange::Side::kDevice, "pw", l->user, "d", l->nonce);
          if (x.TakePeerShare(l->share) == x.Tag().empty()) __builtin_trap();
        }
      } else if (f->header.type == static_cast<uint16_t>(wire::FrameType::kTalkStart)) {
        const auto p = wire::DecodeTalkParams(f->payload);
        if (p.has_value() != (f->payload.size() == wire::kTalkParamsSize)) __builtin_trap();
        if (p && wire::EncodeTalkParams(*p) != f->payload) __builtin_trap();
      }
    }
    at += n;
  }
  return 0;
}
