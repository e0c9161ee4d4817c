// Mask penalty scores of small hand-made matrices, worked out by hand.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "printing/core/qr_encode.h"

namespace {

using Matrix = std::uint8_t[CQR_Encode::kMaxSymbolSize][CQR_Encode::kMaxSymbolSize];

// rows[y][x] == '#' is dark. Stored column-first like the encoder.
int Score(const std::vector<std::string>& rows) {
  static Matrix m;
  std::memset(m, 0, sizeof(m));
  const int size = int(rows.size());
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) m[x][y] = rows[y][x] == '#' ? 1 : 0;
  return CQR_Encode::CountPenalty(m, size);
}

std::vector<std::string> Light(int size) { return std::vector<std::string>(size, std::string(size, '.')); }

TEST(QrPenalty, AllLight) {
  // Runs: 10 lines of 5 -> 10 x 3; squares 16 x 3; balance |50 - 100| / 5 x 10.
  EXPECT_EQ(Score(Light(5)), 30 + 48 + 100);
}

TEST(QrPenalty, Checkerboard) {
  std::vector<std::string> rows = Light(5);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) rows[y][x] = (x + y) % 2 == 0 ? '#' : '.';
  EXPECT_EQ(Score(rows), 0);  // 12 light of 25 = 48 %: |50 - 48| / 5 = 0
}

TEST(QrPenalty, DarkAndLightModulesDoNotMix) {
  // The encoder's intermediate values: function dark 0x30, data after mask 0x01
  // count as dark; a data bit before masking (0x02) and light function (0x20) do not.
  static Matrix m;
  std::memset(m, 0, sizeof(m));
  for (int x = 0; x < 5; ++x)
    for (int y = 0; y < 5; ++y) m[x][y] = (x + y) % 2 == 0 ? ((x % 2) ? 0x30 : 0x01) : ((x % 2) ? 0x20 : 0x02);
  EXPECT_EQ(CQR_Encode::CountPenalty(m, 5), 0);
}

TEST(QrPenalty, FinderLikePatternAtTheEdge) {
  // Row 0 = #.###.# in a light 7 x 7 symbol.
  auto rows = Light(7);
  rows[0] = "#.###.#";
  // Runs: rows 1-6 light (6 x 5); columns: five with one dark on top (run 6 -> 4)
  // and two light (run 7 -> 5). Squares: 30 in rows 1-6. Pattern: 40 (edge on
  // both sides counts as light). Balance: 44 light of 49 = 89 % -> 39 / 5 x 10.
  EXPECT_EQ(Score(rows), 30 + 30 + 90 + 40 + 70);
}

TEST(QrPenalty, FinderLikePatternNeedsLightOnOneSide) {
  // Dark modules 2 to 4 places before and after the pattern: no 40.
  auto withBoth = Light(15);
  withBoth[0] = "..#.#.###.#.#..";
  // Rows 1-14: 14 x 13; columns: 7 dark tops x 12 + 8 light x 13;
  // squares: 182 + 2 in row 0; balance: 218 light of 225 = 96 % -> 90.
  EXPECT_EQ(Score(withBoth), 182 + 188 + 184 * 3 + 0 + 90);
  // Dark only before: the pattern counts.
  auto beforeOnly = Light(15);
  beforeOnly[0] = "..#.#.###.#....";
  EXPECT_EQ(Score(beforeOnly), 182 + 189 + 186 * 3 + 40 + 90);
}

TEST(QrPenalty, PatternAcrossSixtyFourModules) {
  // 70 x 70, light but for #.###.# at x = 60..66 of row 0.
  auto rows = Light(70);
  rows[0].replace(60, 7, "#.###.#");
  const int rowRuns = 69 * 68 + 58;         // rows 1-69, and 60 light in row 0
  const int columnRuns = 5 * 67 + 65 * 68;  // 5 columns with a dark top
  const int squares = 68 * 69 + 61;         // rows 1-69, and 61 light pairs in row 0
  const int balance = 90;                   // 4895 light of 4900 = 99 %
  EXPECT_EQ(Score(rows), rowRuns + columnRuns + 3 * squares + 40 + balance);
}

TEST(QrPenalty, RunsInColumnsAndRows) {
  // A 6 x 6 checkerboard with one dark column 0: one run of 6 (4), no squares
  // (column 0 dark next to alternating column 1 never forms a 2 x 2 square).
  std::vector<std::string> rows = Light(6);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x) rows[y][x] = (x == 0 || (x + y) % 2 == 0) ? '#' : '.';
  // 15 light of 36 = 41 % -> |50 - 41| / 5 = 1 -> 10.
  EXPECT_EQ(Score(rows), 4 + 10);
}

}  // namespace
