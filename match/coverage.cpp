#include "match/coverage.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>

#include "match/coverage_kernels.h"
#include "match/sqrt_tables.h"

namespace fx60::match {
namespace {

namespace kernels = coverage_kernels::fast;

constexpr int kPaintLimit = 512;  // points at 512 or beyond are not painted
constexpr uint16_t kGuardMarked = 0x8001;
constexpr uint16_t kGuardStop = 1;
constexpr uint8_t kMissing = 0xFF;
constexpr int kMinEnvelopeRows = 4;  // the marked rows must span more than this
constexpr int kMaxRows = CoarseGrid::kSide;
constexpr int kMaxAOverlap = kMaxViewMinutiae;
constexpr int kGroup = 8;  // cells handled together by the row kernels
// A row of w cells holds at most (w + 1) / 2 runs.
constexpr int kMaxRuns = kMaxRows * (kMaxRows / 2 + 1);
static_assert(CoarseGrid::kSpare >= 2 * kGroup && FineGrid::kSpare >= kGroup);
// Window rows are at most 128 cells wide, and a scan of one may end 15 cells past it.
static_assert(CoarseGrid::kSide <= 128);

// First and last column of the cells of each row that pass a test; kMissing when none does.
struct RowBounds {
  std::array<uint8_t, kMaxRows> first;
  std::array<uint8_t, kMaxRows> last;
};

// Closed outline of the marked area: per row the first and last column, relative to
// the left edge `origin` of the box that was searched.
struct Outline {
  std::array<uint8_t, kMaxRows> first;
  std::array<uint8_t, kMaxRows> last;
  int origin = 0;
  int minLeft = 0;
  int maxRight = 0;
};

// Columns 0..127 of a box row, one bit each.
struct RowMask {
  uint64_t low = 0;
  uint64_t high = 0;
  RowMask operator&(const RowMask& o) const { return {low & o.low, high & o.high}; }
  RowMask operator|(const RowMask& o) const { return {low | o.low, high | o.high}; }
  RowMask operator~() const { return {~low, ~high}; }
  // Number of set columns. Bit counting in registers: the baseline instruction set has
  // no population count, and the library routine costs a call per word.
  int count() const {
    constexpr uint64_t kOdd = 0x5555555555555555ull, kPairs = 0x3333333333333333ull;
    constexpr uint64_t kNibbles = 0x0F0F0F0F0F0F0F0Full, kBytes = 0x0101010101010101ull;
    uint64_t a = low - ((low >> 1) & kOdd);
    uint64_t b = high - ((high >> 1) & kOdd);
    a = (a & kPairs) + ((a >> 2) & kPairs);
    b = (b & kPairs) + ((b >> 2) & kPairs);
    // Each byte now holds at most 8 + 8 = 16 after the sum of both words.
    const uint64_t bytes = ((a + (a >> 4)) & kNibbles) + ((b + (b >> 4)) & kNibbles);
    return static_cast<int>((bytes * kBytes) >> 56);
  }
  // Columns 0..127 moved down by `shift` (0..127) columns.
  RowMask operator>>(int shift) const {
    if (shift >= 64) return {high >> (shift - 64), 0};
    if (shift == 0) return *this;
    return {(low >> shift) | (high << (64 - shift)), high >> shift};
  }
  // Columns first..last (0 <= first, last <= 127; empty when first > last).
  static RowMask range(int first, int last) {
    const auto below = [](int n) {  // columns below n
      const auto word = [](int bits) {
        return bits <= 0 ? uint64_t{0} : bits >= 64 ? ~uint64_t{0} : (uint64_t{1} << bits) - 1;
      };
      return RowMask{word(n), word(n - 64)};
    };
    return below(last + 1) & ~below(first);
  }
};

struct CellRun {
  uint8_t first;
  uint8_t last;
};

// Maximal runs of marked cells of a box, row by row and left to right, and for each
// the first run (in that order) of its 4-connected component.
struct MarkedRuns {
  int rows = 0;
  std::array<uint16_t, kMaxRows + 1> rowStart;  // runs of row r: rowStart[r] up to rowStart[r + 1]
  std::array<CellRun, kMaxRuns> runs;
  std::array<uint16_t, kMaxRuns> root;
};

// See classifyFilledCells.
struct FilledCells {
  std::array<RowMask, kMaxRows> sure;
  std::array<RowMask, kMaxRows> erodable;
  // Bounds of the erodable cells (box rows and columns); firstRow is -1 when there are none.
  int firstRow = -1;
  int lastRow = -1;
  int firstColumn = 0;
  int lastColumn = -1;
};

// Per window row after the balance: the cells at 0x8000 or above and those below 0x7FFF.
struct BalanceMasks {
  std::array<RowMask, kMaxRows> positive;
  std::array<RowMask, kMaxRows> negative;
};

}  // namespace

namespace detail {
struct CoverageWork {
  CoarseGrid unpaired;  // UnpairedCoverage
  CoarseGrid paired;    // PairedBalance
  FineGrid fine;        // FineBalance
  BalanceMasks balance;
  RowBounds positiveRows;  // of the window
  FilledCells filled;
  CoverageBox box;         // of the closed outline
  Outline outline;
  MarkedRuns marked;
  std::array<uint8_t, kMaxRuns> componentLabel;  // by first run of the component; 0 = none
  // Per A overlap record: the cell it votes from and the unpaired coverage there.
  std::array<int32_t, kMaxAOverlap> posY;
  std::array<int32_t, kMaxAOverlap> posX;
  std::array<uint16_t, kMaxAOverlap> coverageOf;
};
}  // namespace detail

namespace {
using detail::CoverageWork;

CoverageWork& coverageWork() {
  thread_local std::unique_ptr<CoverageWork> work = std::make_unique<CoverageWork>();
  return *work;
}

bool paintable(int y, int x) {
  return static_cast<unsigned>(y) < kPaintLimit && static_cast<unsigned>(x) < kPaintLimit;
}

template <typename Grid>
constexpr bool boxInside(const CoverageBox& box) {
  return box.width >= 0 && box.height >= 0 && box.height < Grid::kSide && Grid::contains(box.top, box.left) &&
         Grid::contains(box.top + box.height, box.left + box.width);
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

// Adds the bits at column c (a multiple of 8 below 128; the bits end below column 128).
void placeBits(RowMask& mask, int c, uint64_t bits) {
  if (c < 64)
    mask.low |= bits << c;
  else
    mask.high |= bits << (c - 64);
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

// First and last cell of row[0..last] at 0x8000 or above, kept as entry r of the bounds.
void boundMarked(const uint16_t* row, int last, RowBounds& bounds, int r) {
  bounds.first[r] = bounds.last[r] = kMissing;
  for (int c = 0; c <= last; ++c)
    if (row[c] >= 0x8000) {
      if (bounds.first[r] == kMissing) bounds.first[r] = static_cast<uint8_t>(c);
      bounds.last[r] = static_cast<uint8_t>(c);
    }
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

// First and last marked column of every row of the box, the marked rows closed into a
// convex outline. Updates the box; returns the seed column or -1 (see regionEnvelope).
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
    kernels::fillRow(row, outline.first[r], outline.last[r]);
    if (!guardsFit) continue;
    row[outline.minLeft - 2] = kGuardMarked;
    row[outline.minLeft - 1] = kGuardStop;
    row[outline.maxRight + 1] = kGuardStop;
    row[outline.maxRight + 2] = kGuardMarked;
  }
}

}  // namespace

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
