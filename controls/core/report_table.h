#pragma once
// Pure rules of the report list that need no widget: the column
// description text, the row-state masks and the addressing of the colour
// setters.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelvara::controls {

// Colours in the 0x00BBGGRR layout the program's callers use; -1 stands for
// the system colour (window text or window background) of the current theme.
using ColorRef = std::int32_t;
inline constexpr ColorRef kSystemColor = -1;
constexpr ColorRef MakeColorRef(int red, int green, int blue) {
  return (red & 0xFF) | ((green & 0xFF) << 8) | ((blue & 0xFF) << 16);
}
constexpr int ColorRed(ColorRef c) { return c & 0xFF; }
constexpr int ColorGreen(ColorRef c) { return (c >> 8) & 0xFF; }
constexpr int ColorBlue(ColorRef c) { return (c >> 16) & 0xFF; }

enum class ColumnAlignment { kLeft = 0, kCenter = 1, kRight = 2 };

struct ColumnSpec {
  std::string title;  // UTF-8
  int width = 100;
  ColumnAlignment alignment = ColumnAlignment::kLeft;
};

// Splits at any of `separators`, dropping empty pieces (two separators in a
// row count as one).
std::vector<std::string> SplitString(std::string_view text, std::string_view separators);

// "title,width,alignment;..." pieces; width 100 and left alignment when the
// field is missing; alignment 1 centre, 2 right, anything else left. A title
// cannot hold ',' or ';' in this form: use the structured column setter.
std::vector<ColumnSpec> ParseColumnSpec(std::string_view spec);

// Row-state flags: one byte used by every state query and setter.
enum ReportStateFlag : int {
  kStateAny = 0x01,  // as a mask only: matches every row
  kStateSelected = 0x02,
  kStateUnselected = 0x04,
  kStateChecked = 0x08,
  kStateUnchecked = 0x10,
  kStateFocused = 0x20,
  kStateUnfocused = 0x40,
};

// Exactly one flag of each pair.
int ComposeItemStates(bool selected, bool checked, bool focused);

// False for mask 0, true for any mask with kStateAny, else whether the row's
// flags hold every bit of the mask.
bool ItemHasStates(int row_flags, int mask);

// Cells addressed by the colour setters: a valid row and column address one
// cell; a valid row with any other column the whole row; any other row with a
// valid column the whole column; neither valid every cell. Inclusive bounds;
// empty (first > last) when the table has no rows or no columns.
struct CellRange {
  int first_row = 0, last_row = -1, first_column = 0, last_column = -1;
  bool empty() const { return first_row > last_row || first_column > last_column; }
};
CellRange ResolveColorTarget(int row, int column, int row_count, int column_count);

}  // namespace kelvara::controls
