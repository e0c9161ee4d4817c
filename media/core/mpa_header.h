#pragma once
// One MPEG audio frame header (MPEG 1, 2 and 2.5; Layers I to III) decoded
// from its 4 bytes. Bad fields raise CMPAException HeaderCorrupt; a free-format
// bit rate raises FreeBitrate.
#include <cstdint>

namespace kelvara::media {

class CMPAHeader {
 public:
  enum Version { MPEG25 = 0, MPEGReserved = 1, MPEG2 = 2, MPEG1 = 3 };
  enum Layer { Layer1 = 0, Layer2 = 1, Layer3 = 2 };
  enum ChannelMode { Stereo = 0, JointStereo = 1, DualChannel = 2, SingleChannel = 3 };

  explicit CMPAHeader(const std::uint8_t* bytes);

  // Same version, layer, sampling rate, mono-ness and emphasis.
  bool IsCompatible(const CMPAHeader& other) const;

  // Frame length in bytes, in the MPEG audio standard's integer arithmetic.
  std::uint32_t CalcFrameSize() const;
  std::uint32_t GetSideInfoSize() const;
  bool IsMono() const { return channelMode == SingleChannel; }
  int Channels() const { return IsMono() ? 1 : 2; }
  std::uint32_t GetSamplesPerFrame() const;
  std::uint32_t GetSamplingRate() const { return samplingRate; }
  // Playing time of `frames` frames in seconds.
  double GetLengthSecs(std::uint64_t frames) const {
    return static_cast<double>(frames) * GetSamplesPerFrame() / samplingRate;
  }

  Version version;
  int lsf;
  Layer layer;
  bool crcProtected;
  std::uint32_t bitrate;  // bits/s
  std::uint32_t samplingRate;
  std::uint32_t padding;
  bool privateBit;
  ChannelMode channelMode;
  std::uint32_t modeExtension;
  std::uint32_t bound;
  bool copyright;
  bool original;
  std::uint32_t emphasis;
  int allocationTable;  // Layer II only, else -1
};

// Byte 0 is 0xFF and byte 1 carries the three remaining sync bits.
inline bool IsFrameSync(const std::uint8_t* p) { return p[0] == 0xFF && p[1] > 0xDF; }

}  // namespace kelvara::media
