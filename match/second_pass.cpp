#include "match/second_pass.h"

#include <algorithm>

#include "match/pair_tables.h"

namespace fx60::match {

void preparePass2(MatchContext& ctx) {
  uint32_t* keys = ctx.pairKeysB;
  MinutiaPair* pairsB = ctx.pairsB;
  const int keyCount = ctx.pairKeyCountB;
  const int l = std::min(keyCount, kMaxPairRecords);

  // B's first l pairs as records in length order: sort what pass 1 left unsorted
  // (only the shortest are needed) and expand what it left unexpanded.
  const int sorted = std::clamp(ctx.pairKeysSortedB, 0, keyCount);
  // Keys are unique, so selecting the shortest and sorting them gives the same front.
  if (sorted < l) {
    std::nth_element(keys + sorted, keys + l, keys + keyCount);
    std::sort(keys + sorted, keys + l);
  }
  const int expanded = std::clamp(ctx.pairCountB, 0, l);
  expandPairs(keys, expanded, l, pairsB);

  // A's pairs up to the length of B's pair number k, widened to B's pair number l
  // while fewer than 350 are in use. Pair number k is at index k - 1; an empty list
  // reads as its end mark.
  const MinutiaPair* pairsA = ctx.pairsA;
  const int countA = ctx.pairCountA;
  const auto d2OfB = [&](int number) { return number > 0 ? pairsB[number - 1].d2 : kPairListEnd; };
  const auto aPairsUpTo = [&](uint32_t d2) {
    return static_cast<int>(std::upper_bound(pairsA, pairsA + countA, d2,
                                             [](uint32_t v, const MinutiaPair& pair) { return v < pair.d2; }) -
                            pairsA);
  };
  const int k = std::min(l, kPairsInUse);
  int w = aPairsUpTo(d2OfB(k));
  const int w0 = w;
  if (w < kPairsInUse && l > kPairsInUse) w = aPairsUpTo(d2OfB(l));
  w = std::min(w, kPairsInUse);

  Pass2Material& pass2 = ctx.pass2;
  pass2.innerPairs = pairsB;
  pass2.innerCount = l;
  pass2.outerPairs = ctx.pairsA;
  pass2.outerCount = w;
  pass2.outerCountBeforeWidening = std::min(w0, kPairsInUse);
  if (w > 0) {
    const MinutiaPair& last = pairsA[w - 1];
    const uint64_t limit = static_cast<uint64_t>(last.d2) + toleranceOf(last.length).hi;
    pass2.outerLimit = static_cast<uint32_t>(std::min<uint64_t>(limit, kPairListEnd - 1));
  } else {
    pass2.outerLimit = 0;
  }

  // Angle fields of B's records in inner-list form, up to the outer limit; the inner
  // list ends after them.
  int filled = 0;
  while (filled < l && pairsB[filled].d2 <= pass2.outerLimit) ++filled;
  fillPairAngles(pairsB, filled, ctx.viewB.minutiae);
  pairsB[filled] = MinutiaPair{};
  pairsB[filled].d2 = kPairListEnd;

  const MatchView& viewB = ctx.viewB;
  SideExtent extent;
  if (viewB.count > 0) {
    extent.minX = extent.maxX = viewB.minutiae[0].x;
    for (int i = 1; i < viewB.count; ++i) {
      extent.minX = std::min(extent.minX, viewB.minutiae[i].x);
      extent.maxX = std::max(extent.maxX, viewB.minutiae[i].x);
    }
    extent.firstY = viewB.minutiae[0].y;
    extent.lastY = viewB.minutiae[viewB.count - 1].y;
  }
  pass2.extent = extent;
  ctx.pass2Ready = l;
}

}  // namespace fx60::match
