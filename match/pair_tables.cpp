#include "match/pair_tables.h"

#include <algorithm>
#include <bit>

#include "match/angles.h"
#include "match/half_turn_memo.h"
#include "match/sqrt_tables.h"

namespace fx60::match {
namespace {

constexpr int kMaxKeyedMinutiae = 128;  // pair keys hold 7-bit indexes


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

// Chooses side B's pass-1 keys: those no longer than A's 350th pair, widened along A's
// longer pairs while too few. Returns how many are taken (sorted, at the front).
half_turn_memo::Pass1Keys selectPass1Keys(MatchContext& ctx) {
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
  const int recordCountBeforeWidening = g;

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
  return {taken, g, recordCountBeforeWidening};
}


}  // namespace

void buildPass1PairsB(MatchContext& ctx) {
  half_turn_memo::Pass1Keys keys;
  if (!half_turn_memo::takeOverKeys(ctx, keys)) {
    keys = selectPass1Keys(ctx);
    half_turn_memo::rememberKeys(ctx, keys);
  }
  const int g = keys.recordCount;
  ctx.pairKeysSortedB = keys.taken;

  expandPairs(ctx.pairKeysB, 0, g, ctx.pairsB);
  ctx.pairCountB = g;

  ctx.outerPairs = ctx.pairsB;
  ctx.outerCount = g;
  ctx.innerPairs = ctx.pairsA;
  ctx.innerCount = ctx.pairCountA;
  ctx.outerLimit = ctx.pairLimitB;
  ctx.counts.nB = std::min(g, kPairsInUse);
  ctx.counts.nB0 = std::min(keys.recordCountBeforeWidening, kPairsInUse);
  ctx.counts.nA = std::min(ctx.pairCountA, kPairsInUse);
}

}  // namespace fx60::match
