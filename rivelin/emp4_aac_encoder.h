#pragma once
// G.711 (u-law / A-law) to AAC-LC transcoder on FDK-AAC. Input bytes are
// expanded to 16-bit PCM; every 1024 samples per channel make one raw AAC
// access unit (no ADTS), queued until taken.
#include <cstddef>
#include <cstdint>

struct Emp4AacEncoder;

namespace rivelin {
// ITU-T G.711 expansion of one code to a 16-bit linear sample.
int16_t G711UlawToLinear(uint8_t code);
int16_t G711AlawToLinear(uint8_t code);
}  // namespace rivelin

// codec: 11 u-law, 12 A-law. NULL on failure (logged).
Emp4AacEncoder* emp4_aac_enc_create(int codec, uint32_t sampleRate, uint32_t channels);
// Expands and buffers `length` bytes; returns the length of one AAC frame
// copied to `out` (0 when none is ready, -1 on failure).
int emp4_aac_enc_feed(Emp4AacEncoder* enc, const uint8_t* data, size_t length, uint8_t* out,
                      size_t outSize);
// Encodes what is buffered (padded with silence), then returns one queued frame
// as feed does. Call repeatedly until it returns 0.
int emp4_aac_enc_flush(Emp4AacEncoder* enc, uint8_t* out, size_t outSize);
// Next queued frame without new input (0 when the queue is empty).
int emp4_aac_enc_take(Emp4AacEncoder* enc, uint8_t* out, size_t outSize);
void emp4_aac_enc_destroy(Emp4AacEncoder* enc);

// Largest frame the encoder can produce.
size_t emp4_aac_enc_max_out(const Emp4AacEncoder* enc);
// Priming samples (per channel) the encoder puts before the real audio.
uint32_t emp4_aac_enc_delay(const Emp4AacEncoder* enc);
