// The fast paths of pair building and pair matching against plain reference versions:
// byte angles of long vectors, pair lists with many equal lengths, and the blockwise
// correspondence scan with its packed match records.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <random>
#include <tuple>
#include <vector>

#include "match/affine.h"
#include "match/angles.h"
#include "match/half_turn_memo.h"
#include "match/pair_kernels.h"
#include "match/pair_matching.h"
#include "match/pair_tables.h"
#include "match/second_pass.h"
#include "match/sqrt_tables.h"
#include "match/view.h"
#include "template_builder.h"
#include "tests/support/vector_form.h"

namespace fx60::match {
namespace {

using testing::buildTemplate;
using testing::TestMinutia;

// Halves both components one step at a time until they fit the table.
uint8_t referenceByteAngle(int dx, int dy) {
  int ax = std::abs(dx);
  int ay = std::abs(dy);
  while (ax >= 64 || ay >= 64) {
    ax >>= 1;
    ay >>= 1;
  }
  const int t = ArctanTable[ay][ax];
  const int angle = dy >= 0 ? (dx <= 0 ? t : 128 - t) : (dx <= 0 ? -t : t + 128);
  return static_cast<uint8_t>(angle & 0xFF);
}

TEST(PairKernels, ByteAngleOfLongVectorsHalvesLikeTheStepwiseRule) {
  for (int dx = -520; dx <= 520; ++dx)
    for (int dy = -520; dy <= 520; dy += (std::abs(dx) < 70 ? 1 : 7))
      ASSERT_EQ(byteAngleOf(dx, dy), referenceByteAngle(dx, dy)) << dx << ", " << dy;
  ASSERT_EQ(byteAngleOf(64, 0), referenceByteAngle(64, 0));
  ASSERT_EQ(byteAngleOf(-63, 127), referenceByteAngle(-63, 127));
}

using PairsOf = testing::PairedSides;

// Minutiae on a square lattice: many pairs share a length, so the order of equal
// lengths (by i, then j) decides the lists.
std::vector<TestMinutia> lattice(int columns, int rows, int step, int angleStep) {
  std::vector<TestMinutia> out;
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < columns; ++c) out.push_back({20 + c * step, 20 + r * step, ((r * columns + c) * angleStep) % 360});
  return out;
}

void expectSortedByLengthThenIndexes(const MinutiaPair* pairs, int count, const MatchView& view) {
  for (int k = 0; k < count; ++k) {
    const MinutiaPair& p = pairs[k];
    ASSERT_LT(p.i, p.j) << k;
    const int dx = view.minutiae[p.j].x - view.minutiae[p.i].x;
    const int dy = view.minutiae[p.j].y - view.minutiae[p.i].y;
    ASSERT_EQ(p.d2, static_cast<uint32_t>(dx * dx + dy * dy)) << k;
    if (k > 0) {
      const MinutiaPair& q = pairs[k - 1];
      ASSERT_TRUE(q.d2 < p.d2 || (q.d2 == p.d2 && (q.i < p.i || (q.i == p.i && q.j < p.j)))) << k;
    }
  }
}

TEST(PairKernels, PairLengthIsTheExactCeilingRootAroundEverySquare) {
  // The floating-point root must not round across an integer: check both sides of
  // every square a 32-bit squared length can reach, and a dense run of small values.
  for (uint64_t root = 2; root <= 65535; ++root) {
    const uint64_t square = root * root;
    ASSERT_EQ(ceilSqrtExact(static_cast<uint32_t>(square)), static_cast<int>(root)) << square;
    ASSERT_EQ(ceilSqrtExact(static_cast<uint32_t>(square - 1)), static_cast<int>(root)) << square - 1;
    ASSERT_EQ(ceilSqrtExact(static_cast<uint32_t>(square + 1)), static_cast<int>(root + 1)) << square + 1;
  }
  EXPECT_EQ(ceilSqrtExact(0xFFFFFFFFu), 65536);
  int root = 0;
  for (uint32_t d2 = 0; d2 <= 200000; ++d2) {
    while (root * root < static_cast<int>(d2)) ++root;
    ASSERT_EQ(ceilSqrtExact(d2), root) << d2;
  }
}

TEST(PairKernels, ListsWithManyEqualLengthsKeepIndexOrder) {
  // 12 x 10 lattice: 120 minutiae, of which the view keeps 112; A's list is cut at 1399.
  PairsOf big(lattice(12, 10, 20, 37), lattice(12, 10, 20, 53));
  ASSERT_EQ(big.ctx.viewA.count, kMaxViewMinutiae);
  ASSERT_EQ(big.ctx.pairCountA, kMaxPairRecords);
  expectSortedByLengthThenIndexes(big.ctx.pairsA, big.ctx.pairCountA, big.ctx.viewA);
  expectSortedByLengthThenIndexes(big.ctx.pairsB, big.ctx.pairCountB, big.ctx.viewB);
  // The keys pass 1 selected are B's shortest; every other key is longer than all of them.
  const uint32_t longestTaken = big.ctx.pairKeysB[big.ctx.pairKeysSortedB - 1];
  for (int k = big.ctx.pairKeysSortedB; k < big.ctx.pairKeyCountB; ++k)
    ASSERT_GT(big.ctx.pairKeysB[k], longestTaken) << k;

  // A small A (fewer than 350 pairs) against a large B: only B's short pairs are taken.
  PairsOf small(lattice(5, 5, 30, 11), lattice(11, 10, 17, 29));
  expectSortedByLengthThenIndexes(small.ctx.pairsB, small.ctx.pairCountB, small.ctx.viewB);
  ASSERT_GT(small.ctx.pairKeyCountB, small.ctx.pairCountB);
}

struct ReferenceResult {
  std::vector<PairMatch> matches;
  std::array<uint32_t, kRotationBins> votes{};
  int processed = 0;
};

// Every candidate of every window tested one at a time, each record filled field by field.
ReferenceResult referenceMatchPairs(const MatchContext& ctx) {
  ReferenceResult out;
  const MinutiaPair* outer = ctx.outerPairs;
  const MinutiaPair* inner = ctx.innerPairs;
  const MatchMinutia* b = ctx.viewB.minutiae;
  if (ctx.outerCount <= 0) return out;
  const uint32_t limit = std::min(ctx.outerLimit, outer[ctx.outerCount - 1].d2);
  int start = 0;
  const auto weight = [](int residual) { return static_cast<uint8_t>(20 - std::abs(residual - 12)); };
  for (int q = 0; outer[q].d2 <= limit; ++q) {
    const MinutiaPair& pair = outer[q];
    const uint8_t dir = byteAngleOf(b[pair.j].x - b[pair.i].x, b[pair.j].y - b[pair.i].y);
    const int relI = static_cast<uint8_t>(b[pair.i].angle() - dir);
    const int relJ = static_cast<uint8_t>(b[pair.j].angle() - dir - 128);
    const DistanceTolerance tolerance = toleranceOf(pair.length);
    if (pair.d2 > tolerance.lo)
      while (inner[start].d2 < pair.d2 - tolerance.lo) ++start;
    const bool votes = pair.d2 > 1224;
    if (votes && inner[start].d2 == kPairListEnd) break;
    ++out.processed;
    for (int r = start; inner[r].d2 != kPairListEnd && inner[r].d2 <= pair.d2 + tolerance.hi; ++r) {
      const int endI = static_cast<int>(inner[r].relAngles & 0xFF);
      const int endJ = static_cast<int>((inner[r].relAngles >> 16) & 0xFF);
      const auto add = [&](int probeI, int probeJ, uint8_t bForAi, uint8_t bForAj, uint8_t dirB) {
        const int residualI = (endI - probeI) & 0xFF;
        const int residualJ = (endJ - probeJ) & 0xFF;
        if (residualI > 24 || residualJ > 24) return;
        PairMatch m{};
        m.bForAi = bForAi;
        m.bForAj = bForAj;
        m.weightI = weight(residualI);
        m.dirB = dirB;
        m.aI = inner[r].i;
        m.aJ = inner[r].j;
        m.aRelAngleJ = inner[r].relAngleJ;
        m.dirA = inner[r].dir;
        m.weightJ = weight(residualJ);
        m.pairRef = (static_cast<uint32_t>(q) << 20) + 16u * static_cast<uint32_t>(r);
        if (static_cast<int>(out.matches.size()) < kMaxPairRecords) out.matches.push_back(m);
        if (votes) out.votes[static_cast<uint8_t>(inner[r].dir - dirB)] += m.weightI + m.weightJ - 14u;
      };
      add(relI, relJ, pair.i, pair.j, dir);
      add(relJ, relI, pair.j, pair.i, static_cast<uint8_t>(dir + 128));
    }
  }
  return out;
}

void expectMatchesLikeReference(MatchContext& ctx, int pass = 1) {
  const ReferenceResult want = referenceMatchPairs(ctx);
  const int count = matchPairs(ctx, pass);
  ASSERT_EQ(count, static_cast<int>(want.matches.size()));
  EXPECT_EQ(ctx.outerRecordsProcessed[pass == 2 ? 1 : 0], want.processed);
  for (int k = 0; k < count; ++k) {
    const PairMatch& got = ctx.matches[k];
    const PairMatch& m = want.matches[k];
    ASSERT_EQ(std::make_tuple(got.bForAi, got.bForAj, got.weightI, got.dirB, got.aI, got.aJ, got.aRelAngleJ, got.dirA,
                              got.weightJ, got.rotationFlag, got.alignScore, got.spare, got.pairRef),
              std::make_tuple(m.bForAi, m.bForAj, m.weightI, m.dirB, m.aI, m.aJ, m.aRelAngleJ, m.dirA, m.weightJ,
                              m.rotationFlag, m.alignScore, m.spare, m.pairRef))
        << k;
  }
  EXPECT_EQ(ctx.matches[count].rotationFlag, kPairMatchEndFlag);
  for (int bin = 0; bin < kRotationBins; ++bin) ASSERT_EQ(ctx.rotationVotes[bin], want.votes[bin]) << bin;
  // Every outer record the search reached, including the one that stopped it, carries its
  // direction and its angle word in scanned-list form.
  const MatchMinutia* b = ctx.viewB.minutiae;
  const uint32_t limit = std::min(ctx.outerLimit, ctx.outerPairs[ctx.outerCount - 1].d2);
  for (int q = 0; q <= want.processed && ctx.outerPairs[q].d2 <= limit; ++q) {
    const MinutiaPair& pair = ctx.outerPairs[q];
    const uint8_t dir = byteAngleOf(b[pair.j].x - b[pair.i].x, b[pair.j].y - b[pair.i].y);
    ASSERT_EQ(pair.dir, dir) << q;
    const uint32_t low = static_cast<uint8_t>(b[pair.i].angle() - dir + 12);
    const uint32_t high = static_cast<uint8_t>(b[pair.j].angle() - dir - 128 + 12);
    ASSERT_EQ(pair.relAngles, low | 0x0F00u | (high << 16) | 0x8F000000u) << q;
  }
}

TEST(PairKernels, CorrespondencesEqualACandidateByCandidateScan) {
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    SCOPED_TRACE(seed);
    PairsOf s(testing::scatteredMinutiae(30 + 12 * static_cast<int>(seed), seed),
            testing::scatteredMinutiae(70 - 6 * static_cast<int>(seed), seed + 100));
    expectMatchesLikeReference(s.ctx);
  }
  // The same print on both sides: long agreeing windows, votes concentrated at rotation 0.
  PairsOf same(testing::scatteredMinutiae(60, 77), testing::scatteredMinutiae(60, 77));
  expectMatchesLikeReference(same.ctx);
  // Lattices: many equal lengths and angles, enough matches to reach the record limit.
  PairsOf full(lattice(12, 10, 20, 0), lattice(12, 10, 20, 0));
  expectMatchesLikeReference(full.ctx);
  EXPECT_EQ(full.ctx.matchCount, kMaxPairRecords);
}

// Side B's pass-1 keys and records, with the unsorted rest of the keys as a set.
struct Pass1Keys {
  int keyCount;
  int taken;
  std::vector<uint32_t> front;
  std::vector<uint32_t> rest;
  std::vector<std::array<uint32_t, 4>> records;  // d2, length, i, j
  PairCounts counts;
};

Pass1Keys pass1KeysOf(const MatchContext& ctx) {
  Pass1Keys out{ctx.pairKeyCountB, ctx.pairKeysSortedB, {}, {}, {}, ctx.counts};
  out.front.assign(ctx.pairKeysB, ctx.pairKeysB + ctx.pairKeysSortedB);
  out.rest.assign(ctx.pairKeysB + ctx.pairKeysSortedB, ctx.pairKeysB + ctx.pairKeyCountB);
  std::sort(out.rest.begin(), out.rest.end());
  for (int k = 0; k <= ctx.pairCountB; ++k) {
    const MinutiaPair& p = ctx.pairsB[k];
    out.records.push_back({p.d2, p.length, p.i, p.j});
  }
  return out;
}

void expectSameKeys(const Pass1Keys& got, const Pass1Keys& want) {
  EXPECT_EQ(got.keyCount, want.keyCount);
  EXPECT_EQ(got.taken, want.taken);
  EXPECT_EQ(got.front, want.front);
  EXPECT_EQ(got.rest, want.rest);
  EXPECT_EQ(got.records, want.records);
  EXPECT_EQ(got.counts.nA, want.counts.nA);
  EXPECT_EQ(got.counts.nB, want.counts.nB);
  EXPECT_EQ(got.counts.nB0, want.counts.nB0);
}

// The same print turned by half a turn about the image centre, as a template.
std::vector<TestMinutia> halfTurn(const std::vector<TestMinutia>& minutiae) {
  std::vector<TestMinutia> out;
  for (const TestMinutia& m : minutiae) out.push_back({255 - m.x, 359 - m.y, (m.angle + 180) % 360});
  return out;
}

TEST(PairKernels, HalfTurnedSideBTakesOverTheSearchExactly) {
  for (uint32_t seed = 11; seed <= 14; ++seed) {
    SCOPED_TRACE(seed);
    const auto a = testing::scatteredMinutiae(45, seed);
    // The last side B is small: its pass-1 keys are widened along A's longer pairs.
    const auto b = testing::scatteredMinutiae(seed == 14 ? 20 : 40 + static_cast<int>(seed), seed + 50);
    PairsOf s(a, b);
    if (seed == 14) {
      EXPECT_GT(s.ctx.counts.nB, s.ctx.counts.nB0) << "no widening";
    }
    matchPairs(s.ctx, 1);
    const int firstX = s.ctx.viewB.minutiae[0].x;

    // Side B turned, side A kept: the search is taken over from the first one.
    const auto turned = buildTemplate(halfTurn(b));
    decodeView(s.ctx.viewB, turned.data());
    buildPass1PairsB(s.ctx);
    // Its keys come from the first side's: the same as building them afresh.
    EXPECT_FALSE(half_turn_memo::threadMemos().keys.valid) << "the turned side's keys were built again";
    const Pass1Keys takenOver = pass1KeysOf(s.ctx);
    buildPass1PairsB(s.ctx);
    expectSameKeys(takenOver, pass1KeysOf(s.ctx));
    expectMatchesLikeReference(s.ctx);
    EXPECT_EQ(half_turn_memo::threadMemos().search.shape.x[0], firstX) << "the turned side was searched again";
  }
  // Lattices: pairs of one length trade places in the turned side's list.
  {
    const auto gridB = lattice(5, 4, 23, 23);
    PairsOf grid(lattice(6, 5, 23, 31), gridB);
    matchPairs(grid.ctx, 1);
    ASSERT_TRUE(half_turn_memo::threadMemos().search.valid);
    const auto turnedGrid = buildTemplate(halfTurn(gridB));
    decodeView(grid.ctx.viewB, turnedGrid.data());
    buildPass1PairsB(grid.ctx);
    expectMatchesLikeReference(grid.ctx);
    EXPECT_EQ(half_turn_memo::threadMemos().search.shape.x[0], 20) << "the turned side was searched again";
  }
  // A side B that is not an exact half turn (one minutia moved) is searched afresh.
  const auto a = testing::scatteredMinutiae(45, 21);
  auto b = testing::scatteredMinutiae(45, 22);
  PairsOf s(a, b);
  matchPairs(s.ctx, 1);
  auto turned = halfTurn(b);
  turned[5].x += 1;
  const auto moved = buildTemplate(turned);
  decodeView(s.ctx.viewB, moved.data());
  buildPass1PairsB(s.ctx);
  expectMatchesLikeReference(s.ctx);
  // A new side A makes the memo stale even for an exact half turn.
  PairsOf fresh(testing::scatteredMinutiae(45, 23), b);
  matchPairs(fresh.ctx, 1);
  const auto otherA = buildTemplate(testing::scatteredMinutiae(44, 24));
  decodeView(fresh.ctx.viewA, otherA.data());
  preparePassTables(fresh.ctx);
  const auto exact = buildTemplate(halfTurn(b));
  decodeView(fresh.ctx.viewB, exact.data());
  buildPass1PairsB(fresh.ctx);
  expectMatchesLikeReference(fresh.ctx);
}

// The second pass as a comparison runs it after a first: B's records searched, A's list
// scanned, the views exchanged.
void enterSecondPass(MatchContext& ctx) {
  matchPairs(ctx, 1);
  preparePass2(ctx);
  swapViews(ctx);
  ctx.outerPairs = ctx.pass2.outerPairs;
  ctx.outerCount = ctx.pass2.outerCount;
  ctx.innerPairs = ctx.pass2.innerPairs;
  ctx.innerCount = ctx.pass2.innerCount;
  ctx.outerLimit = ctx.pass2.outerLimit;
}

// Back to the first pass with side B replaced, as the half-turn retry does.
void replaceSideB(MatchContext& ctx, const std::vector<TestMinutia>& b) {
  swapViews(ctx);
  fillPairAngles(ctx.pairsA, ctx.pairCountA, ctx.viewA.minutiae);
  const auto tb = buildTemplate(b);
  decodeView(ctx.viewB, tb.data());
  buildPass1PairsB(ctx);
}

TEST(PairKernels, RefillingScannedRecordsRestoresTheirInnerForm) {
  PairsOf s(testing::scatteredMinutiae(44, 61), testing::scatteredMinutiae(40, 62));
  const std::vector<MinutiaPair> prepared(s.ctx.pairsA, s.ctx.pairsA + s.ctx.pairCountA);
  enterSecondPass(s.ctx);
  matchPairs(s.ctx, 2);  // rewrites the scanned records of A's list
  ASSERT_GT(s.ctx.outerRecordsProcessed[1], 0);
  EXPECT_NE(s.ctx.pairsA[0].relAngles, prepared[0].relAngles);
  fillPairAngles(s.ctx.pairsA, s.ctx.pairCountA, s.ctx.viewB.minutiae);
  for (int k = 0; k < s.ctx.pairCountA; ++k) {
    const MinutiaPair& got = s.ctx.pairsA[k];
    const MinutiaPair& want = prepared[k];
    ASSERT_EQ(std::make_tuple(got.d2, got.length, got.relAngles, got.i, got.j, got.relAngleJ, got.dir),
              std::make_tuple(want.d2, want.length, want.relAngles, want.i, want.j, want.relAngleJ, want.dir))
        << k;
  }
  // Freshly expanded records (no guards) are computed from the minutiae.
  std::vector<MinutiaPair> fresh(prepared.size() + 1);
  std::vector<uint32_t> keys;
  for (const MinutiaPair& p : prepared) keys.push_back(pairKey(p.d2, p.i, p.j));
  expandPairs(keys.data(), 0, static_cast<int>(keys.size()), fresh.data());
  fillPairAngles(fresh.data(), static_cast<int>(keys.size()), s.ctx.viewB.minutiae);
  for (std::size_t k = 0; k < prepared.size(); ++k) {
    ASSERT_EQ(fresh[k].relAngles, prepared[k].relAngles) << k;
    ASSERT_EQ(fresh[k].relAngleJ, prepared[k].relAngleJ) << k;
    ASSERT_EQ(fresh[k].dir, prepared[k].dir) << k;
  }
}

TEST(PairKernels, HalfTurnedSideBTakesOverTheSecondPassExactly) {
  for (uint32_t seed = 31; seed <= 35; ++seed) {
    SCOPED_TRACE(seed);
    const auto a = testing::scatteredMinutiae(40 + static_cast<int>(seed) % 3 * 8, seed);
    const auto b = testing::scatteredMinutiae(36 + static_cast<int>(seed) % 4 * 6, seed + 40);
    PairsOf s(a, b);
    enterSecondPass(s.ctx);
    expectMatchesLikeReference(s.ctx, 2);
    const auto searchedEnds = [&] {
      const half_turn_memo::ScanMemo& memo = half_turn_memo::threadMemos().scan;
      std::vector<std::pair<int, int>> ends;
      for (int r = 0; r < memo.reach; ++r) ends.emplace_back(memo.inner[r].i, memo.inner[r].j);
      return ends;
    };
    const auto firstEnds = searchedEnds();
    ASSERT_TRUE(half_turn_memo::threadMemos().scan.valid);

    replaceSideB(s.ctx, halfTurn(b));
    enterSecondPass(s.ctx);
    expectMatchesLikeReference(s.ctx, 2);
    EXPECT_EQ(searchedEnds(), firstEnds) << "the turned side was searched again";
  }
  // Lattices: many records of one length trade places within their group.
  PairsOf grid(lattice(8, 7, 20, 31), lattice(7, 7, 20, 17));
  enterSecondPass(grid.ctx);
  expectMatchesLikeReference(grid.ctx, 2);
  replaceSideB(grid.ctx, halfTurn(lattice(7, 7, 20, 17)));
  enterSecondPass(grid.ctx);
  expectMatchesLikeReference(grid.ctx, 2);

  // A side B that is not an exact half turn (one minutia moved) is searched afresh.
  const auto b = testing::scatteredMinutiae(44, 81);
  PairsOf s(testing::scatteredMinutiae(46, 80), b);
  enterSecondPass(s.ctx);
  matchPairs(s.ctx, 2);
  auto turned = halfTurn(b);
  turned[7].y += 1;
  replaceSideB(s.ctx, turned);
  enterSecondPass(s.ctx);
  expectMatchesLikeReference(s.ctx, 2);
}


// The scan kernel and the turned-match writer in their plain and vector forms, on the
// same input.
TEST(PairKernels, PlainAndVectorFormsAgree) {
  FX60_REQUIRE_VECTOR_FORM();
  namespace simd = pair_kernels::fast;
  std::mt19937 rng(99);
  alignas(16) std::array<uint8_t, 16> endI, endJ;
  for (int trial = 0; trial < 50000; ++trial) {
    const auto probeI = static_cast<uint8_t>(rng());
    const auto probeJ = static_cast<uint8_t>(rng());
    for (int k = 0; k < 16; ++k) {
      // Mostly near one of the probes, so that straight and crossed hits both occur.
      endI[k] = static_cast<uint8_t>(rng() % 4 == 0 ? rng() : (rng() % 2 ? probeI : probeJ) + rng() % 30);
      endJ[k] = static_cast<uint8_t>(rng() % 4 == 0 ? rng() : (rng() % 2 ? probeI : probeJ) + rng() % 30);
    }
    ASSERT_EQ(pair_kernels::plain::blockHits(endI.data(), endJ.data(), probeI, probeJ),
              simd::blockHits(endI.data(), endJ.data(), probeI, probeJ))
        << trial;
  }
  for (const bool keepOuterIndex : {false, true}) {
    for (const int last : {0, 1, 57, 111}) {
      pair_kernels::plain::HalfTurnedMatches plainForm(last, keepOuterIndex);
      simd::HalfTurnedMatches vectorForm(last, keepOuterIndex);
      for (int trial = 0; trial < 2000; ++trial) {
        if (trial % 100 == 0) {
          plainForm.setOuterIndex(trial);
          vectorForm.setOuterIndex(trial);
        }
        PairMatch from;
        std::array<uint8_t, sizeof from> bytes;
        for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
        std::memcpy(&from, bytes.data(), sizeof from);
        from.bForAi = static_cast<uint8_t>(rng() % (last + 1));
        from.bForAj = static_cast<uint8_t>(rng() % (last + 1));
        PairMatch a;
        PairMatch b;
        plainForm.write(from, a);
        vectorForm.write(from, b);
        ASSERT_EQ(std::memcmp(&a, &b, sizeof a), 0) << last << " " << trial;
      }
    }
  }
}

}  // namespace
}  // namespace fx60::match
