#include <algorithm>
#include <bit>

#include "match/coverage_cells.h"
#include "match/coverage_kernels.h"

namespace fx60::match {
namespace detail {
namespace {

namespace kernels = coverage_kernels::fast;

// Each bit of the low 32 doubled into two neighbouring bits.
constexpr uint64_t doubleBits(uint32_t bits) {
  uint64_t doubled = 0;
  for (int k = 0; k < 32; ++k)
    if ((bits >> k) & 1u) doubled |= uint64_t{3} << (2 * k);
  return doubled;
}
constexpr auto kDoubledBytes = [] {
  std::array<uint16_t, 256> table{};
  for (uint32_t b = 0; b < 256; ++b) table[b] = static_cast<uint16_t>(doubleBits(b));
  return table;
}();

// Coarse columns 0..last of a row starting at grid column `left` that lie over a fine
// cell below 0x7FFF (fine points at the fine cell of column left).
RowMask overNegativeFine(const uint16_t* fine, int left, int last) {
  const int fineLast = ((left + last) >> 1) - (left >> 1);
  RowMask doubled;
  for (int j = 0; j <= fineLast; j += kGroup)
    placeBits(doubled, 2 * j, kDoubledBytes[kernels::belowBalancedBits(fine + j) & 0xFFu]);
  // An odd left column is the second half of its fine cell.
  return (doubled >> (left & 1)) & RowMask::range(0, last);
}

// Columns 0..last (at most 127) of a row whose high byte is 0x80.
RowMask markedColumns(const uint16_t* row, int last) {
  RowMask mask;
  for (int c = 0; c <= last; c += kGroup) placeBits(mask, c, kernels::markedBits(row + c));
  // Drop the cells past the end that the last group read.
  return mask & RowMask::range(0, last);
}

// Index of the lowest set bit of the 128-bit value, which it clears; the value is not 0.
int takeLowestBit(uint64_t& low, uint64_t& high) {
  if (low != 0) {
    const int bit = std::countr_zero(low);
    low &= low - 1;
    return bit;
  }
  const int bit = 64 + std::countr_zero(high);
  high &= high - 1;
  return bit;
}

uint16_t findRoot(std::array<uint16_t, kMaxRuns>& parent, uint16_t run) {
  while (parent[run] != run) {
    parent[run] = parent[parent[run]];
    run = parent[run];
  }
  return run;
}

// Joins two sets; the smaller index stays the root, so a root is the first run of its set.
void uniteRuns(std::array<uint16_t, kMaxRuns>& parent, uint16_t a, uint16_t b) {
  a = findRoot(parent, a);
  b = findRoot(parent, b);
  if (a < b) parent[b] = a;
  if (b < a) parent[a] = b;
}

// Leaves every run on the first run of its 4-connected component. Parents never point
// to a later run, so one pass in order resolves them all.
void finishRuns(MarkedRuns& marked) {
  for (int k = 0; k < marked.rowStart[marked.rows]; ++k) marked.root[k] = marked.root[marked.root[k]];
}

// Appends the runs of set bits of a row's mask as the runs of the next row. Inlined:
// it runs once per row of every candidate's area.
[[gnu::always_inline]] inline void appendRuns(const RowMask& mask, MarkedRuns& marked) {
  // Locals, so that the byte stores below do not force the counters to be reloaded.
  const int rows = marked.rows;
  const int aboveStart = rows > 0 ? marked.rowStart[rows - 1] : 0;
  const int aboveEnd = marked.rowStart[rows];
  CellRun* const runs = marked.runs.data();
  int count = aboveEnd;
  // A run starts at a set bit whose lower neighbour is clear and ends at one whose
  // upper neighbour is clear; the k-th start belongs to the k-th end.
  uint64_t startsLow = mask.low & ~(mask.low << 1);
  uint64_t startsHigh = mask.high & ~((mask.high << 1) | (mask.low >> 63));
  uint64_t endsLow = mask.low & ~((mask.low >> 1) | (mask.high << 63));
  uint64_t endsHigh = mask.high & ~(mask.high >> 1);
  while ((startsLow | startsHigh) != 0) {
    const int first = takeLowestBit(startsLow, startsHigh);
    const int last = takeLowestBit(endsLow, endsHigh);
    runs[count] = {static_cast<uint8_t>(first), static_cast<uint8_t>(last)};
    marked.root[count] = static_cast<uint16_t>(count);
    ++count;
  }
  // Runs of this row that share a column with runs of the row above join their sets.
  int above = aboveStart;
  int here = aboveEnd;
  while (above < aboveEnd && here < count) {
    const CellRun a = runs[above];
    const CellRun h = runs[here];
    if (a.first <= h.last && h.first <= a.last)
      uniteRuns(marked.root, static_cast<uint16_t>(above), static_cast<uint16_t>(here));
    if (a.last < h.last)
      ++above;
    else
      ++here;
  }
  marked.rows = rows + 1;
  marked.rowStart[rows + 1] = static_cast<uint16_t>(count);
}


}  // namespace

// The runs of marked cells (high byte 0x80) of the box and their 4-connected components.
void findMarkedRuns(const CoarseGrid& grid, const CoverageBox& box, MarkedRuns& marked) {
  marked.rows = 0;
  marked.rowStart[0] = 0;
  for (int r = 0; r <= box.height; ++r) appendRuns(markedColumns(&grid.at(box.top + r, box.left), box.width), marked);
  finishRuns(marked);
}

// The box cells that end up marked once the outline is filled and eroded by the fine
// grid, from the balance masks alone: a cell inside the outline is marked when it is
// positive, or balanced and not over a negative fine cell. Per box row (box columns)
// the cells marked whatever the fine grid holds, and the balanced cells it may erode.
// The erosion covers the 1/16 rows box.top / 2 .. (box.top + box.height) / 2 and the
// columns likewise, the division truncating: so a negative odd top row or left column
// of the box is never eroded.
void classifyFilledCells(const BalanceMasks& masks, int windowTop, const CoverageBox& box, const Outline& outline,
                         FilledCells& cells) {
  const bool erodeTopRow = !(box.top < 0 && (box.top & 1) != 0);
  const bool erodeLeftColumn = !(box.left < 0 && (box.left & 1) != 0);
  const int shift = outline.minLeft;  // window columns to box columns
  cells.firstRow = -1;
  cells.firstColumn = kMaxRows;
  cells.lastColumn = -1;
  for (int r = 0; r <= box.height; ++r) {
    const int windowRow = box.top + r - windowTop;
    const RowMask inside = RowMask::range(outline.first[r] - shift, outline.last[r] - shift);
    const RowMask positive = masks.positive[windowRow] >> shift;
    const RowMask negative = masks.negative[windowRow] >> shift;
    const RowMask balanced = inside & ~(positive | negative);
    RowMask erodable = balanced;
    if (!erodeLeftColumn) erodable.low &= ~uint64_t{1};
    if (r == 0 && !erodeTopRow) erodable = RowMask{};
    cells.sure[r] = (inside & positive) | (balanced & ~erodable);
    cells.erodable[r] = erodable;
    if ((erodable.low | erodable.high) == 0) continue;
    if (cells.firstRow < 0) cells.firstRow = r;
    cells.lastRow = r;
    cells.firstColumn = std::min(cells.firstColumn, erodable.low != 0 ? std::countr_zero(erodable.low)
                                                                     : 64 + std::countr_zero(erodable.high));
    cells.lastColumn = std::max(cells.lastColumn, erodable.high != 0 ? 127 - std::countl_zero(erodable.high)
                                                                     : 63 - std::countl_zero(erodable.low));
  }
}

// The runs of the marked cells and their components, the erodable cells read against
// the fine grid (painted at least under them).
void findFilledRuns(const FilledCells& cells, const FineGrid& fine, const CoverageBox& box, MarkedRuns& marked) {
  marked.rows = 0;
  marked.rowStart[0] = 0;
  RowMask eroded;
  int erodedFineRow = 0;
  bool erodedKnown = false;
  for (int r = 0; r <= box.height; ++r) {
    RowMask marks = cells.sure[r];
    const RowMask& erodable = cells.erodable[r];
    if ((erodable.low | erodable.high) != 0) {
      const int fineRow = (box.top + r) >> 1;
      if (!erodedKnown || fineRow != erodedFineRow) {
        eroded = overNegativeFine(&fine.at(fineRow, box.left >> 1), box.left, box.width);
        erodedFineRow = fineRow;
        erodedKnown = true;
      }
      marks = marks | (erodable & ~eroded);
    }
    appendRuns(marks, marked);
  }
  finishRuns(marked);
}

// Index of the run that holds the cell, or -1.
int runAt(const MarkedRuns& marked, int row, int column) {
  if (row < 0 || row >= marked.rows) return -1;
  for (int k = marked.rowStart[row]; k < marked.rowStart[row + 1]; ++k)
    if (column >= marked.runs[k].first && column <= marked.runs[k].last) return k;
  return -1;
}

// Components in the order the labelling gives them: the seed's first, then by their
// first cell in row-major order, while labels last. Returns the last label given.
int labelComponents(const MarkedRuns& marked, int seedRow, int seedColumn, std::array<uint8_t, kMaxRuns>& label) {
  const int count = marked.rowStart[marked.rows];
  std::fill_n(label.begin(), count, uint8_t{0});
  const int seedRun = runAt(marked, seedRow, seedColumn);
  if (seedRun >= 0) label[marked.root[seedRun]] = kFirstLabel;
  int lastLabel = kFirstLabel;
  for (int k = 0; k < count && lastLabel < kLastLabel; ++k)
    if (marked.root[k] == k && label[k] == 0) label[k] = static_cast<uint8_t>(++lastLabel);
  return lastLabel;
}

}  // namespace detail

using namespace detail;

void labelComponent(CoarseGrid& grid, int label, const CoverageBox& box, int seedRow, int seedColumn) {
  if (!boxInside<CoarseGrid>(box)) return;
  MarkedRuns& marked = coverageWork().marked;
  findMarkedRuns(grid, box, marked);
  const int seedRun = runAt(marked, seedRow, seedColumn);
  if (seedRun < 0) return;
  const uint16_t labelBits = static_cast<uint16_t>(label << 8);
  for (int r = 0; r < marked.rows; ++r) {
    uint16_t* row = &grid.at(box.top + r, box.left);
    for (int k = marked.rowStart[r]; k < marked.rowStart[r + 1]; ++k) {
      if (marked.root[k] != marked.root[seedRun]) continue;
      for (int c = marked.runs[k].first; c <= marked.runs[k].last; ++c)
        row[c] = static_cast<uint16_t>(labelBits | (row[c] & 0xFF));
    }
  }
}

}  // namespace fx60::match
