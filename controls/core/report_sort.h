#pragma once
// Typed comparison and sorting of report-list cell texts.
//
// A cell text is read, per pair, as the first of these that both texts pass:
// hexadecimal integer, decimal number (optionally ending in '%'), date and
// time, dotted IPv4 address, plain text. So one routine sorts ports, counts,
// dates, addresses and names without the owner declaring column types.
//
// That rule is not transitive on mixed columns ("10" < "12.5" < "F" < "10"),
// so the sort here is a merge sort over indices: stable, and it never leaves
// its bounds whatever the comparator answers. Each text is parsed once per
// sort into a CellSortKey; comparisons then read only the keys.
//
// Texts are UTF-16, the code units of the GUI's strings, compared by code
// unit in the text case.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvara::controls {

// What one cell text passes of the five readings. Views point into the text
// the key was made from, which must outlive the key.
struct CellSortKey {
  std::u16string_view text;

  // Whole text is an integer in base 16 (optional white space, sign, "0x").
  // Digits of any length are compared by value: significant digits without
  // leading zeros, and the sign.
  bool is_hex = false;
  bool hex_negative = false;
  std::u16string_view hex_digits;
  std::uint64_t hex_value = 0;  // the magnitude, when it has at most 16 digits

  // Whole text is a decimal number, or one followed by a final '%'.
  bool is_number = false;
  double number = 0.0;

  // Date "YYYY-MM-DD" or "YYYY/MM/DD" with an optional time "H:MM[:SS]", or
  // a time alone; seconds since 1899-12-30 (the day a time alone falls on).
  bool is_date = false;
  std::int64_t date_seconds = 0;

  // Starts with "%u.%u.%u.%u"; each part taken modulo 256.
  bool is_ipv4 = false;
  std::uint32_t ipv4 = 0;
};

CellSortKey MakeCellSortKey(std::u16string_view text);

// -1, 0 or 1 by the first reading that both keys pass.
int CompareSortKeys(const CellSortKey& a, const CellSortKey& b);

// Convenience for one pair of texts.
int CompareCellTexts(std::u16string_view a, std::u16string_view b);

// Stable order of the indices 0..count-1 under a three-way comparator
// (negative: first argument sorts before the second). Descending reverses the
// comparator, not the result, so equal items keep their order either way.
// Any comparator answer is safe: loops are bounded by the indices alone.
std::vector<std::size_t> StableSortOrder(
    std::size_t count, const std::function<int(std::size_t, std::size_t)>& compare,
    bool ascending);

// New order of a list sorted by one column. texts[i] is row i's text in the
// sort column. Rows whose text equals the separator keep their positions and
// split the list into blocks sorted one by one. Result: result[new_row] =
// old_row, a permutation of 0..texts.size()-1.
std::vector<std::size_t> SortColumnOrder(const std::vector<std::u16string_view>& texts,
                                         bool ascending,
                                         const std::optional<std::u16string>& separator);

// Whether a text sits in order between its neighbours of a sorted block
// (none at a block's end), so a changed or inserted text leaves the list
// sorted.
bool InSortedPlace(std::optional<std::u16string_view> before, std::u16string_view text,
                   std::optional<std::u16string_view> after, bool ascending);

}  // namespace kelvara::controls
