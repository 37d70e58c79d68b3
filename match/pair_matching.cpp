#include "match/pair_matching.h"

#include <algorithm>
#include <array>
#include <bit>

#include "match/half_turn_memo.h"
#include "match/pair_kernels.h"
#include "match/pair_tables.h"

namespace fx60::match {
namespace {

constexpr uint32_t kVotingD2 = 1224;  // shorter pairs match but do not vote
constexpr int kScanBlock = pair_kernels::kScanBlock;

// Agreement weight of an end-angle residual of -12..12 (lane byte 0..24): 20 at 0, 8 at
// the edges. Lane bytes of agreeing ends never exceed 24; the rest of the table is unused.
inline constexpr std::array<uint8_t, 256> LaneWeight = [] {
  std::array<uint8_t, 256> table{};
  for (int laneByte = 0; laneByte <= 24; ++laneByte)
    table[laneByte] = static_cast<uint8_t>(20 - (laneByte < 12 ? 12 - laneByte : laneByte - 12));
  return table;
}();

constexpr uint32_t laneWeight(uint32_t laneByte) { return LaneWeight[laneByte & 0xFF]; }

// First half of the correspondence search: the direction and scanned-list angle word of
// each outer pair, and its inner window. Stops where the search stops; returns the
// number of outer pairs processed, the furthest window end in `reach` and the last inner
// record whose length was read in `lastRead`.
int placeOuterWindows(MinutiaPair* outer, uint32_t limit, const MinutiaPair* inner, const MatchMinutia* minutiaeB,
                      OuterPairWindow* windows, int& reach, int& lastRead) {
  int innerStart = 0;
  int innerEnd = 0;
  uint32_t lastUpper = 0;
  int q = 0;
  for (; outer[q].d2 <= limit; ++q) {
    MinutiaPair& pair = outer[q];
    const OuterAngles angles = setScannedAngles(pair, minutiaeB);
    const uint32_t relI = angles.relI;
    const uint32_t relJ = angles.relJ;

    const DistanceTolerance tolerance = toleranceOf(pair.length);
    if (pair.d2 > tolerance.lo) {
      const uint32_t lower = pair.d2 - tolerance.lo;
      // The start usually moves by a record or two: those steps are taken by adding the
      // test, without a branch; the loop finishes any longer move. Every record read is
      // one the loop alone would read.
      innerStart += inner[innerStart].d2 < lower ? 1 : 0;
      innerStart += inner[innerStart].d2 < lower ? 1 : 0;
      while (inner[innerStart].d2 < lower) ++innerStart;
    }
    if (pair.d2 > kVotingD2 && inner[innerStart].d2 == kPairListEnd) break;

    // Real pairs are far shorter than the end mark, so the bound never reaches it and
    // the end record stops the forward scan.
    const uint32_t upper =
        static_cast<uint32_t>(std::min<uint64_t>(static_cast<uint64_t>(pair.d2) + tolerance.hi, kPairListEnd - 1));
    // The upper bound grows with d2 along a sorted list, so the window's end normally only
    // moves forward; it is stepped back only where the bound dropped.
    innerEnd = std::max(innerEnd, innerStart);
    innerEnd += inner[innerEnd].d2 <= upper ? 1 : 0;  // as for the start
    innerEnd += inner[innerEnd].d2 <= upper ? 1 : 0;
    while (inner[innerEnd].d2 <= upper) ++innerEnd;
    if (upper < lastUpper)
      while (innerEnd > innerStart && inner[innerEnd - 1].d2 > upper) --innerEnd;
    lastUpper = upper;
    windows[q] = {static_cast<uint16_t>(innerStart), static_cast<uint16_t>(innerEnd), static_cast<uint8_t>(relI),
                  static_cast<uint8_t>(relJ), 0};
    reach = std::max(reach, innerEnd);
  }
  lastRead = std::max(reach, innerStart);
  return q;
}

// The end-angle bytes of inner records [from, to) into the two scan arrays.
void copyInnerEndAngles(const MinutiaPair* inner, int from, int to, uint8_t* endI, uint8_t* endJ) {
  for (int r = from; r < to; ++r) {
    endI[r] = static_cast<uint8_t>(inner[r].relAngles);
    endJ[r] = static_cast<uint8_t>(inner[r].relAngles >> 16);
  }
}

}  // namespace

namespace {

// The search itself: windows first, then each outer pair's window scanned sixteen
// records at a time. Keeps what it did for the half-turn memo.
half_turn_memo::SearchOutcome searchPairs(MatchContext& ctx, int pass, uint32_t limit) {
  uint32_t* votes = ctx.rotationVotes;
  PairMatch* matches = ctx.matches;
  int matchCount = 0;  // counts every match, also those past the list's capacity
  const MinutiaPair* outer = ctx.outerPairs;
  const MinutiaPair* inner = ctx.innerPairs;

  OuterPairWindow* windows = ctx.buffers->outerWindows.data();
  int reach = 0;
  int lastRead = 0;
  const int processed = placeOuterWindows(ctx.outerPairs, limit, inner, ctx.viewB.minutiae, windows, reach, lastRead);
  // Window starts only grow: nothing below the first one is ever scanned. Bytes past
  // the furthest end are never copied; hits on them are masked off.
  uint8_t* endI = ctx.buffers->innerEndAnglesI.data();
  uint8_t* endJ = ctx.buffers->innerEndAnglesJ.data();
  if (processed > 0) copyInnerEndAngles(inner, windows[0].start, reach, endI, endJ);

  std::array<uint16_t, kMaxPairRecords + 1> firstMatch;  // per outer pair, for the memo
  for (int q = 0; q < processed; ++q) {
    firstMatch[q] = static_cast<uint16_t>(std::min(matchCount, kMaxPairRecords + 1));
    const OuterPairWindow window = windows[q];
    if (window.start >= window.end) continue;
    const MinutiaPair& pair = outer[q];
    // Per orientation (0 straight, 1 crossed): the probe's angle word, the outer half of
    // the match record and the outer direction, picked by the hit bit, not by a branch.
    const uint8_t turnedDir = static_cast<uint8_t>(pair.dir + 128);
    const std::array<uint32_t, 2> probeWords = {window.probeI | (static_cast<uint32_t>(window.probeJ) << 16),
                                                window.probeJ | (static_cast<uint32_t>(window.probeI) << 16)};
    const std::array<uint32_t, 2> outerWords = {outerMatchWord(pair.i, pair.j, pair.dir),
                                                outerMatchWord(pair.j, pair.i, turnedDir)};
    const std::array<uint8_t, 2> outerDirs = {pair.dir, turnedDir};
    const uint32_t voteMask = pair.d2 > kVotingD2 ? ~0u : 0u;  // shorter pairs do not vote
    const uint32_t pairRefBase = static_cast<uint32_t>(q) << 20;
    // Most candidates fail both tests: check sixteen at a time and look closer only at hits.
    // The last block may reach past the window (the arrays have room for it); those
    // records are masked off. Once the list is full, records go to its spare end slot.
    for (int r = window.start; r < window.end; r += kScanBlock) {
      uint32_t hits = pair_kernels::fast::blockHits(endI + r, endJ + r, window.probeI, window.probeJ);
      if (hits == 0) continue;
      const int recordsInWindow = std::min(window.end - r, kScanBlock);
      hits &= static_cast<uint32_t>((uint64_t{1} << (2 * recordsInWindow)) - 1);
      for (; hits != 0; hits &= hits - 1) {
        const int bit = std::countr_zero(hits);
        const int orientation = bit & 1;
        const int index = r + (bit >> 1);
        const MinutiaPair& candidate = inner[index];
        const uint32_t residuals = candidate.relAngles - probeWords[orientation];
        const uint32_t wI = laneWeight(residuals & 0xFF);
        const uint32_t wJ = laneWeight((residuals >> 16) & 0xFF);
        writeMatch(matches[std::min(matchCount, kMaxPairRecords)], outerWords[orientation], wI, wJ, candidate,
                   pairRefBase + 16u * static_cast<uint32_t>(index));
        ++matchCount;
        votes[static_cast<uint8_t>(candidate.dir - outerDirs[orientation])] += (wI + wJ - 14u) & voteMask;
      }
    }
  }
  firstMatch[processed] = static_cast<uint16_t>(std::min(matchCount, kMaxPairRecords + 1));
  const half_turn_memo::SearchOutcome outcome{processed, matchCount};
  half_turn_memo::rememberSearch(ctx, pass, {limit, outcome, firstMatch.data(), windows, reach, lastRead});
  return outcome;
}

}  // namespace

int matchPairs(MatchContext& ctx, int pass) {
  std::fill(ctx.rotationVotes, ctx.rotationVotes + kRotationBins, 0u);
  half_turn_memo::SearchOutcome outcome;
  if (ctx.outerCount > 0) {
    const uint32_t limit = std::min(ctx.outerLimit, ctx.outerPairs[ctx.outerCount - 1].d2);
    if (!half_turn_memo::takeOverSearch(ctx, pass, limit, outcome)) outcome = searchPairs(ctx, pass, limit);
  }
  const int matchCount = std::min(outcome.matchCount, kMaxPairRecords);
  ctx.matches[matchCount] = PairMatch{};
  ctx.matches[matchCount].rotationFlag = kPairMatchEndFlag;
  ctx.matchCount = matchCount;
  ctx.outerRecordsProcessed[pass == 2 ? 1 : 0] = outcome.processed;
  return matchCount;
}

}  // namespace fx60::match
