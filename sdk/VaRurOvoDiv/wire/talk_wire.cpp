#include "talk_wire.h"

namespace varurovodiv::wire {
namespace {

void PutU32(std::string& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((v >> shift) & 0xFF));
}

uint32_t GetU32(std::string_view in, size_t at) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(in[at + i]);
  return v;
}

}  // namespace

std::string EncodeTalkParams(const TalkParams& p) {
  std::string out;
  out.reserve(kTalkParamsSize);
  for (uint32_t v : {p.transport, p.format, p.rate, p.bits, p.channels, p.channel, p.direction}) PutU32(out, v);
  return out;
}

std::optional<TalkParams> DecodeTalkParams(std::string_view in) {
  if (in.size() != kTalkParamsSize) return std::nullopt;
  TalkParams p;
  p.transport = GetU32(in, 0);
  p.format = GetU32(in, 4);
  p.rate = GetU32(in, 8);
  p.bits = GetU32(in, 12);
  p.channels = GetU32(in, 16);
  p.channel = GetU32(in, 20);
  p.direction = GetU32(in, 24);
  return p;
}

}  // namespace varurovodiv::wire
