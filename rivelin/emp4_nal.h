#pragma once
// H.264 / H.265 NAL unit helpers: splitting Annex B access units, finding the
// parameter sets, and building the avcC / hvcC decoder configuration records.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace rivelin {

enum class VideoCodec { kH264 = 1, kH265 = 2 };

struct NalSpan {
  const uint8_t* data;
  size_t size;
};

// The NAL units of an Annex B buffer (3- and 4-byte start codes; trailing
// zero bytes before the next start code are not part of a unit). Bytes before
// the first start code are ignored.
std::vector<NalSpan> SplitAnnexB(const uint8_t* data, size_t size);
// The same into `out` (cleared first), reusing its storage.
void SplitAnnexB(const uint8_t* data, size_t size, std::vector<NalSpan>& out);

int NalType(VideoCodec codec, const NalSpan& nal);
bool IsParameterSet(VideoCodec codec, int type);
bool IsVcl(VideoCodec codec, int type);

// Parameter sets of a stream, in the order first seen; duplicates are kept once.
struct ParameterSets {
  std::vector<std::vector<uint8_t>> vps, sps, pps;
  // Records every VPS/SPS/PPS of the given units. Returns true if any was new.
  bool Collect(VideoCodec codec, const std::vector<NalSpan>& nals);
  bool Complete(VideoCodec codec) const;
};

// The whole avcC / hvcC box (header included), or nothing when a required
// parameter set is missing or unreadable.
std::optional<std::vector<uint8_t>> BuildAvcC(const ParameterSets& ps);
std::optional<std::vector<uint8_t>> BuildHvcC(const ParameterSets& ps);

// Removes emulation-prevention bytes (00 00 03 -> 00 00).
std::vector<uint8_t> UnescapeRbsp(const uint8_t* data, size_t size);

// Appends a stored video sample in start-code form. Length-prefixed NAL units
// (lengthSize bytes each) are converted when the whole sample parses that
// way; otherwise the sample is already in start-code form (older files) and
// is copied as stored.
void AppendSampleAsAnnexB(std::vector<uint8_t>& out, const uint8_t* sample, size_t size,
                          uint32_t lengthSize);

}  // namespace rivelin
