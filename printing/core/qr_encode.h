#pragma once
// QR code encoder (model 2, versions 1 to 40, levels L/M/Q/H) for label texts.
//
// One object holds all state of one encode and allocates nothing; it is large
// (about 100 kB), so callers create it on the heap. Typical use:
//
//   auto qr = std::make_unique<CQR_Encode>();
//   if (qr->Encode(0, 0, true, -1, text.data(), int(text.size())))
//     for (int y = 0; y < qr->SymbolSize(); ++y) ... qr->IsDark(x, y) ...
//
// The input is split into numeric, alphanumeric, byte and (only for input
// declared Shift_JIS) Kanji segments; adjacent segments are merged where that
// makes the bit stream shorter; the smallest version that holds the stream is
// chosen; the mask is the one with the lowest penalty score.
#include <cstdint>

// How the encoder may interpret the input bytes. UTF-8 (and any other byte
// text) always goes to numeric, alphanumeric and byte modes: a UTF-8 Chinese
// character must never be read as a Shift_JIS Kanji pair, which a scanner
// would show as different characters.
enum class QrInputCharset {
  kBytes = 1,     // UTF-8 or arbitrary bytes: no Kanji mode
  kShiftJis = 2,  // Shift_JIS: valid double-byte Kanji pairs use Kanji mode
};

class CQR_Encode {
 public:
  static constexpr int kMaxSymbolSize = 177;        // version 40
  static constexpr int kMaxDataCodewords = 2956;    // version 40-L
  static constexpr int kMaxBits = kMaxDataCodewords * 8;
  static constexpr int kMaxAllCodewords = 3706;     // version 40
  // The longest text any symbol can hold (7089 digits at 40-L). Longer input
  // is refused before segmentation, which bounds the segment tables.
  static constexpr int kMaxInputLength = 7089;

  // Segment modes as stored in the segment table.
  enum Mode : std::uint8_t { kNumeric = 0, kAlphanumeric = 1, kByte = 2, kKanji = 3 };

  CQR_Encode() = default;

  // Encodes text[0..length) (length <= 0: up to the terminating zero byte).
  // level: 0 = L, 1 = M, 2 = Q, 3 = H. version: 0 = smallest that fits, else
  // 1..40; a larger version than the one asked for is used only with
  // autoExtent. maskNumber: 0..7, or -1 (or any other value) to choose the
  // mask by penalty score. Returns false for empty text, a bad level or
  // version, text that no allowed version holds; the symbol is then undefined.
  bool Encode(int level, int version, bool autoExtent, int maskNumber, const char* text,
              int length = 0, QrInputCharset charset = QrInputCharset::kBytes);

  // The symbol after a successful encode: modules per side (21..177), and
  // whether module (x = column, y = row) is dark.
  int SymbolSize() const { return symbolSize; }
  bool IsDark(int x, int y) const { return modules[x][y] != 0; }
  int Version() const { return version; }
  int MaskNumber() const { return maskNumber; }

  // The mode segments the data stream was built from (after merging).
  int SegmentCount() const { return segmentCount; }
  Mode SegmentMode(int i) const { return Mode(segmentModes[i]); }
  int SegmentLength(int i) const { return segmentLengths[i]; }

  // Penalty score of a symbol of side `size` stored column-first as the
  // encoder stores it; a module is dark when (value & 0x11) is non-zero.
  // Lower is better.
  static int CountPenalty(const std::uint8_t (*matrix)[kMaxSymbolSize], int size);

 private:
  int FindVersion(int askedVersion, const char* text, int length);
  int BuildDataStream(const char* text, int length, int versionGroup);
  void SplitSegments(const char* text, int length);
  void MergeSegments(int versionGroup);
  int SegmentBits(int mode, int length, int versionGroup) const;
  void AppendBits(std::uint32_t value, int bitCount);
  void CompleteDataStream(int dataCodewordCount);
  void BuildCodewords();
  void PlaceFunctionPatterns();
  void PlaceCodewords();
  void ApplyMask(int mask);
  template <int kMask>
  void ApplyMaskPattern();
  void PlaceFormatInfo(int mask);
  void MergeInto(int target, int source);

  int level = 0;
  int version = 0;
  bool autoExtent = false;
  int maskNumber = -1;
  bool shiftJis = false;
  int builtGroup = -1;  // version group the data stream was last built for
  int symbolSize = 0;
  // modules[x][y]: x = column, y = row. While building: 0x20 function module,
  // 0x10 function module dark, 0x02 data bit, 0x01 data bit after masking.
  std::uint8_t modules[kMaxSymbolSize][kMaxSymbolSize] = {};
  int dataBitCount = 0;  // -1 after an overflow
  std::uint8_t dataCodewords[kMaxDataCodewords] = {};
  int segmentCount = 0;
  std::uint8_t segmentModes[kMaxInputLength] = {};
  int segmentLengths[kMaxInputLength] = {};
  int totalCodewordCount = 0;
  std::uint8_t allCodewords[kMaxAllCodewords] = {};
  std::uint8_t rsWork[160] = {};  // largest block: 153 codewords
};
