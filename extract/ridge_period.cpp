#include "extract/ridge_period.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "extract/ridge_kernels.h"

namespace fx60::extract {

namespace {

namespace kernels = ridge_kernels::fast;

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

using ridge_kernels::kDerivativeLength;
using ridge_kernels::kProfileRadius;
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
  // Sign masks of the derivative along the profile: bit i set when d[i] > 0, < 0 or == 0.
  const ridge_kernels::ProfileSigns signs = kernels::profileSigns(centre, kProfileIndexOffsets[h].data());
  const uint32_t positions = (1u << kDerivativeLength) - 1u;
  const uint32_t positive = signs.positive;
  const uint32_t negative = signs.negative;
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
