#include "match/half_turn_memo.h"

#include <algorithm>
#include <memory>

#include "match/pair_kernels.h"
#include "match/pair_matching.h"
#include "match/pair_tables.h"

namespace fx60::match::half_turn_memo {
namespace {

SideAStamp stampOf(const MatchContext& ctx) { return {ctx.buffers, ctx.buffers->sideAGeneration}; }

bool isCurrent(const SideAStamp& stamp, const MatchContext& ctx) {
  return stamp.buffers == ctx.buffers && stamp.generation == ctx.buffers->sideAGeneration;
}

void copyShape(const MatchView& view, SideShape& shape) {
  shape.count = view.count;
  for (int k = 0; k < view.count; ++k) {
    shape.x[k] = view.minutiae[k].x;
    shape.y[k] = view.minutiae[k].y;
    shape.angle[k] = view.minutiae[k].angle();
  }
}

// Minutia k of `turned` is minutia n-1-k of `shape` reflected through one centre, with
// its angle turned by half a turn. Pair (i, j) of one is then pair (n-1-j, n-1-i) of the
// other, with the same length and the same direction.
bool isHalfTurnOf(const SideShape& shape, const MatchView& turned) {
  const int n = shape.count;
  if (n <= 0 || n > kMaxViewMinutiae || turned.count != n) return false;
  const int centreX = turned.minutiae[0].x + shape.x[n - 1];
  const int centreY = turned.minutiae[0].y + shape.y[n - 1];
  for (int k = 0; k < n; ++k) {
    const MatchMinutia& m = turned.minutiae[k];
    const int original = n - 1 - k;
    if (m.x != centreX - shape.x[original] || m.y != centreY - shape.y[original] ||
        m.angle() != static_cast<uint8_t>(shape.angle[original] + 128))
      return false;
  }
  return true;
}


// Turns the keys left by the previous side B into those of its half turn, when the memo
// shows that is what side B now is: every key gets its minutia numbers reversed, and
// the sorted front, whose order changes only among pairs of equal length, is sorted
// again (an insertion sort, as little is out of place). The rest stays unsorted, as
// pass 1 leaves it.
bool takeOverKeysOfHalfTurn(MatchContext& ctx, Pass1Keys& out) {
  KeysMemo& memo = threadMemos().keys;
  if (!memo.valid || !isCurrent(memo.stamp, ctx) || !isHalfTurnOf(memo.shape, ctx.viewB))
    return false;
  memo.valid = false;  // the buffer now holds the turned side's keys
  uint32_t* keys = ctx.pairKeysB;
  const int last = memo.shape.count - 1;
  // (i, j) becomes (last - j, last - i): the two 7-bit fields trade places and are
  // subtracted from last in both at once (no field borrows, as both are at most last).
  const uint32_t mirrored = static_cast<uint32_t>(last) * ((1u << 7) + 1);
  constexpr uint32_t kIndexBits = (1u << kPairKeyLengthShift) - 1;
  const int keyCount = memo.keyCount;  // apart from the keys, so the loop runs on registers
  for (int k = 0; k < keyCount; ++k) {
    const uint32_t key = keys[k];
    const uint32_t traded = ((key & 0x7Fu) << 7) | ((key >> 7) & 0x7Fu);
    keys[k] = (key & ~kIndexBits) | (mirrored - traded);
  }
  for (int k = 1; k < memo.taken; ++k) {
    const uint32_t key = keys[k];
    int slot = k;
    for (; slot > 0 && keys[slot - 1] > key; --slot) keys[slot] = keys[slot - 1];
    keys[slot] = key;
  }
  ctx.pairKeyCountB = memo.keyCount;
  out = {memo.taken, memo.recordCount, memo.recordCountBeforeWidening};
  return true;
}


// Correspondences of a side B that is the memo's side B turned by half a turn, searched
// against the same inner list with the same windows. The pair (i, j) becomes
// (n-1-j, n-1-i): same length, same direction (the vector between its ends is the same),
// and the two end angles trade places. So its straight matches are the memo pair's
// crossed ones and the reverse, with the same weights; within one inner pair the
// straight match still comes first, and every vote moves by half a turn. Returns false,
// having written nothing, unless all of this holds exactly.
bool takeOverPass1Search(MatchContext& ctx, uint32_t limit, int& processed, int& matchCount) {
  const SearchMemo& memo = threadMemos().search;
  if (!memo.valid || !isCurrent(memo.stamp, ctx) || memo.inner != ctx.innerPairs ||
      memo.innerCount != ctx.innerCount || memo.limit != limit || !isHalfTurnOf(memo.shape, ctx.viewB))
    return false;
  const int last = memo.shape.count - 1;
  const int memoProcessed = memo.processed;  // apart from the memo: the stores below may alias it
  MinutiaPair* outer = ctx.outerPairs;
  // The same lengths up to the record that stopped the search: the same windows, and the
  // search stops at the same record.
  if (outer[memoProcessed].d2 != memo.outerD2[memoProcessed]) return false;

  // Each outer pair's counterpart among the memo's pairs of the same length. Most lengths
  // occur once, and then the counterpart stands at the same place.
  std::array<uint16_t, kMaxPairRecords> counterpart;
  bool allInPlace = true;
  int groupStart = 0;
  for (int q = 0; q < memoProcessed; ++q) {
    const uint32_t d2 = outer[q].d2;
    if (d2 != memo.outerD2[q]) return false;
    if (q > 0 && d2 != outer[q - 1].d2) groupStart = q;
    const auto ends = static_cast<uint16_t>(((last - outer[q].j) << 8) | (last - outer[q].i));
    int found = q;
    if (memo.outerEnds[q] != ends) {
      allInPlace = false;
      found = -1;
      for (int c = groupStart; c < memoProcessed && memo.outerD2[c] == d2; ++c) {
        if (memo.outerEnds[c] == ends) {
          found = c;
          break;
        }
      }
    }
    if (found < 0) return false;
    counterpart[q] = static_cast<uint16_t>(found);
  }

  processed = memoProcessed;
  // The records the search would have written: direction and angle word of every processed
  // pair (the ends trade places), and of the record that stopped it, if a pair.
  for (int q = 0; q < memoProcessed; ++q) {
    const int c = counterpart[q];
    outer[q].dir = memo.outerDir[c];
    setScannedAngleWord(outer[q], {memo.outerRelJ[c], memo.outerRelI[c]});
  }
  if (outer[memoProcessed].d2 <= limit) setScannedAngles(outer[memoProcessed], ctx.viewB.minutiae);

  PairMatch* matches = ctx.matches;
  int count = 0;
  // Copies the memo's matches from..to - 1 turned; the two orientations of one pair
  // (neighbours with the same pair reference) trade places.
  const auto writeTurned = [&](const pair_kernels::fast::HalfTurnedMatches& turned, int from, int to) {
    for (int k = from; k < to; ++k) {
      const bool sameAsNext = k + 1 < to && memo.matches[k + 1].pairRef == memo.matches[k].pairRef;
      if (sameAsNext) {
        turned.write(memo.matches[k + 1], matches[count++]);
        ++k;
      }
      turned.write(memo.matches[k - (sameAsNext ? 1 : 0)], matches[count++]);
    }
  };
  if (allInPlace) {
    // Every pair keeps its place, so the matches keep theirs with their outer index; only
    // the two orientations of one inner pair trade places.
    const pair_kernels::fast::HalfTurnedMatches turned(last, pair_kernels::fast::HalfTurnedMatches::kKeepOuterIndex);
    writeTurned(turned, 0, memo.firstMatch[memoProcessed]);
    for (int bin = 0; bin < kRotationBins; ++bin) ctx.rotationVotes[(bin + 128) & 0xFF] = memo.votes[bin];
    matchCount = count;
    return true;
  }
  pair_kernels::fast::HalfTurnedMatches turned(last);
  for (int q = 0; q < memoProcessed; ++q) {
    // One outer pair's matches: they share the outer index, so equal references mean
    // the same inner pair.
    turned.setOuterIndex(q);
    writeTurned(turned, memo.firstMatch[counterpart[q]], memo.firstMatch[counterpart[q] + 1]);
  }
  for (int bin = 0; bin < kRotationBins; ++bin) ctx.rotationVotes[(bin + 128) & 0xFF] = memo.votes[bin];
  matchCount = count;
  return true;
}

// Keeps a pass-1 search against side A's list for a half-turn retry; only searches whose
// every match fits the list qualify.
void rememberPass1Search(const MatchContext& ctx, uint32_t limit, int processed, int matchCount,
                         const uint16_t* firstMatch, const OuterPairWindow* windows) {
  SearchMemo& memo = threadMemos().search;
  const MatchView& b = ctx.viewB;
  memo.valid = matchCount <= kMaxPairRecords && b.count > 0 && b.count <= kMaxViewMinutiae;
  if (!memo.valid) return;
  memo.stamp = stampOf(ctx);
  memo.inner = ctx.innerPairs;
  memo.innerCount = ctx.innerCount;
  copyShape(b, memo.shape);
  memo.limit = limit;
  memo.processed = processed;
  memo.matchCount = matchCount;
  // Plain pointers: the byte stores below may alias anything reached through the memo.
  const MinutiaPair* outer = ctx.outerPairs;
  uint32_t* outerD2 = memo.outerD2.data();
  uint16_t* outerEnds = memo.outerEnds.data();
  uint8_t* outerDir = memo.outerDir.data();
  uint8_t* outerRelI = memo.outerRelI.data();
  uint8_t* outerRelJ = memo.outerRelJ.data();
  for (int q = 0; q < processed; ++q) {
    outerD2[q] = outer[q].d2;
    outerEnds[q] = static_cast<uint16_t>((outer[q].i << 8) | outer[q].j);
    outerDir[q] = outer[q].dir;
    outerRelI[q] = windows[q].probeI;
    outerRelJ[q] = windows[q].probeJ;
  }
  outerD2[processed] = outer[processed].d2;
  std::copy_n(firstMatch, processed + 1, memo.firstMatch.begin());
  std::copy_n(ctx.matches, matchCount, memo.matches.begin());
  std::copy_n(ctx.rotationVotes, kRotationBins, memo.votes.begin());
}


bool sameShape(const SideShape& shape, const MatchView& view) {
  if (view.count != shape.count || view.count <= 0 || view.count > kMaxViewMinutiae) return false;
  for (int k = 0; k < view.count; ++k) {
    const MatchMinutia& m = view.minutiae[k];
    if (m.x != shape.x[k] || m.y != shape.y[k] || m.angle() != shape.angle[k]) return false;
  }
  return true;
}

constexpr uint8_t endAngleI(const MinutiaPair& pair) { return static_cast<uint8_t>(pair.relAngles); }
constexpr uint8_t endAngleJ(const MinutiaPair& pair) { return static_cast<uint8_t>(pair.relAngles >> 16); }

// Window order of a correspondence: its inner record, then straight before crossed.
uint32_t windowOrder(const PairMatch& m) { return (m.pairRef & 0xFFFFFu) | (m.bForAi > m.bForAj ? 1u : 0u); }

// Pass-2 correspondences of side A's list against a side B that is the memo's side B
// turned by half a turn. Its record (i, j) is the memo's (n-1-j, n-1-i): the same length
// at the same place in the list (so every window covers the same places), the same
// direction, the end angles traded. So an outer pair's straight matches are the memo's
// crossed ones with the counterpart record and the reverse: the ends of the outer pair and
// the two weights trade places, the outer direction and every vote move by half a turn.
// Within a window the matches are put back in record order. Returns false, leaving the
// votes untouched, unless every record the search would read is checked to be as said.
bool takeOverPass2Scan(MatchContext& ctx, uint32_t limit, int& processed, int& matchCount) {
  const ScanMemo& memo = threadMemos().scan;
  if (!memo.valid || !isCurrent(memo.stamp, ctx) || memo.limit != limit ||
      memo.innerMinutiae != ctx.viewA.count || !sameShape(memo.scannedShape, ctx.viewB))
    return false;
  const MinutiaPair* inner = ctx.innerPairs;
  for (int r = 0; r <= memo.lastRead; ++r)
    if (inner[r].d2 != memo.inner[r].d2) return false;

  // Each covered record's counterpart; most lengths occur once, so it is usually in place.
  constexpr uint16_t kUnmapped = 0xFFFF;
  std::array<uint16_t, kMaxPairRecords> placeOf;
  std::fill_n(placeOf.begin(), memo.reach, kUnmapped);
  const int last = memo.innerMinutiae - 1;
  int groupStart = 0;
  for (int r = 0; r < memo.reach; ++r) {
    const MinutiaPair& now = inner[r];
    if (r > 0 && now.d2 != inner[r - 1].d2) groupStart = r;
    const int wantI = last - now.j;
    const int wantJ = last - now.i;
    int found = r;
    if (memo.inner[r].i != wantI || memo.inner[r].j != wantJ) {
      found = -1;
      for (int c = groupStart; c < memo.reach && memo.inner[c].d2 == now.d2; ++c) {
        if (memo.inner[c].i == wantI && memo.inner[c].j == wantJ) {
          found = c;
          break;
        }
      }
      if (found < 0) return false;
    }
    const MinutiaPair& before = memo.inner[found];
    if (before.dir != now.dir || endAngleI(before) != endAngleJ(now) || endAngleJ(before) != endAngleI(now) ||
        placeOf[found] != kUnmapped)
      return false;
    placeOf[found] = static_cast<uint16_t>(r);
  }

  const int scanned = memo.processed;  // apart from the memo: the stores below may alias it
  processed = scanned;
  MinutiaPair* outer = ctx.outerPairs;
  for (int q = 0; q < scanned; ++q) {
    outer[q].dir = memo.outerDir[q];
    outer[q].relAngles = memo.outerAngles[q];
  }
  if (outer[scanned].d2 <= limit) setScannedAngles(outer[scanned], ctx.viewB.minutiae);

  PairMatch* matches = ctx.matches;
  int count = 0;
  for (int q = 0; q < scanned; ++q) {
    const int windowStart = count;
    for (int k = memo.firstMatch[q]; k < memo.firstMatch[q + 1]; ++k) {
      const PairMatch& before = memo.matches[k];
      if (before.innerPairIndex() >= memo.reach) return false;
      const int place = placeOf[before.innerPairIndex()];
      PairMatch turned;
      writeMatch(turned, outerMatchWord(before.bForAj, before.bForAi, static_cast<uint8_t>(before.dirB + 128)),
                 before.weightJ, before.weightI, inner[place],
                 (static_cast<uint32_t>(q) << 20) + 16u * static_cast<uint32_t>(place));
      const uint32_t order = windowOrder(turned);
      int slot = count++;
      for (; slot > windowStart && windowOrder(matches[slot - 1]) > order; --slot) matches[slot] = matches[slot - 1];
      matches[slot] = turned;
    }
  }
  for (int bin = 0; bin < kRotationBins; ++bin) ctx.rotationVotes[(bin + 128) & 0xFF] = memo.votes[bin];
  matchCount = count;
  return true;
}

// Keeps a pass-2 search of side A's list against side B's records for a half-turn retry;
// only searches whose every match fits the list qualify.
void rememberPass2Scan(const MatchContext& ctx, uint32_t limit, int processed, int matchCount,
                       const uint16_t* firstMatch, int reach, int lastRead) {
  ScanMemo& memo = threadMemos().scan;
  const MatchView& inner = ctx.viewA;
  const MatchView& scanned = ctx.viewB;
  memo.valid = matchCount <= kMaxPairRecords && inner.count > 0 && inner.count <= kMaxViewMinutiae &&
               scanned.count > 0 && scanned.count <= kMaxViewMinutiae && lastRead <= kMaxPairRecords;
  if (!memo.valid) return;
  memo.stamp = stampOf(ctx);
  copyShape(scanned, memo.scannedShape);
  memo.innerMinutiae = inner.count;
  memo.limit = limit;
  memo.processed = processed;
  memo.reach = reach;
  memo.lastRead = lastRead;
  memo.matchCount = matchCount;
  std::copy_n(ctx.innerPairs, lastRead + 1, memo.inner.begin());
  for (int q = 0; q < processed; ++q) {
    memo.outerDir[q] = ctx.outerPairs[q].dir;
    memo.outerAngles[q] = ctx.outerPairs[q].relAngles;
  }
  std::copy_n(firstMatch, processed + 1, memo.firstMatch.begin());
  std::copy_n(ctx.matches, matchCount, memo.matches.begin());
  std::copy_n(ctx.rotationVotes, kRotationBins, memo.votes.begin());
}


// Pass 1 searches side B's pairs against side A's list; pass 2 scans side A's list
// against side B's records.
bool searchesSideA(const MatchContext& ctx, int pass) {
  return pass == 1 && ctx.innerPairs == ctx.buffers->pairsA.data();
}
bool scansSideA(const MatchContext& ctx, int pass) {
  return pass == 2 && ctx.outerPairs == ctx.buffers->pairsA.data() && ctx.innerPairs == ctx.buffers->pairsB.data();
}

}  // namespace

Memos& threadMemos() {
  thread_local std::unique_ptr<Memos> memos = std::make_unique<Memos>();
  return *memos;
}

bool takeOverKeys(MatchContext& ctx, Pass1Keys& keys) { return takeOverKeysOfHalfTurn(ctx, keys); }

void rememberKeys(const MatchContext& ctx, const Pass1Keys& keys) {
  KeysMemo& memo = threadMemos().keys;
  const MatchView& b = ctx.viewB;
  memo.valid = b.count > 0 && b.count <= kMaxViewMinutiae;
  memo.stamp = stampOf(ctx);
  copyShape(b, memo.shape);
  memo.keyCount = ctx.pairKeyCountB;
  memo.taken = keys.taken;
  memo.recordCount = keys.recordCount;
  memo.recordCountBeforeWidening = keys.recordCountBeforeWidening;
}

bool takeOverSearch(MatchContext& ctx, int pass, uint32_t limit, SearchOutcome& outcome) {
  if (searchesSideA(ctx, pass)) return takeOverPass1Search(ctx, limit, outcome.processed, outcome.matchCount);
  if (scansSideA(ctx, pass)) return takeOverPass2Scan(ctx, limit, outcome.processed, outcome.matchCount);
  return false;
}

void rememberSearch(const MatchContext& ctx, int pass, const FinishedSearch& search) {
  if (searchesSideA(ctx, pass))
    rememberPass1Search(ctx, search.limit, search.outcome.processed, search.outcome.matchCount, search.firstMatch,
                        search.windows);
  if (scansSideA(ctx, pass))
    rememberPass2Scan(ctx, search.limit, search.outcome.processed, search.outcome.matchCount, search.firstMatch,
                      search.reach, search.lastRead);
}

}  // namespace fx60::match::half_turn_memo
