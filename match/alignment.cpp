#include "match/alignment.h"

#include <algorithm>
#include <cstddef>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "match/alignment_tables.h"
#include "match/angles.h"
#include "match/pair_tables.h"
#include "match/sqrt_tables.h"

namespace fx60::match {
namespace {

constexpr int kHistogramSearchFirst = 10;
constexpr int kHistogramSearchLast = 1013;
constexpr int kHistogramMidBin = 512;
constexpr int kSmoothingReach = 5;    // 11-bin moving sum
constexpr int kPeakReach = 10;        // 21-bin peak mass
constexpr int kSecondPeakGap = 13;    // second peak searched at least this far away
constexpr uint32_t kMinPeakMass = 128;
constexpr uint32_t kSinglePeakMass = 896;
constexpr int kRotationFlagReach = 9;
constexpr uint32_t kSingularVote = 4;
constexpr int kMinTranslationScore = 192;
constexpr int kMaxEndAngleGap = 16;
constexpr int kMaxEndDistance2 = 225;  // 15 pixels
constexpr int kNoPartner = 255;

// What the alignment needs of each record of one match list, in columns so that the
// rotation and end-angle tests run sixteen records at a time. None of it depends on
// the candidate rotation, so it is built once per list and shared by all candidates.
inline constexpr int kIndexCapacity = (kMaxPairRecords + 15) / 16 * 16;
struct MatchIndex {
  int count = 0;
  const PairMatch* list = nullptr;
  uint8_t generation = 0;  // also written to the list's end record while the index is current
  alignas(16) std::array<uint8_t, kIndexCapacity> rotation{};  // dirA - dirB
  // Angle of A's end minus the untouched B end's angle; the turned B end differs by the rotation.
  alignas(16) std::array<uint8_t, kIndexCapacity> endTurnI{};
  alignas(16) std::array<uint8_t, kIndexCapacity> endTurnJ{};
  std::array<int16_t, kIndexCapacity> score{};  // record score once computed, -1 before
};

// The y and x translation histograms.
using TranslationHistograms = std::array<TranslationHistogram, 2>;
static_assert(sizeof(TranslationHistograms) == 2 * sizeof(TranslationHistogram));

// The records that may score under a translation close enough to their ends (those
// whose end angles agree): each one's index and the offsets of its two ends from A's
// ends with the turned, not yet moved, copy of B. A record's score is needed only once
// a translation brings both ends within reach, and is computed then.
struct ScorableRecords {
  std::array<uint16_t, kMaxPairRecords> index;
  // dy and dx of the i end, then of the j end.
  alignas(16) std::array<std::array<int32_t, 4>, kMaxPairRecords> ends;
};

// A record index and its alignment score, for the partner assignment.
struct ScoredRecord {
  uint16_t index;
  uint8_t score;
};

// Histograms, record lists and assignment chains, reused by every candidate on this
// thread. The histograms are kept all zero between uses.
struct AlignmentWork {
  TranslationHistograms histograms{};
  MatchIndex index;
  ScorableRecords scorable{};
  std::array<ScoredRecord, kMaxPairRecords> scored{};
  // Associations of A minutiae with B minutiae, one chain per A minutia.
  struct Association {
    uint8_t b;
    int16_t next;
    uint32_t weight;
  };
  std::array<Association, 2 * kMaxPairRecords> associations{};
  std::array<int16_t, kMaxViewMinutiae> chainHead{};
  std::array<int16_t, kMaxViewMinutiae> chainTail{};
};

AlignmentWork& alignmentWork() {
  thread_local std::unique_ptr<AlignmentWork> work = std::make_unique<AlignmentWork>();
  return *work;
}

int absInt(int v) { return v < 0 ? -v : v; }

int histogramBin(int displacement, int offset) {
  return (displacement - (offset - kHistogramMidBin)) & (kTranslationBins - 1);
}

// Translation vote U of one pair end by its angle agreement weight, for every byte.
constexpr std::array<uint8_t, 256> VoteByAngleWeight = [] {
  std::array<uint8_t, 256> table{};
  for (int w = 0; w < 256; ++w)
    table[w] = VoteWeight[std::clamp(w - kVoteWeightFirst, 0, static_cast<int>(VoteWeight.size()) - 1)];
  return table;
}();

// Bins [low, high] of a histogram that may hold votes.
struct VotedRange {
  int low = kTranslationBins;
  int high = -1;
};

// Sums of votes below this fit a signed 16-bit lane.
inline constexpr uint32_t kNarrowTotal = 32768;

// Peaks of a histogram whose non-zero bins all lie in the range and whose bins sum to
// at most total.
HistogramPeaks peaksWithin(const TranslationHistogram& histogram, VotedRange range, uint64_t total);

void moveMinutiae(MatchMinutia* minutiae, int count, int dy, int dx) {
  for (int k = 0; k < count; ++k) {
    minutiae[k].y += dy;
    minutiae[k].x += dx;
  }
}

}  // namespace

namespace {

#if defined(__SSE2__)
// Whether every coordinate of the minutiae fits a signed 16-bit lane.
bool coordinatesFit16(const MatchMinutia* minutiae, int count) {
  static_assert(offsetof(MatchMinutia, y) == 0 && offsetof(MatchMinutia, x) == 4);
  const __m128i shift = _mm_setr_epi32(32768, 32768, 0, 0);
  __m128i shifted = _mm_setzero_si128();
  for (int k = 0; k < count; ++k)
    shifted = _mm_or_si128(shifted, _mm_add_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&minutiae[k])), shift));
  // y + 32768 and x + 32768 below 2^16 in every minutia.
  const __m128i high = _mm_and_si128(shifted, _mm_setr_epi32(static_cast<int>(0xFFFF0000u), static_cast<int>(0xFFFF0000u), 0, 0));
  return _mm_movemask_epi8(_mm_cmpeq_epi32(high, _mm_setzero_si128())) == 0xFFFF;
}

// turnSide's loop with 16-bit coordinates: both turned coordinates of a minutia come
// from one pairwise multiply-add of (y, x) with (c, -s) and (s, c); the angle byte of
// the sort key moves by the rotation without carrying into the key's other bytes.
void turnNarrow(const MatchMinutia* minutiae, int count, uint8_t rotation, int s, int c, MatchMinutia* out) {
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
#endif

}  // namespace

TurnOffset turnSide(const MatchMinutia* minutiae, int count, uint8_t rotation, MatchMinutia* out) {
  const int s = sineOfByte(rotation);
  const int c = cosineOfByte(rotation);
  int k = 0;
#if defined(__SSE2__)
  static_assert(offsetof(MatchMinutia, sortKey) == 8);
  if (coordinatesFit16(minutiae, count)) {
    turnNarrow(minutiae, count, rotation, s, c, out);
    k = count;
  }
#endif
  for (; k < count; ++k) {
    const int y = minutiae[k].y;
    const int x = minutiae[k].x;
    const uint32_t sortKey = minutiae[k].sortKey;
    out[k] = minutiae[k];
    out[k].y = (c * y - s * x + 8192) >> 14;
    out[k].x = (c * x + s * y + 8192) >> 14;
    out[k].sortKey = (sortKey & ~0xFFu) | static_cast<uint8_t>(sortKey + rotation);
  }
  // The centre is turned without the rounding term, as the offset has always been formed.
  const int centre = kRotationCentre;
  const int turnedY = (c * centre - s * centre) >> 14;
  const int sumX = c * centre + s * centre;
  const int turnedX = (sumX >> 14) + (sumX < 0 ? 1 : 0);
  return {centre - turnedY, centre - turnedX};
}

void turnSingular(const MatchSingularPoint* points, int count, uint8_t rotation, MatchSingularPoint* out) {
  const int s = sineOfByte(rotation);
  const int c = cosineOfByte(rotation);
  for (int k = 0; k < count; ++k) {
    const MatchSingularPoint& p = points[k];
    MatchSingularPoint turned = p;
    const int y = c * p.y - s * p.x;
    turned.y = (y >> 14) + (y < 0 ? 1 : 0);
    turned.x = (s * p.y + c * p.x) / 16384;
    turned.angle = static_cast<uint8_t>(p.angle + rotation);
    turned.angles[0] = static_cast<uint8_t>(p.angles[0] + rotation);
    turned.angles[1] = static_cast<uint8_t>(p.angles[1] + rotation);
    out[k] = turned;
  }
}

namespace {

// The rounded mean offset moment / weightSum by the reciprocal table:
// (moment + 64 W + W / 2) / W - 64; 0 without weight.
int meanOffset(int64_t weightSum, int64_t moment) {
  if (weightSum == 0) return 0;
  int64_t numerator = moment + 64 * weightSum + weightSum / 2;
  while (weightSum > kReciprocalTableSize - 1) {
    weightSum >>= 1;
    numerator >>= 1;
  }
  return static_cast<int>((numerator * ReciprocalTable[weightSum]) >> 24) - 64;
}

}  // namespace

int centroidShift(std::span<const uint32_t> smoothed, int p, uint32_t threshold) {
  int64_t weightSum = 0;
  int64_t moment = 0;
  for (int k = p - kPeakReach; k <= p + kPeakReach; ++k) {
    const uint32_t value = (k >= 0 && k < static_cast<int>(smoothed.size())) ? smoothed[k] : 0;
    if (value > threshold) {
      const int64_t w = value - threshold;
      weightSum += w;
      moment += w * (k - p);
    }
  }
  return meanOffset(weightSum, moment);
}

HistogramPeaks histogramPeaks(const TranslationHistogram& histogram) {
  uint64_t total = 0;
  for (const uint32_t bin : histogram) total += bin;
  return peaksWithin(histogram, {0, kTranslationBins - 1}, total);
}

namespace {

#if defined(__SSE2__)
__m128i loadFour(const uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// Lane-wise unsigned maximum through signed compares: flip the top bit of both sides.
__m128i topBitLanes() { return _mm_set1_epi32(static_cast<int>(0x80000000u)); }
__m128i flippedMax(__m128i flippedBest, __m128i values) {
  const __m128i flipped = _mm_xor_si128(values, topBitLanes());
  const __m128i greater = _mm_cmpgt_epi32(flipped, flippedBest);
  return _mm_or_si128(_mm_and_si128(greater, flipped), _mm_andnot_si128(greater, flippedBest));
}
uint32_t largestLane(__m128i flippedBest) {
  alignas(16) std::array<uint32_t, 4> lanes;
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes.data()), _mm_xor_si128(flippedBest, topBitLanes()));
  return std::max(std::max(lanes[0], lanes[1]), std::max(lanes[2], lanes[3]));
}
#endif

// prefix[k] = bins[first] + ... + bins[k] for k in first..last (modulo 2^32). May write
// up to three entries past last.
void runningSums(const uint32_t* bins, int first, int last, uint32_t* prefix) {
  int k = first;
#if defined(__SSE2__)
  __m128i carry = _mm_setzero_si128();
  for (; k <= last; k += 4) {
    __m128i sums = loadFour(bins + k);
    sums = _mm_add_epi32(sums, _mm_slli_si128(sums, 4));
    sums = _mm_add_epi32(sums, _mm_slli_si128(sums, 8));
    sums = _mm_add_epi32(sums, carry);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(prefix + k), sums);
    carry = _mm_shuffle_epi32(sums, 0xFF);
  }
#else
  uint32_t carried = 0;
  for (; k <= last; ++k) prefix[k] = carried += bins[k];
#endif
}

// The same in 16-bit lanes, for bins that sum below 2^15 (entries past last may then
// hold anything). May write up to seven entries past last.
void runningSums(const uint32_t* bins, int first, int last, uint16_t* prefix) {
  int k = first;
#if defined(__SSE2__)
  __m128i carry = _mm_setzero_si128();
  for (; k <= last; k += 8) {
    __m128i sums = _mm_packs_epi32(loadFour(bins + k), loadFour(bins + k + 4));
    sums = _mm_add_epi16(sums, _mm_slli_si128(sums, 2));
    sums = _mm_add_epi16(sums, _mm_slli_si128(sums, 4));
    sums = _mm_add_epi16(sums, _mm_slli_si128(sums, 8));
    sums = _mm_add_epi16(sums, carry);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(prefix + k), sums);
    carry = _mm_shufflehi_epi16(sums, 0xFF);
    carry = _mm_unpackhi_epi64(carry, carry);
  }
#else
  uint16_t carried = 0;
  for (; k <= last; ++k) prefix[k] = carried = static_cast<uint16_t>(carried + bins[k]);
#endif
}

// smoothed[k] = prefix[k + 5] - prefix[k - 6] (the 11-bin sum) for k in first..last;
// returns the largest.
uint32_t windowSums(const uint32_t* prefix, int first, int last, uint32_t* smoothed) {
  uint32_t top = 0;
  int k = first;
#if defined(__SSE2__)
  __m128i best = topBitLanes();
  for (; k + 3 <= last; k += 4) {
    const __m128i sums =
        _mm_sub_epi32(loadFour(prefix + k + kSmoothingReach), loadFour(prefix + k - kSmoothingReach - 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(smoothed + k), sums);
    best = flippedMax(best, sums);
  }
  top = largestLane(best);
#endif
  for (; k <= last; ++k) {
    smoothed[k] = prefix[k + kSmoothingReach] - prefix[k - kSmoothingReach - 1];
    top = std::max(top, smoothed[k]);
  }
  return top;
}

#if defined(__SSE2__)
__m128i loadEight(const uint16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
uint32_t largestOfEight(__m128i lanes) {
  lanes = _mm_max_epi16(lanes, _mm_unpackhi_epi64(lanes, lanes));
  lanes = _mm_max_epi16(lanes, _mm_shuffle_epi32(lanes, _MM_SHUFFLE(1, 1, 1, 1)));
  lanes = _mm_max_epi16(lanes, _mm_shufflelo_epi16(lanes, _MM_SHUFFLE(1, 1, 1, 1)));
  return static_cast<uint16_t>(_mm_cvtsi128_si32(lanes));
}
#endif

// The same in 16-bit lanes: the running sums stay below 2^15, so every window sum is
// exact and compares as a signed lane.
uint32_t windowSums(const uint16_t* prefix, int first, int last, uint16_t* smoothed) {
  uint32_t top = 0;
  int k = first;
#if defined(__SSE2__)
  __m128i best = _mm_setzero_si128();
  for (; k + 7 <= last; k += 8) {
    const __m128i sums =
        _mm_sub_epi16(loadEight(prefix + k + kSmoothingReach), loadEight(prefix + k - kSmoothingReach - 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(smoothed + k), sums);
    best = _mm_max_epi16(best, sums);
  }
  top = largestOfEight(best);
#endif
  for (; k <= last; ++k) {
    smoothed[k] = static_cast<uint16_t>(prefix[k + kSmoothingReach] - prefix[k - kSmoothingReach - 1]);
    top = std::max<uint32_t>(top, smoothed[k]);
  }
  return top;
}

// The first position of value in values[from..to], which holds it.
int firstIndexOf(const uint32_t* values, int from, int to, uint32_t value) {
  int at = from;
#if defined(__SSE2__)
  const __m128i wanted = _mm_set1_epi32(static_cast<int>(value));
  for (; at + 3 <= to; at += 4) {
    const int hits = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(loadFour(values + at), wanted)));
    if (hits != 0) return at + __builtin_ctz(static_cast<unsigned>(hits));
  }
#endif
  while (at < to && values[at] != value) ++at;
  return at;
}

int firstIndexOf(const uint16_t* values, int from, int to, uint32_t value) {
  int at = from;
#if defined(__SSE2__)
  const __m128i wanted = _mm_set1_epi16(static_cast<int16_t>(value));
  for (; at + 7 <= to; at += 8) {
    const int hits = _mm_movemask_epi8(_mm_cmpeq_epi16(loadEight(values + at), wanted));
    if (hits != 0) return at + __builtin_ctz(static_cast<unsigned>(hits)) / 2;
  }
#endif
  while (at < to && values[at] != value) ++at;
  return at;
}

// The first position of the largest of values[from..to] (-1 when the stretch is empty).
int firstMaximum(const uint32_t* values, int from, int to, uint32_t& largest) {
  if (from > to) return -1;
  uint32_t top = 0;
  int k = from;
#if defined(__SSE2__)
  __m128i best = topBitLanes();
  for (; k + 3 <= to; k += 4) best = flippedMax(best, loadFour(values + k));
  top = largestLane(best);
#endif
  for (; k <= to; ++k) top = std::max(top, values[k]);
  largest = top;
  return firstIndexOf(values, from, to, top);
}

int firstMaximum(const uint16_t* values, int from, int to, uint32_t& largest) {
  if (from > to) return -1;
  uint32_t top = 0;
  int k = from;
#if defined(__SSE2__)
  __m128i best = _mm_setzero_si128();
  for (; k + 7 <= to; k += 8) best = _mm_max_epi16(best, loadEight(values + k));
  top = largestOfEight(best);
#endif
  for (; k <= to; ++k) top = std::max<uint32_t>(top, values[k]);
  largest = top;
  return firstIndexOf(values, from, to, top);
}

// Centroid shift at p (first..last) over the smoothed values, which read as 0 (below
// any threshold) outside first..last.
template <typename Count>
int centroidWithin(const Count* smoothed, int first, int last, int p, uint32_t threshold) {
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

#if defined(__SSE2__)
// The same over 16-bit smoothed values (below 2^15) that read as 0 for sixteen bins on
// either side of first..last: the 21 weights max(value - threshold, 0) and their moments
// about p in three lanes of eight.
int centroidWithin(const uint16_t* smoothed, int, int, int p, uint32_t threshold) {
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
#endif

// Peaks of a histogram whose non-zero bins all lie in the range, with sums in lanes of
// Count: 32 bits (modulo 2^32) in general, 16 bits when the bins sum below 2^15.
template <typename Count>
HistogramPeaks peaksInLanes(const TranslationHistogram& histogram, VotedRange range) {
  HistogramPeaks result;
  int first = std::max(kHistogramSearchFirst, range.low);
  const int searchLast = std::min(kHistogramSearchLast, range.high);
  while (first <= searchLast && histogram[first] == 0) ++first;
  if (first > searchLast) return result;
  int last = searchLast;
  while (histogram[last] == 0) --last;

  // Bins outside the trimmed range read as 0, raw and smoothed alike. Every sum of raw
  // bins is a difference of running sums, which are 0 below the range and the total above.
  constexpr int kPad = 24;
  std::array<Count, kTranslationBins + 2 * kPad> prefixStore;
  Count* const prefix = prefixStore.data() + kPad;  // prefix[k] for k in first - kPad .. last + kPad
  std::fill(prefix + first - kPad, prefix + first, Count{0});
  runningSums(histogram.data(), first, last, prefix);
  const uint32_t total = prefix[last];
  std::fill(prefix + last + 1, prefix + last + 1 + kPad, static_cast<Count>(total));
  const auto mass = [&](int centre) -> uint32_t {
    return static_cast<Count>(prefix[centre + kPeakReach] - prefix[centre - kPeakReach - 1]);
  };

  // Only first..last of the smoothed values are written, and read as such; around them,
  // where the centroid may read, they are 0.
  std::array<Count, kTranslationBins + 2 * kPad> smoothedStore;
  Count* const smoothed = smoothedStore.data() + kPad;
  const uint32_t top = windowSums(prefix, first, last, smoothed);
  std::fill(smoothed + first - kPad, smoothed + first, Count{0});
  std::fill(smoothed + last + 1, smoothed + last + 1 + kPad, Count{0});
  const int topAt = firstIndexOf(smoothed, first, last, top);

  const int peak = topAt + centroidWithin(smoothed, first, last, topAt, 2 * top / 3);
  const uint32_t peakMass = mass(peak);
  if (peakMass <= kMinPeakMass) return result;
  result.peaks[0] = {peak, peakMass};
  result.count = 1;
  if (peakMass <= kSinglePeakMass || 2 * peakMass >= total) return result;

  // Second peak: the first maximum away from the first one, a local maximum that
  // reaches two thirds of the top. The two stretches lie in bin order.
  uint32_t below = 0;
  uint32_t above = 0;
  const int belowAt = firstMaximum(smoothed, first + 1, std::min(peak - kSecondPeakGap, last), below);
  const int aboveAt = firstMaximum(smoothed, std::max(peak + kSecondPeakGap, first), last - 2, above);
  const bool takeBelow = belowAt >= 0 && (aboveAt < 0 || below >= above);
  const int secondAt = takeBelow ? belowAt : aboveAt;
  const uint32_t second = takeBelow ? below : above;
  if (secondAt < 0) return result;
  const auto smoothedAt = [&](int k) -> uint32_t { return (k >= first && k <= last) ? smoothed[k] : 0u; };
  if (second < smoothedAt(secondAt - 1) || second < smoothedAt(secondAt + 1)) return result;
  if (3 * static_cast<uint64_t>(second) <= 2 * static_cast<uint64_t>(top)) return result;
  const int secondPeak = secondAt + centroidWithin(smoothed, first, last, secondAt, 2 * second / 3);
  const uint32_t secondMass = mass(secondPeak);
  if (3 * static_cast<uint64_t>(secondMass) > 2 * static_cast<uint64_t>(peakMass) &&
      absInt(secondPeak - peak) > kPeakReach) {
    result.peaks[1] = {secondPeak, secondMass};
    result.count = 2;
  }
  return result;
}

HistogramPeaks peaksWithin(const TranslationHistogram& histogram, VotedRange range, uint64_t total) {
  return total < kNarrowTotal ? peaksInLanes<uint16_t>(histogram, range) : peaksInLanes<uint32_t>(histogram, range);
}

}  // namespace

namespace {

int recordCount(const MatchContext& ctx) { return std::clamp(ctx.matchCount, 0, kMaxPairRecords); }

// The angles of a view's minutiae by minutia number (0 past the view's count), so that a
// record's end angles are plain byte lookups.
using AngleTable = std::array<uint8_t, 256>;
void fillAngleTable(const MatchView& view, AngleTable& angles) {
  const int count = std::clamp(view.count, 0, kMaxViewMinutiae);
  for (int k = 0; k < count; ++k) angles[k] = view.minutiae[k].angle();
  std::fill(angles.begin() + count, angles.end(), uint8_t{0});
}

void buildMatchIndex(const MatchContext& ctx, MatchIndex& index) {
  const int count = recordCount(ctx);
  AngleTable anglesA;
  AngleTable anglesB;
  fillAngleTable(ctx.viewA, anglesA);
  fillAngleTable(ctx.viewB, anglesB);
  for (int k = 0; k < count; ++k) {
    const PairMatch& m = ctx.matches[k];
    index.rotation[k] = m.rotation();
    index.endTurnI[k] = static_cast<uint8_t>(anglesA[m.aI] - anglesB[m.bForAi]);
    index.endTurnJ[k] = static_cast<uint8_t>(anglesA[m.aJ] - anglesB[m.bForAj]);
  }
  std::fill_n(index.score.begin(), count, int16_t{-1});
  index.count = count;
  index.list = ctx.matches;
  index.generation = static_cast<uint8_t>(index.generation % 255 + 1);
}

// The index of the current match list, built on the first candidate of the list. The
// list's end record, rewritten whenever a list is built, carries the mark of the index
// that belongs to it.
const MatchIndex& currentMatchIndex(MatchContext& ctx, MatchIndex& index) {
  PairMatch& end = ctx.matches[recordCount(ctx)];
  if (index.list == ctx.matches && index.count == recordCount(ctx) && end.spare == index.generation) return index;
  buildMatchIndex(ctx, index);
  end.spare = index.generation;
  return index;
}

// The windows of a candidate rotation: a byte b lies within r steps of c when
// (uint8)(b - c + r) <= 2r.
struct RotationWindow {
  explicit RotationWindow(uint8_t rotation)
      : rotationLow(static_cast<uint8_t>(rotation - kRotationFlagReach)),
        endLow(static_cast<uint8_t>(rotation - kMaxEndAngleGap)) {}
  uint8_t rotationLow;
  uint8_t endLow;
};

// Of the sixteen records from base: those whose rotation lies within 9 steps of the
// candidate's (flagged), and those of them whose both turned end angles lie within 16
// steps of A's (agreeing), one bit per record.
struct BlockFlags {
  uint32_t flagged;
  uint32_t agreeing;
};
BlockFlags flagBlock(const MatchIndex& index, int base, RotationWindow window) {
  uint32_t flagged = 0;
  uint32_t agreeing = 0;
#if defined(__SSE2__)
  const auto within = [](const uint8_t* bytes, uint8_t low, int span) {
    const __m128i shifted = _mm_sub_epi8(_mm_load_si128(reinterpret_cast<const __m128i*>(bytes)),
                                         _mm_set1_epi8(static_cast<char>(low)));
    const __m128i inside = _mm_cmpeq_epi8(_mm_min_epu8(shifted, _mm_set1_epi8(static_cast<char>(span))), shifted);
    return static_cast<uint32_t>(_mm_movemask_epi8(inside));
  };
  flagged = within(&index.rotation[base], window.rotationLow, 2 * kRotationFlagReach);
  if (flagged != 0)
    agreeing = flagged & within(&index.endTurnI[base], window.endLow, 2 * kMaxEndAngleGap) &
               within(&index.endTurnJ[base], window.endLow, 2 * kMaxEndAngleGap);
#else
  for (int bit = 0; bit < 16; ++bit) {
    const int k = base + bit;
    if (static_cast<uint8_t>(index.rotation[k] - window.rotationLow) > 2 * kRotationFlagReach) continue;
    flagged |= 1u << bit;
    if (static_cast<uint8_t>(index.endTurnI[k] - window.endLow) <= 2 * kMaxEndAngleGap &&
        static_cast<uint8_t>(index.endTurnJ[k] - window.endLow) <= 2 * kMaxEndAngleGap)
      agreeing |= 1u << bit;
  }
#endif
  // Entries past the list are not records.
  if (index.count - base < 16) {
    const uint32_t present = (1u << (index.count - base)) - 1;
    flagged &= present;
    agreeing &= present;
  }
  return {flagged, agreeing};
}

}  // namespace

namespace {

// The score a flagged record earns once both of its ends lie within reach, given the
// end-angle turns (each within 16 steps).
int recordScore(const MatchContext& ctx, const PairMatch& m, int turnI, int turnJ) {
  const MinutiaPair& a = ctx.innerPairs[m.innerPairIndex()];
  const MinutiaPair& b = ctx.outerPairs[m.outerPairIndex()];
  // Length mismatch relative to the tolerance of the shorter pair.
  const int shorterLength = a.d2 < b.d2 ? a.length : b.length;
  const uint32_t d2Gap = a.d2 > b.d2 ? a.d2 - b.d2 : b.d2 - a.d2;
  const int d = std::min(shorterLength, kLengthScaleSize - 1);
  const uint32_t hi = std::max<uint32_t>(toleranceOf(d).hi, 1);
  // Pair lengths stay below 380, so the products fit 32 bits.
  const int p = d2Gap >= hi ? 128 : static_cast<int>(std::min<uint32_t>(d2Gap * 128u / hi, 128u));

  // Angle residuals of both ends relative to the pair direction, and of the turn.
  const int aLo = static_cast<uint8_t>(a.relAngles);
  const int aHi = static_cast<uint8_t>(a.relAngles >> 16);
  const int bLo = static_cast<uint8_t>(b.relAngles);
  const int bHi = static_cast<uint8_t>(b.relAngles >> 16);
  const bool straight = m.bForAi < m.bForAj;
  const int e1 = signedByte(aLo - (straight ? bLo : bHi));
  const int e2 = signedByte(aHi - (straight ? bHi : bLo));
  const int e3 = signedByte(turnI - turnJ);
  const int e = e1 * e1 + e2 * e2 + e3 * e3;
  const int t = e < kResidualWeightSize ? ResidualWeight[e] : 469 - e;
  if (t <= 0) return 0;

  const uint32_t o1 = (static_cast<uint32_t>(LengthMismatchWeight[p]) * static_cast<uint32_t>(t) * 2925u) >> 9;
  const int32_t lengthTerm = ((d * 13844 + 991043) * (64 - p) + 901775360) >> 21;
  const uint32_t q = static_cast<uint32_t>(LengthScale[d] * lengthTerm) + o1;
  return static_cast<int>(std::min<uint32_t>(o1 * 258u / q, 255u));
}

bool withinReach(int dy, int dx) { return dy * dy + dx * dx <= kMaxEndDistance2; }

// A record's score, computed on first use and kept with the index. The end-angle
// residual of a record does not change with the rotation (both turns move by it).
int scoreOf(const MatchContext& ctx, MatchIndex& index, int k) {
  if (index.score[k] < 0)
    index.score[k] = static_cast<int16_t>(
        recordScore(ctx, ctx.matches[k], signedByte(index.endTurnI[k]), signedByte(index.endTurnJ[k])));
  return index.score[k];
}

// Translation histograms, the bins that received votes in each and the sum of the votes
// cast into each.
struct TranslationVotes {
  explicit TranslationVotes(TranslationHistograms& both) : histograms(both) {}
  // y then x, side by side so that one base reaches both.
  TranslationHistograms& histograms;
  TranslationHistogram& y = histograms[0];
  TranslationHistogram& x = histograms[1];
  VotedRange rangeY;
  VotedRange rangeX;
  uint64_t total = 0;
  void add(int binY, int binX, uint32_t vote) {
    y[binY] += vote;
    x[binX] += vote;
    total += vote;
    widen(rangeY, binY);
    widen(rangeX, binX);
  }
  static void widen(VotedRange& range, int bin) {
    range.low = std::min(range.low, bin);
    range.high = std::max(range.high, bin);
  }
};

// Votes of the flagged records for translations of the turned copy. On the way, the
// records whose end angles agree are collected with their end offsets (when scorable is
// given): both read the same ends. Returns the number collected.
int castRecordVotes(const MatchContext& ctx, MatchIndex& index, RotationWindow window, const MatchMinutia* turnedB,
                    TurnOffset offset, TranslationVotes& votes, ScorableRecords* scorable) {
  const MatchMinutia* minutiaeA = ctx.viewA.minutiae;
  // |a| <= t exactly when (unsigned)(a + t) <= 2t; no offset lies within a negative tolerance.
  const int alwaysOutside = ctx.translationTolerance < 0 ? 0x3 : 0;
  const uint32_t tolerance = static_cast<uint32_t>(std::max(ctx.translationTolerance, 0));
  const int baseY = offset.y - kHistogramMidBin;
  const int baseX = offset.x - kHistogramMidBin;
  uint32_t* const histograms = votes.histograms[0].data();
  // At most 128 per record: the sum of one list's votes stays far below 2^32.
  uint32_t total = 0;
#if defined(__SSE2__)
  // Lanes (y, x) of the i end, then of the j end; MatchMinutia starts with y and x.
  static_assert(offsetof(MatchMinutia, y) == 0 && offsetof(MatchMinutia, x) == 4);
  const auto lanesOf = [](const MatchMinutia& i, const MatchMinutia& j) {
    return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(&i)),
                              _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&j)));
  };
  const __m128i topBit = _mm_set1_epi32(static_cast<int>(0x80000000u));
  const __m128i toleranceLanes = _mm_set1_epi32(static_cast<int>(tolerance));
  const __m128i spanLanes = _mm_xor_si128(_mm_set1_epi32(static_cast<int>(2 * tolerance)), topBit);
  const __m128i baseLanes = _mm_setr_epi32(baseY, baseX, 0, 0);
  const __m128i binMask = _mm_set1_epi32(kTranslationBins - 1);
  // Lowest and highest bins voted for, y in 16-bit lane 0 and x in lane 2 (bins fit 16 bits).
  __m128i lowestBins = _mm_set1_epi16(kTranslationBins);
  __m128i highestBins = _mm_set1_epi16(-1);
#endif
  const PairMatch* const matches = ctx.matches;
  int collected = 0;
  for (int base = 0; base < index.count; base += 16) {
    const BlockFlags flags = flagBlock(index, base, window);
    for (uint32_t bits = flags.flagged; bits != 0; bits &= bits - 1) {
      const unsigned bit = static_cast<unsigned>(__builtin_ctz(bits));
      const size_t k = static_cast<size_t>(base) + bit;
      const PairMatch& m = matches[k];
#if defined(__SSE2__)
      const __m128i ends = _mm_sub_epi32(lanesOf(minutiaeA[m.aI], minutiaeA[m.aJ]),
                                         lanesOf(turnedB[m.bForAi], turnedB[m.bForAj]));
      const __m128i otherEnd = _mm_shuffle_epi32(ends, _MM_SHUFFLE(1, 0, 3, 2));
      const __m128i gap = _mm_add_epi32(_mm_sub_epi32(ends, otherEnd), toleranceLanes);
      const int outside = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpgt_epi32(_mm_xor_si128(gap, topBit), spanLanes)));
      const bool consistent = ((outside | alwaysOutside) & 0x3) == 0;
      if (consistent) {
        // Mean offset of the two ends, halved towards zero as integer division does.
        const __m128i sum = _mm_add_epi32(ends, otherEnd);
        const __m128i mean = _mm_srai_epi32(_mm_add_epi32(sum, _mm_srli_epi32(sum, 31)), 1);
        const __m128i bins = _mm_and_si128(_mm_sub_epi32(mean, baseLanes), binMask);
        const int binY = _mm_cvtsi128_si32(bins);
        const int binX = _mm_cvtsi128_si32(_mm_shuffle_epi32(bins, _MM_SHUFFLE(1, 1, 1, 1)));
        lowestBins = _mm_min_epi16(lowestBins, bins);
        highestBins = _mm_max_epi16(highestBins, bins);
#else
      const MatchMinutia& ai = minutiaeA[m.aI];
      const MatchMinutia& aj = minutiaeA[m.aJ];
      const MatchMinutia& bi = turnedB[m.bForAi];
      const MatchMinutia& bj = turnedB[m.bForAj];
      const std::array<int32_t, 4> ends = {ai.y - bi.y, ai.x - bi.x, aj.y - bj.y, aj.x - bj.x};
      if (alwaysOutside == 0 && static_cast<uint32_t>(ends[1] - ends[3]) + tolerance <= 2 * tolerance &&
          static_cast<uint32_t>(ends[0] - ends[2]) + tolerance <= 2 * tolerance) {
        const int binY = ((ends[0] + ends[2]) / 2 - baseY) & (kTranslationBins - 1);
        const int binX = ((ends[1] + ends[3]) / 2 - baseX) & (kTranslationBins - 1);
        TranslationVotes::widen(votes.rangeY, binY);
        TranslationVotes::widen(votes.rangeX, binX);
#endif
        const uint32_t vote = VoteByAngleWeight[m.weightI] + VoteByAngleWeight[m.weightJ];
        histograms[binY] += vote;
        histograms[kTranslationBins + binX] += vote;
        total += vote;
      }
      if (scorable == nullptr || ((flags.agreeing >> bit) & 1u) == 0) continue;
      scorable->index[collected] = static_cast<uint16_t>(k);
#if defined(__SSE2__)
      _mm_store_si128(reinterpret_cast<__m128i*>(scorable->ends[collected].data()), ends);
#else
      scorable->ends[collected] = ends;
#endif
      ++collected;
    }
  }
#if defined(__SSE2__)
  votes.rangeY = {std::min(votes.rangeY.low, _mm_extract_epi16(lowestBins, 0)),
                  std::max(votes.rangeY.high, static_cast<int>(static_cast<int16_t>(_mm_extract_epi16(highestBins, 0))))};
  votes.rangeX = {std::min(votes.rangeX.low, _mm_extract_epi16(lowestBins, 2)),
                  std::max(votes.rangeX.high, static_cast<int>(static_cast<int16_t>(_mm_extract_epi16(highestBins, 2))))};
#endif
  votes.total += total;
  return collected;
}

// Each singular pair votes over the 21 bins around its displacement.
void castSingularVotes(const SingularPairs& singular, TurnOffset offset, TranslationVotes& votes) {
  for (const SingularPairs::Pair& pair : singular.slots) {
    if (!pair.used) continue;
    const int dx = pair.a.x - pair.b.x;
    const int dy = pair.a.y - pair.b.y;
    for (int k = -kPeakReach; k <= kPeakReach; ++k)
      votes.add(histogramBin(dy + k, offset.y), histogramBin(dx + k, offset.x), kSingularVote);
  }
}

// The translations the histogram peaks give; leaves the histograms all zero.
TranslationCandidates translationsFromVotes(TranslationVotes& votes, TurnOffset offset) {
  const VotedRange rangeX = votes.rangeX;
  const VotedRange rangeY = votes.rangeY;
  HistogramPeaks peaksX = peaksWithin(votes.x, rangeX, votes.total);
  // Without a peak in x there is no translation, whatever y holds.
  HistogramPeaks peaksY = peaksX.count > 0 ? peaksWithin(votes.y, rangeY, votes.total) : HistogramPeaks{};
  if (rangeX.high >= 0) std::fill(votes.x.begin() + rangeX.low, votes.x.begin() + rangeX.high + 1, 0u);
  if (rangeY.high >= 0) std::fill(votes.y.begin() + rangeY.low, votes.y.begin() + rangeY.high + 1, 0u);

  TranslationCandidates result;
  if (peaksX.count == 0 || peaksY.count == 0) return result;
  // With two peaks the second-found one is tried first.
  if (peaksX.count == 2) std::swap(peaksX.peaks[0], peaksX.peaks[1]);
  if (peaksY.count == 2) std::swap(peaksY.peaks[0], peaksY.peaks[1]);
  for (int i = 0; i < peaksY.count; ++i)
    for (int j = 0; j < peaksX.count; ++j)
      result.candidates[result.count++] = {offset.y - kHistogramMidBin + peaksY.peaks[i].position,
                                           offset.x - kHistogramMidBin + peaksX.peaks[j].position};
  return result;
}

// Visits, in order, the collected records whose both ends lie within reach once the
// turned copy is moved by the translation.
template <typename Visit>
void forEachClose(const ScorableRecords& records, int count, TranslationCandidate t, Visit visit) {
  int k = 0;
#if defined(__SSE2__)
  // Two records at a time in 16 bits: offsets saturate at +-32767, which stays out of
  // reach of any translation within +-16384, and two squares of such sum below 2^31.
  constexpr int kNarrowTranslation = 16384;
  if (absInt(t.ty) <= kNarrowTranslation && absInt(t.tx) <= kNarrowTranslation) {
    const __m128i shift = _mm_setr_epi16(static_cast<int16_t>(t.ty), static_cast<int16_t>(t.tx),
                                         static_cast<int16_t>(t.ty), static_cast<int16_t>(t.tx),
                                         static_cast<int16_t>(t.ty), static_cast<int16_t>(t.tx),
                                         static_cast<int16_t>(t.ty), static_cast<int16_t>(t.tx));
    const __m128i reach = _mm_set1_epi32(kMaxEndDistance2);
    const __m128i lowest = _mm_set1_epi16(-32767);
    for (; k + 2 <= count; k += 2) {
      const __m128i ends = _mm_packs_epi32(_mm_load_si128(reinterpret_cast<const __m128i*>(records.ends[k].data())),
                                           _mm_load_si128(reinterpret_cast<const __m128i*>(records.ends[k + 1].data())));
      const __m128i moved = _mm_max_epi16(_mm_subs_epi16(ends, shift), lowest);
      const __m128i far = _mm_cmpgt_epi32(_mm_madd_epi16(moved, moved), reach);
      const int farBits = _mm_movemask_ps(_mm_castsi128_ps(far));
      if ((farBits & 0x3) == 0) visit(k);
      if ((farBits & 0xC) == 0) visit(k + 1);
    }
  }
#endif
  for (; k < count; ++k) {
    const std::array<int32_t, 4>& e = records.ends[k];
    if (withinReach(e[0] - t.ty, e[1] - t.tx) && withinReach(e[2] - t.ty, e[3] - t.tx)) visit(k);
  }
}

// Sum of the collected records' scores with the turned copy moved by the translation.
int placedScore(const MatchContext& ctx, MatchIndex& index, const ScorableRecords& records, int count,
                TranslationCandidate t) {
  int sum = 0;
  forEachClose(records, count, t, [&](int k) { sum += scoreOf(ctx, index, records.index[k]); });
  return sum;
}

// The collected records that score under the translation, in record order, and the
// sum of their scores.
struct ScoredList {
  int count = 0;
  int sum = 0;
};
ScoredList scoredRecords(const MatchContext& ctx, AlignmentWork& work, int count, TranslationCandidate t) {
  ScoredList list;
  forEachClose(work.scorable, count, t, [&](int k) {
    const uint16_t record = work.scorable.index[k];
    const int score = scoreOf(ctx, work.index, record);
    if (score == 0) return;
    work.scored[list.count++] = {record, static_cast<uint8_t>(score)};
    list.sum += score;
  });
  return list;
}

}  // namespace

TranslationCandidates translationCandidates(MatchContext& ctx, uint8_t rotation, const MatchMinutia* turnedB,
                                            TurnOffset offset, const SingularPairs& singular,
                                            TranslationHistogram& histX, TranslationHistogram& histY) {
  // Standalone use: the records may have changed since any earlier call.
  AlignmentWork& work = alignmentWork();
  buildMatchIndex(ctx, work.index);
  const RotationWindow window(rotation);
  for (int base = 0; base < work.index.count; base += 16) {
    const uint32_t flagged = flagBlock(work.index, base, window).flagged;
    for (int k = base; k < std::min(base + 16, work.index.count); ++k) {
      ctx.matches[k].rotationFlag = static_cast<uint8_t>((flagged >> (k - base)) & 1u);
      ctx.matches[k].alignScore = 0;
    }
  }
  // The histograms given are left as they are, all zero.
  (void)histX;
  (void)histY;
  TranslationVotes votes{work.histograms};
  castRecordVotes(ctx, work.index, window, turnedB, offset, votes, nullptr);
  castSingularVotes(singular, offset, votes);
  return translationsFromVotes(votes, offset);
}

int alignmentScore(MatchContext& ctx, const MatchMinutia* turnedB) {
  // Standalone use: the copy may not be a plain turn of B, so the end turns are taken
  // from the copy itself.
  const MatchMinutia* minutiaeA = ctx.viewA.minutiae;
  int sum = 0;
  for (int k = 0; k < recordCount(ctx); ++k) {
    PairMatch& m = ctx.matches[k];
    m.alignScore = 0;
    if (m.rotationFlag != 1) continue;
    const int turnI = signedByte(minutiaeA[m.aI].angle() - turnedB[m.bForAi].angle());
    const int turnJ = signedByte(minutiaeA[m.aJ].angle() - turnedB[m.bForAj].angle());
    if (absInt(turnI) > kMaxEndAngleGap || absInt(turnJ) > kMaxEndAngleGap) continue;
    const MatchMinutia& ai = minutiaeA[m.aI];
    const MatchMinutia& aj = minutiaeA[m.aJ];
    const MatchMinutia& bi = turnedB[m.bForAi];
    const MatchMinutia& bj = turnedB[m.bForAj];
    if (!withinReach(ai.y - bi.y, ai.x - bi.x) || !withinReach(aj.y - bj.y, aj.x - bj.x)) continue;
    m.alignScore = static_cast<uint8_t>(recordScore(ctx, m, turnI, turnJ));
    sum += m.alignScore;
  }
  return sum;
}

namespace {

// A set of minutia indices, visited in increasing order.
class MinutiaSet {
 public:
  void insert(int i) { words_[i >> 6] |= uint64_t{1} << (i & 63); }
  template <typename Visit>
  void forEachBelow(int limit, Visit visit) const {
    for (int w = 0; w < static_cast<int>(words_.size()); ++w)
      for (uint64_t bits = words_[w]; bits != 0; bits &= bits - 1) {
        const int i = 64 * w + __builtin_ctzll(bits);
        if (i >= limit) return;
        visit(i);
      }
  }

 private:
  std::array<uint64_t, 4> words_{};  // every byte index
};

// Partner assignment over the scored records (in record order, every score above 0).
AssignmentResult assignFromRecords(const MatchContext& ctx, CandidateAlignment& candidate, AlignmentWork& work,
                                   int listed) {
  const int countA = std::clamp(ctx.countA, 0, kMaxViewMinutiae);
  const int countB = std::clamp(candidate.count, 0, kMaxViewMinutiae);
  work.chainHead.fill(-1);

  // Accumulate the record scores per (A minutia, B minutia) association.
  MinutiaSet associatedA;
  int used = 0;
  const auto associate = [&](int a, int b, uint32_t score) {
    int16_t node = work.chainHead[a];
    while (node >= 0) {
      if (work.associations[node].b == b) {
        work.associations[node].weight += score;
        return;
      }
      node = work.associations[node].next;
    }
    const int16_t fresh = static_cast<int16_t>(used++);
    work.associations[fresh] = {static_cast<uint8_t>(b), -1, score};
    if (work.chainHead[a] < 0) {
      work.chainHead[a] = fresh;
      associatedA.insert(a);
    } else
      work.associations[work.chainTail[a]].next = fresh;
    work.chainTail[a] = fresh;
  };
  for (int k = 0; k < listed; ++k) {
    const PairMatch& m = ctx.matches[work.scored[k].index];
    associate(m.aI, m.bForAi, work.scored[k].score);
    associate(m.aJ, m.bForAj, work.scored[k].score);
  }

  // Each A minutia offers itself to its strongest B minutia; a B minutia keeps the
  // strongest offer.
  std::array<uint8_t, kMaxViewMinutiae> partner;
  std::array<uint16_t, kMaxViewMinutiae> weight;
  partner.fill(kNoPartner);
  weight.fill(0);
  associatedA.forEachBelow(countA, [&](int a) {
    int16_t best = work.chainHead[a];
    for (int16_t node = work.associations[best].next; node >= 0; node = work.associations[node].next)
      if (work.associations[node].weight > work.associations[best].weight) best = node;
    const int b = work.associations[best].b;
    const uint16_t offer = static_cast<uint16_t>(work.associations[best].weight);
    if (offer > weight[b]) {
      weight[b] = offer;
      partner[b] = static_cast<uint8_t>(a);
    }
  });

  // Only records whose both ends agree with the partners count.
  weight.fill(0);
  MinutiaSet matchedB;
  AssignmentResult result;
  bool firstPartDone = false;
  for (int k = 0; k < listed; ++k) {
    const PairMatch& m = ctx.matches[work.scored[k].index];
    const uint8_t score = work.scored[k].score;
    if (!firstPartDone && m.outerPairIndex() >= ctx.counts.nB0) {
      result.firstPart = result.total;
      firstPartDone = true;
    }
    if (partner[m.bForAi] != m.aI || partner[m.bForAj] != m.aJ) continue;
    matchedB.insert(m.bForAi);
    matchedB.insert(m.bForAj);
    weight[m.bForAi] = static_cast<uint16_t>(weight[m.bForAi] + score);
    weight[m.bForAj] = static_cast<uint16_t>(weight[m.bForAj] + score);
    result.total += score;
  }
  if (!firstPartDone) result.firstPart = result.total;

  candidate.matchedCount = 0;
  matchedB.forEachBelow(countB, [&](int b) {
    if (weight[b] > 0) candidate.matchedPairs[candidate.matchedCount++] = packMatchedPair(b, partner[b], weight[b]);
  });

  const auto norm = [](int64_t value, int n) { return n > 64 ? static_cast<int>(64 * value / n) : static_cast<int>(value); };
  result.score = norm(result.firstPart, ctx.counts.nB) + norm(result.total, ctx.counts.nA);
  return result;
}

}  // namespace

AssignmentResult assignmentScore(const MatchContext& ctx, CandidateAlignment& candidate) {
  AlignmentWork& work = alignmentWork();
  int listed = 0;
  for (int k = 0; k < recordCount(ctx); ++k)
    if (ctx.matches[k].alignScore != 0) work.scored[listed++] = {static_cast<uint16_t>(k), ctx.matches[k].alignScore};
  return assignFromRecords(ctx, candidate, work, listed);
}

bool alignCandidate(MatchContext& ctx, uint8_t rotation, CandidateAlignment& candidate) {
  const MatchView& viewB = ctx.viewB;
  candidate.count = std::clamp(viewB.count, 0, kMaxViewMinutiae);
  candidate.singularCount = std::clamp(viewB.singularCount, 0, kMaxSingularPoints);
  candidate.matchedCount = 0;
  candidate.bestTranslationScore = 0;
  candidate.score = 0;
  candidate.affine = AffineParams{};
  candidate.translationY = 0;
  candidate.translationX = 0;

  TurnOffset offset;
  if (rotation == 0) {
    std::copy_n(viewB.minutiae, candidate.count, candidate.minutiae.begin());
    std::copy_n(viewB.singularPoints, candidate.singularCount, candidate.singularPoints.begin());
  } else {
    offset = turnSide(viewB.minutiae, candidate.count, rotation, candidate.minutiae.data());
    turnSingular(viewB.singularPoints, candidate.singularCount, rotation, candidate.singularPoints.data());
  }
  candidate.offsetY = offset.y;
  candidate.offsetX = offset.x;
  candidate.singularPairs = pairSingularPoints(ctx, candidate.singularPoints.data(), candidate.singularCount);

  AlignmentWork& work = alignmentWork();
  MatchIndex& index = work.index;
  currentMatchIndex(ctx, index);
  MatchMinutia* turnedB = candidate.minutiae.data();
  TranslationVotes votes{work.histograms};
  const int scorable = castRecordVotes(ctx, index, RotationWindow(rotation), turnedB, offset, votes, &work.scorable);
  castSingularVotes(candidate.singularPairs, offset, votes);
  const TranslationCandidates translations = translationsFromVotes(votes, offset);
  if (translations.count == 0) return false;

  // Try each translation in turn; the first best one wins. A single translation is
  // scored by listing its records at once.
  int best = -1;
  int bestIndex = 0;
  ScoredList scored;
  if (translations.count == 1) {
    scored = scoredRecords(ctx, work, scorable, translations.candidates[0]);
    best = scored.sum;
  } else {
    for (int k = 0; k < translations.count; ++k) {
      const int score = placedScore(ctx, index, work.scorable, scorable, translations.candidates[k]);
      if (score > best) {
        best = score;
        bestIndex = k;
      }
    }
  }
  const TranslationCandidate chosen = translations.candidates[bestIndex];
  moveMinutiae(turnedB, candidate.count, chosen.ty, chosen.tx);
  candidate.bestTranslationScore = best;
  candidate.translationY = chosen.ty;
  candidate.translationX = chosen.tx;
  if (best < kMinTranslationScore) return false;

  if (translations.count > 1) scored = scoredRecords(ctx, work, scorable, chosen);
  candidate.score = assignFromRecords(ctx, candidate, work, scored.count).score;
  return true;
}

}  // namespace fx60::match
