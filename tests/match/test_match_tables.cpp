// Integer angle, square-root, reciprocal and tolerance tables against their formulas.
#include <gtest/gtest.h>

#include <cmath>

#include "match/angles.h"
#include "match/pair_tables.h"
#include "match/sqrt_tables.h"

namespace fx60::match {
namespace {

TEST(AngleTables, SineMatchesTheLibraryToTheUnit) {
  for (int i = 0; i < 256; ++i)
    EXPECT_EQ(SineTable[i], std::lround(16384.0 * std::sin(2.0 * M_PI * i / 256.0))) << i;
  EXPECT_EQ(cosineOfByte(0), 16384);
  EXPECT_EQ(sineOfByte(192), -16384);
}

TEST(AngleTables, ArctanTableMatchesAtan2) {
  for (int a = 0; a < 64; ++a)
    for (int b = 0; b < 64; ++b) {
      if (a == 0 && b == 0) continue;
      EXPECT_EQ(ArctanTable[a][b], std::lround(std::atan2(a, b) * 128.0 / M_PI)) << a << "," << b;
    }
  EXPECT_EQ(ArctanTable[0][0], 64);
}

TEST(AngleTables, DegreesMapToBytesPointingTheSameWay) {
  EXPECT_EQ(DegreeToByteAngle[0], 128);     // +x
  EXPECT_EQ(DegreeToByteAngle[90], 192);    // up the screen, -y
  EXPECT_EQ(DegreeToByteAngle[180], 0);     // -x
  EXPECT_EQ(DegreeToByteAngle[270], 64);    // +y
  EXPECT_EQ(DegreeToByteAngle[359], 127);
  for (int r = 360; r < 512; ++r) EXPECT_EQ(DegreeToByteAngle[r], 0) << r;
}

TEST(AngleTables, ByteAngleOfFollowsTheImageConvention) {
  EXPECT_EQ(byteAngleOf(-10, 0), 0);
  EXPECT_EQ(byteAngleOf(0, 10), 64);
  EXPECT_EQ(byteAngleOf(10, 0), 128);
  EXPECT_EQ(byteAngleOf(0, -10), 192);
  EXPECT_EQ(byteAngleOf(10, 10), 96);
  EXPECT_EQ(byteAngleOf(-10, -10), 224);
  // Long vectors are halved before the lookup and keep their direction.
  EXPECT_EQ(byteAngleOf(300, 300), 96);
  EXPECT_EQ(byteAngleOf(-255, 1), byteAngleOf(-127, 0));
  for (int deg = 0; deg < 360; deg += 7) {
    const double rad = deg * M_PI / 180.0;
    const int dx = static_cast<int>(std::lround(50 * std::cos(rad)));
    const int dy = static_cast<int>(std::lround(-50 * std::sin(rad)));
    EXPECT_LE(std::abs(signedByte(byteAngleOf(dx, dy) - DegreeToByteAngle[deg])), 1) << deg;
  }
}

TEST(SqrtTables, CeilingRootAndReciprocal) {
  for (uint32_t k = 0; k < 1226; ++k) {
    const int r = CeilSqrtTable[k];
    EXPECT_GE(r * r, static_cast<int>(k));
    if (r > 0) {
      EXPECT_LT((r - 1) * (r - 1), static_cast<int>(k));
    }
  }
  EXPECT_EQ(ceilSqrt(1225), 35);
  EXPECT_EQ(ceilSqrt(1226), 2 * CeilSqrtTable[306]);
  EXPECT_EQ(ceilSqrtExact(1226), 36);
  EXPECT_EQ(ceilSqrtExact(143641), 379);
  EXPECT_EQ(ReciprocalTable[1], (1048576u + 1) * 16);
  EXPECT_EQ(ReciprocalTable[255], (1048576u / 255 + 1) * 16);
  EXPECT_EQ(ReciprocalTable[256], 65537u);
  EXPECT_EQ(ReciprocalTable[2048], 8193u);
}

TEST(ToleranceTable, ShortAndLongPairs) {
  EXPECT_EQ(DistanceToleranceTable[0].lo, DistanceToleranceTable[2].lo);
  EXPECT_EQ(DistanceToleranceTable[1].hi, DistanceToleranceTable[2].hi);
  EXPECT_EQ(DistanceToleranceTable[2].lo, 2);  // min(3, 2)
  EXPECT_EQ(DistanceToleranceTable[6].hi, 36);
  EXPECT_EQ(DistanceToleranceTable[7].hi, (35 * 7 + 202) * (35 * 7 + 202) / 1156 - 49);
  EXPECT_EQ(DistanceToleranceTable[12].lo, std::min(3 * 144 / 4, 144 - 24 + 2));
  EXPECT_EQ(DistanceToleranceTable[13].lo, 169 - (34 * 13 - 202) * (34 * 13 - 202) / 1225);
  // Long pairs accept lengths of about (34k - 202)/35 to (35k + 202)/34.
  const int k = 300;
  const double lowLength = std::sqrt(k * k - DistanceToleranceTable[k].lo);
  const double highLength = std::sqrt(k * k + DistanceToleranceTable[k].hi);
  EXPECT_NEAR(lowLength, (34.0 * k - 202) / 35, 0.05);
  EXPECT_NEAR(highLength, (35.0 * k + 202) / 34, 0.05);
}

}  // namespace
}  // namespace fx60::match
