// The data layer against libqrencode: for the segments, version and level our
// encoder chose, and the mask libqrencode chose, both symbols must be equal
// module for module. This checks Reed-Solomon, interleaving, function
// patterns, placement, masking and format/version information against a
// second implementation.
#include <gtest/gtest.h>
#include <qrencode.h>

#include <memory>
#include <string>

#include "printing/core/qr_encode.h"
#include "printing/core/qr_tables.h"
#include "qr_test_support.h"

namespace {

using kelvara::test::TestBytes;

// The mask pattern of a libqrencode symbol, read from its first copy of the
// format information.
int MaskOf(const QRcode* code) {
  const int w = code->width;
  auto dark = [&](int x, int y) { return (code->data[y * w + x] & 1) != 0; };
  int bits = 0;
  // Bit i at (8, i) for i 0..5, (8, 7), (8, 8), (7, 8), (14 - i, 8) for 9..14.
  for (int i = 0; i <= 5; ++i) bits |= dark(8, i) << i;
  bits |= dark(8, 7) << 6;
  bits |= dark(8, 8) << 7;
  bits |= dark(7, 8) << 8;
  for (int i = 9; i < 15; ++i) bits |= dark(14 - i, 8) << i;
  return ((bits ^ 0x5412) >> 10) & 7;
}

QRencodeMode LibMode(CQR_Encode::Mode m) {
  switch (m) {
    case CQR_Encode::kNumeric: return QR_MODE_NUM;
    case CQR_Encode::kAlphanumeric: return QR_MODE_AN;
    case CQR_Encode::kByte: return QR_MODE_8;
    default: return QR_MODE_KANJI;
  }
}

void ExpectSameAsLibqrencode(const std::string& text, int level,
                             QrInputCharset charset = QrInputCharset::kBytes) {
  auto qr = std::make_unique<CQR_Encode>();
  ASSERT_TRUE(qr->Encode(level, 0, true, -1, text.data(), int(text.size()), charset));
  const int version = qr->Version();

  QRinput* input = QRinput_new2(version, QRecLevel(level));
  ASSERT_NE(input, nullptr);
  int pos = 0;
  for (int i = 0; i < qr->SegmentCount(); ++i) {
    const int n = qr->SegmentLength(i);
    ASSERT_EQ(QRinput_append(input, LibMode(qr->SegmentMode(i)), n,
                             reinterpret_cast<const unsigned char*>(text.data()) + pos),
              0);
    pos += n;
  }
  QRcode* code = QRcode_encodeInput(input);
  QRinput_free(input);
  ASSERT_NE(code, nullptr);
  ASSERT_EQ(code->version, version) << "libqrencode needs another version for " << text.size() << " bytes";
  const int mask = MaskOf(code);

  ASSERT_TRUE(qr->Encode(level, version, false, mask, text.data(), int(text.size()), charset));
  ASSERT_EQ(qr->SymbolSize(), code->width);
  int differences = 0;
  for (int y = 0; y < code->width; ++y)
    for (int x = 0; x < code->width; ++x)
      differences += qr->IsDark(x, y) != ((code->data[y * code->width + x] & 1) != 0);
  QRcode_free(code);
  EXPECT_EQ(differences, 0) << "version " << version << " level " << level << " mask " << mask;
}

TEST(QrReference, EveryVersionAndLevel) {
  for (int level = 0; level < 4; ++level) {
    for (int v = 1; v <= 40; ++v) {
      const int countBits = v <= 9 ? 8 : 16;
      const int bytes = (kelvara::qr::kVersions[v].dataCodewords[level] * 8 - 4 - countBits) / 8;
      ExpectSameAsLibqrencode(TestBytes(std::size_t(bytes), unsigned(v * 4 + level)), level);
    }
  }
}

TEST(QrReference, MixedSegments) {
  const char* texts[] = {
      "0123456789", "A1B2C3", "SN:EF000000002F985D;MAC:00:11:22:33:44:55",
      "AB:12345678901234567890:CD", "ab1cd", "ZQ01234567ABCDEF",
  };
  for (int level = 0; level < 4; ++level)
    for (const char* t : texts) ExpectSameAsLibqrencode(t, level);
  for (unsigned seed = 0; seed < 40; ++seed) {
    ExpectSameAsLibqrencode(TestBytes(20 + seed * 29, seed, "0123456789ABCXYZ: $abc\x81"), int(seed % 4));
  }
}

TEST(QrReference, KanjiSegments) {
  const std::string sjis = "\x88\x9F\x88\xA0\x93\xFA\x96\x7B ABC 0123456789 \xE0\x40\xEA\xA4 abc";
  for (int level = 0; level < 4; ++level) ExpectSameAsLibqrencode(sjis, level, QrInputCharset::kShiftJis);
  std::string many;
  for (int i = 0; i < 600; ++i) many += (i % 2) ? "\x88\x9F" : "\x93\xFA";
  ExpectSameAsLibqrencode(many, 0, QrInputCharset::kShiftJis);
}

}  // namespace
