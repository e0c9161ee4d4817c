#include "common/xml_values.h"

#include <gtest/gtest.h>

namespace kelvara {
namespace {

TEST(XmlValuesTest, ParseDecimalIntReadsLikeTheCLibrary) {
  const struct {
    const char* text;
    int value;
  } cases[] = {{"12", 12},          {"  -7", -7},          {"+3x", 3},
               {"x3", 0},           {"", 0},               {"0x10", 0},
               {"2147483647", 2147483647}, {"99999999999", 2147483647},
               {"-99999999999", -2147483647 - 1}, {"\n\t5", 5}};
  for (const auto& c : cases) EXPECT_EQ(ParseDecimalInt(c.text), c.value) << c.text;
  EXPECT_EQ(ParseDecimalInt(nullptr), 0);
}

TEST(XmlValuesTest, TruncateNeverSplitsACharacter) {
  EXPECT_EQ(TruncateUtf8("abcdef", 4), "abcd");
  EXPECT_EQ(TruncateUtf8("ab", 4), "ab");
  EXPECT_EQ(TruncateUtf8("a\xE4\xBD\xA0", 3), "a");        // 3-byte character cut
  EXPECT_EQ(TruncateUtf8("a\xE4\xBD\xA0" "b", 4), "a\xE4\xBD\xA0");
  EXPECT_EQ(TruncateUtf8("\xF0\x9F\x98\x80", 3), "");
}

TEST(XmlValuesTest, Utf8Validity) {
  EXPECT_TRUE(IsValidUtf8("plain \xC3\xA9 \xE4\xBD\xA0 \xF0\x9F\x98\x80"));
  const char* bad[] = {"\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                       "\xFF", "\xE4\xBD", "\x80"};
  for (const char* b : bad) {
    EXPECT_FALSE(IsValidUtf8(b)) << b;
    EXPECT_TRUE(IsValidUtf8(MakeValidUtf8(b)));
  }
  EXPECT_EQ(MakeValidUtf8("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(MakeValidUtf8("\xC3\xA9"), "\xC3\xA9");
}

}  // namespace
}  // namespace kelvara
