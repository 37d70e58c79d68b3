#include "extract/ridge_period.h"

#include <algorithm>
#include <bit>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace fx60::extract {

namespace {

// Compile-time sine and cosine (Taylor series); t lies in [0, pi).
constexpr double kPi = 3.14159265358979323846;
constexpr double taylorSin(double t) {
  double term = t, sum = t;
  for (int k = 1; k < 30; ++k) {
    term *= -t * t / ((2 * k) * (2 * k + 1));
    sum += term;
  }
  return sum;
}
constexpr double taylorCos(double t) {
  double term = 1, sum = 1;
  for (int k = 1; k < 30; ++k) {
    term *= -t * t / ((2 * k - 1) * (2 * k));
    sum += term;
  }
  return sum;
}
constexpr double absolute(double v) { return v < 0 ? -v : v; }
constexpr int nearest(double v) {
  const double shifted = v + 0.5;
  const int truncated = static_cast<int>(shifted);
  return truncated > shifted ? truncated - 1 : truncated;  // floor
}

constexpr ProfileOffsets buildProfileOffsets() {
  ProfileOffsets table{};
  for (int h = 0; h < kOrientationSteps; ++h) {
    const double t = h * kPi / kOrientationSteps;
    const double s = taylorSin(t), c = taylorCos(t);
    const double m = std::max(absolute(s), absolute(c));
    for (int d = 1; d <= 12; ++d)
      table[h][d - 1] = {static_cast<int8_t>(nearest(d * s / m)), static_cast<int8_t>(nearest(-d * c / m))};
  }
  return table;
}
constexpr ProfileOffsets kProfileOffsets = buildProfileOffsets();
static_assert(kProfileOffsets[0][11].dx == 0 && kProfileOffsets[0][11].dy == -12);
static_assert(kProfileOffsets[60][11].dx == 12 && kProfileOffsets[60][11].dy == 0);
static_assert(kProfileOffsets[30][4].dx == 5 && kProfileOffsets[30][4].dy == -5);

// Steps for orientations 0..30; the rest mirror about 30 and repeat after 60.
constexpr std::array<uint8_t, 31> kGivenSteps = {128, 128, 128, 128, 128, 130, 130, 130, 132, 132, 132,
                                                 135, 135, 135, 139, 139, 139, 143, 143, 148, 148, 148,
                                                 154, 154, 160, 160, 167, 167, 174, 174, 181};
constexpr std::array<uint8_t, kOrientationSteps> buildSteps() {
  std::array<uint8_t, kOrientationSteps> steps{};
  for (int h = 0; h < 60; ++h) {
    const uint8_t step = kGivenSteps[h <= 30 ? h : 60 - h];
    steps[h] = step;
    steps[h + 60] = step;
  }
  return steps;
}
constexpr std::array<uint8_t, kOrientationSteps> kProfileSteps = buildSteps();

constexpr int kCentroidTotals = 50;
constexpr int kCentroidDifferences = 32;
using CentroidTable = std::array<std::array<uint8_t, kCentroidDifferences>, kCentroidTotals>;
constexpr CentroidTable buildCentroids() {
  CentroidTable table{};
  for (int s = 1; s < kCentroidTotals; ++s)
    for (int d = 0; d < kCentroidDifferences; ++d)
      table[s][d] = static_cast<uint8_t>(std::min(2, (8 * d + s) / (2 * s)));  // nearest(4d / S)
  return table;
}
constexpr CentroidTable kCentroids = buildCentroids();

constexpr int kProfileRadius = 12;
constexpr int kProfileLength = 2 * kProfileRadius + 1;
constexpr int kDerivativeLength = kProfileLength - 4;  // 21
constexpr int kMinPeriod = 4;
constexpr int kMaxPeriod = 12;
constexpr int kCodes = 10;  // raw codes 1..9, 0 = none

// First and last rows and columns of cells measured in the first phase and voted
// on in the second.
constexpr int kRawFirstRow = 4, kRawLastRow = 114, kRawFirstColumn = 4, kRawLastColumn = 79;
constexpr int kVoteFirstRow = 3, kVoteLastRow = 115, kVoteFirstColumn = 3, kVoteLastColumn = 80;
constexpr int kVoteRadius = 3;  // 7 x 7 cells

// Profile sample offsets as pixel index differences.
constexpr std::array<std::array<int16_t, kProfileRadius>, kOrientationSteps> buildIndexOffsets() {
  std::array<std::array<int16_t, kProfileRadius>, kOrientationSteps> table{};
  for (int h = 0; h < kOrientationSteps; ++h)
    for (int d = 0; d < kProfileRadius; ++d)
      table[h][d] = static_cast<int16_t>(kProfileOffsets[h][d].dy * kWidth + kProfileOffsets[h][d].dx);
  return table;
}
constexpr auto kProfileIndexOffsets = buildIndexOffsets();

// Raw period code 1..9 of one cell, or 0 when fewer than three crossings were found.
int rawPeriodCode(const uint8_t* image, int r, int c, int h) {
  const uint8_t* centre = image + cellCentreY(r) * kWidth + cellCentreX(c);
  // Samples v[0..24] along the profile, padded with zeros to 32, so that the
  // derivative can be taken eight positions at a time; the positions past the
  // last one are masked off.
  auto sample = [&](int i) -> uint64_t {
    if (i == kProfileRadius) return centre[0];
    if (i > kProfileRadius) return centre[kProfileIndexOffsets[h][i - kProfileRadius - 1]];
    return centre[-kProfileIndexOffsets[h][kProfileRadius - i - 1]];
  };
#ifndef __SSE2__
  int16_t v[32] = {};
  for (int i = 0; i < kProfileLength; ++i) v[i] = static_cast<int16_t>(sample(i));
#endif
  // Sign masks of the derivative 3 (v[i+4] - v[i]) + 5 (v[i+3] - v[i+1]): bit i
  // set when d[i] > 0, < 0 or == 0. It stays within +-2040, so 16 bits suffice.
  const uint32_t positions = (1u << kDerivativeLength) - 1u;
  uint32_t positive = 0, negative = 0;
#ifdef __SSE2__
  {
    const __m128i three = _mm_set1_epi16(3), five = _mm_set1_epi16(5), zeros = _mm_setzero_si128();
    // The samples are packed four to a word in general registers and moved into
    // vectors from there: storing them one by one and loading eight at a time
    // would stall on every load.
    uint64_t words[8] = {};
#pragma GCC unroll 25
    for (int i = 0; i < kProfileLength; ++i) words[i / 4] |= sample(i) << (16 * (i % 4));
    __m128i samples[4];
    for (int k = 0; k < 4; ++k)
      samples[k] = _mm_unpacklo_epi64(_mm_cvtsi64_si128(static_cast<long long>(words[2 * k])),
                                      _mm_cvtsi64_si128(static_cast<long long>(words[2 * k + 1])));
    __m128i above[3], below[3];
    for (int j = 0; j < 3; ++j) {
      // v[8j + i .. 8j + i + 7]
      auto at = [&]<int I>() {
        if constexpr (I == 0)
          return samples[j];
        else
          return _mm_or_si128(_mm_srli_si128(samples[j], 2 * I), _mm_slli_si128(samples[j + 1], 16 - 2 * I));
      };
      const __m128i d =
          _mm_add_epi16(_mm_mullo_epi16(three, _mm_sub_epi16(at.template operator()<4>(), at.template operator()<0>())),
                        _mm_mullo_epi16(five, _mm_sub_epi16(at.template operator()<3>(), at.template operator()<1>())));
      above[j] = _mm_cmpgt_epi16(d, zeros);
      below[j] = _mm_cmplt_epi16(d, zeros);
    }
    auto bits = [](const __m128i* masks) {
      return static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(masks[0], masks[1]))) |
             static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(masks[2], masks[2])) & 0xFF) << 16;
    };
    positive = bits(above) & positions;
    negative = bits(below) & positions;
  }
#else
  for (int i = 0; i < kDerivativeLength; ++i) {
    const int d = 3 * (v[i + 4] - v[i]) + 5 * (v[i + 3] - v[i + 1]);
    positive |= static_cast<uint32_t>(d > 0) << i;
    negative |= static_cast<uint32_t>(d < 0) << i;
  }
#endif
  const uint32_t zero = ~(positive | negative) & positions;
  // Bit i of `falling` / `rising` marks a crossing of that kind at position i:
  // the next value has the other sign, or is zero and the one after it has. At
  // position 19 only the strict form can hold (there is no d[21]), which is the
  // rule for the last position. Falling crossings need d[i] > 0 and rising ones
  // d[i] < 0, so before the first crossing either kind is accepted; after it the
  // kinds must alternate. The first crossing is looked for before position 19.
  const uint32_t falling = positive & ((negative >> 1) | ((zero >> 1) & (negative >> 2)));
  const uint32_t rising = negative & ((positive >> 1) | ((zero >> 1) & (positive >> 2)));
  const uint32_t any = (falling | rising) & ((1u << 19) - 1u);
  if (any == 0) return 0;

  const int first = std::countr_zero(any);
  int last = first;
  int crossings = 1;
  bool lookForRising = (falling >> first) & 1u;
  for (;;) {
    const uint32_t candidates = (lookForRising ? rising : falling) & ~((2u << last) - 1u);
    if (candidates == 0) break;
    last = std::countr_zero(candidates);
    ++crossings;
    lookForRising = !lookForRising;
  }
  if (crossings <= 2) return 0;

  const auto n = static_cast<unsigned>(crossings);
  const unsigned numerator =
      2u * kProfileSteps[h] * static_cast<unsigned>(last - first) + ((128u * n - 127u) >> 1);
  const int period = std::clamp(static_cast<int>(numerator / (128u * n - 128u)), kMinPeriod, kMaxPeriod);
  return period - 3;
}

// Interpolated most frequent raw code of the window, in quarter codes 4..36.
int votedPeriod(const std::array<int, kCodes>& bins) {
  // Last code with the highest count, chosen without branches: the counts vary
  // from cell to cell too much for a predictor.
  int best = 1, bestCount = bins[1];
  for (int k = 2; k <= 9; ++k) {
    const bool higher = bins[k] >= bestCount;
    best = higher ? k : best;
    bestCount = higher ? bins[k] : bestCount;
  }
  // Without any raw estimate every bin is 0 and the scan ends on the highest code.
  if (best == 1) return 4 + kCentroids[bins[1] + bins[2]][bins[2]];
  if (best == 9) return 36 - kCentroids[bins[8] + bins[9]][bins[8]];
  const int left = bins[best - 1], right = bins[best + 1];
  const int total = left + bins[best] + right;
  return right >= left ? 4 * best + kCentroids[total][right - left]
                       : 4 * best - kCentroids[total][left - right];
}

void measureRawPeriods(const uint8_t* image, PeriodMap& periods, const OrientationMap& orientation) {
  for (int r = kRawFirstRow; r <= kRawLastRow; ++r)
    for (int c = kRawFirstColumn; c <= kRawLastColumn; ++c) {
      const uint8_t cell = orientation[cellIndex(r, c)];
      if (!isBackground(cell))
        periods[cellIndex(r, c)] = static_cast<uint8_t>(rawPeriodCode(image, r, c, orientationOf(cell)));
    }
}

void voteOnPeriods(PeriodMap& periods, const OrientationMap& orientation) {
  PeriodMap raw = periods;
  // Histograms of the raw codes per column over the rows inside the vote window.
  std::array<std::array<int, kCodes>, kGridColumns> columns{};
  auto addRow = [&](int r, int sign) {
    for (int c = kVoteFirstColumn; c <= kVoteLastColumn; ++c) columns[c][raw[cellIndex(r, c)]] += sign;
  };
  for (int r = kVoteFirstRow; r < kVoteFirstRow + kVoteRadius; ++r) addRow(r, 1);
  for (int r = kVoteFirstRow; r <= kVoteLastRow; ++r) {
    if (r + kVoteRadius <= kVoteLastRow) addRow(r + kVoteRadius, 1);
    if (r - kVoteRadius - 1 >= kVoteFirstRow) addRow(r - kVoteRadius - 1, -1);
    std::array<int, kCodes> window{};
    auto addColumn = [&](int c, int sign) {
      for (int k = 0; k < kCodes; ++k) window[k] += sign * columns[c][k];
    };
    for (int c = kVoteFirstColumn; c < kVoteFirstColumn + kVoteRadius; ++c) addColumn(c, 1);
    for (int c = kVoteFirstColumn; c <= kVoteLastColumn; ++c) {
      if (c + kVoteRadius <= kVoteLastColumn) addColumn(c + kVoteRadius, 1);
      if (c - kVoteRadius - 1 >= kVoteFirstColumn) addColumn(c - kVoteRadius - 1, -1);
      const int index = cellIndex(r, c);
      periods[index] = isBackground(orientation[index]) ? 0 : static_cast<uint8_t>(votedPeriod(window));
    }
  }
}

void averagePeriods(PeriodMap& periods, const OrientationMap& orientation) {
  const PeriodMap voted = periods;
  // Per column: sum and count of the non-zero voted values over the window rows.
  std::array<int, kGridColumns> columnSums{}, columnCounts{};
  auto addRow = [&](int r, int sign) {
    for (int c = 0; c < kGridColumns; ++c) {
      const int value = voted[cellIndex(r, c)];
      columnSums[c] += sign * value;
      columnCounts[c] += sign * (value != 0 ? 1 : 0);
    }
  };
  for (int r = 0; r < kVoteRadius; ++r) addRow(r, 1);
  for (int r = 0; r < kGridRows; ++r) {
    if (r + kVoteRadius < kGridRows) addRow(r + kVoteRadius, 1);
    if (r - kVoteRadius - 1 >= 0) addRow(r - kVoteRadius - 1, -1);
    int sum = 0, count = 0;
    for (int c = 0; c < kVoteRadius; ++c) {
      sum += columnSums[c];
      count += columnCounts[c];
    }
    for (int c = 0; c < kGridColumns; ++c) {
      if (c + kVoteRadius < kGridColumns) {
        sum += columnSums[c + kVoteRadius];
        count += columnCounts[c + kVoteRadius];
      }
      if (c - kVoteRadius - 1 >= 0) {
        sum -= columnSums[c - kVoteRadius - 1];
        count -= columnCounts[c - kVoteRadius - 1];
      }
      const int index = cellIndex(r, c);
      if (isBackground(orientation[index])) continue;
      // A foreground cell at the grid border can see no voted value at all; it
      // gets no estimate (0), like background, instead of dividing by zero.
      periods[index] = count == 0 ? 0 : static_cast<uint8_t>((count / 2 + 4 * sum) / count);
    }
  }
}

}  // namespace

const ProfileOffsets& ridgeProfileOffsets() { return kProfileOffsets; }
int ridgeProfileStep(int h) { return kProfileSteps[h]; }
int periodCentroid(int binTotal, int difference) { return kCentroids[binTotal][difference]; }

void estimateRidgePeriod(const uint8_t* image, PeriodMap& periods, const OrientationMap& orientation) {
  measureRawPeriods(image, periods, orientation);
  voteOnPeriods(periods, orientation);
  averagePeriods(periods, orientation);
}

}  // namespace fx60::extract
