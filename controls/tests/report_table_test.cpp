#include "controls/core/report_table.h"

#include <gtest/gtest.h>

namespace kelvara::controls {
namespace {

TEST(ColumnSpecTest, ParsesPiecesAndDefaults) {
  auto cols = ParseColumnSpec("Name,120;Port,60,2;;Mode,40,1;Plain");
  ASSERT_EQ(cols.size(), 4u);
  EXPECT_EQ(cols[0].title, "Name");
  EXPECT_EQ(cols[0].width, 120);
  EXPECT_EQ(cols[0].alignment, ColumnAlignment::kLeft);
  EXPECT_EQ(cols[1].alignment, ColumnAlignment::kRight);
  EXPECT_EQ(cols[2].alignment, ColumnAlignment::kCenter);
  EXPECT_EQ(cols[3].width, 100);
  // An empty field is dropped, so the next one moves up: width 2.
  cols = ParseColumnSpec("Name,,2");
  ASSERT_EQ(cols.size(), 1u);
  EXPECT_EQ(cols[0].width, 2);
  EXPECT_EQ(cols[0].alignment, ColumnAlignment::kLeft);
  EXPECT_EQ(ParseColumnSpec("Odd,x,7")[0].width, 0);
  EXPECT_EQ(ParseColumnSpec("Odd,80,7")[0].alignment, ColumnAlignment::kLeft);
  EXPECT_TRUE(ParseColumnSpec("").empty());
  EXPECT_TRUE(ParseColumnSpec(";;,;").empty());
  EXPECT_EQ(ParseColumnSpec("Ünïcode,50;")[0].title, "Ünïcode");
}

TEST(ReportStatesTest, MasksAndComposition) {
  EXPECT_EQ(ComposeItemStates(true, false, true), kStateSelected | kStateUnchecked | kStateFocused);
  EXPECT_EQ(ComposeItemStates(false, true, false), kStateUnselected | kStateChecked | kStateUnfocused);
  const int row = ComposeItemStates(true, true, false);
  struct { int mask; bool expected; } cases[] = {
      {0, false}, {kStateAny, true}, {kStateAny | kStateUnselected, true},
      {kStateSelected, true}, {kStateSelected | kStateChecked, true},
      {kStateSelected | kStateFocused, false}, {kStateUnchecked, false}, {kStateUnfocused, true},
  };
  for (const auto& c : cases) EXPECT_EQ(ItemHasStates(row, c.mask), c.expected) << c.mask;
}

TEST(ReportColorTargetTest, OutOfRangeMeansAll) {
  struct { int row, col; CellRange want; } cases[] = {
      {5, 3, {5, 5, 3, 3}},      // one cell
      {5, 99, {5, 5, 0, 9}},     // whole row
      {5, -1, {5, 5, 0, 9}},
      {-1, 2, {0, 19, 2, 2}},    // whole column
      {20, 2, {0, 19, 2, 2}},
      {-1, -1, {0, 19, 0, 9}},   // everything
  };
  for (const auto& c : cases) {
    const auto r = ResolveColorTarget(c.row, c.col, 20, 10);
    EXPECT_EQ(r.first_row, c.want.first_row);
    EXPECT_EQ(r.last_row, c.want.last_row);
    EXPECT_EQ(r.first_column, c.want.first_column);
    EXPECT_EQ(r.last_column, c.want.last_column);
  }
  EXPECT_TRUE(ResolveColorTarget(0, 0, 0, 10).empty());
  EXPECT_TRUE(ResolveColorTarget(0, 0, 5, 0).empty());
}

TEST(ReportColorTest, ColorRefLayout) {
  constexpr ColorRef red = MakeColorRef(255, 0, 0);
  EXPECT_EQ(red, 0x0000FF);
  EXPECT_EQ(MakeColorRef(0, 191, 255), 0xFFBF00);
  EXPECT_EQ(ColorBlue(MakeColorRef(1, 2, 3)), 3);
  EXPECT_NE(kSystemColor, MakeColorRef(255, 255, 255));
}

}  // namespace
}  // namespace kelvara::controls
