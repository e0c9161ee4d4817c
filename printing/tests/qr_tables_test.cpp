// The derived symbology tables against values printed in the standard.
#include <gtest/gtest.h>

#include "printing/core/qr_tables.h"

using namespace kelvara::qr;

TEST(QrTables, CapacitiesMatchTheStandard) {
  struct Case { int version, total, l, m, q, h; };
  const Case cases[] = {
      {1, 26, 19, 16, 13, 9},         {2, 44, 34, 28, 22, 16},
      {7, 196, 156, 124, 88, 66},     {10, 346, 274, 216, 154, 122},
      {14, 581, 461, 365, 261, 197},  {26, 1706, 1370, 1062, 754, 596},
      {27, 1828, 1468, 1128, 808, 628}, {40, 3706, 2956, 2334, 1666, 1276},
  };
  for (const auto& c : cases) {
    const auto& v = kVersions[c.version];
    EXPECT_EQ(v.totalCodewords, c.total) << c.version;
    EXPECT_EQ(v.dataCodewords[0], c.l) << c.version;
    EXPECT_EQ(v.dataCodewords[1], c.m) << c.version;
    EXPECT_EQ(v.dataCodewords[2], c.q) << c.version;
    EXPECT_EQ(v.dataCodewords[3], c.h) << c.version;
  }
  // 5-Q: two blocks of 15 data codewords and two of 16, 18 ECC each.
  const auto& g = kVersions[5].groups[2];
  EXPECT_EQ(g[0].count, 2);
  EXPECT_EQ(g[0].total, 33);
  EXPECT_EQ(g[0].data, 15);
  EXPECT_EQ(g[1].count, 2);
  EXPECT_EQ(g[1].total, 34);
  EXPECT_EQ(g[1].data, 16);
}

TEST(QrTables, EveryBlockFitsTheWorkArea) {
  for (int v = 1; v <= 40; ++v) {
    for (int level = 0; level < 4; ++level) {
      const auto* g = kVersions[v].groups[level];
      int sum = 0;
      for (int i = 0; i < 2; ++i) {
        sum += g[i].count * g[i].total;
        EXPECT_LE(g[i].total, 153);
      }
      EXPECT_EQ(sum, kVersions[v].totalCodewords) << v << "/" << level;
    }
  }
}

TEST(QrTables, AlignmentPositions) {
  EXPECT_EQ(kVersions[1].alignCount, 0);
  EXPECT_EQ(kVersions[2].alignCount, 1);
  EXPECT_EQ(kVersions[2].align[0], 18);
  const int v7[] = {22, 38};
  const int v32[] = {34, 60, 86, 112, 138};
  const int v40[] = {30, 58, 86, 114, 142, 170};
  ASSERT_EQ(kVersions[7].alignCount, 2);
  ASSERT_EQ(kVersions[32].alignCount, 5);
  ASSERT_EQ(kVersions[40].alignCount, 6);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(kVersions[7].align[i], v7[i]);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(kVersions[32].align[i], v32[i]);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(kVersions[40].align[i], v40[i]);
}

TEST(QrTables, GeneratorPolynomials) {
  const int g7[] = {87, 229, 146, 149, 238, 102, 21};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(kGenerators[7].exponents[i], g7[i]);
  const int g10[] = {251, 67, 46, 61, 118, 70, 64, 94, 32, 45};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(kGenerators[10].exponents[i], g10[i]);
  EXPECT_EQ(kGalois.exp[8], 0x1D);
  EXPECT_EQ(kGalois.log[0x1D], 8);
}
