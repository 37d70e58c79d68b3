#include <algorithm>

#include "match/coverage_cells.h"
#include "match/coverage_kernels.h"
#include "match/sqrt_tables.h"

namespace fx60::match {
namespace detail {

void boundMarked(const uint16_t* row, int last, RowBounds& bounds, int r) {
  bounds.first[r] = bounds.last[r] = kMissing;
  for (int c = 0; c <= last; ++c)
    if (row[c] >= 0x8000) {
      if (bounds.first[r] == kMissing) bounds.first[r] = static_cast<uint8_t>(c);
      bounds.last[r] = static_cast<uint8_t>(c);
    }
}

int closeOutline(const RowBounds& rows, CoverageBox& box, Outline& outline) {
  const int boxRows = std::min(box.height + 1, kMaxRows);
  int firstRow = -1;
  int lastRow = 0;
  for (int r = 0; r < boxRows; ++r) {
    if (rows.first[r] == kMissing) continue;
    if (firstRow < 0) firstRow = r;
    lastRow = r;
  }
  if (firstRow < 0 || firstRow == box.height) return -1;

  // From here rows count from the first marked one.
  box.top += firstRow;
  lastRow -= firstRow;
  auto& first = outline.first;
  auto& last = outline.last;
  for (int r = 0; r <= lastRow; ++r) {
    first[r] = rows.first[r + firstRow];
    last[r] = rows.last[r + firstRow];
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
  outline.origin = box.left;
  outline.minLeft = minLeft;
  outline.maxRight = maxRight;
  box.left += minLeft;
  box.width = maxRight - minLeft;
  box.height = lastRow;
  if (lastRow < kMinEnvelopeRows) return -1;

  for (int r = firstMinRow; r <= lastMinRow; ++r) first[r] = static_cast<uint8_t>(minLeft);
  for (int r = firstMaxRow; r <= lastMaxRow; ++r) last[r] = static_cast<uint8_t>(maxRight);

  // Convex outline: each side is filled outwards from its extreme row by the lower
  // hull of the distances from the extreme column.
  std::array<uint8_t, kMaxRows> run;
  const auto side = [&](std::array<uint8_t, kMaxRows>& column, int from, int step, int to, bool right) {
    const int n = (to - from) * step;
    for (int i = 0; i <= n; ++i) {
      const uint8_t value = column[from + i * step];
      run[i] = value == kMissing ? kMissing : static_cast<uint8_t>(right ? maxRight - value : value);
    }
    lowerHullFill(run.data(), n);
    for (int i = 0; i <= n; ++i) column[from + i * step] = static_cast<uint8_t>(right ? maxRight - run[i] : run[i]);
  };
  side(first, firstMinRow, -1, 0, false);
  side(first, lastMinRow, 1, lastRow, false);
  side(last, firstMaxRow, -1, 0, true);
  side(last, lastMaxRow, 1, lastRow, true);
  return first[0] - minLeft;
}

// Fills the outline: positive cells stay marked, balanced cells become marked. Guard
// cells beside the outline stop row scans.
void fillOutline(CoarseGrid& grid, const CoverageBox& box, const Outline& outline) {
  const int guardLeft = outline.origin + outline.minLeft - 2;
  const int guardRight = outline.origin + outline.maxRight + 2;
  const bool guardsFit = CoarseGrid::contains(box.top, guardLeft) && CoarseGrid::contains(box.top, guardRight);
  for (int r = 0; r <= box.height; ++r) {
    uint16_t* row = &grid.at(box.top + r, outline.origin);
    coverage_kernels::fast::fillRow(row, outline.first[r], outline.last[r]);
    if (!guardsFit) continue;
    row[outline.minLeft - 2] = kGuardMarked;
    row[outline.minLeft - 1] = kGuardStop;
    row[outline.maxRight + 1] = kGuardStop;
    row[outline.maxRight + 2] = kGuardMarked;
  }
}

}  // namespace detail

using namespace detail;

void lowerHullFill(uint8_t* values, int n) {
  // The outline never needs more than one value per grid row; longer runs keep their
  // values past that bound rather than overflow the hull.
  n = std::min(n, kMaxRows);
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
  if (!boxInside<CoarseGrid>(box)) return -1;
  RowBounds rows;
  for (int r = 0; r <= box.height; ++r) boundMarked(&grid.at(box.top + r, box.left), box.width, rows, r);
  Outline outline;
  const int seed = closeOutline(rows, box, outline);
  if (seed >= 0) fillOutline(grid, box, outline);
  return seed;
}

}  // namespace fx60::match
