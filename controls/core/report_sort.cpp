#include "controls/core/report_sort.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace kelvara::controls {
namespace {

// The C library's white space in the "C" locale.
bool IsSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

int HexDigitValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

template <typename T>
int Sign(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

std::size_t SkipSpace(std::u16string_view s, std::size_t i) {
  while (i < s.size() && IsSpace(s[i])) ++i;
  return i;
}

// Base-16 integer filling the whole text, as the C library's unsigned
// conversion reads it (white space, sign, optional 0x), but of any length.
void ReadHex(std::u16string_view s, CellSortKey& key) {
  std::size_t i = SkipSpace(s, 0);
  bool negative = false;
  if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) {
    negative = s[i] == u'-';
    ++i;
  }
  // "0x" counts as a prefix only when a hex digit follows; otherwise the
  // conversion stops after the 0 and the text is not whole.
  if (i + 2 < s.size() && s[i] == u'0' && (s[i + 1] == u'x' || s[i + 1] == u'X') &&
      HexDigitValue(s[i + 2]) >= 0) {
    i += 2;
  }
  const std::size_t start = i;
  while (i < s.size() && HexDigitValue(s[i]) >= 0) ++i;
  if (i == start || i != s.size()) return;
  std::size_t first = start;
  while (first + 1 < i && s[first] == u'0') ++first;
  key.is_hex = true;
  key.hex_digits = s.substr(first, i - first);
  key.hex_negative = negative && !(key.hex_digits.size() == 1 && key.hex_digits[0] == u'0');
  if (key.hex_digits.size() <= 16) {
    for (char16_t c : key.hex_digits) key.hex_value = key.hex_value << 4 | static_cast<unsigned>(HexDigitValue(c));
  }
}

// Decimal number filling the text, or followed by one final '%'. Only the
// plain decimal forms: "inf", "nan" and hexadecimal floats are not numbers
// here (a NaN would compare equal to everything).
void ReadNumber(std::u16string_view s, CellSortKey& key) {
  std::size_t i = SkipSpace(s, 0);
  std::string ascii;
  if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) {
    if (s[i] == u'-') ascii.push_back('-');
    ++i;
  }
  std::size_t int_digits = 0, frac_digits = 0;
  while (i < s.size() && IsDigit(s[i])) {
    ascii.push_back(static_cast<char>(s[i++]));
    ++int_digits;
  }
  if (i < s.size() && s[i] == u'.') {
    ascii.push_back('.');
    ++i;
    while (i < s.size() && IsDigit(s[i])) {
      ascii.push_back(static_cast<char>(s[i++]));
      ++frac_digits;
    }
  }
  if (int_digits + frac_digits == 0) return;
  bool exponent_negative = false;
  if (i < s.size() && (s[i] == u'e' || s[i] == u'E')) {
    std::size_t j = i + 1;
    std::string exp = "e";
    if (j < s.size() && (s[j] == u'+' || s[j] == u'-')) {
      exponent_negative = s[j] == u'-';
      if (exponent_negative) exp.push_back('-');
      ++j;
    }
    const std::size_t exp_start = j;
    while (j < s.size() && IsDigit(s[j])) exp.push_back(static_cast<char>(s[j++]));
    if (j > exp_start) {  // an incomplete exponent is not part of the number
      ascii += exp;
      i = j;
    }
  }
  const bool whole = i == s.size() || (i + 1 == s.size() && s[i] == u'%');
  if (!whole) return;
  double value = 0.0;
  const auto [end, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
  (void)end;
  if (ec == std::errc::result_out_of_range) {
    const bool minus = !ascii.empty() && ascii[0] == '-';
    value = exponent_negative ? 0.0 : std::numeric_limits<double>::infinity();
    if (minus) value = -value;
  } else if (ec != std::errc()) {
    return;
  }
  key.is_number = true;
  key.number = value;
}

// Reads 1..max_digits decimal digits.
bool ReadInt(std::u16string_view s, std::size_t& i, int max_digits, int& out) {
  int n = 0, v = 0;
  while (i < s.size() && IsDigit(s[i]) && n < max_digits) {
    v = v * 10 + (s[i++] - u'0');
    ++n;
  }
  if (n == 0 || (i < s.size() && IsDigit(s[i]))) return false;
  out = v;
  return true;
}

// Days from 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool ValidDate(int y, int m, int d) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 100 || m < 1 || m > 12 || d < 1) return false;
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return d <= kDays[m - 1] + (m == 2 && leap ? 1 : 0);
}

bool ReadTime(std::u16string_view s, std::size_t& i, std::int64_t& seconds) {
  int h = 0, m = 0, sec = 0;
  if (!ReadInt(s, i, 2, h) || i >= s.size() || s[i] != u':') return false;
  ++i;
  if (!ReadInt(s, i, 2, m)) return false;
  if (i < s.size() && s[i] == u':') {
    ++i;
    if (!ReadInt(s, i, 2, sec)) return false;
  }
  if (h > 23 || m > 59 || sec > 59) return false;
  seconds = h * 3600 + m * 60 + sec;
  return true;
}

void ReadDate(std::u16string_view s, CellSortKey& key) {
  std::size_t end = s.size();
  while (end > 0 && IsSpace(s[end - 1])) --end;
  s = s.substr(0, end);
  std::size_t i = SkipSpace(s, 0);
  static const std::int64_t kDay0 = DaysFromCivil(1899, 12, 30);
  std::int64_t time = 0;
  {
    std::size_t j = i;
    if (ReadTime(s, j, time) && j == s.size()) {
      key.is_date = true;
      key.date_seconds = time;
      return;
    }
  }
  int y = 0, mo = 0, d = 0;
  if (!ReadInt(s, i, 4, y) || i >= s.size() || (s[i] != u'-' && s[i] != u'/')) return;
  const char16_t sep = s[i++];
  if (!ReadInt(s, i, 2, mo) || i >= s.size() || s[i] != sep) return;
  ++i;
  if (!ReadInt(s, i, 2, d) || !ValidDate(y, mo, d)) return;
  if (i < s.size()) {
    if (s[i] != u' ' && s[i] != u'T') return;
    i = SkipSpace(s, i + (s[i] == u'T' ? 1 : 0));
    if (!ReadTime(s, i, time) || i != s.size()) return;
  }
  key.is_date = true;
  key.date_seconds = (DaysFromCivil(y, mo, d) - kDay0) * 86400 + time;
}

// "%u.%u.%u.%u" as scanf reads it: white space and a sign before each
// number, literal dots between, anything after the fourth number ignored.
void ReadIpv4(std::u16string_view s, CellSortKey& key) {
  std::size_t i = 0;
  std::uint32_t value = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (i >= s.size() || s[i] != u'.') return;
      ++i;
    }
    i = SkipSpace(s, i);
    bool negative = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) {
      negative = s[i] == u'-';
      ++i;
    }
    const std::size_t start = i;
    unsigned byte = 0;  // the number modulo 256
    while (i < s.size() && IsDigit(s[i])) byte = (byte * 10 + (s[i++] - u'0')) & 0xFF;
    if (i == start) return;
    if (negative) byte = (256 - byte) & 0xFF;
    value = (value << 8) | byte;
  }
  key.is_ipv4 = true;
  key.ipv4 = value;
}

int CompareHex(const CellSortKey& a, const CellSortKey& b) {
  if (a.hex_negative != b.hex_negative) return a.hex_negative ? -1 : 1;
  int magnitude = Sign(a.hex_digits.size(), b.hex_digits.size());
  if (magnitude == 0 && a.hex_digits.size() <= 16) magnitude = Sign(a.hex_value, b.hex_value);
  for (std::size_t i = 0; magnitude == 0 && i < a.hex_digits.size(); ++i) {
    magnitude = Sign(HexDigitValue(a.hex_digits[i]), HexDigitValue(b.hex_digits[i]));
  }
  return a.hex_negative ? -magnitude : magnitude;
}

}  // namespace

CellSortKey MakeCellSortKey(std::u16string_view text) {
  CellSortKey key;
  key.text = text;
  if (text.empty()) return key;
  ReadHex(text, key);
  ReadNumber(text, key);
  ReadDate(text, key);
  ReadIpv4(text, key);
  return key;
}

int CompareSortKeys(const CellSortKey& a, const CellSortKey& b) {
  if (a.is_hex && b.is_hex) return CompareHex(a, b);
  if (a.is_number && b.is_number) return Sign(a.number, b.number);
  if (a.is_date && b.is_date) return Sign(a.date_seconds, b.date_seconds);
  if (a.is_ipv4 && b.is_ipv4) return Sign(a.ipv4, b.ipv4);
  const int c = a.text.compare(b.text);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int CompareCellTexts(std::u16string_view a, std::u16string_view b) {
  return CompareSortKeys(MakeCellSortKey(a), MakeCellSortKey(b));
}

std::vector<std::size_t> StableSortOrder(
    std::size_t count, const std::function<int(std::size_t, std::size_t)>& compare,
    bool ascending) {
  std::vector<std::size_t> order(count), buffer(count);
  for (std::size_t i = 0; i < count; ++i) order[i] = i;
  // True when item r must go before item l (strictly), so ties keep order.
  auto before = [&](std::size_t r, std::size_t l) {
    const int c = compare(r, l);
    return ascending ? c < 0 : c > 0;
  };
  // Bottom-up merge sort: runs of width 1, 2, 4, ... merged pairwise.
  for (std::size_t width = 1; width < count; width *= 2) {
    for (std::size_t lo = 0; lo < count; lo += 2 * width) {
      const std::size_t mid = std::min(lo + width, count);
      const std::size_t hi = std::min(lo + 2 * width, count);
      std::size_t l = lo, r = mid, out = lo;
      while (l < mid && r < hi) buffer[out++] = before(order[r], order[l]) ? order[r++] : order[l++];
      while (l < mid) buffer[out++] = order[l++];
      while (r < hi) buffer[out++] = order[r++];
    }
    order.swap(buffer);
  }
  return order;
}

std::vector<std::size_t> SortColumnOrder(const std::vector<std::u16string_view>& texts,
                                         bool ascending,
                                         const std::optional<std::u16string>& separator) {
  const std::size_t n = texts.size();
  std::vector<std::size_t> result(n);
  for (std::size_t i = 0; i < n; ++i) result[i] = i;
  std::vector<CellSortKey> keys;
  keys.reserve(n);
  for (const auto& t : texts) keys.push_back(MakeCellSortKey(t));

  std::size_t block_start = 0;
  for (std::size_t i = 0; i <= n; ++i) {
    const bool boundary = i == n || (separator && texts[i] == *separator);
    if (!boundary) continue;
    const std::size_t len = i - block_start;
    if (len > 1) {
      const auto order = StableSortOrder(
          len,
          [&](std::size_t a, std::size_t b) {
            return CompareSortKeys(keys[block_start + a], keys[block_start + b]);
          },
          ascending);
      for (std::size_t k = 0; k < len; ++k) result[block_start + k] = block_start + order[k];
    }
    block_start = i + 1;
  }
  return result;
}

bool InSortedPlace(std::optional<std::u16string_view> before, std::u16string_view text,
                   std::optional<std::u16string_view> after, bool ascending) {
  const CellSortKey key = MakeCellSortKey(text);
  const int dir = ascending ? 1 : -1;
  if (before && dir * CompareSortKeys(MakeCellSortKey(*before), key) > 0) return false;
  if (after && dir * CompareSortKeys(key, MakeCellSortKey(*after)) > 0) return false;
  return true;
}

}  // namespace kelvara::controls
