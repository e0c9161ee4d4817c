#pragma once
// The talk's parameters as they travel in a TALK_START frame: seven 32-bit
// big-endian fields, 28 bytes (docs/device-protocol.md, "Talk").
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace varurovodiv::wire {

inline constexpr size_t kTalkParamsSize = 28;
// Largest piece of audio one TALK_DATA frame carries.
inline constexpr uint32_t kMaxTalkChunk = 64u * 1024u;

struct TalkParams {
  uint32_t transport = 0;  // 0 UDP, 1 TCP, 2 multicast: what the caller asked for
  uint32_t format = 3;     // 0 G.711 u-law, 1 AAC, 2 G.711 A-law, 3 PCM
  uint32_t rate = 0;       // samples per second
  uint32_t bits = 16;
  uint32_t channels = 1;
  uint32_t channel = 0;    // the device's audio channel
  uint32_t direction = 1;  // 1: the PC speaks to the device

  bool operator==(const TalkParams&) const = default;
};

std::string EncodeTalkParams(const TalkParams& params);
// None unless the payload is exactly kTalkParamsSize bytes.
std::optional<TalkParams> DecodeTalkParams(std::string_view payload);

}  // namespace varurovodiv::wire
