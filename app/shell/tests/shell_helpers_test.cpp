#include <gtest/gtest.h>

#include <arpa/inet.h>

#include "common/bit_helpers.h"
#include "app/shell/language_commands.h"
#include "app/shell/window_placement.h"

namespace kelvara::shell {
namespace {

TEST(LanguageCommands, CodesOfEveryCommand) {
  const std::map<int, std::string> expected = {
      {1950, "en-us"}, {1951, "zh-cn"},   {1952, "zh-tw"},   {1953, "ko-ko"},     {1954, "Japanese"},
      {1955, "pl-pl"}, {1956, "pt-br"},   {1957, "Russian"}, {1958, "Ukrainian"}, {1959, "Mongolian"},
      {1949, "en-us"}, {1960, "en-us"},   {0, "en-us"}};
  for (const auto& [cmd, code] : expected) EXPECT_EQ(LanguageCodeForCommand(cmd), code) << cmd;
  EXPECT_EQ(LanguageCommands().size(), 10u);
  EXPECT_STREQ(LanguageCommands()[6].menu_key, "ID_LANGUAGE_pt_pt");
}

TEST(BitHelpers, NetMaskAndBits) {
  auto mask = [](const char* dotted) { return ntohl(inet_addr(dotted)); };
  EXPECT_EQ(IsValidNetMask(mask("255.255.255.0")), 1);
  EXPECT_EQ(IsValidNetMask(mask("255.255.0.255")), 0);
  EXPECT_EQ(IsValidNetMask(mask("255.0.255.0")), 0);
  EXPECT_EQ(IsValidNetMask(0), 1);
  EXPECT_EQ(IsValidNetMask(0xFFFFFFFFu), 1);
  EXPECT_EQ(IsValidNetMask(0xFFFFFFFEu), 1);
  EXPECT_EQ(IsValidNetMask(0x7FFFFFFFu), 0);
  EXPECT_EQ(TestBit(0x80000000u, 31), 1);
  EXPECT_EQ(TestBit(0x1u, 32), 1);  // n mod 32
  EXPECT_EQ(SetBit(0, 33), 2u);
}

TEST(WindowPlacement, VideoWindowRectangle) {
  struct Case { SavedRect saved; bool replaced; };
  const std::vector<Case> cases = {
      {{100, 100, 400, 400}, false}, {{100, 100, 199, 400}, true},    // width 99
      {{100, 100, 200, 200}, false}, {{-300, 0, 0, 200}, true},       // right edge 0
      {{1920, 100, 2100, 300}, true}, {{-10, 100, 300, 300}, true},   // negative left
      {{100, 1080, 400, 1300}, true}, {{0, 0, 0, 0}, true}};
  // A replaced rectangle is the lower right third of the work area: of the
  // whole screen, or above a panel along its bottom, or right of one at its left.
  const struct {
    Box work;
    SavedRect third;
  } screens[] = {{{0, 0, 1920, 1080}, {1280, 720, 1920, 1080}},
                 {{0, 0, 1920, 1040}, {1280, 694, 1920, 1040}},
                 {{64, 27, 1856, 1053}, {1302, 729, 1920, 1080}}};
  for (const auto& s : screens) {
    for (const auto& c : cases) {
      bool replaced = false;
      const SavedRect got = ValidVideoWindowRect(c.saved, 1920, 1080, s.work, replaced);
      EXPECT_EQ(replaced, c.replaced) << c.saved.left << "," << c.saved.top << "," << c.saved.right;
      EXPECT_EQ(got, c.replaced ? s.third : c.saved) << s.work.y << " " << s.work.height;
    }
  }
}

TEST(WindowPlacement, KeepOnMonitor) {
  const Box work{0, 0, 1920, 1040};
  EXPECT_FALSE(KeepOnMonitor({1900, 100, 800, 600}, work));  // 20 px inside is enough
  const auto moved = KeepOnMonitor({1901, 100, 800, 600}, work);
  ASSERT_TRUE(moved);
  EXPECT_EQ(*moved, (Box{560, 220, 800, 600}));
  EXPECT_EQ(*KeepOnMonitor({-5000, 0, 3000, 2000}, work), (Box{0, 0, 1920, 1040}));
  EXPECT_TRUE(KeepOnMonitor({100, 1030, 800, 600}, work));  // only 10 px high inside
}

TEST(WindowPlacement, TitleAndQuickSearch) {
  EXPECT_EQ(MainWindowTitle("Kelvara", "V6.0.8_20261028", 2), "Kelvara");
  EXPECT_EQ(MainWindowTitle("Kelvara", "V6.0.8_20261028", 0), "Kelvara V6.0.8_20261028");
  EXPECT_EQ(MainWindowTitle("Kelvara", "V6.0.8_20261028", 1), "Kelvara V6.0.8_20261028");
  EXPECT_FALSE(IsQuickSearchVersion("V6.0.8_20261028"));
  EXPECT_TRUE(IsQuickSearchVersion("V6.0.8_QUICKSEARCH_1"));
}

}  // namespace
}  // namespace kelvara::shell
