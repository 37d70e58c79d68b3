#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "extract/ridge_geometry.h"

namespace fx60::extract {
namespace {

TEST(Angle, AxesDiagonalsAndZeroVector) {
  EXPECT_EQ(angle240(1, 0), 0);
  EXPECT_EQ(angle240(0, 1), 60);
  EXPECT_EQ(angle240(-1, 0), 120);
  EXPECT_EQ(angle240(0, -1), 180);
  EXPECT_EQ(angle240(1, -1), 210);
  EXPECT_EQ(angle240(1, 1), 30);
  EXPECT_EQ(angle240(-1, 1), 90);
  EXPECT_EQ(angle240(-1, -1), 150);
  EXPECT_EQ(angle240(0, 0), 180);

  EXPECT_EQ(angle256(1, 0), 0);
  EXPECT_EQ(angle256(0, 1), 64);
  EXPECT_EQ(angle256(-1, 0), 128);
  EXPECT_EQ(angle256(0, -1), 192);
  EXPECT_EQ(angle256(0, 0), 192);
}

TEST(Angle, NearlyHorizontalDownwardVectorWrapsToZero) {
  // The scaled dy rounds to 0, so 240 - 0 must fold back to 0.
  EXPECT_EQ(angle240(300, -1), 0);
  EXPECT_EQ(angle256(300, -1), 0);
}

TEST(Angle, LongVectorsAreScaledIntoTheTable) {
  EXPECT_EQ(angle240(200, 200), 30);
  EXPECT_EQ(angle240(-1000, 0), 120);
  EXPECT_EQ(angle256(0, 500), 64);
}

TEST(Angle, TablesMatchTheArctangentRoundedHalfUp) {
  for (int a = 0; a < 128; ++a) {
    for (int b = 0; b < 128; ++b) {
      if (a == 0 && b == 0) continue;
      const double turns = std::atan2(b, a) / std::numbers::pi;
      ASSERT_EQ(atan240Table()[a][b], static_cast<int>(std::floor(turns * 120 + 0.5))) << a << "," << b;
      ASSERT_EQ(atan256Table()[a][b], static_cast<int>(std::floor(turns * 128 + 0.5))) << a << "," << b;
    }
  }
  EXPECT_EQ(atan240Table()[0][0], 60);
  EXPECT_EQ(atan256Table()[0][0], 64);
}

TEST(Angle, EveryQuadrantAgreesWithTheArctangent) {
  for (int dy = -20; dy <= 20; ++dy) {
    for (int dx = -20; dx <= 20; ++dx) {
      if (dx == 0 && dy == 0) continue;
      double expected = std::atan2(dy, dx) * 120 / std::numbers::pi;
      if (expected < 0) expected += 240;
      const int got = angle240(dx, dy);
      const double diff = std::fabs(got - expected);
      EXPECT_LE(std::min(diff, 240 - diff), 0.5 + 1e-9) << dx << "," << dy;
      EXPECT_LT(got, 240);
    }
  }
}

TEST(SquareRoot, ExactFloorOverTheWholeRange) {
  EXPECT_EQ(isqrt(224), 14);
  EXPECT_EQ(isqrt(225), 15);
  EXPECT_EQ(isqrt(65535), 255);
  EXPECT_EQ(isqrt(65536), 255);
  EXPECT_EQ(isqrt(1 << 30), 255);
  EXPECT_EQ(isqrt(-1), -1);
  for (int n = 0; n < 65536; ++n) {
    const int root = isqrt(n);
    ASSERT_LE(root * root, n) << n;
    ASSERT_GT((root + 1) * (root + 1), n) << n;
  }
}

std::vector<std::pair<int, int>> pointsOf(const LinePath& path) {
  std::vector<std::pair<int, int>> points;
  for (int i = 0; i < path.count; ++i) points.emplace_back(path.points[i].first, path.points[i].second);
  return points;
}

TEST(Line, StartIncludedEndExcluded) {
  LinePath path;
  linePoints(0, 0, 0, 5, path);
  EXPECT_EQ(pointsOf(path), (std::vector<std::pair<int, int>>{{0, 0}, {0, 1}, {0, 2}, {0, 3}, {0, 4}}));
  linePoints(3, 3, 3, 3, path);
  EXPECT_EQ(path.count, 0);
}

TEST(Line, TiesTakeTheFirstCoordinateAsMajor) {
  LinePath path;
  linePoints(0, 0, -3, 3, path);
  EXPECT_EQ(pointsOf(path), (std::vector<std::pair<int, int>>{{0, 0}, {-1, 1}, {-2, 2}}));
}

TEST(Line, AccumulatorStepsOnlyAboveHalf) {
  LinePath path;
  // slope 50: e = 50 does not step, the next addition does.
  linePoints(0, 0, 4, 2, path);
  EXPECT_EQ(pointsOf(path), (std::vector<std::pair<int, int>>{{0, 0}, {1, 0}, {2, 1}, {3, 1}}));
  // slope -50: e = -50 steps at once.
  linePoints(0, 0, 4, -2, path);
  EXPECT_EQ(pointsOf(path), (std::vector<std::pair<int, int>>{{0, 0}, {1, -1}, {2, -1}, {3, -2}}));
}

TEST(Line, LongestImageDiagonalFits) {
  LinePath path;
  linePoints(0, 0, kHeight - 1, kWidth - 1, path);
  ASSERT_EQ(path.count, kHeight - 1);
  EXPECT_EQ(path.points[path.count - 1].first, kHeight - 2);
  EXPECT_LE(path.points[path.count - 1].second, kWidth - 1);
}

TEST(NeighbourTables, ClassesAndSteps) {
  EXPECT_EQ(kNeighbourClass[0], 0);
  EXPECT_EQ(kNeighbourClass[255], 0);
  EXPECT_EQ(kNeighbourClass[255 & ~4], 1);         // only E is ridge
  EXPECT_EQ(kNeighbourClass[255 & ~(4 | 64)], 2);  // E and W
  EXPECT_EQ(kNeighbourClass[255 & ~(1 | 2)], 1);   // N and NE form one run
  EXPECT_EQ(kNeighbourClass[255 & ~(1 | 128)], 1); // the run wraps from NW to N
  EXPECT_EQ(kNeighbourClass[255 & ~(1 | 8 | 32)], 3);
  EXPECT_EQ(kNeighbourClass[85], 4);
  EXPECT_EQ(kNeighbourClass[170], 4);
  int crossings = 0;
  for (int code = 0; code < 256; ++code) crossings += kNeighbourClass[code] == 4 ? 1 : 0;
  EXPECT_EQ(crossings, 2);

  EXPECT_EQ(kRidgeStep[255].dx, 0);
  EXPECT_EQ(kRidgeStep[255].dy, 0);
  // E before NE, W before NW.
  const Step east = kRidgeStep[255 & ~(2 | 4)];
  EXPECT_EQ(east.dx, 1);
  EXPECT_EQ(east.dy, 0);
  const Step west = kRidgeStep[255 & ~(64 | 128 | 8)];
  EXPECT_EQ(west.dx, -1);
  EXPECT_EQ(west.dy, 0);
  const Step southEast = kRidgeStep[255 & ~8];
  EXPECT_EQ(southEast.dx, 1);
  EXPECT_EQ(southEast.dy, 1);
}

}  // namespace
}  // namespace fx60::extract
