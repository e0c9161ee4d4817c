#include "emp4_aac_encoder.h"

#include <fdk-aac/aacenc_lib.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <new>
#include <vector>

#include "debug_util.h"

namespace {
constexpr const char* kModule = "emp4_aac_encoder";
constexpr int kFrameSamples = 1024;
}  // namespace

struct Emp4AacEncoder {
  HANDLE_AACENCODER handle = nullptr;
  int codec = 0;
  uint32_t sampleRate = 0;
  uint32_t channels = 0;
  std::vector<int16_t> pcm;  // channels x 1024 samples
  size_t fill = 0;           // samples in pcm
  std::vector<uint8_t> encoded;
  std::deque<std::vector<uint8_t>> queue;
  size_t maxOut = 0;
  uint32_t delay = 0;
  bool drained = false;  // the encoder's look-ahead has been flushed out
};

namespace rivelin {

int16_t G711UlawToLinear(uint8_t code) {
  code = ~code;
  int t = ((code & 0x0F) << 3) + 0x84;
  t <<= (code & 0x70) >> 4;
  return static_cast<int16_t>((code & 0x80) ? (0x84 - t) : (t - 0x84));
}

int16_t G711AlawToLinear(uint8_t code) {
  code ^= 0x55;
  int t = (code & 0x0F) << 4;
  const int seg = (code & 0x70) >> 4;
  switch (seg) {
    case 0:
      t += 8;
      break;
    case 1:
      t += 0x108;
      break;
    default:
      t += 0x108;
      t <<= seg - 1;
  }
  return static_cast<int16_t>((code & 0x80) ? t : -t);
}

}  // namespace rivelin

namespace {

// Encodes the full PCM buffer (or, with endOfStream, the samples the encoder
// still holds) and queues the access unit. Returns the bytes produced or -1.
int EmitAndQueue(Emp4AacEncoder* enc, bool endOfStream = false) {
  void* inPtr = enc->pcm.data();
  INT inId = IN_AUDIO_DATA, inSize = static_cast<INT>(enc->pcm.size() * 2), inElSize = 2;
  AACENC_BufDesc inDesc{};
  inDesc.numBufs = 1;
  inDesc.bufs = &inPtr;
  inDesc.bufferIdentifiers = &inId;
  inDesc.bufSizes = &inSize;
  inDesc.bufElSizes = &inElSize;
  void* outPtr = enc->encoded.data();
  INT outId = OUT_BITSTREAM_DATA, outSize = static_cast<INT>(enc->encoded.size()), outElSize = 1;
  AACENC_BufDesc outDesc{};
  outDesc.numBufs = 1;
  outDesc.bufs = &outPtr;
  outDesc.bufferIdentifiers = &outId;
  outDesc.bufSizes = &outSize;
  outDesc.bufElSizes = &outElSize;
  AACENC_InArgs inArgs{};
  inArgs.numInSamples = endOfStream ? -1 : static_cast<INT>(enc->pcm.size());
  AACENC_OutArgs outArgs{};
  const AACENC_ERROR err = aacEncEncode(enc->handle, &inDesc, &outDesc, &inArgs, &outArgs);
  if (err == AACENC_ENCODE_EOF) return 0;
  if (err != AACENC_OK) {
    RLOG(enc, "aacEncEncode fail: 0x%x\n", err);
    return -1;
  }
  if (outArgs.numOutBytes > 0) {
    try {
      enc->queue.emplace_back(enc->encoded.begin(), enc->encoded.begin() + outArgs.numOutBytes);
    } catch (const std::bad_alloc&) {
      RLOG(enc, "queue AAC frame fail\n");
      return -1;
    }
  }
  return outArgs.numOutBytes;
}

int TakeQueued(Emp4AacEncoder* enc, uint8_t* out, size_t outSize) {
  if (enc->queue.empty()) return 0;
  auto frame = std::move(enc->queue.front());
  enc->queue.pop_front();
  const size_t n = std::min(frame.size(), outSize);
  std::memcpy(out, frame.data(), n);
  return static_cast<int>(n);
}

}  // namespace

Emp4AacEncoder* emp4_aac_enc_create(int codec, uint32_t sampleRate, uint32_t channels) {
  if (codec != 11 && codec != 12) {
    RLOG(nullptr, "emp4_aac_enc_create: codec must be G711U/G711A, got %d\n", codec);
    return nullptr;
  }
  if (sampleRate == 0 || channels == 0 || channels > 8) {
    RLOG(nullptr, "emp4_aac_enc_create: bad samplerate=%u channels=%u\n", sampleRate, channels);
    return nullptr;
  }
  auto* enc = new (std::nothrow) Emp4AacEncoder;
  if (!enc) return nullptr;
  enc->codec = codec;
  enc->sampleRate = sampleRate;
  enc->channels = channels;
  AACENC_ERROR err = aacEncOpen(&enc->handle, 0, channels);
  if (err != AACENC_OK) {
    RLOG(enc, "aacEncOpen fail: 0x%x\n", err);
    delete enc;
    return nullptr;
  }
  const std::pair<AACENC_PARAM, UINT> params[] = {
      {AACENC_AOT, 2},
      {AACENC_SAMPLERATE, sampleRate},
      {AACENC_CHANNELMODE, channels == 1 ? MODE_1 : MODE_2},
      {AACENC_CHANNELORDER, 1},
      {AACENC_BITRATE, sampleRate * channels * 4},
      {AACENC_TRANSMUX, TT_MP4_RAW},
  };
  for (const auto& [param, value] : params) {
    err = aacEncoder_SetParam(enc->handle, param, value);
    if (err != AACENC_OK) {
      RLOG(enc, "aacEncoder_SetParam fail: 0x%x\n", err);
      emp4_aac_enc_destroy(enc);
      return nullptr;
    }
  }
  err = aacEncEncode(enc->handle, nullptr, nullptr, nullptr, nullptr);
  if (err != AACENC_OK) {
    RLOG(enc, "aacEncEncode init fail: 0x%x\n", err);
    emp4_aac_enc_destroy(enc);
    return nullptr;
  }
  AACENC_InfoStruct info{};
  err = aacEncInfo(enc->handle, &info);
  if (err != AACENC_OK) {
    RLOG(enc, "aacEncInfo fail: 0x%x\n", err);
    emp4_aac_enc_destroy(enc);
    return nullptr;
  }
  enc->maxOut = info.maxOutBufBytes ? info.maxOutBufBytes : 8192;
  enc->delay = info.nDelay;
  try {
    enc->pcm.assign(static_cast<size_t>(channels) * kFrameSamples, 0);
    enc->encoded.assign(enc->maxOut, 0);
  } catch (const std::bad_alloc&) {
    RLOG(enc, "alloc transcoder buffers fail\n");
    emp4_aac_enc_destroy(enc);
    return nullptr;
  }
  return enc;
}

int emp4_aac_enc_feed(Emp4AacEncoder* enc, const uint8_t* data, size_t length, uint8_t* out,
                      size_t outSize) {
  if (!enc || (!data && length) || !out) return -1;
  const bool ulaw = enc->codec == 11;
  int result = 0;
  for (size_t i = 0; i < length; ++i) {
    enc->pcm[enc->fill++] =
        ulaw ? rivelin::G711UlawToLinear(data[i]) : rivelin::G711AlawToLinear(data[i]);
    if (enc->fill == enc->pcm.size()) {
      enc->fill = 0;
      if (EmitAndQueue(enc) < 0) result = -1;
    }
  }
  if (result < 0) return -1;
  return TakeQueued(enc, out, outSize);
}

int emp4_aac_enc_flush(Emp4AacEncoder* enc, uint8_t* out, size_t outSize) {
  if (!enc || !out) return -1;
  if (enc->fill > 0) {
    std::fill(enc->pcm.begin() + static_cast<ptrdiff_t>(enc->fill), enc->pcm.end(), 0);
    enc->fill = 0;
    if (EmitAndQueue(enc) < 0) return -1;
  }
  // The encoder keeps a look-ahead of real samples; end-of-stream calls push
  // them out (bounded: a few frames at most).
  for (int i = 0; !enc->drained && i < 16; ++i) {
    const int n = EmitAndQueue(enc, true);
    if (n <= 0) enc->drained = true;
  }
  enc->drained = true;
  return TakeQueued(enc, out, outSize);
}

int emp4_aac_enc_take(Emp4AacEncoder* enc, uint8_t* out, size_t outSize) {
  if (!enc || !out) return -1;
  return TakeQueued(enc, out, outSize);
}

void emp4_aac_enc_destroy(Emp4AacEncoder* enc) {
  if (!enc) return;
  if (enc->handle) aacEncClose(&enc->handle);
  delete enc;
}

size_t emp4_aac_enc_max_out(const Emp4AacEncoder* enc) { return enc ? enc->maxOut : 0; }
uint32_t emp4_aac_enc_delay(const Emp4AacEncoder* enc) { return enc ? enc->delay : 0; }
