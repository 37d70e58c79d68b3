// The coverage analysis's own cells and masks, shared by its three files: painting
// and balance (coverage.cpp), the closed outline (coverage_outline.cpp) and the
// components (coverage_components.cpp). Not for use outside the analysis.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

#include "match/coverage.h"

namespace fx60::match::detail {

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

// The calling thread's work buffers of the analysis.
CoverageWork& coverageWork();

template <typename Grid>
constexpr bool boxInside(const CoverageBox& box) {
  return box.width >= 0 && box.height >= 0 && box.height < Grid::kSide && Grid::contains(box.top, box.left) &&
         Grid::contains(box.top + box.height, box.left + box.width);
}

// Adds the bits at column c (a multiple of 8 below 128; the bits end below column 128).
inline void placeBits(RowMask& mask, int c, uint64_t bits) {
  if (c < 64)
    mask.low |= bits << c;
  else
    mask.high |= bits << (c - 64);
}

// The closed outline (coverage_outline.cpp).

// First and last cell of row[0..last] at 0x8000 or above, kept as entry r of the bounds.
void boundMarked(const uint16_t* row, int last, RowBounds& bounds, int r);
// First and last marked column of every row of the box, the marked rows closed into a
// convex outline. Updates the box; returns the seed column or -1 (see regionEnvelope).
int closeOutline(const RowBounds& rows, CoverageBox& box, Outline& outline);
// Fills the outline: positive cells stay marked, balanced cells become marked. Guard
// cells beside the outline stop row scans.
void fillOutline(CoarseGrid& grid, const CoverageBox& box, const Outline& outline);

// The components (coverage_components.cpp).

// The runs of marked cells (high byte 0x80) of the box and their 4-connected components.
void findMarkedRuns(const CoarseGrid& grid, const CoverageBox& box, MarkedRuns& marked);
// The box cells that end up marked once the outline is filled and eroded by the fine
// grid, from the balance masks alone (see coverage_components.cpp).
void classifyFilledCells(const BalanceMasks& masks, int windowTop, const CoverageBox& box, const Outline& outline,
                         FilledCells& cells);
// The runs of the marked cells and their components, the erodable cells read against
// the fine grid (painted at least under them).
void findFilledRuns(const FilledCells& cells, const FineGrid& fine, const CoverageBox& box, MarkedRuns& marked);
// Index of the run that holds the cell, or -1.
int runAt(const MarkedRuns& marked, int row, int column);
// Components in the order the labelling gives them: the seed's first, then by their
// first cell in row-major order, while labels last. Returns the last label given.
int labelComponents(const MarkedRuns& marked, int seedRow, int seedColumn, std::array<uint8_t, kMaxRuns>& label);

}  // namespace fx60::match::detail
