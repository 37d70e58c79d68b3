#include "match/coverage.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "match/sqrt_tables.h"

namespace fx60::match {
namespace {

constexpr int kPaintLimit = 512;  // points at 512 or beyond are not painted
constexpr uint16_t kFillCeiling = 0x80FE;
constexpr uint16_t kGuardMarked = 0x8001;
constexpr uint16_t kGuardStop = 1;
constexpr uint8_t kMissing = 0xFF;
constexpr int kMinEnvelopeRows = 4;  // the marked rows must span more than this
constexpr int kMaxRows = CoarseGrid::kSide;
constexpr int kMaxAOverlap = kMaxViewMinutiae;

// A cell that starts a run of marked cells, found from the row above (-1) or below (+1)
// whose run first..last is already labelled; the seed has no such row (0).
struct PendingRun {
  uint16_t cell;  // row * stride + column within the box
  int8_t fromRow;
  uint8_t fromFirst;
  uint8_t fromLast;
};

struct CoverageWork {
  CoarseGrid unpaired;  // UnpairedCoverage
  CoarseGrid paired;    // PairedBalance, later the labels
  FineGrid fine;        // FineBalance
  // Runs waiting in the flood fill of labelComponent.
  std::array<PendingRun, 2 * CoarseGrid::kSide * CoarseGrid::kSide + 2> pendingRuns;
};

CoverageWork& coverageWork() {
  thread_local std::unique_ptr<CoverageWork> work = std::make_unique<CoverageWork>();
  return *work;
}

bool paintable(int y, int x) {
  return static_cast<unsigned>(y) < kPaintLimit && static_cast<unsigned>(x) < kPaintLimit;
}

void addCone(CoarseGrid& grid, const ConeKernel& cone, int y, int x) {
  constexpr int stride = CoarseGrid::kSide;
  uint16_t* corner = &grid.at((y >> 3) - kConeReach, (x >> 3) - kConeReach);
  for (int dr = 0; dr <= 2 * kConeReach; ++dr, corner += stride)
    for (int dc = 0; dc < kKernelRow; ++dc) corner[dc] = static_cast<uint16_t>(corner[dc] + cone[dr][dc]);
}

// Adds the bump for a pair, subtracts it for an unpartnered minutia.
template <bool Add>
void paintBump(FineGrid& grid, int y, int x) {
  constexpr int stride = FineGrid::kSide;
  uint16_t* corner = &grid.at((y >> 4) - kBumpReach, (x >> 4) - kBumpReach);
  for (int dr = 0; dr <= 2 * kBumpReach; ++dr, corner += stride)
    for (int dc = 0; dc < kKernelRow; ++dc)
      corner[dc] = static_cast<uint16_t>(Add ? corner[dc] + Bump[dr][dc] : corner[dc] - Bump[dr][dc]);
}

template <typename Grid>
void fillWindow(Grid& grid, int r0, int r1, int c0, int c1, uint16_t value) {
  for (int r = r0; r <= r1; ++r) std::fill_n(&grid.at(r, c0), c1 - c0 + 1, value);
}

int highByte(uint16_t cell) { return cell >> 8; }

// Scans skip whole groups of four cells, read as one 64-bit word, where none can match.
constexpr uint64_t kLaneHighBits = 0x8000800080008000ull;
constexpr uint64_t kLaneHighBytes = 0xFF00FF00FF00FF00ull;
constexpr uint64_t kLaneOnes = 0x0001000100010001ull;

uint64_t fourCells(const uint16_t* cells) {
  uint64_t word;
  std::memcpy(&word, cells, sizeof word);
  return word;
}

// Four copies of a high byte, one per cell.
constexpr uint64_t laneHighByte(int value) { return kLaneOnes * (static_cast<uint64_t>(value & 0xFF) << 8); }

// True when one of the four cells has the given high byte.
bool anyWithHighByte(uint64_t word, uint64_t lanes) {
  const uint64_t v = (word & kLaneHighBytes) ^ lanes;
  return ((v - kLaneOnes) & ~v & kLaneHighBits) != 0;
}

}  // namespace

void lowerHullFill(uint8_t* values, int n) {
  if (n <= 1) return;
  const auto present = [&](int i) { return static_cast<int8_t>(values[i]) >= 0; };
  // Stack of hull vertices; (0, values[0]) is never dropped.
  std::array<int, kMaxRows + 1> hull;
  int top = 0;
  hull[0] = 0;
  for (int i = 1; i <= n; ++i) {
    if (!present(i)) continue;
    while (top > 0) {
      const int last = hull[top];
      const int before = hull[top - 1];
      const int dx = i - last;
      const int dy = values[i] - values[last];
      const int dxLast = last - before;
      const int dyLast = values[last] - values[before];
      if (dy * dxLast > dyLast * dx) break;  // steeper than the last segment: keep it
      --top;
    }
    hull[++top] = i;
  }
  for (int h = 0; h < top; ++h) {
    const int p = hull[h];
    const int q = hull[h + 1];
    if (q - p < 2) continue;
    const int a = values[p];
    const int b = values[q];
    // Slope in 1/256 steps; each value rounded up.
    const int64_t slope = (static_cast<int64_t>(b - a) * ReciprocalTable[q - p]) >> 16;
    for (int k = 1; k < q - p; ++k) values[p + k] = static_cast<uint8_t>(a + ((k * slope + 255) >> 8));
  }
}

int regionEnvelope(CoarseGrid& grid, CoverageBox& box) {
  // First and last marked column of every row of the box.
  const int boxRows = std::min(box.height + 1, kMaxRows);
  std::array<uint8_t, kMaxRows> rowFirst;
  std::array<uint8_t, kMaxRows> rowLast;
  int firstRow = -1;
  int lastRow = 0;
  for (int r = 0; r < boxRows; ++r) {
    const uint16_t* row = &grid.at(box.top + r, box.left);
    int c = 0;
    while (c + 3 <= box.width && (fourCells(row + c) & kLaneHighBits) == 0) c += 4;
    while (c <= box.width && row[c] < 0x8000) ++c;
    if (c > box.width) {
      rowFirst[r] = rowLast[r] = kMissing;
      continue;
    }
    rowFirst[r] = static_cast<uint8_t>(c);
    int e = box.width;
    while (e >= 3 && (fourCells(row + e - 3) & kLaneHighBits) == 0) e -= 4;
    while (row[e] < 0x8000) --e;
    rowLast[r] = static_cast<uint8_t>(e);
    if (firstRow < 0) firstRow = r;
    lastRow = r;
  }
  if (firstRow < 0 || firstRow == box.height) return -1;

  // From here rows count from the first marked one.
  box.top += firstRow;
  lastRow -= firstRow;
  std::array<uint8_t, kMaxRows> first;
  std::array<uint8_t, kMaxRows> last;
  for (int r = 0; r <= lastRow; ++r) {
    first[r] = rowFirst[r + firstRow];
    last[r] = rowLast[r + firstRow];
  }

  int minLeft = kMaxRows, firstMinRow = 0, lastMinRow = 0;
  int maxRight = -1, firstMaxRow = 0, lastMaxRow = 0;
  for (int r = 0; r <= lastRow; ++r) {
    if (first[r] == kMissing) continue;
    if (first[r] < minLeft) {
      minLeft = first[r];
      firstMinRow = r;
    }
    if (first[r] == minLeft) lastMinRow = r;
    if (last[r] > maxRight) {
      maxRight = last[r];
      firstMaxRow = r;
    }
    if (last[r] == maxRight) lastMaxRow = r;
  }
  const int oldLeft = box.left;
  box.left += minLeft;
  box.width = maxRight - minLeft;
  box.height = lastRow;
  if (lastRow < kMinEnvelopeRows) return -1;

  for (int r = firstMinRow; r <= lastMinRow; ++r) first[r] = static_cast<uint8_t>(minLeft);
  for (int r = firstMaxRow; r <= lastMaxRow; ++r) last[r] = static_cast<uint8_t>(maxRight);

  // Convex outline: each side is filled outwards from its extreme row by the lower
  // hull of the distances from the extreme column.
  std::array<uint8_t, kMaxRows> run;
  const auto outline = [&](std::array<uint8_t, kMaxRows>& side, int from, int step, int to, bool right) {
    const int n = (to - from) * step;
    for (int i = 0; i <= n; ++i) {
      const uint8_t value = side[from + i * step];
      run[i] = value == kMissing ? kMissing : static_cast<uint8_t>(right ? maxRight - value : value);
    }
    lowerHullFill(run.data(), n);
    for (int i = 0; i <= n; ++i) side[from + i * step] = static_cast<uint8_t>(right ? maxRight - run[i] : run[i]);
  };
  outline(first, firstMinRow, -1, 0, false);
  outline(first, lastMinRow, 1, lastRow, false);
  outline(last, firstMaxRow, -1, 0, true);
  outline(last, lastMaxRow, 1, lastRow, true);

  // Fill the outline: positive cells stay marked, balanced cells become marked. Guard
  // cells beside the outline stop row scans.
  for (int r = 0; r <= lastRow; ++r) {
    const int row = box.top + r;
    for (int c = first[r]; c <= last[r]; ++c) {
      uint16_t& cell = grid.at(row, oldLeft + c);
      cell = static_cast<uint16_t>(std::min(cell, kFillCeiling) + 1);
    }
    grid.at(row, oldLeft + minLeft - 2) = kGuardMarked;
    grid.at(row, oldLeft + minLeft - 1) = kGuardStop;
    grid.at(row, oldLeft + maxRight + 1) = kGuardStop;
    grid.at(row, oldLeft + maxRight + 2) = kGuardMarked;
  }
  return first[0] - minLeft;
}

void labelComponent(CoarseGrid& grid, int label, const CoverageBox& box, int seedRow, int seedColumn) {
  if (seedRow < 0 || seedRow > box.height || seedColumn < 0 || seedColumn > box.width) return;
  constexpr int stride = CoarseGrid::kSide;
  uint16_t* const base = &grid.at(box.top, box.left);
  const auto isMarked = [&](int r, int c) { return highByte(base[r * stride + c]) == kMarkedByte; };
  if (!isMarked(seedRow, seedColumn)) return;
  const uint16_t labelBits = static_cast<uint16_t>(label << 8);

  // Scanline flood fill: each popped cell grows into its whole run of marked cells,
  // and every run touching it in the rows above and below is pushed once per visit.
  // The stretch of the row it came from that is already labelled is not looked at again.
  auto& pendingRuns = coverageWork().pendingRuns;
  PendingRun* const stack = pendingRuns.data();
  const int capacity = static_cast<int>(pendingRuns.size());
  int size = 0;
  stack[size++] = {static_cast<uint16_t>(seedRow * stride + seedColumn), 0, 0, 0};
  while (size > 0) {
    const PendingRun pending = stack[--size];
    const int r = pending.cell / stride;
    const int c = pending.cell % stride;
    if (!isMarked(r, c)) continue;
    int first = c;
    while (first > 0 && isMarked(r, first - 1)) --first;
    int last = c;
    while (last < box.width && isMarked(r, last + 1)) ++last;
    uint16_t* row = base + r * stride;
    for (int k = first; k <= last; ++k) row[k] = static_cast<uint16_t>(labelBits | (row[k] & 0xFF));
    for (const int step : {-1, 1}) {
      const int next = r + step;
      if (next < 0 || next > box.height) continue;
      const bool cameFromNext = pending.fromRow == -step;
      bool inRun = false;
      for (int k = first; k <= last; ++k) {
        if (cameFromNext && k >= pending.fromFirst && k <= pending.fromLast) {
          inRun = false;  // labelled: nothing there is marked
          k = pending.fromLast;
          continue;
        }
        const bool marked = isMarked(next, k);
        if (marked && !inRun && size < capacity)
          stack[size++] = {static_cast<uint16_t>(next * stride + k), static_cast<int8_t>(step),
                           static_cast<uint8_t>(first), static_cast<uint8_t>(last)};
        inRun = marked;
      }
    }
  }
}

CoverageResult coverageAnalysis(const CoverageInput& input) {
  CoverageResult result;
  CoverageWork& work = coverageWork();
  CoarseGrid& unpaired = work.unpaired;
  CoarseGrid& paired = work.paired;
  FineGrid& fine = work.fine;

  // Window of the overlap with a margin of five cells.
  const int left = std::clamp(input.rect.left, 0, 511);
  const int top = std::clamp(input.rect.top, 0, 511);
  const int right = std::clamp(input.rect.right, left, 511);
  const int bottom = std::clamp(input.rect.bottom, top, 511);
  const int r0 = (top >> 3) - 5, r1 = (bottom >> 3) + 5;
  const int c0 = (left >> 3) - 5, c1 = (right >> 3) + 5;
  fillWindow(unpaired, r0, r1, c0, c1, 0);
  fillWindow(paired, r0, r1, c0, c1, kBalanced);
  fillWindow(fine, (top >> 4) - 5, (bottom >> 4) + 5, (left >> 4) - 5, (right >> 4) + 5, kBalanced);

  // Paired singular points, by the strength of their agreement.
  for (std::size_t s = 0; s < input.singularB.size(); ++s) {
    const int f = s < input.singularAgreement.size() ? input.singularAgreement[s] : 0;
    if (f == 0 || s >= input.singularPartner.size() || input.singularPartner[s] >= input.singularA.size()) continue;
    const MatchSingularPoint& b = input.singularB[s];
    const MatchSingularPoint& a = input.singularA[input.singularPartner[s]];
    const int y = (a.y + b.y) >> 1;
    const int x = (a.x + b.x) >> 1;
    if (!paintable(y, x)) continue;
    if (f >= 151) {
      addCone(paired, LargeCone, y, x);
      addCone(paired, LargeCone, y, x);
    } else if (f >= 101) {
      addCone(paired, SmallCone, y, x);
      addCone(paired, SmallCone, y, x);
    } else if (f >= 31) {
      addCone(paired, LargeCone, y, x);
    } else {
      addCone(paired, SmallCone, y, x);
    }
  }

  // Unpartnered minutiae inside the other print's region count against the pairs.
  for (const OverlapRecordB& record : input.recordsB) {
    if (record.inside == 0 || !paintable(record.y, record.x)) continue;
    addCone(unpaired, SmallCone, record.y, record.x);
    paintBump<false>(fine, record.y, record.x);
  }
  const int countA = std::min<int>(static_cast<int>(input.recordsA.size()), kMaxAOverlap);
  std::array<int32_t, kMaxAOverlap> posY;
  std::array<int32_t, kMaxAOverlap> posX;
  for (int k = 0; k < countA; ++k) {
    const OverlapRecordA& record = input.recordsA[k];
    posY[k] = record.y;
    posX[k] = record.x;
    if (record.mark == 0) {
      if (record.partner != 0 && paintable(record.y, record.x)) {
        addCone(unpaired, SmallCone, record.y, record.x);
        paintBump<false>(fine, record.y, record.x);
      }
    } else if (record.mark >= 2 && record.partner < input.recordsB.size()) {
      const OverlapRecordB& partner = input.recordsB[record.partner];
      posY[k] = (record.y + partner.y) >> 1;
      posX[k] = (record.x + partner.x) >> 1;
      if (paintable(posY[k], posX[k])) {
        addCone(paired, record.mark <= 9 ? SmallCone : LargeCone, posY[k], posX[k]);
        paintBump<true>(fine, posY[k], posX[k]);
      }
    }
  }

  // Balance of pairs against unpaired minutiae; count the cells where the latter win.
  for (int r = r0; r <= r1; ++r) {
    uint16_t* balance = &paired.at(r, c0);
    const uint16_t* against = &unpaired.at(r, c0);
    int negative = 0;
    for (int c = 0; c <= c1 - c0; ++c) {
      balance[c] = static_cast<uint16_t>(balance[c] - against[c]);
      negative += balance[c] < kBalanced ? 1 : 0;
    }
    result.v += negative;
  }

  CoverageBox box{r0, c0, c1 - c0, r1 - r0};
  const int seed = regionEnvelope(paired, box);
  if (seed < 0) return result;

  // Cells over a negative fine cell lose one, so balanced cells there drop out.
  for (int i = box.top / 2; i <= (box.top + box.height) / 2; ++i)
    for (int j = box.left / 2; j <= (box.left + box.width) / 2; ++j)
      if (fine.at(i, j) < kBalanced)
        for (int dr = 0; dr < 2; ++dr)
          for (int dc = 0; dc < 2; ++dc) {
            uint16_t& cell = paired.at(2 * i + dr, 2 * j + dc);
            cell = static_cast<uint16_t>(cell - 1);
          }

  // Components: the seed's first, then every other one in scan order.
  labelComponent(paired, kFirstLabel, box, 0, seed);
  int lastLabel = kFirstLabel;
  const uint64_t markedLanes = laneHighByte(kMarkedByte);
  for (int r = 0; r <= box.height && lastLabel < kLastLabel; ++r) {
    const uint16_t* row = &paired.at(box.top + r, box.left);
    for (int c = 0; c <= box.width && lastLabel < kLastLabel; ++c) {
      if (c + 3 <= box.width && !anyWithHighByte(fourCells(row + c), markedLanes)) {
        c += 3;
        continue;
      }
      if (highByte(row[c]) == kMarkedByte) labelComponent(paired, ++lastLabel, box, r, c);
    }
  }

  // Each partnered A minutia votes for its component with twice its strength, less
  // the unpaired coverage of its cell.
  std::array<int, 256> sums{};
  std::array<uint8_t, kMaxAOverlap> labelOf{};
  std::array<uint16_t, kMaxAOverlap> coverageOf{};
  const auto inWindow = [&](int r, int c) { return r >= r0 && r <= r1 && c >= c0 && c <= c1; };
  for (int k = 0; k < countA; ++k) {
    const int m = input.recordsA[k].mark;
    if (m == 0) continue;
    const int r = posY[k] >> 3;
    const int c = posX[k] >> 3;
    // Cells outside the initialised window hold nothing of this candidate.
    labelOf[k] = inWindow(r, c) ? static_cast<uint8_t>(highByte(paired.at(r, c))) : 0;
    coverageOf[k] = inWindow(r, c) ? unpaired.at(r, c) : 0;
    if (2 * m - coverageOf[k] > 0) sums[labelOf[k]] += 2 * m - coverageOf[k];
  }

  int best = -1;
  for (int label = kFirstLabel; label <= lastLabel; ++label)
    if (sums[label] > 0 && (best < 0 || sums[label] > sums[best])) best = label;
  if (best < 0) return result;

  for (int r = 0; r <= box.height; ++r) {
    const uint16_t* row = &paired.at(box.top + r, box.left);
    int cells = 0;
    for (int c = 0; c <= box.width; ++c) cells += (row[c] >> 8) == best ? 1 : 0;
    result.k += cells;
  }

  result.j = sums[best];
  for (int k = 0; k < countA; ++k) {
    const int m = input.recordsA[k].mark;
    if (m == 0 || labelOf[k] == best) continue;
    result.j += std::max(0, m - (coverageOf[k] >> 4));
  }
  return result;
}

}  // namespace fx60::match
