#include "printing/core/qr_encode.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <cstring>

#include "printing/core/qr_tables.h"

using namespace kelvara::qr;

namespace {

constexpr int kModeIndicator[4] = {1, 2, 4, 8};
// Format information level bits for L, M, Q, H.
constexpr int kLevelFormatBits[4] = {1, 0, 3, 2};

constexpr std::uint8_t kFunction = 0x20;
constexpr std::uint8_t kFunctionDark = 0x10;
constexpr std::uint8_t kDataBit = 0x02;
constexpr std::uint8_t kMasked = 0x01;
constexpr std::uint8_t kDarkBits = kFunctionDark | kMasked;

// Value of an alphanumeric-mode character, or -1.
int AlphanumericValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  switch (c) {
    case ' ': return 36;
    case '$': return 37;
    case '%': return 38;
    case '*': return 39;
    case '+': return 40;
    case '-': return 41;
    case '.': return 42;
    case '/': return 43;
    case ':': return 44;
    default: return -1;
  }
}

// A Shift_JIS double-byte character that Kanji mode can carry
// (0x8140..0x9FFC or 0xE040..0xEBBF).
bool IsKanjiPair(unsigned char first, unsigned char second) {
  if (second < 0x40) return false;
  if (first >= 0x81 && first <= 0x9F) return first < 0x9F || second <= 0xFC;
  if (first >= 0xE0 && first <= 0xEB) return first < 0xEB || second < 0xC0;
  return false;
}

inline bool MaskCondition(int mask, int x, int y) {
  switch (mask) {
    case 0: return (x + y) % 2 == 0;
    case 1: return y % 2 == 0;
    case 2: return x % 3 == 0;
    case 3: return (x + y) % 3 == 0;
    case 4: return (y / 2 + x / 3) % 2 == 0;
    case 5: return (x * y) % 2 + (x * y) % 3 == 0;
    case 6: return ((x * y) % 2 + (x * y) % 3) % 2 == 0;
    default: return ((x + y) % 2 + (x * y) % 3) % 2 == 0;
  }
}

// Remainder of value * x^(degree of generator) divided by the generator (BCH).
int BchRemainder(int value, int generator, int generatorDegree) {
  int r = value << generatorDegree;
  for (int bit = 30; bit >= generatorDegree; --bit) {
    if (r & (1 << bit)) r ^= generator << (bit - generatorDegree);
  }
  return r;
}

}  // namespace

bool CQR_Encode::Encode(int level_, int version_, bool autoExtent_, int maskNumber_,
                        const char* text, int length, QrInputCharset charset) {
  symbolSize = 0;
  builtGroup = -1;
  if (text == nullptr || level_ < 0 || level_ > 3 || version_ < 0 || version_ > 40) return false;
  level = level_;
  autoExtent = autoExtent_;
  maskNumber = (maskNumber_ >= 0 && maskNumber_ <= 7) ? maskNumber_ : -1;
  shiftJis = charset == QrInputCharset::kShiftJis;
  if (length <= 0) length = int(strnlen(text, kMaxInputLength + 1));
  if (length <= 0 || length > kMaxInputLength) return false;

  int found = FindVersion(version_, text, length);
  if (found == 0) return false;
  if (version_ != 0 && version_ >= found) {
    found = version_;
  } else if (version_ != 0 && !autoExtent) {
    return false;
  }
  version = found;
  symbolSize = SymbolSizeOf(version);

  // The stream from the search may have been built for another version group.
  if (builtGroup != VersionGroupOf(version) && BuildDataStream(text, length, VersionGroupOf(version)) < 0) {
    symbolSize = 0;
    return false;
  }
  const VersionInfo& info = kVersions[version];
  if ((dataBitCount + 7) / 8 > info.dataCodewords[level]) {
    symbolSize = 0;
    return false;
  }
  CompleteDataStream(info.dataCodewords[level]);
  BuildCodewords();

  std::memset(modules, 0, sizeof(modules));
  PlaceFunctionPatterns();
  PlaceCodewords();

  int mask = maskNumber;
  if (mask < 0) {
    int best = -1;
    for (int m = 0; m < 8; ++m) {
      ApplyMask(m);
      PlaceFormatInfo(m);
      int score = CountPenalty(modules, symbolSize);
      if (best < 0 || score < best) {  // a tie keeps the lower mask number
        best = score;
        mask = m;
      }
    }
  }
  maskNumber = mask;
  ApplyMask(mask);
  PlaceFormatInfo(mask);

  for (int x = 0; x < symbolSize; ++x)
    for (int y = 0; y < symbolSize; ++y) modules[x][y] = (modules[x][y] & kDarkBits) ? 1 : 0;
  return true;
}

int CQR_Encode::FindVersion(int askedVersion, const char* text, int length) {
  for (int group = VersionGroupOf(askedVersion == 0 ? 1 : askedVersion); group < 3; ++group) {
    if (BuildDataStream(text, length, group) < 0) continue;
    int needed = (dataBitCount + 7) / 8;
    for (int v = kGroupFirst[group]; v <= kGroupLast[group]; ++v) {
      if (kVersions[v].dataCodewords[level] >= needed) return v;
    }
  }
  return 0;
}

void CQR_Encode::SplitSegments(const char* text, int length) {
  segmentCount = 0;
  const auto* in = reinterpret_cast<const unsigned char*>(text);
  for (int i = 0; i < length;) {
    int mode;
    int used = 1;
    if (shiftJis && i + 1 < length && IsKanjiPair(in[i], in[i + 1])) {
      mode = kKanji;
      used = 2;
    } else if (in[i] >= '0' && in[i] <= '9') {
      mode = kNumeric;
    } else if (AlphanumericValue(in[i]) >= 0) {
      mode = kAlphanumeric;
    } else {
      mode = kByte;
    }
    if (segmentCount > 0 && segmentModes[segmentCount - 1] == mode) {
      segmentLengths[segmentCount - 1] += used;
    } else {
      segmentModes[segmentCount] = std::uint8_t(mode);
      segmentLengths[segmentCount] = used;
      ++segmentCount;
    }
    i += used;
  }
}

int CQR_Encode::SegmentBits(int mode, int length, int versionGroup) const {
  int bits = 4 + kCountBits[mode][versionGroup];
  switch (mode) {
    case kNumeric: {
      static constexpr int kRemainder[3] = {0, 4, 7};
      return bits + 10 * (length / 3) + kRemainder[length % 3];
    }
    case kAlphanumeric: return bits + 11 * (length / 2) + 6 * (length % 2);
    case kByte: return bits + 8 * length;
    default: return bits + 13 * (length / 2);
  }
}

// Appends segment `source` to segment `target` (adjacent, target first) and
// removes `source` from the table. The merged segment keeps target's mode.
void CQR_Encode::MergeInto(int target, int source) {
  assert(source == target + 1);
  segmentLengths[target] += segmentLengths[source];
  std::memmove(segmentModes + source, segmentModes + source + 1, segmentCount - source - 1);
  std::memmove(segmentLengths + source, segmentLengths + source + 1,
               sizeof(int) * (segmentCount - source - 1));
  --segmentCount;
}

void CQR_Encode::MergeSegments(int group) {
  auto bits = [&](int i) { return SegmentBits(segmentModes[i], segmentLengths[i], group); };
  auto isMode = [&](int i, int mode) { return i >= 0 && i < segmentCount && segmentModes[i] == mode; };

  // Pass A: numeric next to alphanumeric.
  // After a merge the same position is examined again.
  for (int i = 0; i >= 0 && i + 1 < segmentCount;) {
    int a = segmentModes[i];
    int b = segmentModes[i + 1];
    bool pair = (a == kNumeric && b == kAlphanumeric) || (a == kAlphanumeric && b == kNumeric);
    if (!pair) {
      ++i;
      continue;
    }
    int joined = SegmentBits(kAlphanumeric, segmentLengths[i] + segmentLengths[i + 1], group);
    if (joined >= bits(i) + bits(i + 1)) {
      ++i;
      continue;
    }
    int back = -1;
    if (isMode(i - 1, kByte)) {
      back = SegmentBits(kByte, segmentLengths[i - 1] + segmentLengths[i], group) + bits(i + 1);
      if (back > joined + bits(i - 1)) back = -1;
    }
    int forward = -1;
    if (isMode(i + 2, kByte)) {
      forward = bits(i) + SegmentBits(kByte, segmentLengths[i + 1] + segmentLengths[i + 2], group);
      if (forward > joined + bits(i + 2)) forward = -1;
    }
    if (back >= 0 && (forward < 0 || back < forward)) {
      MergeInto(i - 1, i);
    } else if (forward >= 0) {
      segmentModes[i + 1] = kByte;
      MergeInto(i + 1, i + 2);
    } else {
      if (isMode(i + 2, kAlphanumeric)) MergeInto(i + 1, i + 2);
      segmentModes[i] = kAlphanumeric;
      MergeInto(i, i + 1);
      if (isMode(i - 1, kAlphanumeric)) MergeInto(i - 1, i);
    }
  }

  // Pass B: anything whose pair costs more than one byte segment.
  const int byteHeader = 4 + kCountBits[kByte][group];
  for (int b = 0; b >= 0 && b + 1 < segmentCount;) {
    int joined = SegmentBits(kByte, segmentLengths[b] + segmentLengths[b + 1], group);
    if (isMode(b - 1, kByte)) joined -= byteHeader;
    if (isMode(b + 2, kByte)) joined -= byteHeader;
    if (joined < bits(b) + bits(b + 1)) {
      if (isMode(b - 1, kByte)) {
        MergeInto(b - 1, b);
        --b;
      }
      if (isMode(b + 2, kByte)) MergeInto(b + 1, b + 2);
      segmentModes[b] = kByte;
      MergeInto(b, b + 1);
      if (b > 0) --b;
    } else {
      ++b;
    }
  }
}

void CQR_Encode::AppendBits(std::uint32_t value, int bitCount) {
  if (dataBitCount < 0) return;
  if (dataBitCount + bitCount > kMaxBits) {
    dataBitCount = -1;
    return;
  }
  for (int i = bitCount - 1; i >= 0; --i, ++dataBitCount) {
    if ((value >> i) & 1) dataCodewords[dataBitCount >> 3] |= std::uint8_t(0x80 >> (dataBitCount & 7));
  }
}

// Builds the data bit stream with the count-indicator lengths of a version
// group. Returns the bit count, or -1 when it overflows version 40's capacity.
int CQR_Encode::BuildDataStream(const char* text, int length, int group) {
  builtGroup = group;
  SplitSegments(text, length);
  MergeSegments(group);
  std::memset(dataCodewords, 0, sizeof(dataCodewords));
  dataBitCount = 0;
  const auto* in = reinterpret_cast<const unsigned char*>(text);
  int pos = 0;
  for (int s = 0; s < segmentCount && dataBitCount >= 0; ++s) {
    const int mode = segmentModes[s];
    const int n = segmentLengths[s];
    const int countBits = kCountBits[mode][group];
    const int count = mode == kKanji ? n / 2 : n;
    // A count that does not fit its indicator can never fit the group's
    // capacity either; treat it as an overflow rather than write a wrong count.
    if (count >= (1 << countBits)) {
      dataBitCount = -1;
      break;
    }
    AppendBits(kModeIndicator[mode], 4);
    AppendBits(std::uint32_t(count), countBits);
    const unsigned char* p = in + pos;
    switch (mode) {
      case kNumeric:
        for (int i = 0; i < n; i += 3) {
          int digits = n - i < 3 ? n - i : 3;
          int value = 0;
          for (int k = 0; k < digits; ++k) value = value * 10 + (p[i + k] - '0');
          AppendBits(std::uint32_t(value), digits * 3 + 1);
        }
        break;
      case kAlphanumeric:
        for (int i = 0; i < n; i += 2) {
          if (i + 1 < n) {
            AppendBits(std::uint32_t(AlphanumericValue(p[i]) * 45 + AlphanumericValue(p[i + 1])), 11);
          } else {
            AppendBits(std::uint32_t(AlphanumericValue(p[i])), 6);
          }
        }
        break;
      case kByte:
        for (int i = 0; i < n; ++i) AppendBits(p[i], 8);
        break;
      default:
        for (int i = 0; i + 1 < n; i += 2) {
          int code = (p[i] << 8) | p[i + 1];
          code -= code <= 0x9FFC ? 0x8140 : 0xC140;
          AppendBits(std::uint32_t((code >> 8) * 0xC0 + (code & 0xFF)), 13);
        }
        break;
    }
    pos += n;
  }
  return dataBitCount;
}

void CQR_Encode::CompleteDataStream(int dataCodewordCount) {
  const int capacityBits = dataCodewordCount * 8;
  int terminator = capacityBits - dataBitCount;
  AppendBits(0, terminator < 4 ? terminator : 4);
  const int used = (dataBitCount + 7) / 8;
  for (int i = used; i < dataCodewordCount; ++i) dataCodewords[i] = ((i - used) % 2 == 0) ? 0xEC : 0x11;
}

void CQR_Encode::BuildCodewords() {
  const VersionInfo& info = kVersions[version];
  const BlockGroup* groups = info.groups[level];
  totalCodewordCount = info.totalCodewords;
  const int blockCount = groups[0].count + groups[1].count;
  const int dataTotal = info.dataCodewords[level];
  const int ecc = groups[0].total - groups[0].data;
  const Generator& gen = kGenerators[ecc];

  int dataStart = 0;  // first data codeword of the current block
  for (int b = 0; b < blockCount; ++b) {
    const BlockGroup& g = b < groups[0].count ? groups[0] : groups[1];
    // Data: codeword k of every block in turn; the longer blocks of group 2
    // add their last codeword after all the others.
    for (int k = 0; k < g.data; ++k) {
      int index = k < groups[0].data ? k * blockCount + b : groups[0].data * blockCount + (b - groups[0].count);
      allCodewords[index] = dataCodewords[dataStart + k];
    }
    // Error correction by polynomial division, in the work area.
    const int workLength = g.data + ecc;
    std::memcpy(rsWork, dataCodewords + dataStart, g.data);
    std::memset(rsWork + g.data, 0, ecc);
    for (int k = 0; k < g.data; ++k) {
      const std::uint8_t lead = rsWork[0];
      if (lead != 0) {
        const int logLead = kGalois.log[lead];
        for (int j = 0; j < ecc; ++j) rsWork[j + 1] ^= kGalois.exp[(gen.exponents[j] + logLead) % 255];
      }
      std::memmove(rsWork, rsWork + 1, workLength - 1);
      rsWork[workLength - 1] = 0;
    }
    for (int j = 0; j < ecc; ++j) allCodewords[dataTotal + j * blockCount + b] = rsWork[j];
    dataStart += g.data;
  }
}

void CQR_Encode::PlaceFunctionPatterns() {
  const int size = symbolSize;
  auto set = [&](int x, int y, bool dark) {
    modules[x][y] = dark ? (kFunction | kFunctionDark) : kFunction;
  };
  // Finders with their light separators.
  static constexpr std::uint8_t kFinderRows[7] = {0x7F, 0x41, 0x5D, 0x5D, 0x5D, 0x41, 0x7F};
  const int corners[3][2] = {{0, 0}, {size - 7, 0}, {0, size - 7}};
  for (const auto& c : corners) {
    for (int dy = -1; dy <= 7; ++dy) {
      for (int dx = -1; dx <= 7; ++dx) {
        int x = c[0] + dx;
        int y = c[1] + dy;
        if (x < 0 || y < 0 || x >= size || y >= size) continue;
        bool dark = dx >= 0 && dx < 7 && dy >= 0 && dy < 7 && ((kFinderRows[dy] >> (6 - dx)) & 1);
        set(x, y, dark);
      }
    }
  }
  // Format areas next to the finders (filled per mask later) and the dark module.
  for (int i = 0; i <= 8; ++i) {
    set(8, i, false);
    set(i, 8, false);
  }
  for (int i = 0; i < 8; ++i) {
    set(size - 1 - i, 8, false);
    set(8, size - 1 - i, false);
  }
  set(8, size - 8, true);
  // Version information.
  if (version >= 7) {
    const int bits = (version << 12) | BchRemainder(version, 0x1F25, 12);
    for (int i = 0; i < 18; ++i) {
      bool dark = (bits >> i) & 1;
      int a = size - 11 + i % 3;
      int b = i / 3;
      set(a, b, dark);
      set(b, a, dark);
    }
  }
  // Alignment patterns at every pair of coordinates, 6 included.
  static constexpr std::uint8_t kAlignRows[5] = {0x1F, 0x11, 0x15, 0x11, 0x1F};
  const VersionInfo& info = kVersions[version];
  if (info.alignCount > 0) {
    int coords[7] = {6};
    for (int i = 0; i < info.alignCount; ++i) coords[i + 1] = info.align[i];
    const int n = info.alignCount + 1;
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        const int cx = coords[i];
        const int cy = coords[j];
        if (modules[cx][cy] & kFunction) continue;  // finder corners (and (6, 6))
        for (int dy = 0; dy < 5; ++dy)
          for (int dx = 0; dx < 5; ++dx) set(cx - 2 + dx, cy - 2 + dy, (kAlignRows[dy] >> (4 - dx)) & 1);
      }
    }
  }
  // Timing patterns.
  for (int i = 8; i <= size - 9; ++i) {
    set(i, 6, i % 2 == 0);
    set(6, i, i % 2 == 0);
  }
}

void CQR_Encode::PlaceCodewords() {
  const int size = symbolSize;
  const int totalBits = totalCodewordCount * 8;
  int bit = 0;
  for (int right = size - 1; right >= 1; right -= 2) {
    if (right == 6) right = 5;  // the vertical timing column is skipped
    const bool upward = ((right + 1) & 2) == 0;
    for (int step = 0; step < size; ++step) {
      const int y = upward ? size - 1 - step : step;
      for (int j = 0; j < 2; ++j) {
        const int x = right - j;
        if (modules[x][y] & kFunction) continue;
        if (bit < totalBits && ((allCodewords[bit >> 3] >> (7 - (bit & 7))) & 1)) modules[x][y] = kDataBit;
        ++bit;
      }
    }
  }
}

void CQR_Encode::ApplyMask(int mask) {
  switch (mask) {
    case 0: return ApplyMaskPattern<0>();
    case 1: return ApplyMaskPattern<1>();
    case 2: return ApplyMaskPattern<2>();
    case 3: return ApplyMaskPattern<3>();
    case 4: return ApplyMaskPattern<4>();
    case 5: return ApplyMaskPattern<5>();
    case 6: return ApplyMaskPattern<6>();
    default: return ApplyMaskPattern<7>();
  }
}

template <int kMask>
void CQR_Encode::ApplyMaskPattern() {
  for (int x = 0; x < symbolSize; ++x) {
    std::uint8_t* column = modules[x];
    for (int y = 0; y < symbolSize; ++y) {
      const std::uint8_t m = column[y];
      if (m & kFunction) continue;
      const std::uint8_t bit = ((m >> 1) & 1) ^ (MaskCondition(kMask, x, y) ? 1 : 0);
      column[y] = std::uint8_t((m & ~kMasked) | bit);
    }
  }
}

void CQR_Encode::PlaceFormatInfo(int mask) {
  const int size = symbolSize;
  const int data = (kLevelFormatBits[level] << 3) | mask;
  const int bits = ((data << 10) | BchRemainder(data, 0x537, 10)) ^ 0x5412;
  auto set = [&](int x, int y, int i) {
    modules[x][y] = ((bits >> i) & 1) ? (kFunction | kFunctionDark) : kFunction;
  };
  // Around the upper-left finder.
  for (int i = 0; i <= 5; ++i) set(8, i, i);
  set(8, 7, 6);
  set(8, 8, 7);
  set(7, 8, 8);
  for (int i = 9; i < 15; ++i) set(14 - i, 8, i);
  // Beside the upper-right and lower-left finders.
  for (int i = 0; i < 8; ++i) set(size - 1 - i, 8, i);
  for (int i = 8; i < 15; ++i) set(8, size - 15 + i, i);
  modules[8][size - 8] = kFunction | kFunctionDark;
}

namespace {

// Set bits of a word, inline: without a popcount instruction in the target
// baseline the builtin becomes a library call per word.
inline int BitCount(std::uint64_t v) {
  v = v - ((v >> 1) & 0x5555555555555555ULL);
  v = (v & 0x3333333333333333ULL) + ((v >> 2) & 0x3333333333333333ULL);
  v = (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
  return int((v * 0x0101010101010101ULL) >> 56);
}

// One row or column of the symbol as bits in W 64-bit words: bit p is module
// p, 1 = dark. Bits past the edge are 0, i.e. light, which is what the score
// assumes. W is the fewest words that hold the side, so the small symbols of
// short label texts cost one word per line.
template <int W>
struct Line {
  std::uint64_t w[W];

  // Bit p of the result is bit p + k of this line (k in 1..63).
  Line Next(int k) const {
    Line r;
    for (int i = 0; i < W; ++i) r.w[i] = (w[i] >> k) | (i + 1 < W ? w[i + 1] << (64 - k) : 0);
    return r;
  }
  // Bit p of the result is bit p - k of this line (k in 1..63).
  Line Previous(int k) const {
    Line r;
    for (int i = 0; i < W; ++i) r.w[i] = (w[i] << k) | (i > 0 ? w[i - 1] >> (64 - k) : 0);
    return r;
  }
  Line operator&(const Line& o) const {
    Line r;
    for (int i = 0; i < W; ++i) r.w[i] = w[i] & o.w[i];
    return r;
  }
  Line operator|(const Line& o) const {
    Line r;
    for (int i = 0; i < W; ++i) r.w[i] = w[i] | o.w[i];
    return r;
  }
  Line operator^(const Line& o) const {
    Line r;
    for (int i = 0; i < W; ++i) r.w[i] = w[i] ^ o.w[i];
    return r;
  }
  Line operator~() const {
    Line r;
    for (int i = 0; i < W; ++i) r.w[i] = ~w[i];
    return r;
  }
  int Count() const {
    int n = 0;
    for (int i = 0; i < W; ++i) n += BitCount(w[i]);
    return n;
  }
};

// Bits 0..n-1 set.
template <int W>
Line<W> FirstBits(int n) {
  Line<W> l{};
  for (int i = 0; i < W; ++i) {
    const int inWord = n - 64 * i;
    l.w[i] = inWord >= 64 ? ~std::uint64_t{0} : inWord <= 0 ? 0 : ((std::uint64_t{1} << inWord) - 1);
  }
  return l;
}

// Runs of five or more equal modules and finder-like patterns in one line.
template <int W>
int LinePenalty(const Line<W>& b, const Line<W>& pairMask) {
  // same[p]: modules p and p + 1 are equal (p + 1 inside the symbol).
  const Line<W> same = ~(b ^ b.Next(1)) & pairMask;
  // five[p]: modules p..p+4 are equal; a run of length L >= 5 has L - 4 such
  // windows, one of them at its start, and adds L - 2 = windows + 2.
  const Line<W> five = same & same.Next(1) & same.Next(2) & same.Next(3);
  const Line<W> runStart = five & ~same.Previous(1);
  int score = five.Count() + 2 * runStart.Count();

  // Dark-light-dark-dark-dark-light-dark at p..p+6 with light modules at p - 1
  // and p + 7 adds 40, unless a dark module lies 2 to 4 places before it and
  // another 2 to 4 places after it.
  const Line<W> pattern = b & ~b.Next(1) & b.Next(2) & b.Next(3) & b.Next(4) & ~b.Next(5) &
                          b.Next(6) & ~b.Previous(1) & ~b.Next(7);
  const Line<W> darkBefore = b.Previous(2) | b.Previous(3) | b.Previous(4);
  const Line<W> darkAfter = b.Next(8) | b.Next(9) | b.Next(10);
  score += 40 * (pattern & ~(darkBefore & darkAfter)).Count();
  return score;
}

template <int W>
int CountPenaltyOf(const std::uint8_t (*m)[CQR_Encode::kMaxSymbolSize], int size) {
  Line<W> rows[CQR_Encode::kMaxSymbolSize];
  Line<W> columns[CQR_Encode::kMaxSymbolSize];
  for (int i = 0; i < size; ++i) {
    for (int word = 0; word < W; ++word) {
      std::uint64_t column = 0;
      std::uint64_t row = 0;
      const int end = std::min(size, 64 * word + 64);
      for (int k = 64 * word; k < end; ++k) {
        column |= std::uint64_t((m[i][k] & kDarkBits) != 0) << (k & 63);
        row |= std::uint64_t((m[k][i] & kDarkBits) != 0) << (k & 63);
      }
      columns[i].w[word] = column;
      rows[i].w[word] = row;
    }
  }
  const Line<W> pairMask = FirstBits<W>(size - 1);

  int score = 0;
  int dark = 0;
  for (int i = 0; i < size; ++i) {
    score += LinePenalty(rows[i], pairMask) + LinePenalty(columns[i], pairMask);
    dark += rows[i].Count();
  }

  // 2 x 2 squares of one colour add 3 each.
  for (int y = 0; y + 1 < size; ++y) {
    const Line<W>& r0 = rows[y];
    const Line<W>& r1 = rows[y + 1];
    const Line<W> allDark = r0 & r1 & r0.Next(1) & r1.Next(1);
    const Line<W> allLight = ~(r0 | r1 | r0.Next(1) | r1.Next(1)) & pairMask;
    score += 3 * (allDark.Count() + allLight.Count());
  }

  // Balance of dark and light.
  const int light = size * size - dark;
  score += std::abs(50 - light * 100 / (size * size)) / 5 * 10;
  return score;
}

}  // namespace

int CQR_Encode::CountPenalty(const std::uint8_t (*m)[kMaxSymbolSize], int size) {
  if (size <= 64) return CountPenaltyOf<1>(m, size);
  if (size <= 128) return CountPenaltyOf<2>(m, size);
  return CountPenaltyOf<3>(m, size);
}
