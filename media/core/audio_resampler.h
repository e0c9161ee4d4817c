#pragma once
// The broadcast's own rate and channel converter for 16-bit PCM: channels
// mixed or split, an integer averaging stage for large reductions, then
// linear interpolation in 16.16 fixed point. State carries over between
// calls, so a stream converts in pieces of any size.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace kelvara::media {

struct AudioResampleChannel {
  std::int32_t increment = 0;  // 16.16 input steps per output sample
  std::int32_t fraction = 0;   // 16.16
  std::int32_t integerRatio = 1;
  std::int16_t lastSample = 0;
  std::int32_t countdown = 0;
  std::int32_t sum = 0;
  std::int32_t reciprocal = 0;  // 16.16 of 1 / integerRatio
};

struct AudioResampleContext {
  float ratio = 1.0f;  // output rate / input rate
  int inputChannels = 0;
  int outputChannels = 0;
  int filterChannels = 0;
  AudioResampleChannel channels[2];
  // Work areas reused between calls.
  std::vector<std::int16_t> in[2], out[2];
};

using AudioResampleContextPtr = std::unique_ptr<AudioResampleContext>;

// None for more than 2 input channels.
AudioResampleContextPtr AudioResampleInit(int outputChannels, int inputChannels, int outputRate, int inputRate);
// Converts `inputBytes` of interleaved input; returns the output bytes
// written to `output`, which must hold the converted samples (at most
// inputSamples x outputRate / inputRate + 2 per channel).
std::size_t AudioResample(AudioResampleContext& context, std::int16_t* output, const std::int16_t* input,
                          std::size_t inputBytes);
// The output capacity in samples (all channels) that a call with this many
// input bytes may need.
std::size_t AudioResampleCapacity(const AudioResampleContext& context, std::size_t inputBytes);

}  // namespace kelvara::media
