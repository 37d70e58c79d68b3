#include "match/pair_tables.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "match/angles.h"
#include "match/sqrt_tables.h"

namespace fx60::match {
namespace {

constexpr int kMaxKeyedMinutiae = 128;  // pair keys hold 7-bit indexes
constexpr uint32_t kVotingD2 = 1224;    // shorter pairs match but do not vote
constexpr int kPairKeyLengthShift = 14;  // the squared length sits above the two indexes

// d2 of the pair at 1-based position `number`; an empty list reads as its end mark.
uint32_t d2OfPairNumber(const MinutiaPair* pairs, int count, int number) {
  if (count <= 0 || number <= 0) return kPairListEnd;
  return pairs[std::min(number, count) - 1].d2;
}

uint32_t upperBoundOfPairNumber(const MinutiaPair* pairs, int count, int number) {
  if (count <= 0 || number <= 0) return kPairListEnd;
  const MinutiaPair& pair = pairs[std::min(number, count) - 1];
  return pair.d2 + toleranceOf(pair.length).hi;
}

// Agreement weight of an end-angle residual of -12..12 (lane byte 0..24): 20 at 0, 8 at
// the edges. Lane bytes of agreeing ends never exceed 24; the rest of the table is unused.
inline constexpr std::array<uint8_t, 256> LaneWeight = [] {
  std::array<uint8_t, 256> table{};
  for (int laneByte = 0; laneByte <= 24; ++laneByte)
    table[laneByte] = static_cast<uint8_t>(20 - (laneByte < 12 ? 12 - laneByte : laneByte - 12));
  return table;
}();

constexpr uint32_t laneWeight(uint32_t laneByte) { return LaneWeight[laneByte & 0xFF]; }

constexpr int kScanBlock = 16;

// Records of a block of sixteen whose end angles agree with the probe: both end residuals
// (candidate minus probe, modulo 256) of one orientation lie in 0..24. Bit 2k is record k
// straight, bit 2k + 1 record k crossed: taking the bits in order takes the
// correspondences in window order, straight before crossed within a record.
#if defined(__SSE2__)
inline uint32_t blockHits(const uint8_t* endI, const uint8_t* endJ, uint8_t probeI, uint8_t probeJ) {
  const __m128i candidatesI = _mm_loadu_si128(reinterpret_cast<const __m128i*>(endI));
  const __m128i candidatesJ = _mm_loadu_si128(reinterpret_cast<const __m128i*>(endJ));
  const __m128i i = _mm_set1_epi8(static_cast<char>(probeI));
  const __m128i j = _mm_set1_epi8(static_cast<char>(probeJ));
  const __m128i limit = _mm_set1_epi8(24);
  const __m128i straightWorst = _mm_max_epu8(_mm_sub_epi8(candidatesI, i), _mm_sub_epi8(candidatesJ, j));
  const __m128i crossedWorst = _mm_max_epu8(_mm_sub_epi8(candidatesI, j), _mm_sub_epi8(candidatesJ, i));
  // Most blocks hold no hit at all: one test for both orientations first (a residual
  // within the limit leaves nothing after subtracting the limit with saturation).
  const __m128i best = _mm_min_epu8(straightWorst, crossedWorst);
  if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_subs_epu8(best, limit), _mm_setzero_si128())) == 0) return 0;
  const __m128i straight = _mm_cmpeq_epi8(_mm_subs_epu8(straightWorst, limit), _mm_setzero_si128());
  const __m128i crossed = _mm_cmpeq_epi8(_mm_subs_epu8(crossedWorst, limit), _mm_setzero_si128());
  const auto low = static_cast<uint32_t>(_mm_movemask_epi8(_mm_unpacklo_epi8(straight, crossed)));
  const auto high = static_cast<uint32_t>(_mm_movemask_epi8(_mm_unpackhi_epi8(straight, crossed)));
  return low | (high << 16);
}
#else
inline uint32_t blockHits(const uint8_t* endI, const uint8_t* endJ, uint8_t probeI, uint8_t probeJ) {
  const auto agree = [](int candidate, int probe) { return ((candidate - probe) & 0xFF) <= 24; };
  uint32_t hits = 0;
  for (int k = 0; k < kScanBlock; ++k) {
    if (agree(endI[k], probeI) && agree(endJ[k], probeJ)) hits |= 1u << (2 * k);
    if (agree(endI[k], probeJ) && agree(endJ[k], probeI)) hits |= 2u << (2 * k);
  }
  return hits;
}
#endif

// Spare room for the keys of selectPairs called on its own; the matcher passes the room
// in its work buffers instead.
std::array<uint32_t, kMaxPairKeys>& spareKeys() {
  thread_local std::array<uint32_t, kMaxPairKeys> spare;
  return spare;
}

// Sorts pair keys ascending. Keys of equal length arrive in ascending order of their
// minutia indexes (buildPairKeys writes them so and selectPairs keeps that order), so a
// stable counting sort on the squared length alone orders whole keys. The lengths are
// split into two digits of half their width, whose counts are taken in one read.
void sortPairKeys(uint32_t* keys, int count, uint32_t* spare) {
  if (count < 64) {
    std::sort(keys, keys + count);
    return;
  }
  uint32_t allBits = 0;
  for (int k = 0; k < count; ++k) allBits |= keys[k];
  const int lengthBits = std::bit_width(allBits >> kPairKeyLengthShift);
  if (lengthBits == 0) return;  // every length is 0: build order is already key order
  const int lowBits = (lengthBits + 1) / 2;
  const int lowShift = kPairKeyLengthShift;
  const int highShift = kPairKeyLengthShift + lowBits;
  const uint32_t lowMask = (1u << lowBits) - 1;
  constexpr int kMaxDigitBuckets = 1 << 9;  // lengths stay below 2^18
  std::array<uint32_t, kMaxDigitBuckets> lowOffsets{};
  std::array<uint32_t, kMaxDigitBuckets> highOffsets{};
  for (int k = 0; k < count; ++k) {
    ++lowOffsets[(keys[k] >> lowShift) & lowMask];
    ++highOffsets[keys[k] >> highShift];
  }
  const auto toOffsets = [](std::array<uint32_t, kMaxDigitBuckets>& offsets, int buckets) {
    uint32_t total = 0;
    for (int d = 0; d < buckets; ++d) {
      const uint32_t n = offsets[d];
      offsets[d] = total;
      total += n;
    }
  };
  toOffsets(lowOffsets, 1 << lowBits);
  toOffsets(highOffsets, 1 << (lengthBits - lowBits));
  for (int k = 0; k < count; ++k) spare[lowOffsets[(keys[k] >> lowShift) & lowMask]++] = keys[k];
  for (int k = 0; k < count; ++k) keys[highOffsets[spare[k] >> highShift]++] = spare[k];
}

// One step of a stable, branch-free split: a key at or below the bound goes to the
// front of keys, any other to rest. Writing both places is cheaper than a branch;
// keys[kept] never runs ahead of the key being read.
inline void splitKey(uint32_t key, uint32_t bound, uint32_t* keys, uint32_t* rest, int& kept, int& others) {
  const bool keep = key <= bound;
  keys[kept] = key;
  rest[others] = key;
  kept += keep ? 1 : 0;
  others += keep ? 0 : 1;
}

// buildPairKeys followed by selectPairs in one sweep: the keys <= bound first, then the
// others, each part in build order. Views hold at most 112 minutiae, so every key fits.
int buildSelectedPairKeys(const MatchMinutia* minutiae, int n, uint32_t limit, uint32_t bound, uint32_t* keys,
                          uint32_t* rest, int& total) {
  const int used = std::clamp(n, 0, kMaxViewMinutiae);
  int kept = 0;
  int others = 0;
  for (int i = 0; i < used; ++i) {
    const int xi = minutiae[i].x;
    const int yi = minutiae[i].y;
    for (int j = i + 1; j < used; ++j) {
      const int dx = minutiae[j].x - xi;
      const int dy = minutiae[j].y - yi;
      const uint32_t d2 = static_cast<uint32_t>(dx * dx + dy * dy);
      if (d2 > limit) continue;
      splitKey(pairKey(d2, i, j), bound, keys, rest, kept, others);
    }
  }
  std::copy_n(rest, others, keys + kept);
  total = kept + others;
  return kept;
}

// Writes one correspondence as two 64-bit words. outerWord holds bForAi, bForAj and dirB
// in their byte positions; the inner pair's i, j, relAngleJ and dir sit in that order in
// both records; the work bytes after weightJ start cleared.
inline void writeMatch(PairMatch& match, uint32_t outerWord, uint32_t weightI, uint32_t weightJ,
                       const MinutiaPair& inner, uint32_t pairRef) {
  static_assert(std::endian::native == std::endian::little);
  static_assert(offsetof(PairMatch, weightI) == 2 && offsetof(PairMatch, dirB) == 3);
  static_assert(offsetof(PairMatch, aI) == 4 && offsetof(PairMatch, dirA) == 7);
  static_assert(offsetof(PairMatch, weightJ) == 8 && offsetof(PairMatch, pairRef) == 12);
  static_assert(offsetof(MinutiaPair, dir) - offsetof(MinutiaPair, i) == 3);
  uint32_t innerWord;
  std::memcpy(&innerWord, &inner.i, 4);
  const uint64_t low = (outerWord | (weightI << 16)) | (static_cast<uint64_t>(innerWord) << 32);
  const uint64_t high = weightJ | (static_cast<uint64_t>(pairRef) << 32);
  auto* bytes = reinterpret_cast<unsigned char*>(&match);
  std::memcpy(bytes, &low, 8);
  std::memcpy(bytes + 8, &high, 8);
}

// bForAi, bForAj and dirB of a correspondence in their byte positions.
constexpr uint32_t outerMatchWord(uint8_t bForAi, uint8_t bForAj, uint8_t dirB) {
  return bForAi | (static_cast<uint32_t>(bForAj) << 8) | (static_cast<uint32_t>(dirB) << 24);
}

}  // namespace

int buildPairKeys(const MatchMinutia* minutiae, int n, uint32_t limit, uint32_t* out, int capacity) {
  const int used = std::min(n, kMaxKeyedMinutiae);
  int count = 0;
  for (int i = 0; i < used; ++i) {
    for (int j = i + 1; j < used; ++j) {
      const int dx = minutiae[j].x - minutiae[i].x;
      const int dy = minutiae[j].y - minutiae[i].y;
      const uint32_t d2 = static_cast<uint32_t>(dx * dx + dy * dy);
      if (d2 > limit || count >= capacity) continue;
      out[count++] = pairKey(d2, i, j);
    }
  }
  return count;
}

namespace {

// selectPairs with the room for the keys that stay behind given.
int selectPairsInto(uint32_t* keys, int count, uint32_t bound, uint32_t* rest) {
  // Stable on both sides: the sort relies on keys of equal length staying in build order.
  if (count > kMaxPairKeys)
    return static_cast<int>(std::stable_partition(keys, keys + count, [bound](uint32_t key) { return key <= bound; }) - keys);
  int kept = 0;
  int others = 0;
  for (int k = 0; k < count; ++k) splitKey(keys[k], bound, keys, rest, kept, others);
  std::copy_n(rest, others, keys + kept);
  return kept;
}

}  // namespace

int selectPairs(uint32_t* keys, int count, uint32_t bound) { return selectPairsInto(keys, count, bound, spareKeys().data()); }

namespace {

// Length of a pair: ceil(sqrt(d2)), exact for every squared length.
inline uint16_t pairLength(uint32_t d2) { return static_cast<uint16_t>(ceilSqrtExact(d2)); }

// Guard bits of a record's angle word: 0x0F above each end angle in the inner form; the
// scanned form also sets the top bit. Freshly expanded records hold no guards.
constexpr uint32_t kInnerAngleWordGuards = 0x0F000F00u;
constexpr uint32_t kScannedAngleWordBit = 0x80000000u;
constexpr uint32_t kAngleWordGuardMask = 0x7F00FF00u;

// The angle fields of an inner-list record of minutiae first -> second.
struct PairAngles {
  uint32_t relAngles;
  uint8_t relAngleJ;
  uint8_t dir;
};

PairAngles pairAnglesOf(const MatchMinutia& first, const MatchMinutia& second) {
  const uint8_t dir = byteAngleOf(second.x - first.x, second.y - first.y);
  const auto relAngleJ = static_cast<uint8_t>(second.angle() - dir - 116);
  const uint32_t relAngles = static_cast<uint32_t>((first.angle() - dir + 12) & 0xFF) | 0x0F000F00u |
                             (static_cast<uint32_t>(relAngleJ) << 16);
  return {relAngles, relAngleJ, dir};
}

void writeEndMark(MinutiaPair& pair) {
  pair = MinutiaPair{};
  pair.d2 = kPairListEnd;
}

}  // namespace

void expandPairs(const uint32_t* keys, int from, int to, MinutiaPair* pairs) {
  for (int k = from; k < to; ++k) {
    const uint32_t d2 = pairKeyD2(keys[k]);
    pairs[k] = MinutiaPair{d2, pairLength(d2), 0, 0, static_cast<uint8_t>(pairKeyI(keys[k])),
                           static_cast<uint8_t>(pairKeyJ(keys[k])), 0, 0};
  }
  writeEndMark(pairs[to]);
}

void fillPairAngles(MinutiaPair* pairs, int count, const MatchMinutia* minutiae) {
  for (int k = 0; k < count; ++k) {
    MinutiaPair& pair = pairs[k];
    // The length was set when the record was expanded; side-A lists use at least 2.
    pair.length = std::max<uint16_t>(2, pair.length);
    // A record already filled (inner form) or scanned (the same word with the top guard
    // bit set) from these minutiae has its direction: only the inner form is restored.
    if ((pair.relAngles & kAngleWordGuardMask) == kInnerAngleWordGuards) {
      pair.relAngles &= ~kScannedAngleWordBit;
      pair.relAngleJ = static_cast<uint8_t>(pair.relAngles >> 16);
      continue;
    }
    const PairAngles angles = pairAnglesOf(minutiae[pair.i], minutiae[pair.j]);
    pair.dir = angles.dir;
    pair.relAngleJ = angles.relAngleJ;
    pair.relAngles = angles.relAngles;
  }
}

namespace {

// expandPairs followed by fillPairAngles, in one pass over the records.
void expandPairsWithAngles(const uint32_t* keys, int count, MinutiaPair* pairs, const MatchMinutia* minutiae) {
  for (int k = 0; k < count; ++k) {
    const uint32_t d2 = pairKeyD2(keys[k]);
    const int i = pairKeyI(keys[k]);
    const int j = pairKeyJ(keys[k]);
    const auto length = std::max<uint16_t>(2, pairLength(d2));
    const PairAngles angles = pairAnglesOf(minutiae[i], minutiae[j]);
    pairs[k] = MinutiaPair{d2, length, 0, angles.relAngles, static_cast<uint8_t>(i), static_cast<uint8_t>(j),
                           angles.relAngleJ, angles.dir};
  }
  writeEndMark(pairs[count]);
}

}  // namespace

void preparePassTables(MatchContext& ctx) {
  const MatchView& a = ctx.viewA;
  ctx.pairsA = ctx.buffers->pairsA.data();

  ctx.extentA = SideExtent{};
  if (a.count > 0) {
    ctx.extentA.minX = ctx.extentA.maxX = a.minutiae[0].x;
    for (int i = 1; i < a.count; ++i) {
      ctx.extentA.minX = std::min(ctx.extentA.minX, a.minutiae[i].x);
      ctx.extentA.maxX = std::max(ctx.extentA.maxX, a.minutiae[i].x);
    }
    ctx.extentA.firstY = a.minutiae[0].y;
    ctx.extentA.lastY = a.minutiae[a.count - 1].y;
  }

  // A's keys are built in B's key buffer, which pass 1 only fills afterwards.
  uint32_t* keys = ctx.buffers->pairKeysB.data();
  const int keyCount = buildPairKeys(a.minutiae, a.count, ctx.pairLimitA, keys, kMaxPairKeys);
  sortPairKeys(keys, keyCount, ctx.buffers->spareKeys.data());
  ++ctx.buffers->sideAGeneration;  // a memo of searches against the previous list is stale
  const int kept = std::min(keyCount, kMaxPairRecords);
  expandPairsWithAngles(keys, kept, ctx.pairsA, a.minutiae);
  ctx.pairCountA = kept;
  ctx.pairLimitB = kept > 0 ? upperBoundOfPairNumber(ctx.pairsA, kept, kept) : 0;
  // The view keeps its count: pass 2 reads the true count of both sides.
  ctx.countA = a.count;
}

namespace {

void copyShape(const MatchView& view, SideBShape& shape) {
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
bool isHalfTurnOf(const SideBShape& shape, const MatchView& turned) {
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
bool takeOverHalfTurnKeys(MatchContext& ctx, int& taken, int& recordCount, int& recordCountBeforeWidening) {
  HalfTurnKeysMemo& memo = ctx.buffers->halfTurnKeysMemo;
  if (!memo.valid || memo.sideAGeneration != ctx.buffers->sideAGeneration || !isHalfTurnOf(memo.shape, ctx.viewB))
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
  taken = memo.taken;
  recordCount = memo.recordCount;
  recordCountBeforeWidening = memo.recordCountBeforeWidening;
  return true;
}

// Chooses side B's pass-1 keys: those no longer than A's 350th pair, widened along A's
// longer pairs while too few. Returns how many are taken (sorted, at the front).
int selectPass1Keys(MatchContext& ctx, int& recordCount, int& recordCountBeforeWidening) {
  const MatchView& b = ctx.viewB;
  uint32_t* keys = ctx.pairKeysB;

  // Take the B pairs no longer than A's 350th pair (or its last).
  const int f = std::min(ctx.pairCountA, kPairsInUse);
  const uint32_t boundD2 = d2OfPairNumber(ctx.pairsA, ctx.pairCountA, f);
  const uint32_t bound = boundD2 >= (kPairListEnd >> 14) ? kPairListEnd : (boundD2 << 14) | 0x3FFFu;
  int keyCount = 0;
  uint32_t* spare = ctx.buffers->spareKeys.data();
  int taken = buildSelectedPairKeys(b.minutiae, b.count, kPairLimitBKeys, bound, keys, spare, keyCount);
  ctx.pairKeyCountB = keyCount;
  sortPairKeys(keys, taken, spare);
  int g = std::min(taken, kMaxPairRecords);
  recordCountBeforeWidening = g;

  // Too few B pairs for a large A: widen the bound in steps along A's longer pairs.
  if (ctx.pairCountA > kPairsInUse && g < kPairsInUse) {
    int m = kPairsInUse;
    while (taken < keyCount) {
      const uint32_t widened = upperBoundOfPairNumber(ctx.pairsA, ctx.pairCountA, m);
      const uint32_t widenedKey =
          widened >= (kPairListEnd >> 14) ? kPairListEnd : (widened << 14) | 0x3FFFu;
      const int added = selectPairsInto(keys + taken, keyCount - taken, widenedKey, spare);
      sortPairKeys(keys + taken, added, spare);
      taken += added;
      g += added;
      if (g >= kPairsInUse) {
        g = kPairsInUse;
        break;
      }
      if (m >= ctx.pairCountA) break;
      m = std::min(m + 100, ctx.pairCountA);
    }
  }
  recordCount = g;

  HalfTurnKeysMemo& memo = ctx.buffers->halfTurnKeysMemo;
  memo.valid = b.count > 0 && b.count <= kMaxViewMinutiae;
  memo.sideAGeneration = ctx.buffers->sideAGeneration;
  copyShape(b, memo.shape);
  memo.keyCount = keyCount;
  memo.taken = taken;
  memo.recordCount = recordCount;
  memo.recordCountBeforeWidening = recordCountBeforeWidening;
  return taken;
}

}  // namespace

void buildPass1PairsB(MatchContext& ctx) {
  int taken = 0;
  int g = 0;
  int gBeforeWidening = 0;
  if (!takeOverHalfTurnKeys(ctx, taken, g, gBeforeWidening)) taken = selectPass1Keys(ctx, g, gBeforeWidening);
  ctx.pairKeysSortedB = taken;

  expandPairs(ctx.pairKeysB, 0, g, ctx.pairsB);
  ctx.pairCountB = g;

  ctx.outerPairs = ctx.pairsB;
  ctx.outerCount = g;
  ctx.innerPairs = ctx.pairsA;
  ctx.innerCount = ctx.pairCountA;
  ctx.outerLimit = ctx.pairLimitB;
  ctx.counts.nB = std::min(g, kPairsInUse);
  ctx.counts.nB0 = std::min(gBeforeWidening, kPairsInUse);
  ctx.counts.nA = std::min(ctx.pairCountA, kPairsInUse);
}

namespace {

// A scanned outer pair's end angles relative to its direction.
struct OuterAngles {
  uint8_t relI;
  uint8_t relJ;
};

// The record's angle word in scanned-list form (0x8F above the j end).
void setScannedAngleWord(MinutiaPair& pair, OuterAngles angles) {
  pair.relAngles = ((angles.relI | (static_cast<uint32_t>(angles.relJ) << 16)) + 0x000C000Cu) | 0x8F000F00u;
}

// Direction and scanned-list angle word of an outer pair of side B's minutiae.
inline OuterAngles setScannedAngles(MinutiaPair& pair, const MatchMinutia* minutiaeB) {
  const MatchMinutia& first = minutiaeB[pair.i];
  const MatchMinutia& second = minutiaeB[pair.j];
  pair.dir = byteAngleOf(second.x - first.x, second.y - first.y);
  const OuterAngles angles{static_cast<uint8_t>(first.angle() - pair.dir),
                           static_cast<uint8_t>(second.angle() - pair.dir - 128)};
  setScannedAngleWord(pair, angles);
  return angles;
}

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

// The memo's correspondence as made by the half-turned side B: its minutia numbers run
// backwards and its pair direction is turned by half a turn.
#if defined(__SSE2__)
class HalfTurnedMatches {
 public:
  static constexpr bool kKeepOuterIndex = true;
  explicit HalfTurnedMatches(int lastMinutia, bool keepsOuterIndex = false) {
    static_assert(offsetof(PairMatch, bForAi) == 0 && offsetof(PairMatch, bForAj) == 1);
    static_assert(offsetof(PairMatch, dirB) == 3 && offsetof(PairMatch, pairRef) == 12);
    // last - b is (b xor 0xFF) + last + 1 in a byte; adding half a turn flips the top bit.
    const auto next = static_cast<char>(lastMinutia + 1);
    flip_ = _mm_setr_epi8(-1, -1, 0, -128, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    offset_ = _mm_setr_epi8(next, next, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    keep_ = _mm_setr_epi32(-1, -1, -1, keepsOuterIndex ? -1 : 0xFFFFF);
  }
  void setOuterIndex(int outerIndex) {
    outerRef_ = _mm_setr_epi32(0, 0, 0, static_cast<int>(static_cast<uint32_t>(outerIndex) << 20));
  }
  void write(const PairMatch& from, PairMatch& to) const {
    __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&from));
    m = _mm_add_epi8(_mm_xor_si128(m, flip_), offset_);
    m = _mm_or_si128(_mm_and_si128(m, keep_), outerRef_);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&to), m);
  }

 private:
  __m128i flip_;
  __m128i offset_;
  __m128i keep_;
  __m128i outerRef_ = _mm_setzero_si128();
};
#else
class HalfTurnedMatches {
 public:
  static constexpr bool kKeepOuterIndex = true;
  explicit HalfTurnedMatches(int lastMinutia, bool keepsOuterIndex = false)
      : last_(lastMinutia), keep_(keepsOuterIndex ? 0xFFFFFFFFu : 0xFFFFFu) {}
  void setOuterIndex(int outerIndex) { outerRef_ = static_cast<uint32_t>(outerIndex) << 20; }
  void write(PairMatch m, PairMatch& to) const {
    m.bForAi = static_cast<uint8_t>(last_ - m.bForAi);
    m.bForAj = static_cast<uint8_t>(last_ - m.bForAj);
    m.dirB = static_cast<uint8_t>(m.dirB + 128);
    m.pairRef = outerRef_ | (m.pairRef & keep_);
    to = m;
  }

 private:
  int last_;
  uint32_t keep_;
  uint32_t outerRef_ = 0;
};
#endif

// Correspondences of a side B that is the memo's side B turned by half a turn, searched
// against the same inner list with the same windows. The pair (i, j) becomes
// (n-1-j, n-1-i): same length, same direction (the vector between its ends is the same),
// and the two end angles trade places. So its straight matches are the memo pair's
// crossed ones and the reverse, with the same weights; within one inner pair the
// straight match still comes first, and every vote moves by half a turn. Returns false,
// having written nothing, unless all of this holds exactly.
bool takeOverHalfTurn(MatchContext& ctx, uint32_t limit, int& processed, int& matchCount) {
  const HalfTurnMemo& memo = ctx.buffers->halfTurnMemo;
  if (!memo.valid || memo.sideAGeneration != ctx.buffers->sideAGeneration || memo.inner != ctx.innerPairs ||
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
  const auto writeTurned = [&](const HalfTurnedMatches& turned, int from, int to) {
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
    const HalfTurnedMatches turned(last, HalfTurnedMatches::kKeepOuterIndex);
    writeTurned(turned, 0, memo.firstMatch[memoProcessed]);
    for (int bin = 0; bin < kRotationBins; ++bin) ctx.rotationVotes[(bin + 128) & 0xFF] = memo.votes[bin];
    matchCount = count;
    return true;
  }
  HalfTurnedMatches turned(last);
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
void rememberForHalfTurn(const MatchContext& ctx, uint32_t limit, int processed, int matchCount,
                         const uint16_t* firstMatch, const OuterPairWindow* windows) {
  HalfTurnMemo& memo = ctx.buffers->halfTurnMemo;
  const MatchView& b = ctx.viewB;
  memo.valid = matchCount <= kMaxPairRecords && b.count > 0 && b.count <= kMaxViewMinutiae;
  if (!memo.valid) return;
  memo.sideAGeneration = ctx.buffers->sideAGeneration;
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

}  // namespace

namespace {

bool sameShape(const SideBShape& shape, const MatchView& view) {
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
bool takeOverHalfTurnInner(MatchContext& ctx, uint32_t limit, int& processed, int& matchCount) {
  const HalfTurnInnerMemo& memo = ctx.buffers->halfTurnInnerMemo;
  if (!memo.valid || memo.sideAGeneration != ctx.buffers->sideAGeneration || memo.limit != limit ||
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
void rememberInnerForHalfTurn(const MatchContext& ctx, uint32_t limit, int processed, int matchCount,
                              const uint16_t* firstMatch, int reach, int lastRead) {
  HalfTurnInnerMemo& memo = ctx.buffers->halfTurnInnerMemo;
  const MatchView& inner = ctx.viewA;
  const MatchView& scanned = ctx.viewB;
  memo.valid = matchCount <= kMaxPairRecords && inner.count > 0 && inner.count <= kMaxViewMinutiae &&
               scanned.count > 0 && scanned.count <= kMaxViewMinutiae && lastRead <= kMaxPairRecords;
  if (!memo.valid) return;
  memo.sideAGeneration = ctx.buffers->sideAGeneration;
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

}  // namespace

int matchPairs(MatchContext& ctx, int pass) {
  uint32_t* votes = ctx.rotationVotes;
  std::fill(votes, votes + kRotationBins, 0u);
  PairMatch* matches = ctx.matches;
  int matchCount = 0;  // counts every match, also those past the list's capacity
  int processed = 0;

  const MinutiaPair* outer = ctx.outerPairs;
  const MinutiaPair* inner = ctx.innerPairs;
  const bool searchesSideA = pass == 1 && inner == ctx.buffers->pairsA.data();
  const bool scansSideA = pass == 2 && outer == ctx.buffers->pairsA.data() && inner == ctx.buffers->pairsB.data();

  if (ctx.outerCount > 0) {
    const uint32_t limit = std::min(ctx.outerLimit, outer[ctx.outerCount - 1].d2);
    int takenProcessed = 0;
    int takenCount = 0;
    if ((searchesSideA && takeOverHalfTurn(ctx, limit, takenProcessed, takenCount)) ||
        (scansSideA && takeOverHalfTurnInner(ctx, limit, takenProcessed, takenCount))) {
      matches[takenCount] = PairMatch{};
      matches[takenCount].rotationFlag = kPairMatchEndFlag;
      ctx.matchCount = takenCount;
      ctx.outerRecordsProcessed[pass == 2 ? 1 : 0] = takenProcessed;
      return takenCount;
    }
    OuterPairWindow* windows = ctx.buffers->outerWindows.data();
    int reach = 0;
    int lastRead = 0;
    processed = placeOuterWindows(ctx.outerPairs, limit, inner, ctx.viewB.minutiae, windows, reach, lastRead);
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
      const std::array<uint32_t, 2> probeWords = {
          window.probeI | (static_cast<uint32_t>(window.probeJ) << 16),
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
        uint32_t hits = blockHits(endI + r, endJ + r, window.probeI, window.probeJ);
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
    if (searchesSideA) rememberForHalfTurn(ctx, limit, processed, matchCount, firstMatch.data(), windows);
    if (scansSideA) rememberInnerForHalfTurn(ctx, limit, processed, matchCount, firstMatch.data(), reach, lastRead);
    matchCount = std::min(matchCount, kMaxPairRecords);
  }

  matches[matchCount] = PairMatch{};
  matches[matchCount].rotationFlag = kPairMatchEndFlag;
  ctx.matchCount = matchCount;
  ctx.outerRecordsProcessed[pass == 2 ? 1 : 0] = processed;
  return matchCount;
}

}  // namespace fx60::match
