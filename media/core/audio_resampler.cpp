#include "media/core/audio_resampler.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kelvara::media {

namespace {

std::int16_t Saturate(std::int64_t v) {
  return static_cast<std::int16_t>(std::clamp<std::int64_t>(v, INT16_MIN, INT16_MAX));
}

// One channel: the integer averaging stage, then interpolation. Returns the
// samples written to `out`.
std::size_t MonoStep(AudioResampleChannel& ch, std::vector<std::int16_t>& in, std::int16_t* out) {
  std::size_t n = in.size();
  if (ch.integerRatio > 1) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < n; ++i) {
      ch.sum += in[i];
      if (--ch.countdown == 0) {
        in[kept++] = Saturate((static_cast<std::int64_t>(ch.sum) * ch.reciprocal) >> 16);
        ch.sum = 0;
        ch.countdown = ch.integerRatio;
      }
    }
    n = kept;
  }
  if (ch.increment == 65536) {
    std::copy_n(in.data(), n, out);
    return n;
  }
  if (n == 0) return 0;
  std::size_t emitted = 0, next = 0;
  std::int64_t p = ch.lastSample;
  std::int64_t c = in[next++];
  for (;;) {
    out[emitted++] = Saturate((p * (65536 - ch.fraction) + c * ch.fraction) >> 16);
    ch.fraction += ch.increment;
    while (ch.fraction > 65535) {
      ch.fraction -= 65536;
      if (next >= n) {
        ch.lastSample = static_cast<std::int16_t>(c);
        return emitted;
      }
      p = c;
      c = in[next++];
    }
  }
}

}  // namespace

AudioResampleContextPtr AudioResampleInit(int outputChannels, int inputChannels, int outputRate, int inputRate) {
  if (inputChannels > 2) {
    std::fprintf(stderr, "Resampling with input channels greater than 2 unsupported.\n");
    return nullptr;
  }
  if (inputChannels < 1 || outputChannels < 1 || outputChannels > 2 || outputRate <= 0 || inputRate <= 0)
    return nullptr;
  auto ctx = std::make_unique<AudioResampleContext>();
  ctx->ratio = static_cast<float>(outputRate) / static_cast<float>(inputRate);
  ctx->inputChannels = inputChannels;
  ctx->outputChannels = outputChannels;
  ctx->filterChannels = std::min({inputChannels, outputChannels, 2});
  for (int i = 0; i < ctx->filterChannels; ++i) {
    AudioResampleChannel& ch = ctx->channels[i];
    const float a = 1.0f / ctx->ratio;
    ch.integerRatio = std::max(1, static_cast<int>(std::floor(a)));
    ch.increment = static_cast<std::int32_t>((a / static_cast<float>(ch.integerRatio)) * 65536.0f);
    ch.fraction = 65536;
    ch.lastSample = 0;
    ch.countdown = ch.integerRatio;
    ch.sum = 0;
    ch.reciprocal = 65536 / ch.integerRatio;
  }
  return ctx;
}

std::size_t AudioResampleCapacity(const AudioResampleContext& ctx, std::size_t inputBytes) {
  const std::size_t n = inputBytes / (static_cast<std::size_t>(ctx.inputChannels) * 2);
  const AudioResampleChannel& ch = ctx.channels[0];
  const std::size_t reduced = n / static_cast<std::size_t>(ch.integerRatio) + 1;
  const std::size_t perChannel = ch.increment > 0 ? reduced * 65536 / static_cast<std::size_t>(ch.increment) + 3 : n;
  return (perChannel + 1) * static_cast<std::size_t>(ctx.outputChannels);
}

std::size_t AudioResample(AudioResampleContext& ctx, std::int16_t* output, const std::int16_t* input,
                          std::size_t inputBytes) {
  const std::size_t n = inputBytes / (static_cast<std::size_t>(ctx.inputChannels) * 2);
  const std::size_t room = AudioResampleCapacity(ctx, inputBytes) / ctx.outputChannels;
  for (int i = 0; i < ctx.filterChannels; ++i) {
    ctx.in[i].resize(n);
    ctx.out[i].resize(room);
  }
  if (ctx.inputChannels == 2 && ctx.outputChannels == 1) {
    for (std::size_t s = 0; s < n; ++s) ctx.in[0][s] = static_cast<std::int16_t>((input[2 * s] + input[2 * s + 1]) >> 1);
  } else if (ctx.inputChannels == 1) {
    std::copy_n(input, n, ctx.in[0].data());
  } else {
    for (std::size_t s = 0; s < n; ++s) {
      ctx.in[0][s] = input[2 * s];
      ctx.in[1][s] = input[2 * s + 1];
    }
  }
  std::size_t m = 0;
  for (int i = 0; i < ctx.filterChannels; ++i) m = MonoStep(ctx.channels[i], ctx.in[i], ctx.out[i].data());
  if (ctx.outputChannels == 2 && ctx.filterChannels == 1) {
    for (std::size_t s = 0; s < m; ++s) output[2 * s] = output[2 * s + 1] = ctx.out[0][s];
  } else if (ctx.outputChannels == 2) {
    for (std::size_t s = 0; s < m; ++s) {
      output[2 * s] = ctx.out[0][s];
      output[2 * s + 1] = ctx.out[1][s];
    }
  } else {
    std::copy_n(ctx.out[0].data(), m, output);
  }
  return m * static_cast<std::size_t>(ctx.outputChannels) * 2;
}

}  // namespace kelvara::media
