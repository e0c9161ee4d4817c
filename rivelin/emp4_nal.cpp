#include "emp4_nal.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "emp4_box.h"

namespace rivelin {
namespace {

// Reads bits MSB first; reading past the end sets `failed` and yields zeros.
class BitReader {
 public:
  explicit BitReader(const std::vector<uint8_t>& data) : data_(data) {}
  uint32_t Bits(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) {
      if (pos_ >= data_.size() * 8) {
        failed = true;
        return 0;
      }
      v = (v << 1) | ((data_[pos_ / 8] >> (7 - pos_ % 8)) & 1);
      ++pos_;
    }
    return v;
  }
  void Skip(size_t n) {
    pos_ += n;
    if (pos_ > data_.size() * 8) failed = true;
  }
  uint32_t Ue() {
    int zeros = 0;
    while (!failed && Bits(1) == 0) {
      if (++zeros > 31) {
        failed = true;
        return 0;
      }
    }
    return ((1u << zeros) - 1) + Bits(zeros);
  }
  size_t pos() const { return pos_; }
  bool failed = false;

 private:
  const std::vector<uint8_t>& data_;
  size_t pos_ = 0;
};

void AddUnique(std::vector<std::vector<uint8_t>>& list, const NalSpan& nal, bool& added) {
  for (const auto& v : list)
    if (v.size() == nal.size && std::memcmp(v.data(), nal.data, nal.size) == 0) return;
  if (list.size() >= 16) return;  // a stream never needs more; bounds the record
  list.emplace_back(nal.data, nal.data + nal.size);
  added = true;
}

}  // namespace

namespace {

// Index of the 0x01 of the first "00 00 01" whose 0x01 lies at `from` or
// later (from >= 2), or `size` when there is none. Compressed slice data has
// two zero bytes in a row only before an emulation-prevention byte, so the
// scan finds zero pairs a vector at a time and looks at the byte after a pair
// only where there is one. `j` is the first byte of a candidate pair.
size_t FindStartCodeTail(const uint8_t* p, size_t j, size_t size) {
  for (; j + 2 < size; ++j) {
    if (p[j + 2] > 1) {
      j += 2;  // a byte > 1 at j+2 rules out pairs at j, j+1 and j+2
      continue;
    }
    if (p[j] == 0 && p[j + 1] == 0 && p[j + 2] == 1) return j + 2;
  }
  return size;
}

#if defined(__x86_64__)
// Bytes k of the result are 0xFF where p[at + k] and p[at + k + 1] are zero.
__attribute__((target("avx2"))) inline __m256i ZeroPairsAvx2(const uint8_t* p, size_t at) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + at));
  const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + at + 1));
  return _mm256_and_si256(_mm256_cmpeq_epi8(a, zero), _mm256_cmpeq_epi8(b, zero));
}

__attribute__((target("avx2"))) size_t FindStartCodeAvx2(const uint8_t* p, size_t j,
                                                          size_t size) {
  while (j + 65 <= size) {
    const __m256i z0 = ZeroPairsAvx2(p, j);
    const __m256i z1 = ZeroPairsAvx2(p, j + 32);
    if (!_mm256_testz_si256(_mm256_or_si256(z0, z1), _mm256_or_si256(z0, z1))) {
      uint64_t pairs = static_cast<uint32_t>(_mm256_movemask_epi8(z0)) |
                       (static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(z1)))
                        << 32);
      while (pairs != 0) {
        const size_t at = j + static_cast<size_t>(__builtin_ctzll(pairs));
        if (at + 2 < size && p[at + 2] == 1) return at + 2;
        pairs &= pairs - 1;
      }
    }
    j += 64;
  }
  return FindStartCodeTail(p, j, size);
}

size_t FindStartCodeSse2(const uint8_t* p, size_t j, size_t size) {
  const __m128i zero = _mm_setzero_si128();
  const auto pairsAt = [&](size_t at) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at + 1));
    return _mm_and_si128(_mm_cmpeq_epi8(a, zero), _mm_cmpeq_epi8(b, zero));
  };
  while (j + 33 <= size) {
    const __m128i z0 = pairsAt(j);
    const __m128i z1 = pairsAt(j + 16);
    if (_mm_movemask_epi8(_mm_or_si128(z0, z1)) != 0) {
      uint32_t pairs = static_cast<uint32_t>(_mm_movemask_epi8(z0)) |
                       (static_cast<uint32_t>(_mm_movemask_epi8(z1)) << 16);
      while (pairs != 0) {
        const size_t at = j + static_cast<size_t>(__builtin_ctz(pairs));
        if (at + 2 < size && p[at + 2] == 1) return at + 2;
        pairs &= pairs - 1;
      }
    }
    j += 32;
  }
  return FindStartCodeTail(p, j, size);
}

const bool kHaveAvx2 = [] {
  __builtin_cpu_init();  // runs as a static initializer
  return __builtin_cpu_supports("avx2") != 0;
}();
#endif

size_t FindStartCode(const uint8_t* p, size_t from, size_t size) {
#if defined(__x86_64__)
  return kHaveAvx2 ? FindStartCodeAvx2(p, from - 2, size) : FindStartCodeSse2(p, from - 2, size);
#else
  return FindStartCodeTail(p, from - 2, size);
#endif
}

}  // namespace

void SplitAnnexB(const uint8_t* data, size_t size, std::vector<NalSpan>& out) {
  out.clear();
  // Position just after each start code.
  size_t start = SIZE_MAX;
  size_t i = 2;
  while (i < size) {
    const size_t one = FindStartCode(data, i, size);
    if (one >= size) break;
    if (start != SIZE_MAX) {
      size_t end = one - 2;
      while (end > start && data[end - 1] == 0) --end;
      if (end > start) out.push_back({data + start, end - start});
    }
    start = one + 1;
    i = one + 3;
  }
  if (start != SIZE_MAX && start < size) {
    size_t end = size;
    while (end > start && data[end - 1] == 0) --end;
    if (end > start) out.push_back({data + start, end - start});
  }
}

std::vector<NalSpan> SplitAnnexB(const uint8_t* data, size_t size) {
  std::vector<NalSpan> out;
  SplitAnnexB(data, size, out);
  return out;
}

int NalType(VideoCodec codec, const NalSpan& nal) {
  if (nal.size == 0) return -1;
  return codec == VideoCodec::kH264 ? (nal.data[0] & 0x1F) : ((nal.data[0] >> 1) & 0x3F);
}

bool IsParameterSet(VideoCodec codec, int type) {
  return codec == VideoCodec::kH264 ? (type == 7 || type == 8) : (type >= 32 && type <= 34);
}

bool IsVcl(VideoCodec codec, int type) {
  return codec == VideoCodec::kH264 ? (type >= 1 && type <= 5) : (type >= 0 && type <= 31);
}

bool ParameterSets::Collect(VideoCodec codec, const std::vector<NalSpan>& nals) {
  bool added = false;
  for (const auto& nal : nals) {
    const int t = NalType(codec, nal);
    if (codec == VideoCodec::kH264) {
      if (t == 7 && nal.size >= 4) AddUnique(sps, nal, added);
      if (t == 8 && nal.size >= 2) AddUnique(pps, nal, added);
    } else {
      if (t == 32 && nal.size >= 3) AddUnique(vps, nal, added);
      if (t == 33 && nal.size >= 15) AddUnique(sps, nal, added);
      if (t == 34 && nal.size >= 3) AddUnique(pps, nal, added);
    }
  }
  return added;
}

bool ParameterSets::Complete(VideoCodec codec) const {
  if (codec == VideoCodec::kH264) return !sps.empty() && !pps.empty();
  return !vps.empty() && !sps.empty() && !pps.empty();
}

std::vector<uint8_t> UnescapeRbsp(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out;
  out.reserve(size);
  int zeros = 0;
  for (size_t i = 0; i < size; ++i) {
    if (zeros >= 2 && data[i] == 3) {
      zeros = 0;
      continue;
    }
    zeros = data[i] == 0 ? zeros + 1 : 0;
    out.push_back(data[i]);
  }
  return out;
}

std::optional<std::vector<uint8_t>> BuildAvcC(const ParameterSets& ps) {
  if (ps.sps.empty() || ps.pps.empty()) return std::nullopt;
  const auto& sps = ps.sps.front();
  if (sps.size() < 4 || sps.size() > 0xFFFF) return std::nullopt;
  std::vector<uint8_t> b;
  b.reserve(64 + sps.size() + 3 * ps.pps.size() + [&] {
    size_t n = 0;
    for (const auto& p : ps.pps) n += p.size();
    return n;
  }());
  Put32(b, 0);
  PutType(b, "avcC");
  Put8(b, 1);       // configurationVersion
  Put8(b, sps[1]);  // profile_idc
  Put8(b, sps[2]);  // constraint flags (profile compatibility)
  Put8(b, sps[3]);  // level_idc
  Put8(b, 0xFF);    // 4-byte NAL lengths
  Put8(b, 0xE0 | 1);
  Put16(b, static_cast<uint32_t>(sps.size()));
  PutBytes(b, sps);
  size_t ppsCount = 0;
  for (const auto& p : ps.pps)
    if (p.size() <= 0xFFFF) ++ppsCount;
  Put8(b, static_cast<uint32_t>(ppsCount));
  for (const auto& p : ps.pps) {
    if (p.size() > 0xFFFF) continue;
    Put16(b, static_cast<uint32_t>(p.size()));
    PutBytes(b, p);
  }
  // The high profiles carry chroma format and bit depths after the sets.
  const int profile = sps[1];
  if (profile == 100 || profile == 110 || profile == 122 || profile == 144) {
    const auto rbsp = UnescapeRbsp(sps.data() + 4, sps.size() - 4);
    BitReader r(rbsp);
    r.Ue();  // seq_parameter_set_id
    const uint32_t chroma = r.Ue();
    if (chroma == 3) r.Bits(1);
    const uint32_t lumaDepth = r.Ue();
    const uint32_t chromaDepth = r.Ue();
    if (!r.failed && chroma <= 3 && lumaDepth <= 7 && chromaDepth <= 7) {
      Put8(b, 0xFC | chroma);
      Put8(b, 0xF8 | lumaDepth);
      Put8(b, 0xF8 | chromaDepth);
      Put8(b, 0);  // no SPS extensions
    }
  }
  Store32(b.data(), static_cast<uint32_t>(b.size()));
  return b;
}

std::optional<std::vector<uint8_t>> BuildHvcC(const ParameterSets& ps) {
  if (!ps.Complete(VideoCodec::kH265)) return std::nullopt;
  const auto& sps = ps.sps.front();
  const auto rbsp = UnescapeRbsp(sps.data() + 2, sps.size() - 2);
  BitReader r(rbsp);
  r.Bits(4);  // sps_video_parameter_set_id
  const uint32_t maxSubLayersMinus1 = r.Bits(3);
  const uint32_t temporalIdNesting = r.Bits(1);
  // general profile_tier_level: 12 bytes, byte aligned here.
  const uint32_t profileSpaceTierIdc = r.Bits(8);
  const uint32_t compatFlags = r.Bits(32);
  const uint32_t constraintHi = r.Bits(16);
  const uint32_t constraintLo = r.Bits(32);
  const uint32_t levelIdc = r.Bits(8);
  std::vector<uint32_t> profilePresent(maxSubLayersMinus1), levelPresent(maxSubLayersMinus1);
  for (uint32_t i = 0; i < maxSubLayersMinus1; ++i) {
    profilePresent[i] = r.Bits(1);
    levelPresent[i] = r.Bits(1);
  }
  if (maxSubLayersMinus1 > 0)
    for (uint32_t i = maxSubLayersMinus1; i < 8; ++i) r.Bits(2);
  for (uint32_t i = 0; i < maxSubLayersMinus1; ++i) {
    if (profilePresent[i]) r.Skip(88);
    if (levelPresent[i]) r.Skip(8);
  }
  r.Ue();  // sps_seq_parameter_set_id
  const uint32_t chroma = r.Ue();
  if (chroma == 3) r.Bits(1);
  r.Ue();  // width
  r.Ue();  // height
  if (r.Bits(1)) {  // conformance window
    r.Ue();
    r.Ue();
    r.Ue();
    r.Ue();
  }
  const uint32_t lumaDepth = r.Ue();
  const uint32_t chromaDepth = r.Ue();
  if (r.failed || chroma > 3 || lumaDepth > 7 || chromaDepth > 7) return std::nullopt;

  std::vector<uint8_t> b;
  b.reserve(64 + ps.vps.front().size() + sps.size() + ps.pps.front().size() +
            8 * (ps.vps.size() + ps.sps.size() + ps.pps.size()));
  Put32(b, 0);
  PutType(b, "hvcC");
  Put8(b, 1);
  Put8(b, profileSpaceTierIdc);
  Put32(b, compatFlags);
  Put16(b, constraintHi);
  Put32(b, constraintLo);
  Put8(b, levelIdc);
  Put16(b, 0xF000);  // min_spatial_segmentation_idc 0
  Put8(b, 0xFC);     // parallelismType 0
  Put8(b, 0xFC | chroma);
  Put8(b, 0xF8 | lumaDepth);
  Put8(b, 0xF8 | chromaDepth);
  Put16(b, 0);  // avgFrameRate unknown
  // constantFrameRate 0, numTemporalLayers, temporalIdNested, 4-byte lengths.
  Put8(b, ((maxSubLayersMinus1 + 1) << 3) | (temporalIdNesting << 2) | 3);
  Put8(b, 3);  // arrays: VPS, SPS, PPS
  const std::pair<int, const std::vector<std::vector<uint8_t>>*> arrays[] = {
      {32, &ps.vps}, {33, &ps.sps}, {34, &ps.pps}};
  for (const auto& [type, list] : arrays) {
    Put8(b, static_cast<uint32_t>(type));  // array_completeness 0: sets may repeat in-band
    Put16(b, static_cast<uint32_t>(list->size()));
    for (const auto& nal : *list) {
      Put16(b, static_cast<uint32_t>(std::min<size_t>(nal.size(), 0xFFFF)));
      b.insert(b.end(), nal.begin(), nal.begin() + std::min<size_t>(nal.size(), 0xFFFF));
    }
  }
  Store32(b.data(), static_cast<uint32_t>(b.size()));
  return b;
}

// Converts length-prefixed NAL units to start codes when the whole sample
// parses that way; a sample already in start-code form (older H.265 files)
// is returned as stored.
void AppendSampleAsAnnexB(std::vector<uint8_t>& out, const uint8_t* p, size_t n, uint32_t lengthSize) {
  size_t pos = 0;
  bool lengthPrefixed = true;
  while (pos < n) {
    if (n - pos < lengthSize) {
      lengthPrefixed = false;
      break;
    }
    uint32_t len = 0;
    for (uint32_t i = 0; i < lengthSize; ++i) len = (len << 8) | p[pos + i];
    if (len == 0 || len > n - pos - lengthSize) {
      lengthPrefixed = false;
      break;
    }
    pos += lengthSize + len;
  }
  if (!lengthPrefixed) {
    out.insert(out.end(), p, p + n);
    return;
  }
  static const uint8_t kStart[4] = {0, 0, 0, 1};
  pos = 0;
  while (pos < n) {
    uint32_t len = 0;
    for (uint32_t i = 0; i < lengthSize; ++i) len = (len << 8) | p[pos + i];
    pos += lengthSize;
    out.insert(out.end(), kStart, kStart + 4);
    out.insert(out.end(), p + pos, p + pos + len);
    pos += len;
  }
}


}  // namespace rivelin
