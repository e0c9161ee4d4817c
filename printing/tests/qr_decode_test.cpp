// Every symbol decodes with zbarimg (an independent decoder) to the exact
// input bytes: all 40 versions at level L, every level at a few versions,
// every mode, and the edge of version 40-L.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "printing/core/qr_encode.h"
#include "printing/core/qr_tables.h"
#include "qr_test_support.h"

namespace {

using kelvara::test::TestBytes;
using kelvara::test::ZbarDecode;

const std::string kAlnum = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ $%*+-./:";

// Byte text that fills `version` at `level` almost completely, so the
// encoder must pick exactly that version.
std::string TextForVersion(int version, int level, unsigned seed) {
  const int countBits = version <= 9 ? 8 : 16;
  const int bytes = (kelvara::qr::kVersions[version].dataCodewords[level] * 8 - 4 - countBits) / 8;
  // Byte-only characters, so no merging can shorten the stream.
  return TestBytes(std::size_t(bytes), seed, "abcdefghijklmnopqrstuvwxyz;,!?");
}

void ExpectRoundTrip(CQR_Encode& qr, const std::string& text, int level, int expectVersion,
                     QrInputCharset charset = QrInputCharset::kBytes) {
  ASSERT_TRUE(qr.Encode(level, 0, true, -1, text.data(), int(text.size()), charset))
      << "level " << level << " length " << text.size();
  if (expectVersion > 0) {
    EXPECT_EQ(qr.Version(), expectVersion);
  }
  auto decoded = ZbarDecode(qr);
  ASSERT_TRUE(decoded.has_value()) << "not decodable: version " << qr.Version() << " level " << level;
  EXPECT_EQ(*decoded, text) << "version " << qr.Version() << " level " << level;
}

TEST(QrDecode, EveryVersionAtLevelL) {
  auto qr = std::make_unique<CQR_Encode>();
  for (int v = 1; v <= 40; ++v) ExpectRoundTrip(*qr, TextForVersion(v, 0, unsigned(v)), 0, v);
}

TEST(QrDecode, EveryLevelAtSampleVersions) {
  auto qr = std::make_unique<CQR_Encode>();
  for (int level = 1; level < 4; ++level) {
    for (int v : {1, 2, 7, 10, 21, 27, 40}) ExpectRoundTrip(*qr, TextForVersion(v, level, unsigned(v * 7 + level)), level, v);
  }
}

TEST(QrDecode, EveryMaskOnce) {
  auto qr = std::make_unique<CQR_Encode>();
  const std::string text = "SN:EF000000002F985D;MAC:00:11:22:33:44:55";
  for (int mask = 0; mask < 8; ++mask) {
    ASSERT_TRUE(qr->Encode(1, 0, true, mask, text.data()));
    EXPECT_EQ(ZbarDecode(*qr).value_or("<none>"), text) << "mask " << mask;
  }
}

TEST(QrDecode, Modes) {
  auto qr = std::make_unique<CQR_Encode>();
  // Numeric, alphanumeric, mixed, label text, UTF-8, arbitrary bytes.
  ExpectRoundTrip(*qr, "0123456789", 0, 1);
  ExpectRoundTrip(*qr, TestBytes(3000, 1, "0123456789"), 0, 0);
  ExpectRoundTrip(*qr, TestBytes(1500, 2, kAlnum), 2, 0);
  ExpectRoundTrip(*qr, "A1B2C3", 0, 1);
  ExpectRoundTrip(*qr, "ZQ0123456789ABCDEF", 0, 0);
  ExpectRoundTrip(*qr, "SN:EF000000002F985D;MAC:00:11:22:33:44:55", 0, 0);
  ExpectRoundTrip(*qr, "AB:12345678901234567890:CD", 3, 0);
  ExpectRoundTrip(*qr, "\xE4\xB8\xAD\xE6\x96\x87 label 123", 0, 0);
  ExpectRoundTrip(*qr, TestBytes(500, 3), 1, 0);
  // Random mixtures of all classes, to drive the merging passes.
  for (unsigned seed = 10; seed < 16; ++seed) ExpectRoundTrip(*qr, TestBytes(200 + seed * 37, seed, "0123456789ABC:abc\xC3"), int(seed % 4), 0);
  // Shift_JIS declared: Kanji segments between others.
  const std::string sjis = "\x88\x9F\x88\xA0 ABC 123 \x93\xFA\x96\x7B abc \xE0\x40\xEA\xA4";
  ExpectRoundTrip(*qr, sjis, 0, 0, QrInputCharset::kShiftJis);
  bool hasKanji = false;
  for (int i = 0; i < qr->SegmentCount(); ++i) hasKanji |= qr->SegmentMode(i) == CQR_Encode::kKanji;
  EXPECT_TRUE(hasKanji);
}

TEST(QrDecode, LargestTextsOfVersion40) {
  auto qr = std::make_unique<CQR_Encode>();
  ExpectRoundTrip(*qr, TestBytes(2953, 40), 0, 40);
  ExpectRoundTrip(*qr, TestBytes(7089, 41, "0123456789"), 0, 40);
  ExpectRoundTrip(*qr, TestBytes(4296, 42, kAlnum), 0, 40);
  ExpectRoundTrip(*qr, TestBytes(1273, 43), 3, 40);
}

}  // namespace
