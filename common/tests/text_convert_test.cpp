#include "common/text_convert.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "kelvara_test/test_env.h"

namespace kelvara {
namespace {

std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int v : b) s.push_back(static_cast<char>(v));
  return s;
}

// Runs the iconv program on a file: the outside oracle for every conversion.
std::string IconvProgram(const std::string& input, const std::string& from, const std::string& to) {
  const auto file = test::MakeTempDir("iconv") / "in.txt";
  std::ofstream(file, std::ios::binary) << input;
  const std::string cmd = "iconv -c -f " + from + " -t " + to + " " + file.string() + " 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return {};
  std::string out;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

std::vector<std::string> SplitLines(const std::string& s) {
  std::vector<std::string> lines;
  std::stringstream ss(s);
  std::string line;
  while (std::getline(ss, line)) lines.push_back(line);
  return lines;
}

// Every two-byte code of a double-byte code page, one per line.
std::vector<std::string> AllDoubleByteCodes(int lead_lo, int lead_hi, int trail_lo, int trail_hi) {
  std::vector<std::string> codes;
  for (int lead = lead_lo; lead <= lead_hi; ++lead) {
    for (int trail = trail_lo; trail <= trail_hi; ++trail) {
      if (trail == 0x7F) continue;
      codes.push_back(Bytes({lead, trail}));
    }
  }
  return codes;
}

std::string Join(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\n";
  return s;
}

TEST(Utf8, EncodesStandardUtf8LikeIconv) {
  const std::u16string samples[] = {
      u"Camera", u"\u00e9t\u00e9", u"\u6444\u50cf\u673a", u"\u0800\u07ff\u0080\uffff",
      u"\U0001F600 ok", u"A\U00010000Z",
  };
  for (const auto& s : samples) {
    const std::string utf16(reinterpret_cast<const char*>(s.data()), s.size() * 2);
    EXPECT_EQ(TitleToUtf8(s), IconvProgram(utf16, "UTF-16LE", "UTF-8"));
  }
  // The old three-byte form of U+00E9 is no longer written.
  EXPECT_EQ(TitleToUtf8(u"\u00e9"), Bytes({0xC3, 0xA9}));
}

TEST(Utf8, EncodingEdgeUnits) {
  EXPECT_EQ(TitleToUtf8(std::u16string(u"a\0b", 3)), "ab");
  EXPECT_EQ(TitleToUtf8(u"\xd83d"), Bytes({0xEF, 0xBF, 0xBD}));  // lone high surrogate
  EXPECT_EQ(TitleToUtf8(u"\xde00x"), Bytes({0xEF, 0xBF, 0xBD, 'x'}));
  EXPECT_EQ(TitleToUtf8(u""), "");
}

TEST(Utf8, DecodesStandardUtf8LikeIconv) {
  const std::string samples[] = {
      "Camera", Bytes({0xC3, 0xA9}), Bytes({0xE6, 0x91, 0x84, 0xE5, 0x83, 0x8F}),
      Bytes({0xF0, 0x9F, 0x98, 0x80, 'x'}), Bytes({0xDF, 0xBF, 0xE0, 0xA0, 0x80, 0xEF, 0xBF, 0xBF}),
  };
  for (const auto& s : samples) {
    const std::u16string got = Utf8ToCString(s);
    const std::string utf16(reinterpret_cast<const char*>(got.data()), got.size() * 2);
    EXPECT_EQ(utf16, IconvProgram(s, "UTF-8", "UTF-16LE")) << s;
  }
}

TEST(Utf8, DecodesTheLegacyThreeByteForms) {
  // What older versions wrote: U+00E9 as three bytes, and U+1F600 as two
  // surrogate halves of three bytes each.
  EXPECT_EQ(Utf8ToCString(Bytes({0xE0, 0x83, 0xA9})), u"\u00e9");
  EXPECT_EQ(Utf8ToCString(Bytes({0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80})), u"\U0001F600");
}

TEST(Utf8, DecodesBadInputSafely) {
  struct Case {
    std::string in;
    std::u16string out;
  } cases[] = {
      {Bytes({'a', 0xE6, 0x91}), u"a"},                         // cut off by the end: stops
      {Bytes({'a', 0xF0, 0x9F, 0x98}), u"a"},
      {Bytes({'a', 0xFF, 'b'}), u"a\ufffdb"},                   // invalid byte
      {Bytes({'a', 0xF8}), u"a\ufffd"},                         // no lead byte, even at the end
      {Bytes({0x80, 'b'}), u"\ufffdb"},                         // stray continuation
      {Bytes({0xE0, 0x80, 0xAF}), u"\ufffd\ufffd\ufffd"},       // overlong '/' is refused
      {Bytes({0xC0, 0xAF}), u"\ufffd\ufffd"},
      {Bytes({0xED, 0xA0, 0xBD, 'x'}), u"\ufffdx"},             // lone legacy high surrogate
      {Bytes({0xED, 0xB8, 0x80}), u"\ufffd"},                   // lone legacy low surrogate
      {Bytes({0xF4, 0x90, 0x80, 0x80}), u"\ufffd\ufffd\ufffd\ufffd"},  // beyond U+10FFFF
      {std::string("ab\0cd", 5), u"ab"},                        // stops at a zero byte
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8ToCString(c.in), c.out) << StringToHex(c.in);
}

TEST(Utf8, RoundTripsEveryBmpUnitAndAPair) {
  std::u16string all;
  for (char32_t u = 1; u < 0x10000; ++u) {
    if (u < 0xD800 || u > 0xDFFF) all.push_back(static_cast<char16_t>(u));
  }
  all += u"\U0010FFFF";
  EXPECT_EQ(Utf8ToCString(TitleToUtf8(all)), all);
}

TEST(Utf8, CodePointToUtf8PacksTheBytes) {
  EXPECT_EQ(CodePointToUtf8(u'A'), 0x41);
  EXPECT_EQ(CodePointToUtf8(u'\u00e9'), 0xC3A9);
  EXPECT_EQ(CodePointToUtf8(u'\u6444'), 0xE69184);
  EXPECT_EQ(CodePointToUtf8(u'\xd800'), 0xEFBFBD);
}

TEST(Hex, RoundTripAndOddLength) {
  EXPECT_EQ(StringToHex("Camera"), "43616d657261");
  EXPECT_EQ(StringToHex(static_cast<const char*>(nullptr)), "");
  EXPECT_EQ(StringToHex(std::string_view(Bytes({0x00, 0xFF, 0x0A}))), "00ff0a");
  EXPECT_EQ(HexToBytes("43616d657261"), "Camera");
  EXPECT_EQ(HexToBytes("43616D657261"), "Camera");
  EXPECT_EQ(HexToBytes("434"), "C@");  // the missing last digit counts as 0
  EXPECT_EQ(HexToBytes(""), "");
  EXPECT_EQ(HexToBytes("zz"), Bytes({0}));
}

TEST(Hex, DigitValues) {
  const struct {
    char c;
    int checked, unchecked;
  } cases[] = {{'0', 0, 0}, {'9', 9, 9}, {'a', 10, 10}, {'f', 15, 15}, {'A', 10, 10}, {'F', 15, 15},
               {'g', 0, 16}, {'G', 0, 16}, {' ', 0, -16}};
  for (const auto& c : cases) {
    EXPECT_EQ(HexDigitValue(c.c), c.checked) << c.c;
    EXPECT_EQ(HexCharValue(c.c), c.unchecked) << c.c;
  }
}

TEST(CodePages, GbkToUtf8MatchesIconvForEveryDoubleByteCode) {
  const auto codes = AllDoubleByteCodes(0x81, 0xFE, 0x40, 0xFE);
  const auto oracle = SplitLines(IconvProgram(Join(codes), "CP936", "UTF-8"));
  ASSERT_EQ(oracle.size(), codes.size());
  size_t mismatches = 0;
  for (size_t i = 0; i < codes.size(); ++i) {
    const std::string ours = GbkToUtf8(codes[i]);
    // Codes the page does not assign are dropped by the oracle; we mark them.
    const bool ok = ours == oracle[i] || (oracle[i].empty() && ours.find("\xEF\xBF\xBD") != std::string::npos);
    if (!ok && ++mismatches < 5) ADD_FAILURE() << "code " << StringToHex(codes[i]) << ": " << ours;
  }
  EXPECT_EQ(mismatches, 0u);
  EXPECT_EQ(GbkToUtf8("Camera"), "Camera");
  EXPECT_EQ(GbkToUtf8(""), "");
}

TEST(CodePages, Utf8ToGbkMatchesIconvForEveryGbkCharacter) {
  // Every character GBK holds goes back to the bytes iconv gives for it.
  const auto codes = AllDoubleByteCodes(0x81, 0xFE, 0x40, 0xFE);
  const auto utf8 = SplitLines(IconvProgram(Join(codes), "CP936", "UTF-8"));
  ASSERT_EQ(utf8.size(), codes.size());
  const auto oracle = SplitLines(IconvProgram(Join(utf8), "UTF-8", "CP936"));
  ASSERT_EQ(oracle.size(), utf8.size());
  size_t mismatches = 0;
  for (size_t i = 0; i < utf8.size(); ++i) {
    if (utf8[i].empty()) continue;  // unassigned code
    if (Utf8ToGbk(utf8[i]) != oracle[i] && ++mismatches < 5) ADD_FAILURE() << "code " << StringToHex(codes[i]);
  }
  EXPECT_EQ(mismatches, 0u);
  // "管理员" (administrator); a character GBK lacks and a stray byte become '?'.
  EXPECT_EQ(Utf8ToGbk("\xE7\xAE\xA1\xE7\x90\x86\xE5\x91\x98"), Bytes({0xB9, 0xDC, 0xC0, 0xED, 0xD4, 0xB1}));
  EXPECT_EQ(Utf8ToGbk("a\xF0\x9F\x98\x80" "b\xFF" "c"), "a?b?c");
  EXPECT_EQ(Utf8ToGbk("admin"), "admin");
  EXPECT_EQ(Utf8ToGbk(""), "");
}

TEST(CodePages, Big5ToGbkMatchesIconvForEveryDoubleByteCode) {
  const auto codes = AllDoubleByteCodes(0xA1, 0xF9, 0x40, 0xFE);
  const auto oracle = SplitLines(IconvProgram(Join(codes), "CP950", "CP936"));
  ASSERT_EQ(oracle.size(), codes.size());
  size_t mismatches = 0;
  size_t unmapped = 0;
  for (size_t i = 0; i < codes.size(); ++i) {
    const std::string ours = Big5ToGbk(codes[i]);
    const bool ok = ours == oracle[i] || (oracle[i].empty() && ours.find('?') != std::string::npos);
    unmapped += oracle[i].empty();
    if (!ok && ++mismatches < 5) ADD_FAILURE() << "code " << StringToHex(codes[i]) << ": " << StringToHex(ours);
  }
  EXPECT_EQ(mismatches, 0u);
  EXPECT_GT(unmapped, 0u);  // the table really has characters GBK lacks
  // U+4E2D is A4 A4 in Big5 and D6 D0 in GBK.
  EXPECT_EQ(Big5ToGbk(Bytes({0xA4, 0xA4, 'x'})), Bytes({0xD6, 0xD0, 'x'}));
}

TEST(CodePages, AnsiFollowsTheSystemLocale) {
  const char* old_lang = std::getenv("LANG");
  const std::string saved = old_lang ? old_lang : "";
  unsetenv("LC_ALL");
  setenv("LANG", "en_US.UTF-8", 1);
  EXPECT_FALSE(IsTraditionalChineseSystem());
  EXPECT_EQ(AnsiToCString(Bytes({0xD6, 0xD0, 0}).c_str()), u"\u4e2d");  // GBK
  setenv("LANG", "zh_TW.UTF-8", 1);
  EXPECT_TRUE(IsTraditionalChineseSystem());
  EXPECT_EQ(AnsiToCString(Bytes({0xA4, 0xA4, 0}).c_str()), u"\u4e2d");  // Big5
  EXPECT_EQ(AnsiToCString(nullptr), u"");
  if (old_lang) setenv("LANG", saved.c_str(), 1); else unsetenv("LANG");
}

TEST(Numbers, UIntToCString) {
  EXPECT_EQ(UIntToCString(0), u"0");
  EXPECT_EQ(UIntToCString(4294967295u), u"4294967295");
}

}  // namespace
}  // namespace kelvara
