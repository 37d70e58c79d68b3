// Decoding templates into matcher views: order, duplicates, curvature, singular points.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "match/angles.h"
#include "match/match_context.h"
#include "match/sqrt_tables.h"
#include "match/view.h"
#include "template_builder.h"

namespace fx60::match {
namespace {

using testing::buildTemplate;
using testing::setSingularPoint;
using testing::TestMinutia;

struct DecodedView {
  MatchWorkBuffers& buffers = threadWorkBuffers();
  MatchContext ctx;
  explicit DecodedView(const testing::Template& t) {
    resetContext(ctx, buffers);
    decodeView(ctx.viewA, t.data());
  }
  const MatchView& view() const { return ctx.viewA; }
};

TEST(DecodeView, SortsByRowThenColumnAndConvertsAngles) {
  const DecodedView d(buildTemplate({{100, 200, 0}, {50, 20, 90}, {10, 200, 270}, {60, 300, 400}}, 0));
  const MatchView& v = d.view();
  ASSERT_EQ(v.count, 4);
  EXPECT_EQ(v.quality, 32);  // quality 0 reads as 32
  EXPECT_EQ(v.minutiae[0].y, 20);
  EXPECT_EQ(v.minutiae[0].angle(), 192);
  EXPECT_EQ(v.minutiae[1].x, 10);
  EXPECT_EQ(v.minutiae[1].angle(), 64);
  EXPECT_EQ(v.minutiae[2].x, 100);
  EXPECT_EQ(v.minutiae[2].angle(), 128);
  EXPECT_EQ(v.minutiae[3].y, 300);
  EXPECT_EQ(v.minutiae[3].angle(), 0);  // stored angle 400 decodes to 0
  EXPECT_EQ(v.minutiae[3].sortKey, (300u << 23) | (60u << 8));
  EXPECT_EQ(v.minutiae[0].weight, 63);
}

TEST(DecodeView, NearDuplicatesCollapseAgainstTheirPredecessorOnly) {
  // Same spot, then 1 pixel apart: both collapse onto the first.
  EXPECT_EQ(DecodedView(buildTemplate({{40, 40, 0}, {40, 40, 10}, {41, 40, 20}})).view().count, 1);
  // Three in a row 1 pixel apart: each is compared with its immediate predecessor.
  EXPECT_EQ(DecodedView(buildTemplate({{40, 40, 0}, {41, 40, 0}, {42, 40, 0}})).view().count, 1);
  // A diagonal step (d2 = 2) still collapses, two pixels (d2 = 4) does not.
  EXPECT_EQ(DecodedView(buildTemplate({{40, 40, 0}, {41, 41, 0}})).view().count, 1);
  EXPECT_EQ(DecodedView(buildTemplate({{40, 40, 0}, {42, 40, 0}})).view().count, 2);
}

TEST(DecodeView, OnlyTheFirst112RecordsAreRead) {
  std::vector<TestMinutia> many;
  for (int i = 0; i < 114; ++i) many.push_back({10 + (i % 12) * 20, 10 + (i / 12) * 30, 0});
  many[113] = {5, 5, 0};  // would sort first if it were read
  const DecodedView d(buildTemplate(many));
  EXPECT_EQ(d.view().count, 112);
  EXPECT_EQ(d.view().minutiae[0].y, 10);
}

TEST(DecodeView, CurvatureNeedsANeighbourAlongTheRidge) {
  // Angle 0 degrees is byte 128 (+x). A neighbour straight ahead along +x counts.
  {
    const DecodedView d(buildTemplate({{100, 100, 0}, {120, 100, 45}}));
    const MatchView& v = d.view();
    // delta = 32 steps, dist 20: 32 * R[28] >> 17 = 32 * 599200 >> 17 = 146.
    EXPECT_EQ(v.minutiae[0].curvature, (32ull * ((1048576 / 28 + 1) * 16)) >> 17);
  }
  // A neighbour straight across the ridge does not count.
  {
    const DecodedView d(buildTemplate({{100, 100, 0}, {100, 120, 45}}));
    EXPECT_EQ(d.view().minutiae[0].curvature, 16);
  }
  // A lone minutia keeps 16.
  EXPECT_EQ(DecodedView(buildTemplate({{100, 100, 0}})).view().minutiae[0].curvature, 16);
  // Along the ridge (270 degrees is +y): 63 rows away counts, 64 is beyond the reach.
  EXPECT_NE(DecodedView(buildTemplate({{100, 100, 270}, {100, 163, 300}})).view().minutiae[0].curvature, 16);
  EXPECT_EQ(DecodedView(buildTemplate({{100, 100, 270}, {100, 164, 300}})).view().minutiae[0].curvature, 16);
}

// Curvature by scanning every minutia within 64 rows, nearest first and the earlier
// scanned on equal distance (rows above from the nearest up, then rows below).
std::vector<uint8_t> referenceCurvature(const MatchView& v) {
  std::vector<uint8_t> out;
  for (int p = 0; p < v.count; ++p) {
    const MatchMinutia& P = v.minutiae[p];
    uint32_t best = 4096;
    int bestAngle = 0;
    std::vector<int> order;
    for (int q = p - 1; q >= 0; --q) order.push_back(q);
    for (int q = p + 1; q < v.count; ++q) order.push_back(q);
    for (const int q : order) {
      const MatchMinutia& Q = v.minutiae[q];
      if (std::abs(Q.y - P.y) > 64) continue;
      const uint32_t d2 = static_cast<uint32_t>((Q.x - P.x) * (Q.x - P.x) + (Q.y - P.y) * (Q.y - P.y));
      const int phi = byteAngleOf(Q.x - P.x, Q.y - P.y);
      if (d2 >= best || ((phi - P.angle() - 48) & 0xFF) <= 32 || ((phi - P.angle() + 80) & 0xFF) <= 32) continue;
      best = d2;
      bestAngle = Q.angle();
    }
    if (best >= 4096) {
      out.push_back(16);
      continue;
    }
    int delta = (bestAngle - P.angle()) & 0x7F;
    if (delta >= 64) delta -= 128;
    const uint64_t scaled = (static_cast<uint64_t>(std::abs(delta)) * ReciprocalTable[ceilSqrt(best) + 8]) >> 17;
    out.push_back(static_cast<uint8_t>(std::min<uint64_t>(scaled, 255)));
  }
  return out;
}

TEST(DecodeView, CurvatureEqualsAScanOfAllNearbyMinutiae) {
  // Dense scatters (many neighbours within reach) and a lattice (many equal distances).
  std::vector<std::vector<TestMinutia>> prints = {testing::scatteredMinutiae(100, 5), testing::scatteredMinutiae(60, 6)};
  std::vector<TestMinutia> lattice;
  for (int k = 0; k < 80; ++k) lattice.push_back({30 + (k % 8) * 22, 30 + (k / 8) * 30, (k * 47) % 360});
  prints.push_back(lattice);
  for (const auto& minutiae : prints) {
    const DecodedView d(buildTemplate(minutiae));
    const std::vector<uint8_t> want = referenceCurvature(d.view());
    for (int p = 0; p < d.view().count; ++p) ASSERT_EQ(d.view().minutiae[p].curvature, want[p]) << p;
  }
}

TEST(DecodeView, SingularPointSlots) {
  testing::Template t = buildTemplate({{100, 100, 0}});
  setSingularPoint(t, 0, 0, 50);  // x = 0 with a non-zero y is a point
  setSingularPoint(t, 1, 30, 300);
  EXPECT_EQ(DecodedView(t).view().singularCount, 2);
  EXPECT_EQ(DecodedView(t).view().singularPoints[1].y, 300);

  testing::Template hidden = buildTemplate({{100, 100, 0}});
  setSingularPoint(hidden, 1, 30, 40);  // an empty first slot hides the rest
  EXPECT_EQ(DecodedView(hidden).view().singularCount, 0);

  testing::Template ended = buildTemplate({{100, 100, 0}});
  setSingularPoint(ended, 0, 20, 20);
  setSingularPoint(ended, 1, 255, 511);  // end marker
  setSingularPoint(ended, 2, 30, 40);
  EXPECT_EQ(DecodedView(ended).view().singularCount, 1);
}

}  // namespace
}  // namespace fx60::match
