#pragma once
// Constant tables of the QR code symbology (ISO/IEC 18004): block structure
// and capacities per version and level, alignment pattern positions, the
// GF(256) arithmetic and the Reed-Solomon generator polynomials. Everything
// is computed at compile time from the standard's compact per-version lists.
#include <array>
#include <cstdint>

namespace kelvara::qr {

struct BlockGroup {
  int count = 0;       // number of blocks
  int total = 0;       // codewords per block
  int data = 0;        // data codewords per block
};

struct VersionInfo {
  int version = 0;
  int totalCodewords = 0;
  int dataCodewords[4] = {};  // by level index L, M, Q, H
  int alignCount = 0;         // coordinates other than 6
  int align[6] = {};
  BlockGroup groups[4][2] = {};  // by level, two groups (second may be empty)
};

// Error-correction codewords per block, by level (L, M, Q, H) and version.
inline constexpr std::uint8_t kEccPerBlock[4][41] = {
    {0, 7, 10, 15, 20, 26, 18, 20, 24, 30, 18, 20, 24, 26, 30, 22, 24, 28, 30, 28, 28,
     28, 28, 30, 30, 26, 28, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30},
    {0, 10, 16, 26, 18, 24, 16, 18, 22, 22, 26, 30, 22, 22, 24, 24, 28, 28, 26, 26, 26,
     26, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28},
    {0, 13, 22, 18, 26, 18, 24, 18, 22, 20, 24, 28, 26, 24, 20, 30, 24, 28, 28, 26, 30,
     28, 30, 30, 30, 30, 28, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30},
    {0, 17, 28, 22, 16, 22, 28, 26, 26, 24, 28, 24, 28, 22, 24, 24, 30, 28, 28, 26, 28,
     30, 24, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30},
};

// Number of error-correction blocks, by level and version.
inline constexpr std::uint8_t kBlockCount[4][41] = {
    {0, 1, 1, 1, 1, 1, 2, 2, 2, 2, 4, 4, 4, 4, 4, 6, 6, 6, 6, 7, 8,
     8, 9, 9, 10, 12, 12, 12, 13, 14, 15, 16, 17, 18, 19, 19, 20, 21, 22, 24, 25},
    {0, 1, 1, 1, 2, 2, 4, 4, 4, 5, 5, 5, 8, 9, 9, 10, 10, 11, 13, 14, 16,
     17, 17, 18, 20, 21, 23, 25, 26, 28, 29, 31, 33, 35, 37, 38, 40, 43, 45, 47, 49},
    {0, 1, 1, 2, 2, 4, 4, 6, 6, 8, 8, 8, 10, 12, 16, 12, 17, 16, 18, 21, 20,
     23, 23, 25, 27, 29, 34, 34, 35, 38, 40, 43, 45, 48, 51, 53, 56, 59, 62, 65, 68},
    {0, 1, 1, 2, 4, 4, 4, 5, 6, 8, 8, 11, 11, 16, 16, 18, 16, 19, 21, 25, 25,
     25, 34, 30, 32, 35, 37, 40, 42, 45, 48, 51, 54, 57, 60, 63, 66, 70, 74, 77, 81},
};

constexpr int SymbolSizeOf(int version) { return 4 * version + 17; }

// Codewords a version holds: modules left after all function patterns, / 8.
constexpr int TotalCodewordsOf(int version) {
  int modules = (16 * version + 128) * version + 64;
  if (version >= 2) {
    int n = version / 7 + 2;
    modules -= (25 * n - 10) * n - 55;
    if (version >= 7) modules -= 36;
  }
  return modules / 8;
}

constexpr VersionInfo MakeVersionInfo(int version) {
  VersionInfo v;
  v.version = version;
  v.totalCodewords = TotalCodewordsOf(version);
  for (int level = 0; level < 4; ++level) {
    int blocks = kBlockCount[level][version];
    int ecc = kEccPerBlock[level][version];
    int longBlocks = v.totalCodewords % blocks;
    int shortTotal = v.totalCodewords / blocks;
    v.groups[level][0] = {blocks - longBlocks, shortTotal, shortTotal - ecc};
    if (longBlocks > 0) v.groups[level][1] = {longBlocks, shortTotal + 1, shortTotal + 1 - ecc};
    v.dataCodewords[level] = v.totalCodewords - blocks * ecc;
  }
  if (version >= 2) {
    int n = version / 7 + 2;  // coordinates including 6
    int step = version == 32 ? 26 : (version * 4 + n * 2 + 1) / (n * 2 - 2) * 2;
    v.alignCount = n - 1;
    for (int i = 0; i < n - 1; ++i) v.align[n - 2 - i] = SymbolSizeOf(version) - 7 - i * step;
  }
  return v;
}

constexpr std::array<VersionInfo, 41> MakeVersionTable() {
  std::array<VersionInfo, 41> t{};
  for (int v = 1; v <= 40; ++v) t[v] = MakeVersionInfo(v);
  return t;
}

inline constexpr std::array<VersionInfo, 41> kVersions = MakeVersionTable();

// GF(256) with the primitive polynomial x^8 + x^4 + x^3 + x^2 + 1 (0x11D).
struct GaloisTables {
  std::uint8_t exp[256] = {};  // exp[i] = alpha^i (exp[255] = exp[0])
  std::uint8_t log[256] = {};  // log[0] unused
};

constexpr GaloisTables MakeGaloisTables() {
  GaloisTables g;
  int x = 1;
  for (int i = 0; i < 255; ++i) {
    g.exp[i] = std::uint8_t(x);
    g.log[x] = std::uint8_t(i);
    x <<= 1;
    if (x & 0x100) x ^= 0x11D;
  }
  g.exp[255] = g.exp[0];
  return g;
}

inline constexpr GaloisTables kGalois = MakeGaloisTables();

// Generator polynomial prod(x - alpha^i, i = 0..n-1), stored as the exponents
// of its n coefficients after the leading 1 (highest degree first).
struct Generator {
  int degree = 0;
  std::uint8_t exponents[30] = {};
};

constexpr Generator MakeGenerator(int degree) {
  // Coefficients as field elements, highest degree first; c[0] = 1.
  std::uint8_t c[31] = {1};
  int len = 1;
  for (int i = 0; i < degree; ++i) {
    // Multiply by (x + alpha^i).
    std::uint8_t next[31] = {};
    for (int j = 0; j < len; ++j) {
      next[j] ^= c[j];
      if (c[j] != 0) next[j + 1] ^= kGalois.exp[(kGalois.log[c[j]] + i) % 255];
    }
    ++len;
    for (int j = 0; j < len; ++j) c[j] = next[j];
  }
  Generator g;
  g.degree = degree;
  for (int j = 0; j < degree; ++j) g.exponents[j] = kGalois.log[c[j + 1]];
  return g;
}

constexpr std::array<Generator, 31> MakeGenerators() {
  std::array<Generator, 31> t{};
  for (int d = 1; d <= 30; ++d) t[d] = MakeGenerator(d);
  return t;
}

// Indexed by the number of error-correction codewords (7..30 used).
inline constexpr std::array<Generator, 31> kGenerators = MakeGenerators();

// Character-count indicator lengths by mode (numeric, alphanumeric, byte,
// Kanji) and version group (1-9, 10-26, 27-40).
inline constexpr std::uint8_t kCountBits[4][3] = {
    {10, 12, 14}, {9, 11, 13}, {8, 16, 16}, {8, 10, 12}};

constexpr int VersionGroupOf(int version) { return version <= 9 ? 0 : version <= 26 ? 1 : 2; }
inline constexpr int kGroupFirst[3] = {1, 10, 27};
inline constexpr int kGroupLast[3] = {9, 26, 40};

}  // namespace kelvara::qr
