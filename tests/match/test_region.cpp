// Region test and ridge-direction consistency of partnerless minutiae.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "match/region.h"

namespace fx60::match {
namespace {

int contains(int y, int x, const std::vector<RegionPoint>& points) { return regionContains(y, x, points); }

TEST(RegionContains, SplitAboveAndBelow) {
  const std::vector<RegionPoint> square = {{100, 100}, {100, 200}, {200, 100}, {200, 200}};
  EXPECT_EQ(contains(50, 150, square), 0);   // above every point: nothing above it
  EXPECT_EQ(contains(250, 150, square), 0);  // below the last point: nothing below it
  EXPECT_EQ(contains(150, 150, square), 1);  // points left and right, above and below
  EXPECT_EQ(contains(150, 50, square), 0);   // everything lies right of it
  EXPECT_EQ(contains(150, 250, square), 0);  // everything lies left of it
  EXPECT_EQ(contains({}, {}, {}), 0);
}

TEST(RegionContains, TriangleEdges) {
  // Apex at the top, base at the bottom: inside needs the point between the flanks.
  const std::vector<RegionPoint> apexUp = {{0, 50}, {100, 0}, {100, 100}};
  EXPECT_EQ(contains(60, 50, apexUp), 1);
  EXPECT_EQ(contains(60, 5, apexUp), 0);
  EXPECT_EQ(contains(60, 95, apexUp), 0);
  // Apex at the bottom.
  const std::vector<RegionPoint> apexDown = {{0, 0}, {0, 100}, {100, 50}};
  EXPECT_EQ(contains(40, 50, apexDown), 1);
  EXPECT_EQ(contains(40, 5, apexDown), 0);
  EXPECT_EQ(contains(40, 95, apexDown), 0);
}

// The prepared outline must answer every query exactly as the direct test: random
// lists with repeated rows and columns, queries on, beside and between the points.
TEST(RegionOutline, AgreesWithTheDirectTest) {
  std::mt19937 random(7);
  RegionOutline outline;
  int inside = 0;
  for (int trial = 0; trial < 400; ++trial) {
    const int count = static_cast<int>(random() % 40);
    const int spread = 4 + static_cast<int>(random() % (trial % 2 == 0 ? 12 : 200));
    std::vector<RegionPoint> points(static_cast<std::size_t>(count));
    for (RegionPoint& p : points) p = {static_cast<int32_t>(random() % spread), static_cast<int32_t>(random() % spread)};
    std::stable_sort(points.begin(), points.end(), [](const RegionPoint& a, const RegionPoint& b) { return a.y < b.y; });
    outline.assign(points);
    // Queries in row order and in random order (the cursor then walks back as well).
    std::vector<std::pair<int, int>> queries(60);
    for (auto& [qy, qx] : queries) {
      qy = static_cast<int>(random() % (spread + 20)) - 10;
      qx = static_cast<int>(random() % (spread + 20)) - 10;
    }
    if (trial % 3 != 0) std::sort(queries.begin(), queries.end());
    std::size_t cursor = 0;
    for (const auto& [qy, qx] : queries) {
      const int expected = regionContains(qy, qx, points);
      ASSERT_EQ(outline.contains(qy, qx), expected) << "trial " << trial << " query " << qy << "," << qx;
      ASSERT_EQ(outline.contains(qy, qx, cursor), expected) << "trial " << trial << " query " << qy << "," << qx;
      inside += expected;
    }
    for (const RegionPoint& p : points) ASSERT_EQ(outline.contains(p.y, p.x), regionContains(p.y, p.x, points));
  }
  EXPECT_GT(inside, 1000);  // the queries exercise both answers
  // Lists beyond the outline's capacity are tested directly.
  std::vector<RegionPoint> many;
  for (int k = 0; k < 200; ++k) many.push_back({k, (k * 37) % 101});
  outline.assign(many);
  EXPECT_EQ(outline.contains(100, 50), regionContains(100, 50, many));
  EXPECT_EQ(outline.contains(100, 50), 1);
  std::size_t cursor = 0;
  EXPECT_EQ(outline.contains(100, 50, cursor), 1);
  // A list out of row order is answered as the direct test answers it.
  const std::vector<RegionPoint> unordered = {{200, 100}, {100, 100}, {100, 200}, {200, 200}, {150, 10}};
  outline.assign(unordered);
  for (int qy = 90; qy <= 210; qy += 10)
    for (int qx = 0; qx <= 210; qx += 15) {
      cursor = 0;
      ASSERT_EQ(outline.contains(qy, qx, cursor), regionContains(qy, qx, unordered));
    }
}

// A probe of curvature 0 beside one neighbour: with d2 = 0 the tolerance l is 7.
int penalty(int probeAngle, int neighbourAngle, int neighbourY, int neighbourX, uint8_t mark = 0) {
  const std::vector<RidgeEntry> list = {{ridgeKey(neighbourY, neighbourX), static_cast<uint8_t>(neighbourAngle), 63},
                                        {kRidgeListEndKey, 0, 0}};
  const std::vector<RidgeProbe> probes = {{100, 100, static_cast<uint8_t>(probeAngle), 0, mark}};
  return ridgeConsistency(list, probes);
}

TEST(RidgeConsistency, PenaltyShape) {
  EXPECT_EQ(penalty(43, 40, 100, 100), 0);     // o = 6: t = 219
  EXPECT_EQ(penalty(44, 40, 100, 100), 36);    // o = 8: t = 292
  EXPECT_EQ(penalty(50, 40, 100, 100), 1260);  // o = 20: t = 731, u = 475 -> 694 -> 1260
  EXPECT_EQ(penalty(104, 40, 100, 100), 2432); // o = 128: u capped at 768
  EXPECT_EQ(penalty(104, 40, 100, 100, 5), 0); // partnered probes do not take part
}

TEST(RidgeConsistency, NeighbourReach) {
  // 35 pixels away along the row is still a neighbour, 36 is not. With d2 = 1225 the
  // tolerance is 15; a turn of 32 steps gives the capped penalty.
  EXPECT_EQ(penalty(72, 40, 100, 135), 2432);
  EXPECT_EQ(penalty(72, 40, 100, 136), 0);
  EXPECT_EQ(penalty(72, 40, 100, 65), 2432);
  EXPECT_EQ(penalty(72, 40, 135, 100), 2432);
  EXPECT_EQ(penalty(72, 40, 136, 100), 0);
  // Rows near the top: the signed key comparison keeps the scan inside the list.
  const std::vector<RidgeEntry> list = {{ridgeKey(5, 10), 40, 63}, {kRidgeListEndKey, 0, 0}};
  const std::vector<RidgeProbe> probes = {{3, 10, 72, 0, 0}, {20, 10, 72, 0, 0}};
  EXPECT_EQ(ridgeConsistency(list, probes), 2 * 2432);
}

TEST(RidgeConsistency, SurroundingNeighboursSetTheFlow) {
  // Four neighbours around the probe, orientations within a few steps: the flow is
  // their mean and the tolerance their spread (l = 6), so a turn of 4 steps counts.
  const std::vector<RidgeEntry> around = {{ridgeKey(90, 100), 40, 63},
                                          {ridgeKey(100, 90), 42, 63},
                                          {ridgeKey(100, 110), 41, 63},
                                          {ridgeKey(110, 100), 39, 63},
                                          {kRidgeListEndKey, 0, 0}};
  const std::vector<RidgeProbe> probe = {{100, 100, 44, 255, 0}};
  EXPECT_EQ(ridgeConsistency(around, probe), 85);
  // The same neighbours all on one side do not surround it: the distance-based
  // tolerance (61) forgives the turn.
  const std::vector<RidgeEntry> oneSide = {{ridgeKey(90, 100), 40, 63},
                                           {ridgeKey(90, 110), 42, 63},
                                           {ridgeKey(92, 104), 41, 63},
                                           {kRidgeListEndKey, 0, 0}};
  EXPECT_EQ(ridgeConsistency(oneSide, probe), 0);
}

}  // namespace
}  // namespace fx60::match
