// Affine refinement: acceptance bounds, angle trimming, the rotation correction and
// the second-pass preparation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "match/affine.h"
#include "match/angles.h"
#include "match/pair_tables.h"
#include "match/second_pass.h"
#include "match/view.h"
#include "template_builder.h"

namespace fx60::match {
namespace {

MatchMinutia minutia(int y, int x, int angle) {
  MatchMinutia m{};
  m.y = y;
  m.x = x;
  m.setAngle(static_cast<uint8_t>(angle));
  m.weight = 63;
  return m;
}

struct Point {
  int x;
  int y;
};

// Side A gets the mapped points, the candidate the original ones, paired in order.
struct FitSetup {
  MatchContext ctx;
  CandidateAlignment candidate;
  FitSetup(const std::vector<Point>& b, const std::vector<Point>& a, int angleB = 10, int angleA = 10) {
    resetContext(ctx, threadWorkBuffers());
    const int n = static_cast<int>(b.size());
    for (int k = 0; k < n; ++k) {
      ctx.viewA.minutiae[k] = minutia(a[k].y, a[k].x, angleA);
      candidate.minutiae[k] = minutia(b[k].y, b[k].x, angleB);
      candidate.matchedPairs[k] = packMatchedPair(k, k, 100);
    }
    ctx.viewA.count = ctx.countA = candidate.count = candidate.matchedCount = n;
  }
};

std::vector<Point> grid(int step, int columns, int rows, int originX = 0, int originY = 0) {
  std::vector<Point> points;
  for (int r = 1; r <= rows; ++r)
    for (int c = 1; c <= columns; ++c) points.push_back({originX + c * step, originY + r * step});
  return points;
}

std::vector<Point> scaled(const std::vector<Point>& points, double scale, int shiftX = 0) {
  std::vector<Point> out;
  for (const Point& p : points)
    out.push_back({static_cast<int>(std::lround(p.x * scale)) + shiftX, static_cast<int>(std::lround(p.y * scale))});
  return out;
}

TEST(AffineRefine, ScaleAndShiftBounds) {
  const std::vector<Point> b = grid(50, 4, 3);
  FitSetup tooSmall(b, scaled(b, 0.80));
  EXPECT_EQ(affineRefine(tooSmall.ctx, tooSmall.candidate), 0);
  EXPECT_EQ(tooSmall.candidate.affine.ax, 65536);  // identity stays
  EXPECT_EQ(tooSmall.candidate.minutiae[0].x, 50);  // copy untouched

  FitSetup accepted(b, scaled(b, 0.82));
  EXPECT_EQ(affineRefine(accepted.ctx, accepted.candidate), 0);
  EXPECT_EQ(accepted.candidate.affine.ax, 53740);  // 0.82 * 65536 = 53739.52
  EXPECT_EQ(accepted.candidate.affine.by, 53740);
  EXPECT_EQ(accepted.candidate.minutiae[0].x, 41);
  EXPECT_EQ(accepted.candidate.minutiae[0].y, 41);
  // Angles go through short direction vectors, so a scaled map may move them a step.
  EXPECT_NEAR(accepted.candidate.minutiae[0].angle(), 10, 1);
  EXPECT_EQ(accepted.ctx.affine.pairsUsed, 12);

  FitSetup farShift(b, scaled(b, 1.0, 201));
  affineRefine(farShift.ctx, farShift.candidate);
  EXPECT_EQ(farShift.candidate.affine.cx, 0);
  FitSetup nearShift(b, scaled(b, 1.0, 200));
  affineRefine(nearShift.ctx, nearShift.candidate);
  EXPECT_EQ(nearShift.candidate.affine.cx, 200 * 65536);
  EXPECT_EQ(nearShift.candidate.minutiae[0].x, 250);

  // Fewer than three pairs: no fit at all.
  FitSetup two({{10, 10}, {50, 60}}, {{10, 10}, {50, 60}});
  EXPECT_EQ(affineRefine(two.ctx, two.candidate), 0);
  EXPECT_EQ(two.ctx.affine.pairsUsed, 0);
}

// A turned by the given byte-angle steps about the origin, in the sense of turnSide.
std::vector<Point> turned(const std::vector<Point>& points, int steps) {
  const double t = steps * 2 * M_PI / 256;
  std::vector<Point> out;
  for (const Point& p : points)
    out.push_back({static_cast<int>(std::lround(std::cos(t) * p.x + std::sin(t) * p.y)),
                   static_cast<int>(std::lround(std::cos(t) * p.y - std::sin(t) * p.x))});
  return out;
}

TEST(AffineRefine, RotationCorrection) {
  const std::vector<Point> b = grid(40, 4, 3, 100, 120);
  FitSetup three(b, turned(b, 3));
  EXPECT_EQ(affineRefine(three.ctx, three.candidate), 3);
  EXPECT_NEAR(three.candidate.minutiae[0].angle(), 13, 1);  // angles turn with the map
  FitSetup two(b, turned(b, 2));
  EXPECT_EQ(affineRefine(two.ctx, two.candidate), 2);
  FitSetup back(b, turned(b, -3));
  EXPECT_EQ(affineRefine(back.ctx, back.candidate), -3);
}

TEST(AffineRefine, AngleTrimmingFromThirteenPairs) {
  std::vector<Point> twelve = grid(30, 4, 3, 50, 50);
  FitSetup noTrim(twelve, twelve);
  noTrim.candidate.minutiae[5].setAngle(60);  // 50 steps off
  affineRefine(noTrim.ctx, noTrim.candidate);
  EXPECT_EQ(noTrim.ctx.affine.pairsUsed, 12);

  std::vector<Point> thirteen = twelve;
  thirteen.push_back({200, 200});
  FitSetup trimmed(thirteen, thirteen);
  trimmed.candidate.minutiae[5].setAngle(60);
  affineRefine(trimmed.ctx, trimmed.candidate);
  EXPECT_EQ(trimmed.ctx.affine.pairsUsed, 12);

  FitSetup floor(thirteen, thirteen);  // three outliers, but never fewer than 12 pairs
  for (int k : {1, 5, 9}) floor.candidate.minutiae[k].setAngle(60);
  affineRefine(floor.ctx, floor.candidate);
  EXPECT_EQ(floor.ctx.affine.pairsUsed, 12);

  FitSetup agreeing(thirteen, thirteen);
  affineRefine(agreeing.ctx, agreeing.candidate);
  EXPECT_EQ(agreeing.ctx.affine.pairsUsed, 13);
}

TEST(AffineRefine, DirectionTableKeepsEveryAngle) {
  EXPECT_EQ(AngleDirectionTable[0].dx, -50);
  EXPECT_EQ(AngleDirectionTable[3].dy, 4);
  EXPECT_EQ(AngleDirectionTable[64].dy, 50);
  for (int a = 0; a < 256; ++a)
    EXPECT_EQ(byteAngleOf(AngleDirectionTable[a].dx, AngleDirectionTable[a].dy), a) << a;
}

TEST(PreparePass2, ListsForTheSwappedSides) {
  MatchContext ctx;
  resetContext(ctx, threadWorkBuffers());
  const auto a = testing::buildTemplate(testing::scatteredMinutiae(40, 7));
  const auto b = testing::buildTemplate(testing::scatteredMinutiae(40, 8));
  decodeView(ctx.viewA, a.data());
  decodeView(ctx.viewB, b.data());
  preparePassTables(ctx);
  buildPass1PairsB(ctx);
  preparePass2(ctx);

  const Pass2Material& p = ctx.pass2;
  EXPECT_EQ(p.innerCount, std::min(ctx.pairKeyCountB, kMaxPairRecords));
  EXPECT_NE(ctx.pass2Ready, 0);
  EXPECT_EQ(p.outerPairs, ctx.pairsA);
  EXPECT_GT(p.outerCount, 3);
  EXPECT_LE(p.outerCount, kPairsInUse);
  EXPECT_LE(p.outerCountBeforeWidening, p.outerCount);
  const MinutiaPair& lastOuter = ctx.pairsA[p.outerCount - 1];
  EXPECT_EQ(p.outerLimit, lastOuter.d2 + toleranceOf(lastOuter.length).hi);
  // Inner records in length order, angle fields filled, ended after the limit.
  int k = 0;
  for (; p.innerPairs[k].d2 != kPairListEnd; ++k) {
    ASSERT_LE(p.innerPairs[k].d2, p.outerLimit);
    if (k > 0) {
      ASSERT_LE(p.innerPairs[k - 1].d2, p.innerPairs[k].d2);
    }
    const MatchMinutia& i = ctx.viewB.minutiae[p.innerPairs[k].i];
    const MatchMinutia& j = ctx.viewB.minutiae[p.innerPairs[k].j];
    ASSERT_EQ(p.innerPairs[k].dir, byteAngleOf(j.x - i.x, j.y - i.y));
  }
  EXPECT_GT(k, 0);
  EXPECT_LE(k, p.innerCount);
  EXPECT_EQ(p.extent.firstY, ctx.viewB.minutiae[0].y);
  EXPECT_EQ(p.extent.lastY, ctx.viewB.minutiae[ctx.viewB.count - 1].y);
}

// With more B pairs than records, the records are exactly the shortest pairs in key
// order, however pass 1 left the keys behind them.
TEST(PreparePass2, RecordsAreTheShortestPairsInOrder) {
  MatchContext ctx;
  resetContext(ctx, threadWorkBuffers());
  const auto a = testing::buildTemplate(testing::scatteredMinutiae(100, 11));
  const auto b = testing::buildTemplate(testing::scatteredMinutiae(100, 12));
  decodeView(ctx.viewA, a.data());
  decodeView(ctx.viewB, b.data());
  preparePassTables(ctx);
  buildPass1PairsB(ctx);
  ASSERT_GT(ctx.pairKeyCountB, kMaxPairRecords);
  preparePass2(ctx);

  std::vector<uint32_t> expected(kMaxPairKeys);
  const int all = buildPairKeys(ctx.viewB.minutiae, ctx.viewB.count, kPairLimitBKeys, expected.data(), kMaxPairKeys);
  ASSERT_EQ(all, ctx.pairKeyCountB);
  expected.resize(static_cast<std::size_t>(all));
  std::sort(expected.begin(), expected.end());
  const Pass2Material& p = ctx.pass2;
  ASSERT_EQ(p.innerCount, kMaxPairRecords);
  // All l records are expanded; the end mark overwrites the one after the filled part.
  int endMark = -1;
  for (int k = 0; k < p.innerCount; ++k) {
    if (p.innerPairs[k].d2 == kPairListEnd && endMark < 0) {
      endMark = k;
      continue;
    }
    ASSERT_EQ(p.innerPairs[k].d2, pairKeyD2(expected[k])) << k;
    ASSERT_EQ(p.innerPairs[k].i, pairKeyI(expected[k])) << k;
    ASSERT_EQ(p.innerPairs[k].j, pairKeyJ(expected[k])) << k;
  }
  EXPECT_GT(endMark, 0);
}

}  // namespace
}  // namespace fx60::match
