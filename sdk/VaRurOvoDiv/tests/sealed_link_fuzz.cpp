// Fuzz target: the sealed link's frames. The first byte picks what the rest
// is:
//   even: bytes from the wire, parsed and opened as the device opens the
//         SDK's frames (fixed keys): hostile frames must fail to open without
//         reading outside them, and an opened frame's payload is then read as
//         the device reads it (login messages, talk parameters, a PUT_BEGIN);
//   odd:  frames in clear, each sealed by one end and opened by the other,
//         which must give back exactly what was sealed, in order.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "link_seal.h"
#include "login_handshake.h"
#include "talk_wire.h"
#include "wire_frame.h"

namespace {

namespace wire = varurovodiv::wire;

std::array<unsigned char, 32> Key(unsigned char fill) {
  std::array<unsigned char, 32> k{};
  k.fill(fill);
  return k;
}

// What a device reads from an opened frame's payload.
void ReadPayload(const wire::Frame& f) {
  switch (static_cast<wire::FrameType>(f.header.type)) {
    case wire::FrameType::kHello:
      if (auto h = wire::DecodeHello(f.payload); h && wire::EncodeHello(*h) != f.payload) __builtin_trap();
      break;
    case wire::FrameType::kLoginShare:
      if (auto l = wire::DecodeLoginShare(f.payload); l && wire::EncodeLoginShare(*l) != f.payload) {
        __builtin_trap();
      }
      break;
    case wire::FrameType::kTalkStart:
      if (auto p = wire::DecodeTalkParams(f.payload); p && wire::EncodeTalkParams(*p) != f.payload) {
        __builtin_trap();
      }
      break;
    case wire::FrameType::kPutBegin: {
      uint64_t size = 0;
      if (wire::GetU64(f.payload, 0, size) != (f.payload.size() >= 8)) __builtin_trap();
      break;
    }
    default:
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool round_trip = (data[0] & 1) != 0;
  const char* bytes = reinterpret_cast<const char*>(data + 1);
  const size_t n = size - 1;
  wire::LinkSeal device(Key(0x44), Key(0x43));  // sends with 0x44, opens 0x43's frames
  wire::FrameParser parser;
  if (!parser.Feed(bytes, n)) return 0;
  if (!round_trip) {
    while (auto f = parser.Next()) {
      const uint32_t wire_length = f->header.payload_length;
      const uint64_t before = device.opened();
      if (!device.Open(*f)) {
        if (device.opened() != before) __builtin_trap();
        break;  // the link ends here
      }
      if (f->header.payload_length + wire::kSealTagSize != wire_length ||
          f->payload.size() != f->header.payload_length || device.opened() != before + 1) {
        __builtin_trap();
      }
      ReadPayload(*f);
    }
    return 0;
  }
  wire::LinkSeal client(Key(0x43), Key(0x44));
  std::string stream;
  std::string sent;
  while (auto f = parser.Next()) {
    const wire::FrameHeader& h = f->header;
    // A payload one frame cannot carry is refused, and leaves the link in step.
    const bool fits = wire::FitsOneFrame(f->payload.size());
    if (client.Append(stream, h.type, h.sequence, h.handle, h.command, h.result, f->payload) != fits) {
      __builtin_trap();
    }
    if (!fits) continue;
    sent += f->payload;
  }
  wire::FrameParser back;
  if (!back.Feed(stream.data(), stream.size())) __builtin_trap();
  std::string opened;
  while (auto f = back.Next()) {
    if (!device.Open(*f)) __builtin_trap();
    opened += f->payload;
  }
  if (opened != sent || back.buffered() != 0 || device.opened() != client.sent()) __builtin_trap();
  return 0;
}
