// Kernels of the alignment of one rotation candidate, each in a plain form and, where
// the target has SSE2, a vector form that gives the same result. The alignment calls
// `fast::`, the best form this build has; the tests hold the forms against each other
// on the same input.
//
// - turnMinutiae: side B turned by a byte angle about the origin (16.14 fixed point,
//   rounded); the angle byte of each sort key moves by the rotation.
// - flagBlock: of sixteen match records, those whose rotation lies within a span of the
//   candidate's, and of those the ones whose both end turns lie within a span of it.
// - TranslationVoter: each record's two end offsets and, when they agree within the
//   tolerance on both axes, a vote for their mean in the y and x histograms.
// - forEachClose: the collected records whose both ends come within reach under a
//   translation, in order (the records 16-byte aligned, as ScorableRecords keeps them).
// - histogram lanes (running sums, 11-bin window sums, first maximum, centroid) in
//   32-bit lanes, or in 16-bit lanes for histograms whose votes sum below 2^15.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "match/alignment_tables.h"
#include "match/match_context.h"
#include "match/translation_peaks.h"

namespace fx60::match::alignment_kernels {

inline constexpr int kSmoothingReach = 5;  // 11-bin moving sums
inline constexpr int kPeakReach = 10;      // 21-bin centroids

struct BlockFlags {
  uint32_t flagged;
  uint32_t agreeing;
};

// The rounded mean offset moment / weightSum by the reciprocal table; 0 without weight.
int meanOffset(int64_t weightSum, int64_t moment);

namespace plain {

inline void turnMinutiae(const MatchMinutia* minutiae, int count, uint8_t rotation, int s, int c, MatchMinutia* out) {
  for (int k = 0; k < count; ++k) {
    const int y = minutiae[k].y;
    const int x = minutiae[k].x;
    const uint32_t sortKey = minutiae[k].sortKey;
    out[k] = minutiae[k];
    out[k].y = (c * y - s * x + 8192) >> 14;
    out[k].x = (c * x + s * y + 8192) >> 14;
    out[k].sortKey = (sortKey & ~0xFFu) | static_cast<uint8_t>(sortKey + rotation);
  }
}

inline BlockFlags flagBlock(const uint8_t* rotation, const uint8_t* endTurnI, const uint8_t* endTurnJ,
                            uint8_t rotationLow, int rotationSpan, uint8_t endLow, int endSpan) {
  uint32_t flagged = 0;
  uint32_t agreeing = 0;
  for (int bit = 0; bit < 16; ++bit) {
    if (static_cast<uint8_t>(rotation[bit] - rotationLow) > rotationSpan) continue;
    flagged |= 1u << bit;
    if (static_cast<uint8_t>(endTurnI[bit] - endLow) <= endSpan && static_cast<uint8_t>(endTurnJ[bit] - endLow) <= endSpan)
      agreeing |= 1u << bit;
  }
  return {flagged, agreeing};
}

class TranslationVoter {
 public:
  // histograms: the y histogram, then the x one. base: the offset that lands in bin 0.
  TranslationVoter(int tolerance, int baseY, int baseX, uint32_t* histograms)
      : noneAgree_(tolerance < 0),
        tolerance_(static_cast<uint32_t>(tolerance < 0 ? 0 : tolerance)),
        baseY_(baseY),
        baseX_(baseX),
        histograms_(histograms) {}

  // ends receives (dy, dx) of the i end, then of the j end: A's end minus B's.
  void vote(const MatchMinutia& ai, const MatchMinutia& aj, const MatchMinutia& bi, const MatchMinutia& bj,
            uint8_t weightI, uint8_t weightJ, int32_t* ends) {
    ends[0] = ai.y - bi.y;
    ends[1] = ai.x - bi.x;
    ends[2] = aj.y - bj.y;
    ends[3] = aj.x - bj.x;
    // |a| <= t exactly when (unsigned)(a + t) <= 2t.
    if (noneAgree_ || static_cast<uint32_t>(ends[1] - ends[3]) + tolerance_ > 2 * tolerance_ ||
        static_cast<uint32_t>(ends[0] - ends[2]) + tolerance_ > 2 * tolerance_)
      return;
    const int binY = ((ends[0] + ends[2]) / 2 - baseY_) & (kTranslationBins - 1);
    const int binX = ((ends[1] + ends[3]) / 2 - baseX_) & (kTranslationBins - 1);
    widen(rangeY_, binY);
    widen(rangeX_, binX);
    const uint32_t amount = VoteByAngleWeight[weightI] + VoteByAngleWeight[weightJ];
    histograms_[binY] += amount;
    histograms_[kTranslationBins + binX] += amount;
    total_ += amount;
  }

  VotedRange rangeY() const { return rangeY_; }
  VotedRange rangeX() const { return rangeX_; }
  uint32_t total() const { return total_; }

 private:
  static void widen(VotedRange& range, int bin) {
    range.low = bin < range.low ? bin : range.low;
    range.high = bin > range.high ? bin : range.high;
  }

  bool noneAgree_;
  uint32_t tolerance_;
  int baseY_;
  int baseX_;
  uint32_t* histograms_;
  VotedRange rangeY_;
  VotedRange rangeX_;
  uint32_t total_ = 0;
};

// ends: per record (dy, dx) of the i end, then of the j end, untranslated.
template <typename Visit>
void forEachClose(const std::array<int32_t, 4>* ends, int count, int ty, int tx, int reach2, Visit visit) {
  // In 64 bits: no offset, however far, squares past the range.
  const auto within = [&](int64_t dy, int64_t dx) { return dy * dy + dx * dx <= reach2; };
  for (int k = 0; k < count; ++k) {
    const std::array<int32_t, 4>& e = ends[k];
    if (within(int64_t{e[0]} - ty, int64_t{e[1]} - tx) && within(int64_t{e[2]} - ty, int64_t{e[3]} - tx)) visit(k);
  }
}

// prefix[k] = bins[first] + ... + bins[k] for k in first..last (modulo 2^32), or
// modulo 2^16 for bins that sum below 2^15 (entries past last may then hold anything).
// The vector forms may write up to seven entries past last.
// windowSums: smoothed[k] = prefix[k + 5] - prefix[k - 6] (the 11-bin sum) for k in
// first..last; returns the largest.
// firstIndexOf: the first position of value in values[from..to], which holds it.
// firstMaximum: the first position of the largest of values[from..to] (-1 when the
// stretch is empty).
// centroidWithin: rounded weighted mean offset from p of the values above threshold in
// p-10..p+10 that lie in first..last.
inline void runningSums(const uint32_t* bins, int first, int last, uint32_t* prefix) {
  uint32_t carried = 0;
  for (int k = first; k <= last; ++k) prefix[k] = carried += bins[k];
}

inline void runningSums(const uint32_t* bins, int first, int last, uint16_t* prefix) {
  uint16_t carried = 0;
  for (int k = first; k <= last; ++k) prefix[k] = carried = static_cast<uint16_t>(carried + bins[k]);
}

inline uint32_t windowSums(const uint32_t* prefix, int first, int last, uint32_t* smoothed) {
  uint32_t top = 0;
  for (int k = first; k <= last; ++k) {
    smoothed[k] = prefix[k + kSmoothingReach] - prefix[k - kSmoothingReach - 1];
    top = std::max(top, smoothed[k]);
  }
  return top;
}

inline uint32_t windowSums(const uint16_t* prefix, int first, int last, uint16_t* smoothed) {
  uint32_t top = 0;
  for (int k = first; k <= last; ++k) {
    smoothed[k] = static_cast<uint16_t>(prefix[k + kSmoothingReach] - prefix[k - kSmoothingReach - 1]);
    top = std::max<uint32_t>(top, smoothed[k]);
  }
  return top;
}

template <typename Count>
inline int firstIndexIn(const Count* values, int from, int to, uint32_t value) {
  int at = from;
  while (at < to && values[at] != value) ++at;
  return at;
}

inline int firstIndexOf(const uint32_t* values, int from, int to, uint32_t value) {
  return firstIndexIn(values, from, to, value);
}
inline int firstIndexOf(const uint16_t* values, int from, int to, uint32_t value) {
  return firstIndexIn(values, from, to, value);
}

template <typename Count>
inline int firstMaximumIn(const Count* values, int from, int to, uint32_t& largest) {
  if (from > to) return -1;
  uint32_t top = 0;
  for (int k = from; k <= to; ++k) top = std::max<uint32_t>(top, values[k]);
  largest = top;
  return firstIndexIn(values, from, to, top);
}

inline int firstMaximum(const uint32_t* values, int from, int to, uint32_t& largest) {
  return firstMaximumIn(values, from, to, largest);
}
inline int firstMaximum(const uint16_t* values, int from, int to, uint32_t& largest) {
  return firstMaximumIn(values, from, to, largest);
}

template <typename Count>
inline int centroidIn(const Count* smoothed, int first, int last, int p, uint32_t threshold) {
  int64_t weightSum = 0;
  int64_t moment = 0;
  for (int k = std::max(p - kPeakReach, first); k <= std::min(p + kPeakReach, last); ++k) {
    const uint32_t value = smoothed[k];
    const int64_t w = value > threshold ? value - threshold : 0;
    weightSum += w;
    moment += w * (k - p);
  }
  return meanOffset(weightSum, moment);
}

inline int centroidWithin(const uint32_t* smoothed, int first, int last, int p, uint32_t threshold) {
  return centroidIn(smoothed, first, last, p, threshold);
}
inline int centroidWithin(const uint16_t* smoothed, int first, int last, int p, uint32_t threshold) {
  return centroidIn(smoothed, first, last, p, threshold);
}

}  // namespace plain

#if defined(__SSE2__)
namespace sse2 {

// Whether every coordinate of the minutiae fits a signed 16-bit lane.
inline bool coordinatesFit16(const MatchMinutia* minutiae, int count) {
  static_assert(offsetof(MatchMinutia, y) == 0 && offsetof(MatchMinutia, x) == 4);
  const __m128i shift = _mm_setr_epi32(32768, 32768, 0, 0);
  __m128i shifted = _mm_setzero_si128();
  for (int k = 0; k < count; ++k)
    shifted = _mm_or_si128(shifted, _mm_add_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&minutiae[k])), shift));
  // y + 32768 and x + 32768 below 2^16 in every minutia.
  const __m128i high = _mm_and_si128(shifted, _mm_setr_epi32(static_cast<int>(0xFFFF0000u), static_cast<int>(0xFFFF0000u), 0, 0));
  return _mm_movemask_epi8(_mm_cmpeq_epi32(high, _mm_setzero_si128())) == 0xFFFF;
}

// With 16-bit coordinates both turned coordinates of a minutia come from one pairwise
// multiply-add of (y, x) with (c, -s) and (s, c); the angle byte of the sort key moves
// by the rotation without carrying into the key's other bytes. Wider coordinates take
// the plain loop.
inline void turnMinutiae(const MatchMinutia* minutiae, int count, uint8_t rotation, int s, int c, MatchMinutia* out) {
  static_assert(offsetof(MatchMinutia, sortKey) == 8);
  if (!coordinatesFit16(minutiae, count)) {
    plain::turnMinutiae(minutiae, count, rotation, s, c, out);
    return;
  }
  const __m128i factors = _mm_setr_epi16(static_cast<int16_t>(c), static_cast<int16_t>(-s), static_cast<int16_t>(s),
                                         static_cast<int16_t>(c), 0, 0, 0, 0);
  const __m128i rounding = _mm_set1_epi32(8192);
  const __m128i angleStep = _mm_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, static_cast<char>(rotation), 0, 0, 0, 0, 0, 0, 0);
  for (int k = 0; k < count; ++k) {
    const __m128i minutia = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&minutiae[k]));
    const __m128i pairs = _mm_shufflelo_epi16(minutia, _MM_SHUFFLE(2, 0, 2, 0));  // y, x, y, x
    const __m128i turned = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(pairs, factors), rounding), 14);
    const __m128i rest = _mm_add_epi8(minutia, angleStep);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&out[k]),
                     _mm_castpd_si128(_mm_move_sd(_mm_castsi128_pd(rest), _mm_castsi128_pd(turned))));
  }
}

// The three byte arrays are read sixteen at a time from 16-byte aligned addresses.
inline BlockFlags flagBlock(const uint8_t* rotation, const uint8_t* endTurnI, const uint8_t* endTurnJ,
                            uint8_t rotationLow, int rotationSpan, uint8_t endLow, int endSpan) {
  const auto within = [](const uint8_t* bytes, uint8_t low, int span) {
    const __m128i shifted = _mm_sub_epi8(_mm_load_si128(reinterpret_cast<const __m128i*>(bytes)),
                                         _mm_set1_epi8(static_cast<char>(low)));
    const __m128i inside = _mm_cmpeq_epi8(_mm_min_epu8(shifted, _mm_set1_epi8(static_cast<char>(span))), shifted);
    return static_cast<uint32_t>(_mm_movemask_epi8(inside));
  };
  const uint32_t flagged = within(rotation, rotationLow, rotationSpan);
  if (flagged == 0) return {0, 0};
  return {flagged, flagged & within(endTurnI, endLow, endSpan) & within(endTurnJ, endLow, endSpan)};
}

// The four offsets in one vector; the bins voted for are tracked in 16-bit lanes.
// ends must be 16-byte aligned.
class TranslationVoter {
 public:
  TranslationVoter(int tolerance, int baseY, int baseX, uint32_t* histograms)
      : noneAgree_(tolerance < 0 ? 0x3 : 0),
        toleranceLanes_(_mm_set1_epi32(tolerance < 0 ? 0 : tolerance)),
        spanLanes_(_mm_xor_si128(_mm_set1_epi32(2 * (tolerance < 0 ? 0 : tolerance)), topBit())),
        baseLanes_(_mm_setr_epi32(baseY, baseX, 0, 0)),
        histograms_(histograms) {}

  void vote(const MatchMinutia& ai, const MatchMinutia& aj, const MatchMinutia& bi, const MatchMinutia& bj,
            uint8_t weightI, uint8_t weightJ, int32_t* ends) {
    // Lanes (y, x) of the i end, then of the j end; MatchMinutia starts with y and x.
    static_assert(offsetof(MatchMinutia, y) == 0 && offsetof(MatchMinutia, x) == 4);
    const __m128i offsets = _mm_sub_epi32(lanesOf(ai, aj), lanesOf(bi, bj));
    _mm_store_si128(reinterpret_cast<__m128i*>(ends), offsets);
    const __m128i otherEnd = _mm_shuffle_epi32(offsets, _MM_SHUFFLE(1, 0, 3, 2));
    const __m128i gap = _mm_add_epi32(_mm_sub_epi32(offsets, otherEnd), toleranceLanes_);
    const int outside = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpgt_epi32(_mm_xor_si128(gap, topBit()), spanLanes_)));
    if (((outside | noneAgree_) & 0x3) != 0) return;
    // Mean offset of the two ends, halved towards zero as integer division does.
    const __m128i sum = _mm_add_epi32(offsets, otherEnd);
    const __m128i mean = _mm_srai_epi32(_mm_add_epi32(sum, _mm_srli_epi32(sum, 31)), 1);
    const __m128i bins = _mm_and_si128(_mm_sub_epi32(mean, baseLanes_), _mm_set1_epi32(kTranslationBins - 1));
    const int binY = _mm_cvtsi128_si32(bins);
    const int binX = _mm_cvtsi128_si32(_mm_shuffle_epi32(bins, _MM_SHUFFLE(1, 1, 1, 1)));
    // Bins fit 16 bits: y in 16-bit lane 0, x in lane 2.
    lowestBins_ = _mm_min_epi16(lowestBins_, bins);
    highestBins_ = _mm_max_epi16(highestBins_, bins);
    const uint32_t amount = VoteByAngleWeight[weightI] + VoteByAngleWeight[weightJ];
    histograms_[binY] += amount;
    histograms_[kTranslationBins + binX] += amount;
    total_ += amount;
  }

  VotedRange rangeY() const { return rangeOf(0); }
  VotedRange rangeX() const { return rangeOf(2); }
  uint32_t total() const { return total_; }

 private:
  static __m128i topBit() { return _mm_set1_epi32(static_cast<int>(0x80000000u)); }
  static __m128i lanesOf(const MatchMinutia& i, const MatchMinutia& j) {
    return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(&i)),
                              _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&j)));
  }
  VotedRange rangeOf(int lane) const {
    alignas(16) std::array<int16_t, 8> lowest;
    alignas(16) std::array<int16_t, 8> highest;
    _mm_store_si128(reinterpret_cast<__m128i*>(lowest.data()), lowestBins_);
    _mm_store_si128(reinterpret_cast<__m128i*>(highest.data()), highestBins_);
    return {lowest[lane], highest[lane]};
  }

  int noneAgree_;
  __m128i toleranceLanes_;
  __m128i spanLanes_;
  __m128i baseLanes_;
  __m128i lowestBins_ = _mm_set1_epi16(kTranslationBins);
  __m128i highestBins_ = _mm_set1_epi16(-1);
  uint32_t* histograms_;
  uint32_t total_ = 0;
};

// Two records at a time in 16 bits: offsets saturate at +-32767, which stays out of
// reach of any translation within +-16384, and two squares of such sum below 2^31.
// ends must be 16-byte aligned.
template <typename Visit>
void forEachClose(const std::array<int32_t, 4>* ends, int count, int ty, int tx, int reach2, Visit visit) {
  constexpr int kNarrowTranslation = 16384;
  const auto narrow = [](int v) { return v >= -kNarrowTranslation && v <= kNarrowTranslation; };
  int k = 0;
  if (narrow(ty) && narrow(tx)) {
    const __m128i shift = _mm_setr_epi16(static_cast<int16_t>(ty), static_cast<int16_t>(tx), static_cast<int16_t>(ty),
                                         static_cast<int16_t>(tx), static_cast<int16_t>(ty), static_cast<int16_t>(tx),
                                         static_cast<int16_t>(ty), static_cast<int16_t>(tx));
    const __m128i reach = _mm_set1_epi32(reach2);
    const __m128i lowest = _mm_set1_epi16(-32767);
    for (; k + 2 <= count; k += 2) {
      const __m128i both = _mm_packs_epi32(_mm_load_si128(reinterpret_cast<const __m128i*>(ends[k].data())),
                                           _mm_load_si128(reinterpret_cast<const __m128i*>(ends[k + 1].data())));
      const __m128i moved = _mm_max_epi16(_mm_subs_epi16(both, shift), lowest);
      const __m128i far = _mm_cmpgt_epi32(_mm_madd_epi16(moved, moved), reach);
      const int farBits = _mm_movemask_ps(_mm_castsi128_ps(far));
      if ((farBits & 0x3) == 0) visit(k);
      if ((farBits & 0xC) == 0) visit(k + 1);
    }
  }
  plain::forEachClose(ends + k, count - k, ty, tx, reach2, [&](int rest) { visit(k + rest); });
}

inline __m128i loadFour(const uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline __m128i loadEight(const uint16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// Lane-wise unsigned maximum through signed compares: flip the top bit of both sides.
inline __m128i topBitLanes() { return _mm_set1_epi32(static_cast<int>(0x80000000u)); }
inline __m128i flippedMax(__m128i flippedBest, __m128i values) {
  const __m128i flipped = _mm_xor_si128(values, topBitLanes());
  const __m128i greater = _mm_cmpgt_epi32(flipped, flippedBest);
  return _mm_or_si128(_mm_and_si128(greater, flipped), _mm_andnot_si128(greater, flippedBest));
}
inline uint32_t largestLane(__m128i flippedBest) {
  alignas(16) std::array<uint32_t, 4> lanes;
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes.data()), _mm_xor_si128(flippedBest, topBitLanes()));
  return std::max(std::max(lanes[0], lanes[1]), std::max(lanes[2], lanes[3]));
}
inline uint32_t largestOfEight(__m128i lanes) {
  lanes = _mm_max_epi16(lanes, _mm_unpackhi_epi64(lanes, lanes));
  lanes = _mm_max_epi16(lanes, _mm_shuffle_epi32(lanes, _MM_SHUFFLE(1, 1, 1, 1)));
  lanes = _mm_max_epi16(lanes, _mm_shufflelo_epi16(lanes, _MM_SHUFFLE(1, 1, 1, 1)));
  return static_cast<uint16_t>(_mm_cvtsi128_si32(lanes));
}

inline void runningSums(const uint32_t* bins, int first, int last, uint32_t* prefix) {
  __m128i carry = _mm_setzero_si128();
  for (int k = first; k <= last; k += 4) {
    __m128i sums = loadFour(bins + k);
    sums = _mm_add_epi32(sums, _mm_slli_si128(sums, 4));
    sums = _mm_add_epi32(sums, _mm_slli_si128(sums, 8));
    sums = _mm_add_epi32(sums, carry);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(prefix + k), sums);
    carry = _mm_shuffle_epi32(sums, 0xFF);
  }
}

inline void runningSums(const uint32_t* bins, int first, int last, uint16_t* prefix) {
  __m128i carry = _mm_setzero_si128();
  for (int k = first; k <= last; k += 8) {
    __m128i sums = _mm_packs_epi32(loadFour(bins + k), loadFour(bins + k + 4));
    sums = _mm_add_epi16(sums, _mm_slli_si128(sums, 2));
    sums = _mm_add_epi16(sums, _mm_slli_si128(sums, 4));
    sums = _mm_add_epi16(sums, _mm_slli_si128(sums, 8));
    sums = _mm_add_epi16(sums, carry);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(prefix + k), sums);
    carry = _mm_shufflehi_epi16(sums, 0xFF);
    carry = _mm_unpackhi_epi64(carry, carry);
  }
}

inline uint32_t windowSums(const uint32_t* prefix, int first, int last, uint32_t* smoothed) {
  int k = first;
  __m128i best = topBitLanes();
  for (; k + 3 <= last; k += 4) {
    const __m128i sums =
        _mm_sub_epi32(loadFour(prefix + k + kSmoothingReach), loadFour(prefix + k - kSmoothingReach - 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(smoothed + k), sums);
    best = flippedMax(best, sums);
  }
  return std::max(largestLane(best), plain::windowSums(prefix, k, last, smoothed));
}

// The running sums stay below 2^15, so every window sum is exact and compares as a
// signed lane.
inline uint32_t windowSums(const uint16_t* prefix, int first, int last, uint16_t* smoothed) {
  int k = first;
  __m128i best = _mm_setzero_si128();
  for (; k + 7 <= last; k += 8) {
    const __m128i sums =
        _mm_sub_epi16(loadEight(prefix + k + kSmoothingReach), loadEight(prefix + k - kSmoothingReach - 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(smoothed + k), sums);
    best = _mm_max_epi16(best, sums);
  }
  return std::max(largestOfEight(best), plain::windowSums(prefix, k, last, smoothed));
}

inline int firstIndexOf(const uint32_t* values, int from, int to, uint32_t value) {
  int at = from;
  const __m128i wanted = _mm_set1_epi32(static_cast<int>(value));
  for (; at + 3 <= to; at += 4) {
    const int hits = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(loadFour(values + at), wanted)));
    if (hits != 0) return at + __builtin_ctz(static_cast<unsigned>(hits));
  }
  return plain::firstIndexOf(values, at, to, value);
}

inline int firstIndexOf(const uint16_t* values, int from, int to, uint32_t value) {
  int at = from;
  const __m128i wanted = _mm_set1_epi16(static_cast<int16_t>(value));
  for (; at + 7 <= to; at += 8) {
    const int hits = _mm_movemask_epi8(_mm_cmpeq_epi16(loadEight(values + at), wanted));
    if (hits != 0) return at + __builtin_ctz(static_cast<unsigned>(hits)) / 2;
  }
  return plain::firstIndexOf(values, at, to, value);
}

inline int firstMaximum(const uint32_t* values, int from, int to, uint32_t& largest) {
  if (from > to) return -1;
  int k = from;
  __m128i best = topBitLanes();
  for (; k + 3 <= to; k += 4) best = flippedMax(best, loadFour(values + k));
  uint32_t top = largestLane(best);
  for (; k <= to; ++k) top = std::max(top, values[k]);
  largest = top;
  return firstIndexOf(values, from, to, top);
}

inline int firstMaximum(const uint16_t* values, int from, int to, uint32_t& largest) {
  if (from > to) return -1;
  int k = from;
  __m128i best = _mm_setzero_si128();
  for (; k + 7 <= to; k += 8) best = _mm_max_epi16(best, loadEight(values + k));
  uint32_t top = largestOfEight(best);
  for (; k <= to; ++k) top = std::max<uint32_t>(top, values[k]);
  largest = top;
  return firstIndexOf(values, from, to, top);
}

// The 21 weights max(value - threshold, 0) and their moments about p in three lanes of
// eight. The values must read as 0 for sixteen positions on either side of first..last.
inline int centroidWithin(const uint16_t* smoothed, int, int, int p, uint32_t threshold) {
  const __m128i floor = _mm_set1_epi16(static_cast<int16_t>(threshold));
  const __m128i low = _mm_subs_epu16(loadEight(smoothed + p - kPeakReach), floor);
  const __m128i middle = _mm_subs_epu16(loadEight(smoothed + p - kPeakReach + 8), floor);
  // Only the first five lanes of the last eight (p + 6 .. p + 10) count.
  const __m128i high = _mm_and_si128(_mm_subs_epu16(loadEight(smoothed + p - kPeakReach + 16), floor),
                                     _mm_setr_epi16(-1, -1, -1, -1, -1, 0, 0, 0));
  const __m128i ones = _mm_set1_epi16(1);
  const __m128i weights =
      _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(low, ones), _mm_madd_epi16(middle, ones)), _mm_madd_epi16(high, ones));
  const __m128i moments = _mm_add_epi32(
      _mm_add_epi32(_mm_madd_epi16(low, _mm_setr_epi16(-10, -9, -8, -7, -6, -5, -4, -3)),
                    _mm_madd_epi16(middle, _mm_setr_epi16(-2, -1, 0, 1, 2, 3, 4, 5))),
      _mm_madd_epi16(high, _mm_setr_epi16(6, 7, 8, 9, 10, 0, 0, 0)));
  // Sum the four 32-bit lanes of both at once: weights in the low half, moments in the high.
  __m128i both = _mm_add_epi32(_mm_unpacklo_epi64(weights, moments), _mm_unpackhi_epi64(weights, moments));
  both = _mm_add_epi32(both, _mm_shuffle_epi32(both, _MM_SHUFFLE(2, 3, 0, 1)));
  const int32_t weightSum = _mm_cvtsi128_si32(both);
  const int32_t moment = _mm_cvtsi128_si32(_mm_shuffle_epi32(both, _MM_SHUFFLE(2, 2, 2, 2)));
  return meanOffset(weightSum, moment);
}

inline int centroidWithin(const uint32_t* smoothed, int first, int last, int p, uint32_t threshold) {
  return plain::centroidWithin(smoothed, first, last, p, threshold);
}

}  // namespace sse2

namespace fast = sse2;
#else
namespace fast = plain;
#endif

}  // namespace fx60::match::alignment_kernels
