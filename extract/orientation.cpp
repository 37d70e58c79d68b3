#include "extract/orientation.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace fx60::extract {

namespace {

// One weighted absolute difference |P(a) - P(b)| inside the 5 x 5 block of a cell.
struct BlockPair {
  int ax, ay, bx, by, weight;
};
using PairSet = std::array<BlockPair, 12>;

// Pairs across horizontal ridges count positively, pairs along them negatively.
constexpr PairSet kPairsD0 = {{
    {2, 2, 2, 4, 2}, {2, 2, 2, 0, 2}, {2, 2, 4, 2, -2}, {2, 2, 0, 2, -2},
    {2, 1, 0, 1, -1}, {2, 1, 4, 1, -1}, {2, 3, 0, 3, -1}, {2, 3, 4, 3, -1},
    {1, 2, 1, 0, 1}, {1, 2, 1, 4, 1}, {3, 2, 3, 0, 1}, {3, 2, 3, 4, 1},
}};
constexpr PairSet kPairsD1 = {{
    {2, 2, 0, 1, -2}, {2, 2, 4, 3, -2}, {2, 1, 4, 2, -1}, {2, 1, 0, 0, -1},
    {2, 3, 4, 4, -1}, {2, 3, 0, 2, -1}, {2, 2, 1, 4, 2}, {2, 2, 3, 0, 2},
    {1, 2, 0, 4, 1}, {3, 2, 2, 4, 1}, {1, 2, 2, 0, 1}, {3, 2, 4, 0, 1},
}};
constexpr PairSet kPairsD2 = {{
    {2, 2, 0, 4, 2}, {2, 2, 4, 0, 2}, {2, 2, 4, 4, -2}, {2, 2, 0, 0, -2},
    {1, 2, 3, 4, -1}, {3, 2, 1, 0, -1}, {2, 1, 4, 3, -1}, {2, 3, 0, 1, -1},
    {3, 2, 1, 4, 1}, {2, 3, 4, 1, 1}, {1, 2, 3, 0, 1}, {2, 1, 0, 3, 1},
}};
constexpr PairSet kPairsD3 = {{
    {2, 2, 1, 0, -2}, {2, 2, 3, 4, -2}, {1, 2, 2, 4, -1}, {1, 2, 0, 0, -1},
    {3, 2, 4, 4, -1}, {3, 2, 2, 0, -1}, {2, 2, 4, 1, 2}, {2, 2, 0, 3, 2},
    {2, 1, 0, 2, 1}, {2, 3, 0, 4, 1}, {2, 1, 4, 0, 1}, {2, 3, 4, 2, 1},
}};

// Scale factors that bring the four directional measures to a common gain.
constexpr int kScaleD0 = 48;
constexpr int kScaleD1 = 43;
constexpr int kScaleD2 = 34;
constexpr int kScaleD3 = 43;

// Sector interpolation: gap and start in quarter steps, and the orientation used
// when the sector's contrast is zero.
constexpr std::array<int, 8> kSectorGap = {71, 49, 49, 71, 71, 49, 49, 71};
constexpr std::array<int, 8> kSectorStart = {0, 71, 120, 169, 240, 311, 360, 409};
constexpr std::array<int, 8> kSectorFallback = {0, 18, 30, 42, 60, 78, 90, 102};

constexpr int kWindowRadius = 5;  // 11 x 11 cells
constexpr int kWindowSpan = 2 * kWindowRadius + 1;

// Thresholds of the fixed mask (a full window of 121 cells) and per cell.
constexpr int kActivityPerCell = 240;
constexpr int kStrengthPerCell = 432;
constexpr int kFixedActivityThreshold = 29040;
constexpr int kFixedStrengthThreshold = 52272;
constexpr int kMajorityThreshold = 60;
constexpr int kMinStrongCells = 3998;  // 40 per cent of the grid

struct CellMeasures {
  int16_t d[4];
  int16_t activity;
};

constexpr int scaled(int sum, int k) {
  const int product = sum * k;
  return product >= 0 ? (product + 16) >> 5 : (product + 15) >> 5;
}

// The measures are computed for sixteen cells at a time from a band of five
// image rows. The cell origins lie every third column, so the band is split by
// column modulo 3: pixel (3c + a, y) is entry c + a / 3 of phase a % 3 of row y,
// and one pair reads consecutive entries for consecutive cells. The phases are
// padded with zeros for the lanes past the last cell, which are never used.
// Absolute differences are taken on the bytes, then widened for the weighted sums.
using Bytes = uint8_t __attribute__((vector_size(16)));
using Lanes = int16_t __attribute__((vector_size(32)));
constexpr int kBandRows = 5;
constexpr int kLaneCount = 16;
constexpr int kCellChunks = (kGridColumns + kLaneCount - 1) / kLaneCount;  // 6
constexpr int kPhaseLength = kCellChunks * kLaneCount + kLaneCount;
using RowPhases = std::array<std::array<uint8_t, kPhaseLength>, kCellSpacing>;
using Band = std::array<const RowPhases*, kBandRows>;

// Image rows split into phases; consecutive bands share two rows, so each row is
// split once and kept until no later band needs it.
struct SplitRows {
  static constexpr int kSlots = 8;
  std::array<RowPhases, kSlots> rows{};
  int firstUnsplit = 0;

  // Rows y0 .. y0 + 4, splitting those not seen before; bands come in order.
  Band band(const uint8_t* image, int y0) {
    for (int y = std::max(firstUnsplit, y0); y < y0 + kBandRows; ++y) {
      const uint8_t* row = image + y * kWidth;
      RowPhases& phases = rows[y % kSlots];
      for (int c = 0; c < kWidth / kCellSpacing; ++c) {
        phases[0][c] = row[kCellSpacing * c];
        phases[1][c] = row[kCellSpacing * c + 1];
        phases[2][c] = row[kCellSpacing * c + 2];
      }
      phases[0][kWidth / kCellSpacing] = row[kWidth - 1];  // column 255
    }
    firstUnsplit = y0 + kBandRows;
    Band result;
    for (int i = 0; i < kBandRows; ++i) result[i] = &rows[(y0 + i) % kSlots];
    return result;
  }
};

inline Bytes loadBytes(const uint8_t* p) {
  Bytes bytes;
  std::memcpy(&bytes, p, sizeof bytes);
  return bytes;
}

inline Bytes absoluteDifference(Bytes a, Bytes b) {
  const Bytes larger = a > b ? a : b;
  const Bytes smaller = a > b ? b : a;
  return larger - smaller;
}

// Adds the weighted absolute differences of one measure's pairs at cells
// c..c+15 to `sum`, and with all weights made positive to `absolute` when asked.
template <const PairSet& Pairs, bool kWithAbsolute, size_t... I>
inline void addPairs(const Band& band, int c, Lanes& sum, Lanes& absolute, std::index_sequence<I...>) {
  (
      [&] {
        constexpr BlockPair p = Pairs[I];
        const Lanes diff = __builtin_convertvector(
            absoluteDifference(loadBytes((*band[p.ay])[p.ax % kCellSpacing].data() + c + p.ax / kCellSpacing),
                               loadBytes((*band[p.by])[p.bx % kCellSpacing].data() + c + p.bx / kCellSpacing)),
            Lanes);
        sum += static_cast<int16_t>(p.weight) * diff;
        if constexpr (kWithAbsolute) absolute += static_cast<int16_t>(p.weight < 0 ? -p.weight : p.weight) * diff;
      }(),
      ...);
}

template <const PairSet& Pairs, bool kWithAbsolute>
inline void addPairs(const Band& band, int c, Lanes& sum, Lanes& absolute) {
  addPairs<Pairs, kWithAbsolute>(band, c, sum, absolute, std::make_index_sequence<12>{});
}

// Measures of every cell of grid row r.
void measureCellRow(const uint8_t* image, int r, SplitRows& split, std::array<CellMeasures, kGridColumns>& out) {
  const Band band = split.band(image, kCellSpacing * r);
  alignas(16) std::array<std::array<int16_t, kCellChunks * kLaneCount>, 6> sums;  // D0..D3, then U1 and U3
  for (int c = 0; c < kGridColumns; c += kLaneCount) {
    Lanes d0{}, d1{}, d2{}, d3{}, u1{}, u3{}, unused{};
    addPairs<kPairsD0, false>(band, c, d0, unused);
    addPairs<kPairsD1, true>(band, c, d1, u1);
    addPairs<kPairsD2, false>(band, c, d2, unused);
    addPairs<kPairsD3, true>(band, c, d3, u3);
    std::memcpy(&sums[0][c], &d0, sizeof d0);
    std::memcpy(&sums[1][c], &d1, sizeof d1);
    std::memcpy(&sums[2][c], &d2, sizeof d2);
    std::memcpy(&sums[3][c], &d3, sizeof d3);
    std::memcpy(&sums[4][c], &u1, sizeof u1);
    std::memcpy(&sums[5][c], &u3, sizeof u3);
  }
  for (int c = 0; c < kGridColumns; ++c) {
    CellMeasures& m = out[c];
    m.d[0] = static_cast<int16_t>(scaled(sums[0][c], kScaleD0));
    m.d[1] = static_cast<int16_t>(scaled(sums[1][c], kScaleD1));
    m.d[2] = static_cast<int16_t>(scaled(sums[2][c], kScaleD2));
    m.d[3] = static_cast<int16_t>(scaled(sums[3][c], kScaleD3));
    m.activity = static_cast<int16_t>((sums[4][c] + sums[5][c] + 2) >> 2);
  }
}

struct WindowSums {
  int s[4];
  int activity;
};

// Orientation 0..119 from the four window sums of directional measures.
int orientationFromSums(const int s[4]) {
  const std::array<int, 8> v = {s[0], s[1], s[2], s[3], -s[0], -s[1], -s[2], -s[3]};
  const std::array<int, 8> scores = {s[0] + s[1], s[1] + s[2], s[2] + s[3], s[3] - s[0],
                                     -s[0] - s[1], -s[1] - s[2], -s[2] - s[3], s[0] - s[3]};
  // First sector with the highest score.
  int sector = 0;
  int best = scores[0];
  for (int k = 1; k < 8; ++k)
    if (scores[k] > best) {
      best = scores[k];
      sector = k;
    }
  const int o = v[(sector + 1) & 7];
  const int u = v[(sector + 7) & 7];
  const int p = best - v[(sector + 2) & 7] - u;
  if (p == 0) return kSectorFallback[sector];
  // o - u and p are never negative for the best sector.
  const int q = static_cast<int>((static_cast<int64_t>(o - u) * kSectorGap[sector] + (p >> 1)) / p) +
                kSectorStart[sector] + 2;
  const int orientation = q >> 2;
  return orientation < kOrientationSteps ? orientation : 0;
}

int quantiseScore(int h) { return std::min(std::min(h >> 2, 255) * 3 / 7, 100); }

// Quality points from the strong cells of the fixed mask and the position of the
// smoothed mask's foreground.
int qualityScore(int strongCells, int strengthTotal, const OrientationMap& smoothedFixedMask) {
  if (strongCells == 0) return quantiseScore(100);
  const int mean = (strongCells / 2 + strengthTotal) / strongCells;
  int h = std::max(mean, 100);
  if (strongCells <= kMinStrongCells) return quantiseScore(12);
  int count = 0;
  double columnSum = 0;
  double rowSum = 0;
  for (int r = 0; r < kGridRows; ++r)
    for (int c = 0; c < kGridColumns; ++c)
      if (!isBackground(smoothedFixedMask[cellIndex(r, c)])) {
        ++count;
        columnSum += c;
        rowSum += r;
      }
  if (count == 0) return quantiseScore(12);
  const double meanColumn = columnSum / count;
  const double meanRow = rowSum / count;
  if (meanColumn - 42 < -14)
    h = 20;
  else if (meanColumn - 42 > 14)
    h = 30;
  else if (meanRow - 59 < -20)
    h = 40;
  else if (meanRow - 59 > 20)
    h = 50;
  else
    h = std::max(100, h - 96);
  return quantiseScore(h);
}

}  // namespace

void smoothForegroundMask(OrientationMap& map) {
  // Summed-area table of the foreground cells, taken before any flag changes.
  std::array<std::array<uint16_t, kGridColumns + 1>, kGridRows + 1> area{};
  for (int r = 0; r < kGridRows; ++r) {
    int rowCount = 0;
    for (int c = 0; c < kGridColumns; ++c) {
      rowCount += isBackground(map[cellIndex(r, c)]) ? 0 : 1;
      area[r + 1][c + 1] = static_cast<uint16_t>(area[r][c + 1] + rowCount);
    }
  }
  for (int r = 0; r < kGridRows; ++r) {
    const auto& top = area[std::max(0, r - kWindowRadius)];
    const auto& bottom = area[std::min(kGridRows, r + kWindowRadius + 1)];
    // Foreground cells of the clipped window of every cell of the row; windows
    // are clipped at the left only for the first columns and at the right only
    // for the last ones.
    std::array<int16_t, kGridColumns> foreground;
    auto count = [&](int left, int right) {
      return static_cast<int16_t>(bottom[right] - top[right] - bottom[left] + top[left]);
    };
    for (int c = 0; c < kWindowRadius; ++c) foreground[c] = count(0, c + kWindowRadius + 1);
    for (int c = kWindowRadius; c < kGridColumns - kWindowRadius - 1; ++c)
      foreground[c] = count(c - kWindowRadius, c + kWindowRadius + 1);
    for (int c = kGridColumns - kWindowRadius - 1; c < kGridColumns; ++c)
      foreground[c] = count(std::max(0, c - kWindowRadius), kGridColumns);
    uint8_t* cells = map.data() + cellIndex(r, 0);
    for (int c = 0; c < kGridColumns; ++c)
      cells[c] = static_cast<uint8_t>(orientationOf(cells[c]) |
                                      (foreground[c] > kMajorityThreshold ? 0 : kBackgroundFlag));
  }
}

int estimateOrientation(const uint8_t* image, OrientationMap& orientation) {
  OrientationMap fixedMask{};
  // Per-cell measures of the rows inside the window, and their column sums.
  std::array<std::array<CellMeasures, kGridColumns>, kWindowSpan> ring{};
  std::array<WindowSums, kGridColumns> columns{};
  SplitRows split;
  auto addRow = [&](int r, int sign) {
    const auto& row = ring[r % kWindowSpan];
    for (int c = 0; c < kGridColumns; ++c) {
      for (int k = 0; k < 4; ++k) columns[c].s[k] += sign * row[c].d[k];
      columns[c].activity += sign * row[c].activity;
    }
  };
  for (int r = 0; r < kWindowRadius && r < kGridRows; ++r) {
    measureCellRow(image, r, split, ring[r % kWindowSpan]);
    addRow(r, 1);
  }

  int strongCells = 0;
  int strengthTotal = 0;
  for (int r = 0; r < kGridRows; ++r) {
    const int leaving = r - kWindowRadius - 1;
    if (leaving >= 0) addRow(leaving, -1);
    const int entering = r + kWindowRadius;
    if (entering < kGridRows) {
      measureCellRow(image, entering, split, ring[entering % kWindowSpan]);
      addRow(entering, 1);
    }
    const int rowsInside = std::min(kGridRows - 1, r + kWindowRadius) - std::max(0, r - kWindowRadius) + 1;

    WindowSums window{};
    auto addColumn = [&](int c, int sign) {
      for (int k = 0; k < 4; ++k) window.s[k] += sign * columns[c].s[k];
      window.activity += sign * columns[c].activity;
    };
    for (int c = 0; c < kWindowRadius; ++c) addColumn(c, 1);
    for (int c = 0; c < kGridColumns; ++c) {
      if (c + kWindowRadius < kGridColumns) addColumn(c + kWindowRadius, 1);
      if (c - kWindowRadius - 1 >= 0) addColumn(c - kWindowRadius - 1, -1);
      const int columnsInside =
          std::min(kGridColumns - 1, c + kWindowRadius) - std::max(0, c - kWindowRadius) + 1;
      const int cells = rowsInside * columnsInside;

      const auto direction = static_cast<uint8_t>(orientationFromSums(window.s));
      const int strength =
          std::abs(window.s[0]) + std::abs(window.s[1]) + std::abs(window.s[2]) + std::abs(window.s[3]);
      const bool fixedStrong =
          window.activity >= kFixedActivityThreshold && strength >= kFixedStrengthThreshold;
      if (fixedStrong) {
        ++strongCells;
        strengthTotal += strength >> 8;
      }
      const bool scaledStrong = window.activity >= kActivityPerCell * cells &&
                                strength >= kStrengthPerCell * cells;
      fixedMask[cellIndex(r, c)] = static_cast<uint8_t>(direction | (fixedStrong ? 0 : kBackgroundFlag));
      orientation[cellIndex(r, c)] =
          static_cast<uint8_t>(direction | (scaledStrong ? 0 : kBackgroundFlag));
    }
  }

  smoothForegroundMask(fixedMask);
  const int score = qualityScore(strongCells, strengthTotal, fixedMask);
  smoothForegroundMask(orientation);
  return score;
}

}  // namespace fx60::extract
