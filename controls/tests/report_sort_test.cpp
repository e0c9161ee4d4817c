#include "controls/core/report_sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

namespace kelvara::controls {
namespace {

std::string Ascii(std::u16string_view s) {
  std::string out;
  for (char16_t c : s) out.push_back(c < 128 ? static_cast<char>(c) : '?');
  return out;
}

struct PairCase {
  const char16_t* a;
  const char16_t* b;
  int expected;  // sign of compare(a, b)
};

TEST(ReportCompareTest, ReadsEachPairByTheFirstTestBothPass) {
  const PairCase cases[] = {
      // all-digit texts: read as hex, ordered like their decimal value
      {u"80", u"554", -1}, {u"554", u"8000", -1}, {u"9", u"10", -1}, {u"10", u"10", 0},
      // digit strings of any length compare by value, not saturated
      {u"123456789012", u"123456789013", -1}, {u"99999999999999999999", u"100000000000000000000", -1},
      {u"000123", u"123", 0}, {u"0x1F", u"20", -1}, {u"ff", u"FF", 0}, {u" 12", u"11", 1},
      // a minus sign makes a negative value, below every positive one
      {u"-5", u"3", -1}, {u"-5", u"-3", -1}, {u"-0", u"0", 0},
      // numbers: fractions, percent, exponents; mixed hex/fraction as numbers
      {u"1.5", u"10", -1}, {u"7%", u"50%", -1}, {u"10", u"9.5", 1}, {u"-1.5", u"1", -1},
      {u"2.5e3", u"300.5", 1}, {u"1e400", u"1e300", 1},
      // dates and times
      {u"2025-12-31", u"2026-01-05", -1}, {u"2026/01/05 10:00", u"2026/01/05 9:59:59", 1},
      {u"2026-01-05", u"2026-01-05 00:00:00", 0}, {u"23:59", u"1900-01-01", -1},
      // IPv4, also with words after the address and parts modulo 256
      {u"192.168.1.9", u"192.168.1.10", -1}, {u"192.168.1.10 camera", u"192.168.1.9", 1},
      {u"10.0.0.256", u"10.0.0.0", 0}, {u"1.2.3.4", u"1.2.3.4x", 0},
      // text: by code unit, upper case before lower case; mixed falls through
      {u"Zeta", u"alpha", -1}, {u"abc", u"10.0.0.1", 1}, {u"", u"0", -1}, {u"inf", u"5", 1},
      {u"nan", u"1", 1}, {u"12.5", u"F", -1},
  };
  for (const auto& c : cases) {
    const int got = CompareCellTexts(c.a, c.b);
    EXPECT_EQ(got, c.expected) << "a=" << Ascii(c.a) << " b=" << Ascii(c.b);
    EXPECT_EQ(CompareCellTexts(c.b, c.a), -c.expected) << "antisymmetry";
  }
}

TEST(ReportCompareTest, KeyReadingsForBorderTexts) {
  EXPECT_FALSE(MakeCellSortKey(u"").is_hex);
  EXPECT_FALSE(MakeCellSortKey(u"0x").is_hex);   // stops after the 0
  EXPECT_TRUE(MakeCellSortKey(u"0x0").is_hex);
  EXPECT_FALSE(MakeCellSortKey(u"12 ").is_hex);  // trailing space is not consumed
  EXPECT_FALSE(MakeCellSortKey(u"1e").is_number);
  EXPECT_TRUE(MakeCellSortKey(u"1e").is_hex);
  EXPECT_FALSE(MakeCellSortKey(u"5%%").is_number);
  EXPECT_FALSE(MakeCellSortKey(u"%").is_number);
  EXPECT_FALSE(MakeCellSortKey(u"2026-02-30").is_date);
  EXPECT_TRUE(MakeCellSortKey(u"2024-02-29").is_date);
  EXPECT_FALSE(MakeCellSortKey(u"24:00").is_date);
  EXPECT_FALSE(MakeCellSortKey(u"1.2.3").is_ipv4);
  const auto ip = MakeCellSortKey(u"1.2.3.-1");
  ASSERT_TRUE(ip.is_ipv4);
  EXPECT_EQ(ip.ipv4, 0x010203FFu);
}

// The mixed comparator has cycles ("10" < "12.5" < "F" < "10"). Sorting such
// columns must stay in bounds and return a permutation.
TEST(ReportSortTest, NonTransitiveColumnsStillGiveAPermutation) {
  EXPECT_LT(CompareCellTexts(u"10", u"12.5"), 0);
  EXPECT_LT(CompareCellTexts(u"12.5", u"F"), 0);
  EXPECT_LT(CompareCellTexts(u"F", u"10"), 0);
  const std::u16string pool[] = {u"10", u"12.5", u"F", u"-3", u"1.2.3.4", u"2026-01-01", u"zz", u"",
                                 u"7%", u"0x10", u"9.99", u"A"};
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    std::vector<std::u16string> texts(rng() % 64);
    for (auto& t : texts) t = pool[rng() % std::size(pool)];
    std::vector<std::u16string_view> views(texts.begin(), texts.end());
    for (bool asc : {true, false}) {
      auto order = SortColumnOrder(views, asc, std::nullopt);
      std::sort(order.begin(), order.end());
      for (std::size_t i = 0; i < order.size(); ++i) ASSERT_EQ(order[i], i);
    }
  }
  // Even a comparator that answers at random.
  for (int round = 0; round < 50; ++round) {
    auto order = StableSortOrder(100, [&](std::size_t, std::size_t) { return int(rng() % 3) - 1; }, true);
    std::sort(order.begin(), order.end());
    for (std::size_t i = 0; i < order.size(); ++i) ASSERT_EQ(order[i], i);
  }
}

std::vector<std::u16string> Apply(const std::vector<std::u16string>& texts,
                                  const std::vector<std::size_t>& order) {
  std::vector<std::u16string> out;
  for (auto i : order) out.push_back(texts[i]);
  return out;
}

TEST(ReportSortTest, SortsTypedColumnsStablyBothWays) {
  const std::vector<std::u16string> texts = {u"8000", u"80", u"554", u"80", u"9", u"10"};
  const std::vector<std::u16string_view> v(texts.begin(), texts.end());
  const auto asc = SortColumnOrder(v, true, std::nullopt);
  EXPECT_EQ(Apply(texts, asc), (std::vector<std::u16string>{u"9", u"10", u"80", u"80", u"554", u"8000"}));
  EXPECT_LT(std::find(asc.begin(), asc.end(), 1), std::find(asc.begin(), asc.end(), 3)) << "equal rows keep order";
  const auto desc = SortColumnOrder(v, false, std::nullopt);
  EXPECT_EQ(Apply(texts, desc), (std::vector<std::u16string>{u"8000", u"554", u"80", u"80", u"10", u"9"}));
  EXPECT_LT(std::find(desc.begin(), desc.end(), 1), std::find(desc.begin(), desc.end(), 3)) << "also descending";
}

TEST(ReportSortTest, SeparatorRowsStayAndSplitBlocks) {
  const std::vector<std::u16string> texts = {u"c", u"a", u"--", u"z", u"b", u"--", u"--", u"y"};
  const std::vector<std::u16string_view> v(texts.begin(), texts.end());
  const auto order = SortColumnOrder(v, true, std::u16string(u"--"));
  EXPECT_EQ(Apply(texts, order),
            (std::vector<std::u16string>{u"a", u"c", u"--", u"b", u"z", u"--", u"--", u"y"}));
  // Without a separator the list is one block.
  EXPECT_EQ(Apply(texts, SortColumnOrder(v, true, std::nullopt)).front(), u"--");
  EXPECT_TRUE(SortColumnOrder({}, true, std::nullopt).empty());
}

TEST(ReportSortTest, InSortedPlaceChecksBothNeighbours) {
  EXPECT_TRUE(InSortedPlace(u"9", u"10", u"11", true));
  EXPECT_FALSE(InSortedPlace(u"9", u"12", u"11", true));
  EXPECT_FALSE(InSortedPlace(u"9", u"8", std::nullopt, true));
  EXPECT_TRUE(InSortedPlace(std::nullopt, u"b", u"a", false));
  EXPECT_TRUE(InSortedPlace(u"5", u"5", u"5", true));
}

}  // namespace
}  // namespace kelvara::controls
