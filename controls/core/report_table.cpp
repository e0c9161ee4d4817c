#include "controls/core/report_table.h"

#include <cctype>

namespace kelvara::controls {
namespace {

// The C library's decimal conversion to int: white space, sign, digits,
// stops at the first other character; 0 when there are no digits.
int ToInt(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  long long v = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
    v = v * 10 + (s[i++] - '0');
    if (v > 0x7FFFFFFF) v = 0x7FFFFFFF;  // widths beyond int are meaningless
  }
  return static_cast<int>(negative ? -v : v);
}

}  // namespace

std::vector<std::string> SplitString(std::string_view text, std::string_view separators) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find_first_of(separators, start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) pieces.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

std::vector<ColumnSpec> ParseColumnSpec(std::string_view spec) {
  std::vector<ColumnSpec> columns;
  for (const auto& piece : SplitString(spec, ";")) {
    const auto fields = SplitString(piece, ",");
    if (fields.empty()) continue;
    ColumnSpec c;
    c.title = fields[0];
    if (fields.size() > 1) c.width = ToInt(fields[1]);
    if (fields.size() > 2) {
      const int a = ToInt(fields[2]);
      c.alignment = a == 1 ? ColumnAlignment::kCenter
                           : (a == 2 ? ColumnAlignment::kRight : ColumnAlignment::kLeft);
    }
    columns.push_back(std::move(c));
  }
  return columns;
}

int ComposeItemStates(bool selected, bool checked, bool focused) {
  return (selected ? kStateSelected : kStateUnselected) |
         (checked ? kStateChecked : kStateUnchecked) |
         (focused ? kStateFocused : kStateUnfocused);
}

bool ItemHasStates(int row_flags, int mask) {
  if (mask == 0) return false;
  if (mask & kStateAny) return true;
  return (row_flags & mask) == mask;
}

CellRange ResolveColorTarget(int row, int column, int row_count, int column_count) {
  CellRange r;
  if (row_count <= 0 || column_count <= 0) return r;  // empty
  const bool row_ok = row >= 0 && row < row_count;
  const bool col_ok = column >= 0 && column < column_count;
  r.first_row = row_ok ? row : 0;
  r.last_row = row_ok ? row : row_count - 1;
  r.first_column = col_ok ? column : 0;
  r.last_column = col_ok ? column : column_count - 1;
  return r;
}

}  // namespace kelvara::controls
