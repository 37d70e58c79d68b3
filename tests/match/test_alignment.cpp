// Alignment of one rotation candidate: the weight tables, turning, translation
// peaks and candidates, the per-record alignment score and the partner assignment.
#include <gtest/gtest.h>

#include <algorithm>

#include "match/alignment.h"
#include "match/alignment_tables.h"
#include "template_builder.h"

namespace fx60::match {
namespace {

MatchMinutia minutia(int y, int x, int angle) { return testing::viewMinutia(y, x, angle); }

MinutiaPair pairRecord(uint32_t d2, int length, uint32_t relAngles) {
  MinutiaPair p{};
  p.d2 = d2;
  p.length = static_cast<uint16_t>(length);
  p.relAngles = relAngles;
  return p;
}

PairMatch correspondence(int aI, int aJ, int bI, int bJ, int outerIndex, int innerIndex) {
  PairMatch m{};
  m.aI = static_cast<uint8_t>(aI);
  m.aJ = static_cast<uint8_t>(aJ);
  m.bForAi = static_cast<uint8_t>(bI);
  m.bForAj = static_cast<uint8_t>(bJ);
  m.weightI = 20;
  m.weightJ = 20;
  m.rotationFlag = 1;
  m.pairRef = (static_cast<uint32_t>(outerIndex) << 20) + 16u * static_cast<uint32_t>(innerIndex);
  return m;
}

// A context with hand-made minutiae, one pair per side and the given correspondences.
struct AlignmentSetup {
  MatchContext ctx;
  std::array<MinutiaPair, 2> inner{};
  std::array<MinutiaPair, 2> outer{};
  std::array<PairMatch, 8> matches{};

  explicit AlignmentSetup(const std::vector<MatchMinutia>& a) {
    resetContext(ctx, threadWorkBuffers());
    std::copy(a.begin(), a.end(), ctx.viewA.minutiae);
    ctx.viewA.count = static_cast<int>(a.size());
    ctx.countA = ctx.viewA.count;
    inner[0] = outer[0] = pairRecord(2500, 50, 0x0F200F10);
    inner[1] = outer[1] = pairRecord(kPairListEnd, 0, 0);
    ctx.innerPairs = inner.data();
    ctx.outerPairs = outer.data();
    ctx.matches = matches.data();
    ctx.counts = {10, 10, 10};
  }
  void add(const PairMatch& m) { matches[ctx.matchCount++] = m; }
};

TEST(AlignmentTables, AnchorsAreHitAndTablesFall) {
  EXPECT_EQ(ResidualWeight[0], 255);
  EXPECT_EQ(ResidualWeight[9], 241);
  EXPECT_EQ(ResidualWeight[100], 145);
  EXPECT_EQ(ResidualWeight[200], 116);
  EXPECT_EQ(ResidualWeight[300], 91);
  EXPECT_EQ(ResidualWeight[399], 69);
  EXPECT_EQ(LengthMismatchWeight[4], 248);
  EXPECT_EQ(LengthMismatchWeight[128], 56);
  EXPECT_EQ(LengthScale[9], 160);
  EXPECT_EQ(LengthScale[56], 360);
  EXPECT_EQ(LengthScale[253], 1017);
  EXPECT_EQ(LengthScale[379], 4096);
  EXPECT_TRUE(std::is_sorted(ResidualWeight.rbegin(), ResidualWeight.rend()));
  EXPECT_TRUE(std::is_sorted(LengthMismatchWeight.rbegin(), LengthMismatchWeight.rend()));
  EXPECT_TRUE(std::is_sorted(LengthScale.begin() + 134, LengthScale.end()));
}

TEST(TurnSide, QuarterAndHalfTurnsAboutTheCentre) {
  const MatchMinutia source = minutia(100, 50, 10);
  MatchMinutia out{};
  TurnOffset offset = turnSide(&source, 1, 64, &out);
  EXPECT_EQ(out.y + offset.y, 310);  // (100, 50) turned a quarter about (180, 180)
  EXPECT_EQ(out.x + offset.x, 100);
  EXPECT_EQ(out.angle(), 74);
  EXPECT_EQ(out.weight, 63);

  // Half turn: the negative centre term takes the +1, so the offset is (360, 359).
  offset = turnSide(&source, 1, 128, &out);
  EXPECT_EQ(offset.y, 360);
  EXPECT_EQ(offset.x, 359);
  EXPECT_EQ(out.y, -100);
  EXPECT_EQ(out.x, -50);
  EXPECT_EQ(out.angle(), 138);
}

TEST(HistogramPeaks, MassThresholdAndSecondPeak) {
  TranslationHistogram h{};
  h[500] = 128;
  EXPECT_EQ(histogramPeaks(h).count, 0);  // 21-bin mass of 128 is not enough
  h[500] = 129;
  HistogramPeaks one = histogramPeaks(h);
  ASSERT_EQ(one.count, 1);
  EXPECT_EQ(one.peaks[0].position, 500);
  EXPECT_EQ(one.peaks[0].mass, 129u);

  // Bins outside 10..1013 are not searched.
  TranslationHistogram edge{};
  edge[5] = 1000;
  edge[1020] = 1000;
  EXPECT_EQ(histogramPeaks(edge).count, 0);

  TranslationHistogram two{};
  two[100] = 1;  // keeps the first peak away from the trimmed edge
  two[300] = 1000;
  two[700] = 900;
  two[900] = 200;  // keeps the top below half of the total
  HistogramPeaks peaks = histogramPeaks(two);
  ASSERT_EQ(peaks.count, 2);
  EXPECT_EQ(peaks.peaks[0].position, 300);
  EXPECT_EQ(peaks.peaks[1].position, 700);
  EXPECT_EQ(peaks.peaks[1].mass, 900u);

  two[900] = 0;  // now the top holds half of the total: one peak only
  EXPECT_EQ(histogramPeaks(two).count, 1);
}

TEST(HistogramPeaks, CentroidFollowsTheWeight) {
  TranslationHistogram h{};
  h[400] = 300;
  h[402] = 300;
  const HistogramPeaks peaks = histogramPeaks(h);
  ASSERT_EQ(peaks.count, 1);
  EXPECT_EQ(peaks.peaks[0].position, 401);
}

TEST(TranslationCandidates, VotesNeedAgreeingEnds) {
  // A is B moved by (dy, dx) = (7, -5).
  std::vector<MatchMinutia> a = {minutia(100, 100, 0), minutia(150, 100, 0), minutia(120, 160, 0)};
  std::array<MatchMinutia, 3> b;
  for (int k = 0; k < 3; ++k) b[k] = minutia(a[k].y - 7, a[k].x + 5, 0);
  AlignmentSetup setup(a);
  setup.add(correspondence(0, 1, 0, 1, 0, 0));
  setup.add(correspondence(1, 2, 1, 2, 0, 0));
  TranslationHistogram hx{};
  TranslationHistogram hy{};
  TranslationCandidates found = translationCandidates(setup.ctx, 0, b.data(), {}, SingularPairs{}, hx, hy);
  ASSERT_EQ(found.count, 1);
  EXPECT_EQ(found.candidates[0].ty, 7);
  EXPECT_EQ(found.candidates[0].tx, -5);
  EXPECT_TRUE(std::all_of(hx.begin(), hx.end(), [](uint32_t v) { return v == 0; }));  // left clean

  // End displacements 13 apart still vote; 14 apart only pass the rotation flag.
  b[1].x = a[1].x + 5 + 13;
  found = translationCandidates(setup.ctx, 0, b.data(), {}, SingularPairs{}, hx, hy);
  ASSERT_EQ(found.count, 1);
  EXPECT_EQ(found.candidates[0].tx, -11);  // mean of -5 and -18, halved towards zero
  b[1].x = a[1].x + 5 + 14;
  EXPECT_EQ(translationCandidates(setup.ctx, 0, b.data(), {}, SingularPairs{}, hx, hy).count, 0);
  EXPECT_EQ(setup.matches[0].rotationFlag, 1);

  // A match turned 10 steps away from the candidate rotation is not flagged.
  setup.matches[0].dirA = 10;
  translationCandidates(setup.ctx, 0, b.data(), {}, SingularPairs{}, hx, hy);
  EXPECT_EQ(setup.matches[0].rotationFlag, 0);
  setup.matches[0].dirA = 9;
  translationCandidates(setup.ctx, 0, b.data(), {}, SingularPairs{}, hx, hy);
  EXPECT_EQ(setup.matches[0].rotationFlag, 1);
}

TEST(AlignmentScore, EndAngleAndDistanceLimits) {
  std::vector<MatchMinutia> a = {minutia(100, 100, 40), minutia(150, 100, 40)};
  AlignmentSetup setup(a);
  setup.add(correspondence(0, 1, 0, 1, 0, 0));
  std::array<MatchMinutia, 2> b = {minutia(100, 100, 40), minutia(150, 100, 40)};

  // Identical pair of length 50: T = 255, L = 255, K[50] = 342.
  EXPECT_EQ(alignmentScore(setup.ctx, b.data()), 178);
  EXPECT_EQ(setup.matches[0].alignScore, 178);

  b[0].setAngle(40 - 16);
  EXPECT_GT(alignmentScore(setup.ctx, b.data()), 0);
  b[0].setAngle(40 - 17);
  EXPECT_EQ(alignmentScore(setup.ctx, b.data()), 0);
  EXPECT_EQ(setup.matches[0].alignScore, 0);

  b[0].setAngle(40);
  b[0].y = 100 + 9;
  b[0].x = 100 + 12;  // exactly 15 pixels
  EXPECT_GT(alignmentScore(setup.ctx, b.data()), 0);
  b[0].x = 100 + 13;
  EXPECT_EQ(alignmentScore(setup.ctx, b.data()), 0);

  // Unflagged records score nothing, and their score byte is cleared too.
  b[0] = minutia(100, 100, 40);
  setup.matches[0].rotationFlag = 0;
  setup.matches[0].alignScore = 99;
  EXPECT_EQ(alignmentScore(setup.ctx, b.data()), 0);
  EXPECT_EQ(setup.matches[0].alignScore, 0);
}

TEST(AssignmentScore, StrongestClaimKeepsTheMinutia) {
  std::vector<MatchMinutia> a = {minutia(100, 100, 0), minutia(150, 100, 0), minutia(120, 140, 0)};
  AlignmentSetup setup(a);
  PairMatch strong = correspondence(0, 1, 0, 1, 0, 0);
  strong.alignScore = 100;
  PairMatch weak = correspondence(2, 1, 0, 1, 1, 0);  // A2 also claims B0, less strongly
  weak.alignScore = 50;
  setup.add(strong);
  setup.add(weak);
  setup.ctx.counts = {10, 10, 1};

  CandidateAlignment candidate;
  candidate.count = 3;
  const AssignmentResult result = assignmentScore(setup.ctx, candidate);
  EXPECT_EQ(result.total, 100);  // the weak record disagrees with B0's partner
  EXPECT_EQ(result.firstPart, 100);
  EXPECT_EQ(result.score, 200);
  ASSERT_EQ(candidate.matchedCount, 2);
  EXPECT_EQ(candidate.matchedPairs[0], packMatchedPair(0, 0, 100));
  EXPECT_EQ(candidate.matchedPairs[1], packMatchedPair(1, 1, 100));

  // Counts above 64 scale each part to 64ths of the pairs in use.
  setup.ctx.counts = {128, 128, 0};
  EXPECT_EQ(assignmentScore(setup.ctx, candidate).score, 0 + 50);
}

}  // namespace
}  // namespace fx60::match
