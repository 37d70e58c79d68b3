// Pair lists, pair correspondences, rotation votes, rotation candidates and the
// singular-point fallback.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "match/match_pass.h"
#include "match/pair_matching.h"
#include "match/pair_tables.h"
#include "match/singular_points.h"
#include "match/view.h"
#include "template_builder.h"

namespace fx60::match {
namespace {

using testing::buildTemplate;
using testing::TestMinutia;

struct PairSetup : testing::PairedSides {
  using PairedSides::PairedSides;
  int match() { return matchPairs(ctx, 1); }
  uint32_t totalVotes() const {
    uint32_t sum = 0;
    for (int i = 0; i < kRotationBins; ++i) sum += ctx.rotationVotes[i];
    return sum;
  }
};

TEST(PairLists, LengthLimitsOfBothSides) {
  // 440 pixels apart: no A pair. 300 apart: an A pair but no B pair.
  EXPECT_EQ(PairSetup({{0, 0, 0}, {255, 359, 0}}, {{0, 0, 0}, {255, 359, 0}}).ctx.pairCountA, 0);
  PairSetup longPair({{20, 20, 0}, {20, 320, 0}}, {{20, 20, 0}, {20, 320, 0}});
  EXPECT_EQ(longPair.ctx.pairCountA, 1);
  EXPECT_EQ(longPair.ctx.pairKeyCountB, 0);
  EXPECT_EQ(longPair.ctx.pairsA[0].length, 300);
  EXPECT_EQ(longPair.ctx.pairsA[1].d2, kPairListEnd);
  EXPECT_EQ(longPair.ctx.pairLimitB, 90000u + DistanceToleranceTable[300].hi);
}

TEST(PairLists, SortedByLengthWithAnglesRelativeToTheDirection) {
  PairSetup s({{50, 50, 0}, {150, 50, 90}, {50, 80, 180}}, {{50, 50, 0}, {150, 50, 0}, {50, 80, 0}});
  ASSERT_EQ(s.ctx.pairCountA, 3);
  EXPECT_EQ(s.ctx.pairsA[0].d2, 900u);
  EXPECT_EQ(s.ctx.pairsA[1].d2, 10000u);
  EXPECT_EQ(s.ctx.pairsA[2].d2, 10900u);
  const MinutiaPair& horizontal = s.ctx.pairsA[1];  // (50,50) -> (150,50): direction +x = 128
  EXPECT_EQ(horizontal.dir, 128);
  EXPECT_EQ(horizontal.relAngles & 0xFFFF, 0x0F00u | 12u);                          // 128 - 128 + 12
  EXPECT_EQ(horizontal.relAngleJ, static_cast<uint8_t>(192 - 128 - 116));
  EXPECT_EQ(horizontal.relAngles >> 16, 0x0F00u | horizontal.relAngleJ);
}

TEST(PairLists, EqualABruteForceSortOfAllPairs) {
  PairSetup s(testing::scatteredMinutiae(70, 7), testing::scatteredMinutiae(60, 8));
  const auto sortedPairs = [](const MatchView& view, uint32_t limit) {
    std::vector<std::array<uint32_t, 3>> pairs;  // d2, i, j
    for (int i = 0; i < view.count; ++i)
      for (int j = i + 1; j < view.count; ++j) {
        const int dx = view.minutiae[j].x - view.minutiae[i].x;
        const int dy = view.minutiae[j].y - view.minutiae[i].y;
        const uint32_t d2 = static_cast<uint32_t>(dx * dx + dy * dy);
        if (d2 <= limit) pairs.push_back({d2, static_cast<uint32_t>(i), static_cast<uint32_t>(j)});
      }
    std::sort(pairs.begin(), pairs.end());
    return pairs;
  };
  const auto expectList = [](const MinutiaPair* list, int count, const std::vector<std::array<uint32_t, 3>>& want) {
    ASSERT_LE(count, static_cast<int>(want.size()));
    for (int k = 0; k < count; ++k) {
      ASSERT_EQ(list[k].d2, want[k][0]) << k;
      ASSERT_EQ(list[k].i, want[k][1]) << k;
      ASSERT_EQ(list[k].j, want[k][2]) << k;
      const uint32_t length = list[k].length;
      ASSERT_TRUE(length * length >= list[k].d2 && (length - 1) * (length - 1) < list[k].d2) << k;
    }
    EXPECT_EQ(list[count].d2, kPairListEnd);
  };
  const auto wantA = sortedPairs(s.ctx.viewA, kPairLimitA);
  ASSERT_EQ(s.ctx.pairCountA, std::min<int>(static_cast<int>(wantA.size()), kMaxPairRecords));
  expectList(s.ctx.pairsA, s.ctx.pairCountA, wantA);
  // B's list, selected by length and widened by longer pairs, is always its shortest pairs.
  ASSERT_GT(s.ctx.pairCountB, 0);
  expectList(s.ctx.pairsB, s.ctx.pairCountB, sortedPairs(s.ctx.viewB, kPairLimitBKeys));
}

TEST(PairLists, SelectionKeepsBothSidesInOrder) {
  std::vector<uint32_t> keys = {pairKey(9, 0, 1), pairKey(4, 0, 2), pairKey(9, 0, 3), pairKey(1, 1, 2),
                                pairKey(4, 1, 3), pairKey(16, 2, 3)};
  const int kept = selectPairs(keys.data(), static_cast<int>(keys.size()), pairKey(4, 127, 127));
  ASSERT_EQ(kept, 3);
  EXPECT_EQ(keys, (std::vector<uint32_t>{pairKey(4, 0, 2), pairKey(1, 1, 2), pairKey(4, 1, 3), pairKey(9, 0, 1),
                                         pairKey(9, 0, 3), pairKey(16, 2, 3)}));
}

TEST(PairMatching, EndAnglesAgreeWithinTwelveSteps) {
  const std::vector<TestMinutia> a = {{50, 50, 0}, {150, 50, 0}};
  // 17 degrees is 12 byte steps, 18 degrees is 13.
  PairSetup twelve(a, {{50, 50, 17}, {150, 50, 0}});
  EXPECT_EQ(twelve.match(), 1);
  EXPECT_EQ(twelve.ctx.matches[0].weightI, 8);
  EXPECT_EQ(twelve.ctx.matches[0].weightJ, 20);
  EXPECT_EQ(twelve.ctx.rotationVotes[0], 8u + 20u - 14u);
  EXPECT_EQ(twelve.ctx.matches[1].rotationFlag, kPairMatchEndFlag);

  PairSetup thirteen(a, {{50, 50, 18}, {150, 50, 0}});
  EXPECT_EQ(thirteen.match(), 0);
  EXPECT_EQ(thirteen.totalVotes(), 0u);
}

TEST(PairMatching, CrossedMatchesAndVotesOfATurnedPrint) {
  // B is A turned by half a turn: the pair matches crossed, and votes for rotation 128.
  PairSetup s({{50, 50, 90}, {150, 50, 90}}, {{205, 309, 270}, {105, 309, 270}});
  ASSERT_EQ(s.match(), 1);
  const PairMatch& m = s.ctx.matches[0];
  EXPECT_EQ(m.rotation(), 128);
  EXPECT_EQ(s.ctx.rotationVotes[128], 20u + 20u - 14u);
  EXPECT_EQ(s.ctx.outerRecordsProcessed[0], 1);
}

TEST(PairMatching, ShortPairsMatchWithoutVoting) {
  PairSetup s({{50, 50, 0}, {80, 50, 0}}, {{50, 50, 0}, {80, 50, 0}});
  EXPECT_EQ(s.match(), 1);
  EXPECT_EQ(s.totalVotes(), 0u);
}

TEST(RotationCandidates, WeakVotesGiveNone) {
  MatchContext ctx;
  resetContext(ctx, threadWorkBuffers());
  std::array<uint32_t, kRotationBins> votes{};
  votes[3] = 15;  // smoothed peak 15
  EXPECT_EQ(rotationCandidates(votes.data(), ctx).count, 0);
  votes[3] = 16;
  const RotationCandidates one = rotationCandidates(votes.data(), ctx);
  ASSERT_EQ(one.count, 1);
  EXPECT_EQ(one.rotation[0], 3);
}

TEST(RotationCandidates, ImplausibleTopNeedsStrongVotes) {
  MatchContext ctx;
  resetContext(ctx, threadWorkBuffers());
  std::array<uint32_t, kRotationBins> votes{};
  votes[60] = 2000;  // 60 steps is not plausible and below 2100
  votes[10] = 500;
  RotationCandidates list = rotationCandidates(votes.data(), ctx);
  ASSERT_GE(list.count, 1);
  EXPECT_EQ(list.rotation[0], 10);
  votes[60] = 2200;
  list = rotationCandidates(votes.data(), ctx);
  EXPECT_EQ(list.rotation[0], 60);
}

TEST(RotationCandidates, CloseStrongPeaksAddTheirMidpointLast) {
  MatchContext ctx;
  resetContext(ctx, threadWorkBuffers());
  std::array<uint32_t, kRotationBins> votes{};
  votes[20] = 400;
  votes[10] = 300;
  // Smoothing over 11 bins merges the two: the top lies between them (centroid 18),
  // the 400 bin survives at 24 after the top is cleared, then the 300 bin at 9.
  const RotationCandidates list = rotationCandidates(votes.data(), ctx);
  ASSERT_EQ(list.count, 4);
  EXPECT_EQ(list.rotation[0], 18);
  EXPECT_EQ(list.rotation[1], 24);
  EXPECT_EQ(list.rotation[2], 9);
  // Third peak: 9 steps off but too weak (2 x 300 < 700); second peak: 6 steps off and
  // strong enough, so the midpoint 21 comes last.
  EXPECT_EQ(list.rotation[3], 21);
}

TEST(SingularPoints, FallbackScoreByDistance) {
  MatchContext ctx;
  resetContext(ctx, threadWorkBuffers());
  ctx.viewA.singularCount = 1;
  ctx.viewA.singularPoints[0] = MatchSingularPoint{};
  ctx.viewA.singularPoints[0].y = 100;
  ctx.viewA.singularPoints[0].x = 100;
  std::array<MatchSingularPoint, 1> b{};
  b[0].y = 100;
  b[0].x = 110;  // f = 10: 21 x (24 - 10 - 5)
  EXPECT_EQ(singularFallbackScore(pairSingularPoints(ctx, b.data(), 1)), 21u * 9u);
  b[0].x = 116;  // f = 16: too far for a score, but the pair still counts 32
  EXPECT_EQ(singularFallbackScore(pairSingularPoints(ctx, b.data(), 1)), 32u);
  b[0].x = 124;  // d2 = 576 > 529
  EXPECT_EQ(singularFallbackScore(pairSingularPoints(ctx, b.data(), 1)), 32u);
  EXPECT_EQ(singularFallbackScore(pairSingularPoints(ctx, b.data(), 0)), 0u);
}

}  // namespace
}  // namespace fx60::match
