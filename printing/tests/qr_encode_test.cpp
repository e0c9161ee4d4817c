// Segmentation, merging, version choice and argument checks of the encoder.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "printing/core/qr_encode.h"
#include "printing/core/qr_tables.h"
#include "qr_test_support.h"

namespace {

using Mode = CQR_Encode::Mode;

struct Segments {
  int version;
  std::vector<std::pair<Mode, int>> list;
};

Segments EncodeSegments(const std::string& text, int level = 0,
                        QrInputCharset charset = QrInputCharset::kBytes) {
  auto qr = std::make_unique<CQR_Encode>();
  Segments s{0, {}};
  if (!qr->Encode(level, 0, true, -1, text.data(), int(text.size()), charset)) return s;
  s.version = qr->Version();
  for (int i = 0; i < qr->SegmentCount(); ++i) s.list.emplace_back(qr->SegmentMode(i), qr->SegmentLength(i));
  return s;
}

using SegList = std::vector<std::pair<Mode, int>>;

TEST(QrEncode, SegmentsAfterMerging) {
  struct Case {
    const char* text;
    SegList expected;
  };
  const Case cases[] = {
      // Ten digits: one numeric segment.
      {"0123456789", {{Mode::kNumeric, 10}}},
      // Capitals alternating with digits end up as one alphanumeric segment.
      {"A1B2C3", {{Mode::kAlphanumeric, 6}}},
      // Lower case is not in the alphanumeric set.
      {"abc", {{Mode::kByte, 3}}},
      // A nine-digit run is cheaper as numeric between alphanumeric parts.
      {"SN:EF000000002F985D",
       {{Mode::kAlphanumeric, 5}, {Mode::kNumeric, 9}, {Mode::kAlphanumeric, 5}}},
      // A long digit run stays numeric between alphanumeric parts.
      {"AB:12345678901234567890:CD",
       {{Mode::kAlphanumeric, 3}, {Mode::kNumeric, 20}, {Mode::kAlphanumeric, 3}}},
      // Short digit runs inside lower-case text are cheaper as bytes.
      {"ab1cd", {{Mode::kByte, 5}}},
      {"SN:EF000000002F985D;MAC:00:11:22:33:44:55",
       {{Mode::kAlphanumeric, 5}, {Mode::kNumeric, 9}, {Mode::kByte, 6}, {Mode::kAlphanumeric, 21}}},
  };
  for (const auto& c : cases) {
    auto s = EncodeSegments(c.text);
    EXPECT_EQ(s.list, c.expected) << c.text;
  }
  EXPECT_EQ(EncodeSegments("0123456789").version, 1);
}

TEST(QrEncode, Utf8ChineseGoesToByteModeNotKanji) {
  // "中文标签" in UTF-8: bytes such as 0xE4 0xB8 look like Shift_JIS lead and
  // trail bytes, but undeclared input never uses Kanji mode.
  const std::string utf8 = "\xE4\xB8\xAD\xE6\x96\x87\xE6\xA0\x87\xE7\xAD\xBE";
  auto s = EncodeSegments(utf8);
  EXPECT_EQ(s.list, (SegList{{Mode::kByte, 12}}));
  // The same characters declared Shift_JIS ("亜唖") use Kanji mode.
  const std::string sjis = "\x88\x9F\x88\xA0";
  auto k = EncodeSegments(sjis, 0, QrInputCharset::kShiftJis);
  EXPECT_EQ(k.list, (SegList{{Mode::kKanji, 4}}));
  // A lone lead byte at the end is a byte (one Kanji and one byte are
  // cheaper merged into one byte segment), and bytes outside the Kanji
  // ranges stay bytes.
  auto tail = EncodeSegments("\x88\x9F\x88\xA0\x93\xFA\x96\x7B\x88", 0, QrInputCharset::kShiftJis);
  EXPECT_EQ(tail.list, (SegList{{Mode::kKanji, 8}, {Mode::kByte, 1}}));
  auto shortTail = EncodeSegments("\x88\x9F\x88", 0, QrInputCharset::kShiftJis);
  EXPECT_EQ(shortTail.list, (SegList{{Mode::kByte, 3}}));
  auto outside = EncodeSegments("\xEB\xC0", 0, QrInputCharset::kShiftJis);
  EXPECT_EQ(outside.list, (SegList{{Mode::kByte, 2}}));
}

TEST(QrEncode, LargestByteTextAtVersion40L) {
  auto qr = std::make_unique<CQR_Encode>();
  const std::string fits(2953, 'a');
  ASSERT_TRUE(qr->Encode(0, 0, true, -1, fits.data(), int(fits.size())));
  EXPECT_EQ(qr->Version(), 40);
  EXPECT_EQ(qr->SymbolSize(), 177);
  const std::string tooLong(2954, 'a');
  EXPECT_FALSE(qr->Encode(0, 0, true, -1, tooLong.data(), int(tooLong.size())));
  EXPECT_FALSE(qr->Encode(1, 0, true, -1, fits.data(), int(fits.size())));  // not at level M
}

TEST(QrEncode, LongestTexts) {
  auto qr = std::make_unique<CQR_Encode>();
  const std::string digits(7089, '7');
  ASSERT_TRUE(qr->Encode(0, 0, true, -1, digits.data(), int(digits.size())));
  EXPECT_EQ(qr->Version(), 40);
  const std::string moreDigits(7090, '7');
  EXPECT_FALSE(qr->Encode(0, 0, true, -1, moreDigits.data(), int(moreDigits.size())));
  // 4296 alphanumeric characters that split into 4296 segments before merging
  // (more than the 2956 entries a data-codeword-sized table would hold).
  std::string alternating;
  for (int i = 0; i < 2148; ++i) alternating += "A1";
  ASSERT_TRUE(qr->Encode(0, 0, true, -1, alternating.data(), int(alternating.size())));
  EXPECT_EQ(qr->SegmentCount(), 1);
  EXPECT_EQ(qr->Version(), 40);
  // Alternating bytes and digits beyond any capacity fail cleanly.
  std::string mixed;
  for (int i = 0; i < 3544; ++i) mixed += "a1";
  EXPECT_FALSE(qr->Encode(0, 0, true, -1, mixed.data(), int(mixed.size())));
}

TEST(QrEncode, VersionRequests) {
  auto qr = std::make_unique<CQR_Encode>();
  const std::string text = "HELLO WORLD 1234567890";  // fits version 2-L, not 1-L... see below
  ASSERT_TRUE(qr->Encode(0, 0, true, -1, text.data()));
  const int smallest = qr->Version();
  // A larger version asked for is used as it is.
  ASSERT_TRUE(qr->Encode(0, 5, false, -1, text.data()));
  EXPECT_EQ(qr->Version(), 5);
  EXPECT_EQ(qr->SymbolSize(), 37);
  ASSERT_TRUE(qr->Encode(0, 12, false, -1, text.data()));
  EXPECT_EQ(qr->Version(), 12);
  // Too small a version: only with autoExtent.
  const std::string longer(100, 'x');
  EXPECT_FALSE(qr->Encode(0, 2, false, -1, longer.data()));
  ASSERT_TRUE(qr->Encode(0, 2, true, -1, longer.data()));
  EXPECT_EQ(qr->Version(), 5);  // 100 bytes need 5-L (108 data codewords)
  // Across a version group: asked 9, needs 10.
  const std::string group2(250, 'x');
  EXPECT_FALSE(qr->Encode(0, 9, false, -1, group2.data()));
  ASSERT_TRUE(qr->Encode(0, 9, true, -1, group2.data()));
  EXPECT_EQ(qr->Version(), 10);
  EXPECT_GE(smallest, 1);
}

TEST(QrEncode, SmallestVersionPerLevel) {
  // 17 bytes fill 1-L exactly (4 + 8 + 136 bits = 148 <= 152); 18 need 2-L.
  auto qr = std::make_unique<CQR_Encode>();
  const std::string b17(17, 'x');
  const std::string b18(18, 'x');
  ASSERT_TRUE(qr->Encode(0, 0, true, -1, b17.data()));
  EXPECT_EQ(qr->Version(), 1);
  ASSERT_TRUE(qr->Encode(0, 0, true, -1, b18.data()));
  EXPECT_EQ(qr->Version(), 2);
  ASSERT_TRUE(qr->Encode(3, 0, true, -1, b17.data()));
  EXPECT_EQ(qr->Version(), 3);  // 1-H holds 9 codewords, 2-H 16, 3-H 26
}

TEST(QrEncode, RefusesBadArguments) {
  auto qr = std::make_unique<CQR_Encode>();
  EXPECT_FALSE(qr->Encode(0, 0, true, -1, ""));
  EXPECT_FALSE(qr->Encode(0, 0, true, -1, nullptr));
  EXPECT_FALSE(qr->Encode(-1, 0, true, -1, "A"));
  EXPECT_FALSE(qr->Encode(4, 0, true, -1, "A"));
  EXPECT_FALSE(qr->Encode(0, 41, true, -1, "A"));
  EXPECT_FALSE(qr->Encode(0, -1, true, -1, "A"));
  EXPECT_EQ(qr->SymbolSize(), 0);
  // Length 0 or less: up to the terminating zero byte.
  ASSERT_TRUE(qr->Encode(0, 0, true, -1, "ABC\0DEF", -5));
  EXPECT_EQ(qr->SegmentLength(0), 3);
  // Masks outside 0..7 choose automatically.
  ASSERT_TRUE(qr->Encode(0, 0, true, 9, "ABC"));
  EXPECT_GE(qr->MaskNumber(), 0);
  EXPECT_LE(qr->MaskNumber(), 7);
}

TEST(QrEncode, ChosenMaskHasTheLowestScoreAndTiesKeepTheLowerNumber) {
  auto qr = std::make_unique<CQR_Encode>();
  for (const char* text : {"A", "SN:EF000000002F985D", "hello world, this is a label text", "0"}) {
    int best = -1;
    int bestMask = -1;
    for (int m = 0; m < 8; ++m) {
      ASSERT_TRUE(qr->Encode(0, 0, true, m, text));
      std::uint8_t copy[CQR_Encode::kMaxSymbolSize][CQR_Encode::kMaxSymbolSize] = {};
      for (int x = 0; x < qr->SymbolSize(); ++x)
        for (int y = 0; y < qr->SymbolSize(); ++y) copy[x][y] = qr->IsDark(x, y);
      int score = CQR_Encode::CountPenalty(copy, qr->SymbolSize());
      if (bestMask < 0 || score < best) {
        best = score;
        bestMask = m;
      }
    }
    ASSERT_TRUE(qr->Encode(0, 0, true, -1, text));
    EXPECT_EQ(qr->MaskNumber(), bestMask) << text;
  }
}

}  // namespace
