// The whole-candidate alignment against its stages run one by one, the translation
// peaks against a plain reading of their rules, and the per-list record index being
// rebuilt when a new list replaces the old one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "match/alignment.h"
#include "match/angles.h"
#include "template_builder.h"

namespace fx60::match {
namespace {

MatchMinutia minutia(int y, int x, int angle) { return testing::viewMinutia(y, x, angle); }

MinutiaPair randomPair(std::mt19937& rng) {
  MinutiaPair p{};
  p.d2 = std::uniform_int_distribution<uint32_t>(4, 60000)(rng);
  p.length = static_cast<uint16_t>(std::ceil(std::sqrt(static_cast<double>(p.d2))));
  p.relAngles = std::uniform_int_distribution<uint32_t>(4, 20)(rng) | (std::uniform_int_distribution<uint32_t>(4, 20)(rng) << 16);
  return p;
}

// Side A random; side B is A turned by trueTurn steps and moved, with jitter; the
// correspondences are true pairs and, mixed in, pairs of unrelated minutiae.
struct SyntheticComparison {
  MatchContext ctx;
  std::vector<MinutiaPair> inner;
  std::vector<MinutiaPair> outer;

  SyntheticComparison(unsigned seed, int trueTurn, bool withSingularPoints) {
    resetContext(ctx, threadWorkBuffers());
    std::mt19937 rng(seed);
    const auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const int n = uniform(12, 60);
    const double radians = -trueTurn * 2 * std::numbers::pi / 256;
    const int shiftY = uniform(-60, 60);
    const int shiftX = uniform(-40, 40);
    for (int k = 0; k < n; ++k) {
      const int y = uniform(20, 340);
      const int x = uniform(20, 236);
      const int angle = uniform(0, 255);
      ctx.viewA.minutiae[k] = minutia(y, x, angle);
      // B = A turned back about the centre and moved, so that turning B by trueTurn undoes it.
      const double dy = y - 180.0;
      const double dx = x - 180.0;
      const int by = static_cast<int>(std::lround(180 + std::cos(radians) * dy + std::sin(radians) * dx)) + shiftY + uniform(-2, 2);
      const int bx = static_cast<int>(std::lround(180 + std::cos(radians) * dx - std::sin(radians) * dy)) + shiftX + uniform(-2, 2);
      ctx.viewB.minutiae[k] = minutia(std::clamp(by, 0, 511), std::clamp(bx, 0, 255), angle - trueTurn + uniform(-6, 6));
    }
    ctx.viewA.count = ctx.viewB.count = n;
    ctx.countA = n;
    if (withSingularPoints) {
      MatchSingularPoint a{};
      a.y = 150;
      a.x = 120;
      a.angle = 40;
      a.type = 1;
      MatchSingularPoint b = a;
      b.y = 150 - shiftY;
      b.x = 120 - shiftX;
      b.angle = static_cast<uint8_t>(40 - trueTurn);
      ctx.viewA.singularPoints[0] = a;
      ctx.viewB.singularPoints[0] = b;
      ctx.viewA.singularCount = ctx.viewB.singularCount = 1;
    }

    // Pair k of one side resembles pair k of the other, as corresponding pairs do.
    for (int k = 0; k < 40; ++k) {
      inner.push_back(randomPair(rng));
      MinutiaPair o = inner.back();
      o.d2 += static_cast<uint32_t>(uniform(0, 40));
      o.length = static_cast<uint16_t>(std::ceil(std::sqrt(static_cast<double>(o.d2))));
      o.relAngles += static_cast<uint32_t>(uniform(0, 2)) | (static_cast<uint32_t>(uniform(0, 2)) << 16);
      outer.push_back(o);
    }
    inner.push_back(MinutiaPair{kPairListEnd, 0, 0, 0, 0, 0, 0, 0});
    outer.push_back(MinutiaPair{kPairListEnd, 0, 0, 0, 0, 0, 0, 0});
    ctx.innerPairs = inner.data();
    ctx.outerPairs = outer.data();
    ctx.counts = {uniform(20, 350), uniform(20, 350), uniform(0, 60)};

    const int records = uniform(50, 600);
    for (int k = 0; k < records; ++k) {
      const bool genuine = uniform(0, 2) != 0;
      const int aI = uniform(0, n - 1);
      const int aJ = (aI + uniform(1, n - 1)) % n;
      PairMatch m{};
      m.aI = static_cast<uint8_t>(aI);
      m.aJ = static_cast<uint8_t>(aJ);
      m.bForAi = static_cast<uint8_t>(genuine ? aI : uniform(0, n - 1));
      m.bForAj = static_cast<uint8_t>(genuine ? aJ : uniform(0, n - 1));
      m.weightI = static_cast<uint8_t>(uniform(8, 20));
      m.weightJ = static_cast<uint8_t>(uniform(8, 20));
      m.dirB = static_cast<uint8_t>(uniform(0, 255));
      m.dirA = static_cast<uint8_t>(m.dirB + (genuine ? trueTurn + uniform(-5, 5) : uniform(0, 255)));
      const int outerIndex = uniform(0, 39);
      const int innerIndex = genuine ? outerIndex : uniform(0, 39);
      m.pairRef = (static_cast<uint32_t>(outerIndex) << 20) + 16u * static_cast<uint32_t>(innerIndex);
      ctx.matches[k] = m;
    }
    // The list ends as the pair stage ends it.
    ctx.matches[records] = PairMatch{};
    ctx.matches[records].rotationFlag = kPairMatchEndFlag;
    ctx.matchCount = records;
  }
};

struct StagedResult {
  bool usable = false;
  int bestTranslationScore = 0;
  int translationY = 0;
  int translationX = 0;
  int score = 0;
  std::vector<uint32_t> matchedPairs;
  std::vector<MatchMinutia> placed;
};

// The candidate built from the exposed stages, one at a time.
StagedResult alignByStages(MatchContext& ctx, uint8_t rotation) {
  CandidateAlignment candidate;
  candidate.count = ctx.viewB.count;
  std::array<MatchSingularPoint, kMaxSingularPoints> singular{};
  TurnOffset offset;
  if (rotation == 0) {
    std::copy_n(ctx.viewB.minutiae, candidate.count, candidate.minutiae.begin());
    std::copy_n(ctx.viewB.singularPoints, ctx.viewB.singularCount, singular.begin());
  } else {
    offset = turnSide(ctx.viewB.minutiae, candidate.count, rotation, candidate.minutiae.data());
    turnSingular(ctx.viewB.singularPoints, ctx.viewB.singularCount, rotation, singular.data());
  }
  const SingularPairs pairs = pairSingularPoints(ctx, singular.data(), ctx.viewB.singularCount);
  TranslationHistogram histX{};
  TranslationHistogram histY{};
  const TranslationCandidates translations =
      translationCandidates(ctx, rotation, candidate.minutiae.data(), offset, pairs, histX, histY);
  StagedResult result;
  if (translations.count == 0) return result;

  const std::vector<MatchMinutia> turned(candidate.minutiae.begin(), candidate.minutiae.begin() + candidate.count);
  const auto placeAt = [&](const TranslationCandidate& t) {
    for (int k = 0; k < candidate.count; ++k) {
      candidate.minutiae[k] = turned[k];
      candidate.minutiae[k].y += t.ty;
      candidate.minutiae[k].x += t.tx;
    }
  };
  int best = -1;
  int bestIndex = 0;
  for (int k = 0; k < translations.count; ++k) {
    placeAt(translations.candidates[k]);
    const int score = alignmentScore(ctx, candidate.minutiae.data());
    if (score > best) {
      best = score;
      bestIndex = k;
    }
  }
  placeAt(translations.candidates[bestIndex]);
  result.bestTranslationScore = best;
  result.translationY = translations.candidates[bestIndex].ty;
  result.translationX = translations.candidates[bestIndex].tx;
  result.placed.assign(candidate.minutiae.begin(), candidate.minutiae.begin() + candidate.count);
  if (best < 192) return result;
  alignmentScore(ctx, candidate.minutiae.data());
  result.usable = true;
  result.score = assignmentScore(ctx, candidate).score;
  result.matchedPairs.assign(candidate.matchedPairs.begin(), candidate.matchedPairs.begin() + candidate.matchedCount);
  return result;
}

void expectSameAsStages(MatchContext& ctx, uint8_t rotation, const std::string& label) {
  CandidateAlignment whole;
  const bool usable = alignCandidate(ctx, rotation, whole);
  const StagedResult staged = alignByStages(ctx, rotation);
  SCOPED_TRACE(label);
  ASSERT_EQ(usable, staged.usable);
  if (staged.placed.empty()) return;  // no translation: nothing more is defined
  EXPECT_EQ(whole.bestTranslationScore, staged.bestTranslationScore);
  EXPECT_EQ(whole.translationY, staged.translationY);
  EXPECT_EQ(whole.translationX, staged.translationX);
  for (int k = 0; k < whole.count; ++k) {
    EXPECT_EQ(whole.minutiae[k].y, staged.placed[k].y);
    EXPECT_EQ(whole.minutiae[k].x, staged.placed[k].x);
    EXPECT_EQ(whole.minutiae[k].sortKey, staged.placed[k].sortKey);
  }
  if (!usable) return;
  EXPECT_EQ(whole.score, staged.score);
  EXPECT_EQ(std::vector<uint32_t>(whole.matchedPairs.begin(), whole.matchedPairs.begin() + whole.matchedCount),
            staged.matchedPairs);
}

TEST(AlignCandidate, AgreesWithItsStagesOnSyntheticComparisons) {
  int usableSeen = 0;
  for (unsigned seed = 1; seed <= 60; ++seed) {
    const int trueTurn = static_cast<int>((seed * 37) % 256);
    SyntheticComparison comparison(seed, trueTurn, seed % 3 == 0);
    // Several candidates on one list, as a pass runs them: near the true turn, off it, and 0.
    for (const int rotation : {trueTurn, trueTurn + 3, trueTurn - 7, trueTurn + 60, 0}) {
      const uint8_t r = static_cast<uint8_t>(rotation);
      expectSameAsStages(comparison.ctx, r, "seed " + std::to_string(seed) + " rotation " + std::to_string(r));
      CandidateAlignment probe;
      usableSeen += alignCandidate(comparison.ctx, r, probe) ? 1 : 0;
    }
  }
  EXPECT_GT(usableSeen, 40);  // the comparisons exercise the scoring, not only the early exits
}

TEST(AlignCandidate, ANewListInTheSameBufferIsNotScoredFromTheOldOne) {
  unsigned seed = 1;
  while (true) {
    SyntheticComparison probe(seed, 20, false);
    CandidateAlignment aligned;
    if (alignCandidate(probe.ctx, 20, aligned)) break;
    ASSERT_LT(++seed, 50u);
  }
  SyntheticComparison first(seed, 20, false);
  CandidateAlignment before;
  ASSERT_TRUE(alignCandidate(first.ctx, 20, before));

  // Rebuild the list in place, as the pair stage does for the next pass: same buffer,
  // same length, same geometry, but every record now refers to other pairs.
  for (int k = 0; k < first.ctx.matchCount; ++k) {
    PairMatch& m = first.ctx.matches[k];
    m.pairRef = (static_cast<uint32_t>((m.outerPairIndex() + 1) % 40) << 20) + 16u * static_cast<uint32_t>(m.innerPairIndex());
  }
  first.ctx.matches[first.ctx.matchCount] = PairMatch{};
  first.ctx.matches[first.ctx.matchCount].rotationFlag = kPairMatchEndFlag;
  CandidateAlignment after;
  alignCandidate(first.ctx, 20, after);
  const StagedResult staged = alignByStages(first.ctx, 20);
  EXPECT_EQ(after.score, staged.score);
  EXPECT_EQ(after.bestTranslationScore, staged.bestTranslationScore);
  EXPECT_NE(after.bestTranslationScore, before.bestTranslationScore);
}

TEST(AlignCandidate, TranslationToleranceBoundsTheVotes) {
  // Exactly agreeing records vote with any tolerance of 0 or more, never with a negative one.
  SyntheticComparison comparison(3, 0, false);
  MatchContext& ctx = comparison.ctx;
  for (int k = 0; k < ctx.viewA.count; ++k) ctx.viewB.minutiae[k] = ctx.viewA.minutiae[k];
  PairMatch exact = ctx.matches[0];
  exact.dirA = exact.dirB;
  exact.bForAi = exact.aI;
  exact.bForAj = exact.aJ;
  exact.weightI = exact.weightJ = 20;
  for (int k = 0; k < 3; ++k) ctx.matches[k] = exact;  // 3 votes of 128: a peak
  ctx.matches[3] = PairMatch{};
  ctx.matches[3].rotationFlag = kPairMatchEndFlag;
  ctx.matchCount = 3;
  TranslationHistogram histX{};
  TranslationHistogram histY{};
  for (const int tolerance : {-1, 0, 13}) {
    ctx.translationTolerance = tolerance;
    const TranslationCandidates found = translationCandidates(ctx, 0, ctx.viewB.minutiae, {}, SingularPairs{}, histX, histY);
    EXPECT_EQ(found.count, tolerance < 0 ? 0 : 1) << tolerance;
  }
}

// The peak rules read plainly: 11-bin smoothing over the trimmed range, the first
// maximum, its centroid-corrected position and 21-bin mass, and the second peak.
HistogramPeaks plainPeaks(const TranslationHistogram& h) {
  HistogramPeaks result;
  int first = 10;
  while (first <= 1013 && h[first] == 0) ++first;
  if (first > 1013) return result;
  int last = 1013;
  while (h[last] == 0) --last;
  const auto raw = [&](int k) -> uint32_t { return k >= first && k <= last ? h[k] : 0u; };
  std::array<uint32_t, kTranslationBins> smoothed{};
  uint32_t total = 0;
  for (int k = first; k <= last; ++k) {
    for (int j = k - 5; j <= k + 5; ++j) smoothed[k] += raw(j);
    total += h[k];
  }
  const auto mass = [&](int centre) {
    uint32_t sum = 0;
    for (int k = centre - 10; k <= centre + 10; ++k) sum += raw(k);
    return sum;
  };
  int topAt = first;
  for (int k = first; k <= last; ++k)
    if (smoothed[k] > smoothed[topAt]) topAt = k;
  const uint32_t top = smoothed[topAt];
  const int peak = topAt + centroidShift(smoothed, topAt, 2 * top / 3);
  const uint32_t peakMass = mass(peak);
  if (peakMass <= 128) return result;
  result.peaks[0] = {peak, peakMass};
  result.count = 1;
  if (peakMass <= 896 || 2 * peakMass >= total) return result;
  int secondAt = -1;
  for (int k = first + 1; k <= last - 2; ++k) {
    if (k > peak - 13 && k < peak + 13) continue;
    if (secondAt < 0 || smoothed[k] > smoothed[secondAt]) secondAt = k;
  }
  if (secondAt < 0) return result;
  const uint32_t second = smoothed[secondAt];
  if (second < smoothed[secondAt - 1] || second < smoothed[secondAt + 1]) return result;
  if (3 * static_cast<uint64_t>(second) <= 2 * static_cast<uint64_t>(top)) return result;
  const int secondPeak = secondAt + centroidShift(smoothed, secondAt, 2 * second / 3);
  const uint32_t secondMass = mass(secondPeak);
  if (3 * static_cast<uint64_t>(secondMass) > 2 * static_cast<uint64_t>(peakMass) && std::abs(secondPeak - peak) > 10)
    result.peaks[result.count++] = {secondPeak, secondMass};
  return result;
}

TEST(HistogramPeaks, MatchThePlainRulesOnRandomHistograms) {
  std::mt19937 rng(2024);
  for (int trial = 0; trial < 3000; ++trial) {
    TranslationHistogram h{};
    const int centre = std::uniform_int_distribution<int>(0, 1023)(rng);
    const int spread = std::uniform_int_distribution<int>(1, 300)(rng);
    const int votes = std::uniform_int_distribution<int>(1, 120)(rng);
    for (int v = 0; v < votes; ++v) {
      // Clusters give two-peak cases; the wrap and the edges of the searched range come up too.
      const int cluster = v % 3 == 0 ? 200 : 0;
      const int bin = (centre + cluster + std::uniform_int_distribution<int>(-spread, spread)(rng)) & 1023;
      h[bin] += std::uniform_int_distribution<uint32_t>(1, 128)(rng);
    }
    if (trial % 50 == 0) h[centre] = 0xFFFFFF00u;  // sums that wrap 32 bits
    const HistogramPeaks fast = histogramPeaks(h);
    const HistogramPeaks plain = plainPeaks(h);
    ASSERT_EQ(fast.count, plain.count) << "trial " << trial;
    for (int p = 0; p < fast.count; ++p) {
      EXPECT_EQ(fast.peaks[p].position, plain.peaks[p].position) << "trial " << trial;
      EXPECT_EQ(fast.peaks[p].mass, plain.peaks[p].mass) << "trial " << trial;
    }
  }
}

}  // namespace
}  // namespace fx60::match
