// Pair keys, pair lists and the distance tolerance table: the pairs of minutiae of each
// side, by length, that the correspondence search compares.
#pragma once

#include <array>
#include <cstdint>

#include "match/match_context.h"

namespace fx60::match {

// For a pair of length k, pairs whose squared length lies in [k^2 - lo, k^2 + hi]
// may correspond to it.
struct DistanceTolerance {
  uint16_t lo;
  uint16_t hi;
};

inline constexpr int kToleranceTableSize = 380;  // lengths 0..379

inline constexpr std::array<DistanceTolerance, kToleranceTableSize> DistanceToleranceTable = [] {
  std::array<DistanceTolerance, kToleranceTableSize> table{};
  for (int64_t k = 2; k < kToleranceTableSize; ++k) {
    const int64_t k2 = k * k;
    int64_t lo;
    int64_t hi;
    if (33 * k < 404) {
      const int64_t threeQuarters = 3 * k2 / 4;
      const int64_t near = k2 - 2 * k + 2;
      lo = threeQuarters < near ? threeQuarters : near;
    } else {
      lo = k2 - (34 * k - 202) * (34 * k - 202) / 1225;
    }
    if (33 * k < 202)
      hi = k2;
    else
      hi = (35 * k + 202) * (35 * k + 202) / 1156 - k2;
    table[k] = {static_cast<uint16_t>(lo), static_cast<uint16_t>(hi)};
  }
  table[0] = table[2];
  table[1] = table[2];
  return table;
}();

// Tolerance of a pair length, clamped to the table.
constexpr DistanceTolerance toleranceOf(int length) {
  if (length < 0) length = 0;
  if (length >= kToleranceTableSize) length = kToleranceTableSize - 1;
  return DistanceToleranceTable[length];
}

// Pair key: d2 << 14 | i << 7 | j. Sorting keys sorts pairs by length, then i, then j.
inline constexpr int kPairKeyLengthShift = 14;
constexpr uint32_t pairKey(uint32_t d2, int i, int j) {
  return (d2 << kPairKeyLengthShift) | (static_cast<uint32_t>(i) << 7) | static_cast<uint32_t>(j);
}
constexpr uint32_t pairKeyD2(uint32_t key) { return key >> kPairKeyLengthShift; }
constexpr int pairKeyI(uint32_t key) { return static_cast<int>((key >> 7) & 0x7F); }
constexpr int pairKeyJ(uint32_t key) { return static_cast<int>(key & 0x7F); }

// Keys of all pairs i < j of the first min(n, 128) minutiae with d2 <= limit, in
// (i, j) order. Returns the count (at most capacity).
int buildPairKeys(const MatchMinutia* minutiae, int n, uint32_t limit, uint32_t* out, int capacity);

// Moves the keys <= bound to the front (order otherwise unspecified); returns how many.
int selectPairs(uint32_t* keys, int count, uint32_t bound);

// Turns sorted keys [from, to) into records pairs[from..to) and writes the end mark at pairs[to].
void expandPairs(const uint32_t* keys, int from, int to, MinutiaPair* pairs);

// Fills dir, relAngleJ and relAngles (inner-list form, 0x0F guards) of records
// [0, count) from the minutiae; lengths below 2 become 2. Records whose angle word
// already carries its guards (filled, or scanned by the correspondence search) must have
// been filled from the same minutiae: they keep their direction and return to the inner
// form without being computed again.
void fillPairAngles(MinutiaPair* pairs, int count, const MatchMinutia* minutiae);

// Builds side A's pair list and the side-A extent; sets pairCountA, pairLimitB, countA.
void preparePassTables(MatchContext& ctx);

// Builds side B's pass-1 pair list; sets the current pass lists and normalising counts.
void buildPass1PairsB(MatchContext& ctx);

}  // namespace fx60::match
