#include "media/core/mpa_header.h"

#include "media/core/mpa_exception.h"

namespace kelvara::media {

namespace {

// [version] with 1 unused.
const std::uint32_t kSamplingRates[4][3] = {
    {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

// kbit/s [lsf][layer][index 0..15]; 0 free format, index 15 invalid.
const std::uint32_t kBitrates[2][3][15] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};

const std::uint32_t kSamplesPerFrame[2][3] = {{384, 1152, 1152}, {384, 1152, 576}};
const std::uint32_t kCoefficients[2][3] = {{12, 144, 144}, {12, 144, 72}};
const std::uint32_t kSlotSizes[3] = {4, 1, 1};
// [lsf][mono]
const std::uint32_t kSideInfoSizes[2][2] = {{32, 17}, {17, 9}};

}  // namespace

CMPAHeader::CMPAHeader(const std::uint8_t* b) {
  const auto corrupt = [] { return CMPAException(CMPAException::HeaderCorrupt); };
  version = static_cast<Version>((b[1] >> 3) & 0x03);
  if (version == MPEGReserved) throw corrupt();
  lsf = version == MPEG1 ? 0 : 1;
  const int layerBits = (b[1] >> 1) & 0x03;
  if (3 - layerBits == 3) throw corrupt();
  layer = static_cast<Layer>(3 - layerBits);
  crcProtected = (b[1] & 0x01) == 0;

  const int bitrateIndex = (b[2] >> 4) & 0x0F;
  if (bitrateIndex == 15) throw corrupt();
  bitrate = kBitrates[lsf][layer][bitrateIndex] * 1000;
  if (bitrate == 0) throw CMPAException(CMPAException::FreeBitrate);
  const int rateIndex = (b[2] >> 2) & 0x03;
  if (rateIndex == 3) throw corrupt();
  samplingRate = kSamplingRates[version][rateIndex];
  padding = (b[2] >> 1) & 0x01;
  privateBit = (b[2] & 0x01) != 0;

  channelMode = static_cast<ChannelMode>((b[3] >> 6) & 0x03);
  modeExtension = (b[3] >> 4) & 0x03;
  bound = channelMode == JointStereo ? modeExtension * 4 + 4 : 32;
  copyright = (b[3] & 0x08) != 0;
  original = (b[3] & 0x04) != 0;
  emphasis = b[3] & 0x03;
  if (emphasis == 2) throw corrupt();

  allocationTable = -1;
  if (layer == Layer2) {
    if (lsf) {
      allocationTable = 4;
    } else {
      const std::uint32_t kbps = bitrate / 1000;
      // Allowed bit-rate and mode combinations of MPEG-1 Layer II.
      if (IsMono()) {
        if (kbps == 224 || kbps == 256 || kbps == 320 || kbps == 384) throw corrupt();
      } else if (kbps == 32 || kbps == 48 || kbps == 56 || kbps == 80) {
        throw corrupt();
      }
      const std::uint32_t perChannel = kbps / static_cast<std::uint32_t>(Channels());
      if (perChannel == 32 || perChannel == 48)
        allocationTable = samplingRate == 32000 ? 3 : 2;
      else if (perChannel == 56 || perChannel == 64 || perChannel == 80)
        allocationTable = 0;
      else if (perChannel >= 96 && perChannel <= 192)
        allocationTable = samplingRate == 48000 ? 0 : 1;
      else
        allocationTable = 1;
    }
  }
}

bool CMPAHeader::IsCompatible(const CMPAHeader& o) const {
  return version == o.version && layer == o.layer && samplingRate == o.samplingRate && IsMono() == o.IsMono() &&
         emphasis == o.emphasis;
}

std::uint32_t CMPAHeader::CalcFrameSize() const {
  return (kCoefficients[lsf][layer] * bitrate / samplingRate + padding) * kSlotSizes[layer];
}

std::uint32_t CMPAHeader::GetSideInfoSize() const { return kSideInfoSizes[lsf][IsMono() ? 1 : 0]; }

std::uint32_t CMPAHeader::GetSamplesPerFrame() const { return kSamplesPerFrame[lsf][layer]; }

}  // namespace kelvara::media
