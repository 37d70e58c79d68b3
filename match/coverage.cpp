#include "match/coverage.h"

#include <algorithm>
#include <bit>
#include <memory>

#include "match/coverage_cells.h"
#include "match/coverage_kernels.h"

namespace fx60::match {

using namespace detail;

namespace detail {

CoverageWork& coverageWork() {
  thread_local std::unique_ptr<CoverageWork> work = std::make_unique<CoverageWork>();
  return *work;
}

}  // namespace detail

namespace {

namespace kernels = coverage_kernels::fast;

constexpr int kPaintLimit = 512;  // points at 512 or beyond are not painted

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
  for (int r = r0; r <= r1; ++r) kernels::fillCells(&grid.at(r, c0), c1 - c0 + 1, value);
}

// Clears the window of both coarse grids: no unpaired coverage, pairs balanced. Cells
// past the window's right edge, up to a whole group, may be cleared as well: no scan
// of this candidate reads them.
void clearCoarseWindow(CoarseGrid& paired, CoarseGrid& unpaired, int r0, int r1, int c0, int c1) {
  if (r1 < r0) return;
  kernels::clearBalanceRows(&paired.at(r0, c0), &unpaired.at(r0, c0), CoarseGrid::kSide, r1 - r0 + 1, c1 - c0 + 1);
}


// The balance PairedBalance - UnpairedCoverage of the window, cell by cell (16-bit).
// Only its masks are kept, so the grid is left as painted: the positive and negative
// cells of every row, and the bounds of the positive ones (columns counted from the
// window's left edge; kMissing for a row without any). Returns the number of cells
// below 0x7FFF.
int balanceWindow(const CoarseGrid& paired, const CoarseGrid& unpaired, const CoverageBox& window,
                  BalanceMasks& masks, RowBounds& rows) {
  const int last = window.width;
  // The row scans below read whole groups of 16 cells; the cells past the window's
  // last column are dropped here.
  const RowMask windowColumns = RowMask::range(0, last);
  int negative = 0;
  for (int r = 0; r <= window.height; ++r) {
    const uint16_t* balance = &paired.at(window.top + r, window.left);
    const uint16_t* against = &unpaired.at(window.top + r, window.left);
    RowMask positiveCells;
    RowMask negativeCells;
    for (int c = 0; c <= last; c += 2 * kGroup) {
      const coverage_kernels::BalanceBits bits = kernels::balanceBits(balance + c, against + c);
      placeBits(positiveCells, c, bits.positive);
      placeBits(negativeCells, c, bits.negative);
    }
    positiveCells = positiveCells & windowColumns;
    negativeCells = negativeCells & windowColumns;
    negative += negativeCells.count();
    masks.positive[r] = positiveCells;
    masks.negative[r] = negativeCells;
    if ((positiveCells.low | positiveCells.high) == 0) {
      rows.first[r] = rows.last[r] = kMissing;
      continue;
    }
    rows.first[r] = static_cast<uint8_t>(positiveCells.low != 0 ? std::countr_zero(positiveCells.low)
                                                                : 64 + std::countr_zero(positiveCells.high));
    rows.last[r] = static_cast<uint8_t>(positiveCells.high != 0 ? 127 - std::countl_zero(positiveCells.high)
                                                                : 63 - std::countl_zero(positiveCells.low));
  }
  return negative;
}

}  // namespace

CoverageAnalysis::CoverageAnalysis(const CoverageInput& input) : input_(input), work_(coverageWork()) {
  CoverageWork& work = work_;
  CoarseGrid& unpaired = work.unpaired;
  CoarseGrid& paired = work.paired;

  // Window of the overlap with a margin of five cells.
  const int left = std::clamp(input.rect.left, 0, 511);
  const int top = std::clamp(input.rect.top, 0, 511);
  const int right = std::clamp(input.rect.right, left, 511);
  const int bottom = std::clamp(input.rect.bottom, top, 511);
  const int r0 = r0_ = (top >> 3) - 5, r1 = r1_ = (bottom >> 3) + 5;
  const int c0 = c0_ = (left >> 3) - 5, c1 = c1_ = (right >> 3) + 5;
  clearCoarseWindow(paired, unpaired, r0, r1, c0, c1);

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
  for (const OverlapRecordB& record : input.recordsB)
    if (record.inside != 0 && paintable(record.y, record.x)) addCone(unpaired, SmallCone, record.y, record.x);
  const int countA = countA_ = std::min<int>(static_cast<int>(input.recordsA.size()), kMaxAOverlap);
  auto& posY = work.posY;
  auto& posX = work.posX;
  for (int k = 0; k < countA; ++k) {
    const OverlapRecordA& record = input.recordsA[k];
    posY[k] = record.y;
    posX[k] = record.x;
    if (record.mark == 0) {
      if (record.partner != 0 && paintable(record.y, record.x)) addCone(unpaired, SmallCone, record.y, record.x);
    } else if (record.mark >= 2 && record.partner < input.recordsB.size()) {
      const OverlapRecordB& partner = input.recordsB[record.partner];
      posY[k] = (record.y + partner.y) >> 1;
      posX[k] = (record.x + partner.x) >> 1;
      if (paintable(posY[k], posX[k])) addCone(paired, record.mark <= 9 ? SmallCone : LargeCone, posY[k], posX[k]);
    }
  }

  // Balance of pairs against unpaired minutiae; count the cells where the latter win
  // and bound the marked cells of every row for the envelope.
  const CoverageBox window{r0, c0, c1 - c0, r1 - r0};
  RowBounds& rows = work.positiveRows;
  balance_.v = balanceWindow(paired, unpaired, window, work.balance, rows);

  // The area is closed only over at least five rows with positive cells, and then
  // lies within their bounding box: its cells are those of the box that are not
  // negative. Every partnered A minutia adds to J at most the larger of its two votes.
  const int boxRows = std::min(window.height + 1, kMaxRows);
  int firstRow = -1, lastRow = -1, minLeft = kMaxRows, maxRight = -1;
  for (int r = 0; r < boxRows; ++r) {
    if (rows.first[r] == kMissing) continue;
    if (firstRow < 0) firstRow = r;
    lastRow = r;
    minLeft = std::min<int>(minLeft, rows.first[r]);
    maxRight = std::max<int>(maxRight, rows.last[r]);
  }
  if (firstRow < 0 || lastRow - firstRow < kMinEnvelopeRows) return;
  const RowMask columns = RowMask::range(minLeft, maxRight);
  for (int r = firstRow; r <= lastRow; ++r) {
    const RowMask open = columns & ~work.balance.negative[r];
    balance_.kBound += open.count();
  }
  const auto inWindow = [&](int r, int c) { return r >= r0 && r <= r1 && c >= c0 && c <= c1; };
  for (int k = 0; k < countA; ++k) {
    const int m = input.recordsA[k].mark;
    if (m == 0) continue;
    const int r = posY[k] >> 3;
    const int c = posX[k] >> 3;
    // Cells outside the initialised window hold nothing of this candidate.
    const int coverage = work.coverageOf[k] = inWindow(r, c) ? unpaired.at(r, c) : 0;
    balance_.jBound += std::max({0, 2 * m - coverage, m - (coverage >> 4)});
  }
}

void CoverageAnalysis::closeArea() {
  if (closed_) return;
  closed_ = true;
  // A closed area has at least five positive cells; without one J and K stay 0.
  if (balance_.kBound == 0) return;
  CoverageWork& work = work_;
  work.box = {r0_, c0_, c1_ - c0_, r1_ - r0_};
  seed_ = closeOutline(work.positiveRows, work.box, work.outline);
  if (seed_ < 0) {
    balance_.kBound = balance_.jBound = 0;
    return;
  }
  // The components lie inside the outline, on cells that are not negative.
  const Outline& outline = work.outline;
  int cells = 0;
  for (int r = 0; r <= work.box.height; ++r) {
    const RowMask open = RowMask::range(outline.first[r], outline.last[r]) & ~work.balance.negative[work.box.top + r - r0_];
    cells += open.count();
  }
  balance_.kBound = std::min(balance_.kBound, cells);
}

// Sets the fine cells rows r0..r1, columns c0..c1 (all within the fine window) as
// painting the whole window would: balanced, plus the bumps of the pairs, less those
// of the unpartnered minutiae. Bumps out of reach of those cells are left out.
void CoverageAnalysis::paintFine(int r0, int r1, int c0, int c1) const {
  const CoverageInput& input = input_;
  FineGrid& fine = work_.fine;
  fillWindow(fine, r0, r1, c0, c1, kBalanced);
  const auto reaches = [&](int y, int x) {
    const int row = y >> 4;
    const int column = x >> 4;
    return row >= r0 - kBumpReach && row <= r1 + kBumpReach && column >= c0 - kBumpReach && column <= c1 + kBumpReach;
  };
  for (const OverlapRecordB& record : input.recordsB)
    if (record.inside != 0 && paintable(record.y, record.x) && reaches(record.y, record.x))
      paintBump<false>(fine, record.y, record.x);
  for (int k = 0; k < countA_; ++k) {
    const OverlapRecordA& record = input.recordsA[k];
    if (record.mark == 0) {
      if (record.partner != 0 && paintable(record.y, record.x) && reaches(record.y, record.x))
        paintBump<false>(fine, record.y, record.x);
    } else if (record.mark >= 2 && record.partner < input.recordsB.size()) {
      const int y = work_.posY[k];
      const int x = work_.posX[k];
      if (paintable(y, x) && reaches(y, x)) paintBump<true>(fine, y, x);
    }
  }
}

CoverageResult CoverageAnalysis::components() {
  closeArea();
  CoverageResult result;
  result.v = balance_.v;
  if (seed_ < 0) return result;
  CoverageWork& work = work_;
  const CoverageInput& input = input_;
  const int countA = countA_;
  const CoverageBox& box = work.box;
  FilledCells& filled = work.filled;
  classifyFilledCells(work.balance, r0_, box, work.outline, filled);
  if (filled.firstRow >= 0)
    paintFine((box.top + filled.firstRow) >> 1, (box.top + filled.lastRow) >> 1, (box.left + filled.firstColumn) >> 1,
              (box.left + filled.lastColumn) >> 1);

  // Components of the filled outline, eroded where the fine grid is negative: the
  // seed's first, then every other one in scan order. They are kept as runs with a
  // label each instead of being written into the grid.
  MarkedRuns& marked = work.marked;
  findFilledRuns(filled, work.fine, box, marked);
  const int lastLabel = labelComponents(marked, 0, seed_, work.componentLabel);
  const auto labelAt = [&](int r, int c) {
    const int run = runAt(marked, r - box.top, c - box.left);
    return run < 0 ? 0 : work.componentLabel[marked.root[run]];
  };

  // Each partnered A minutia votes for its component with twice its strength, less
  // the unpaired coverage of its cell.
  // Only label 0 (no component) and the given labels are voted for.
  std::array<int, 256> sums;
  sums[0] = 0;
  std::fill(sums.begin() + kFirstLabel, sums.begin() + lastLabel + 1, 0);
  std::array<uint8_t, kMaxAOverlap> labelOf{};
  const auto& coverageOf = work.coverageOf;
  const auto inWindow = [&](int r, int c) { return r >= r0_ && r <= r1_ && c >= c0_ && c <= c1_; };
  for (int k = 0; k < countA; ++k) {
    const int m = input.recordsA[k].mark;
    if (m == 0) continue;
    const int r = work.posY[k] >> 3;
    const int c = work.posX[k] >> 3;
    labelOf[k] = inWindow(r, c) ? labelAt(r, c) : 0;
    if (2 * m - coverageOf[k] > 0) sums[labelOf[k]] += 2 * m - coverageOf[k];
  }

  int best = -1;
  for (int label = kFirstLabel; label <= lastLabel; ++label)
    if (sums[label] > 0 && (best < 0 || sums[label] > sums[best])) best = label;
  if (best < 0) return result;

  const int count = marked.rowStart[marked.rows];
  for (int k = 0; k < count; ++k)
    if (work.componentLabel[marked.root[k]] == best) result.k += marked.runs[k].last - marked.runs[k].first + 1;

  result.j = sums[best];
  for (int k = 0; k < countA; ++k) {
    const int m = input.recordsA[k].mark;
    if (m == 0 || labelOf[k] == best) continue;
    result.j += std::max(0, m - (coverageOf[k] >> 4));
  }
  return result;
}

CoverageResult coverageAnalysis(const CoverageInput& input) { return CoverageAnalysis(input).components(); }

}  // namespace fx60::match
