// Cell texts come from devices (names, titles, versions): sorting any of them
// must stay in bounds and give a permutation.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "controls/core/report_sort.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // UTF-16 code units, rows separated by a newline, the first byte picks the
  // direction.
  if (size < 1) return 0;
  const bool ascending = data[0] & 1;
  std::vector<std::u16string> rows(1);
  for (std::size_t i = 1; i + 1 < size; i += 2) {
    const char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (c == u'\n') {
      rows.emplace_back();
    } else {
      rows.back().push_back(c);
    }
  }
  const std::vector<std::u16string_view> views(rows.begin(), rows.end());
  const auto order = kelvara::controls::SortColumnOrder(views, ascending, std::u16string(u"--"));
  std::vector<bool> seen(rows.size());
  for (std::size_t i : order) {
    if (i >= rows.size() || seen[i]) std::abort();
    seen[i] = true;
  }
  for (std::size_t i = 1; i < views.size(); ++i) {
    const int ab = kelvara::controls::CompareCellTexts(views[i - 1], views[i]);
    const int ba = kelvara::controls::CompareCellTexts(views[i], views[i - 1]);
    if (ab != -ba) std::abort();  // antisymmetric for every pair
  }
  return 0;
}
