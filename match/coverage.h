// Coverage analysis of an aligned candidate: paints the paired and the unpaired
// minutiae onto coarse grids of the overlap, closes the cells where pairs outweigh
// unpaired minutiae into one convex area, splits it into connected components and
// scores the paired minutiae by the component they fall in.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "match/match_context.h"

namespace fx60::match {

// Unsigned 16-bit cells over the 512 x 512 pixel square at 1/Scale, with a margin of
// cells on every side so that no kernel, window or guard cell leaves the grid. Spare
// cells after the last row let row scans read whole groups of 8 or 16 cells.
template <int Cells, int Margin>
struct CoverageGrid {
  static constexpr int kSide = Cells + 2 * Margin;
  static constexpr int kMin = -Margin;
  static constexpr int kMax = Cells + Margin - 1;
  static constexpr int kSpare = 16;
  std::array<uint16_t, kSide * kSide + kSpare> cells{};
  uint16_t& at(int row, int column) { return cells[(row + Margin) * kSide + column + Margin]; }
  const uint16_t& at(int row, int column) const { return cells[(row + Margin) * kSide + column + Margin]; }
  static constexpr bool contains(int row, int column) {
    return row >= kMin && row <= kMax && column >= kMin && column <= kMax;
  }
};
// Margins also leave room for kernel rows padded to 16 cells.
using CoarseGrid = CoverageGrid<64, 10>;  // 1/8 scale
using FineGrid = CoverageGrid<32, 11>;    // 1/16 scale

inline constexpr uint16_t kBalanced = 0x7FFF;
inline constexpr int kMarkedByte = 0x80;  // high byte of a marked, not yet labelled cell
inline constexpr int kFirstLabel = 129;
inline constexpr int kLastLabel = 255;

// A region of cells: rows top..top + height and columns left..left + width, both ends included.
struct CoverageBox {
  int top = 0;
  int left = 0;
  int width = 0;
  int height = 0;
};

// Overlap rectangle of the two prints, in pixels.
struct OverlapRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

// B minutia in the overlap list of the fine stage.
struct OverlapRecordB {
  int32_t y = 0;
  int32_t x = 0;
  uint8_t angle = 0;
  uint8_t curvature = 0;
  uint8_t inside = 0;  // inside A's widened box; later the region weight
  uint8_t mark = 0;    // partner mark, 255 at the start
};

// A minutia in the overlap list of the fine stage.
struct OverlapRecordA {
  int32_t y = 0;
  int32_t x = 0;
  uint8_t angle = 0;
  uint8_t curvature = 0;
  uint8_t mark = 0;     // strength of its partner, 0 = none
  uint8_t partner = 0;  // B overlap position of the partner; region weight when mark is 0
};

struct CoverageInput {
  std::span<const MatchSingularPoint> singularB;
  std::span<const uint8_t> singularAgreement;  // per B point: agreement f, 0 = no partner
  std::span<const uint8_t> singularPartner;    // per B point: index of its A partner
  std::span<const MatchSingularPoint> singularA;
  std::span<const OverlapRecordB> recordsB;
  std::span<const OverlapRecordA> recordsA;
  OverlapRect rect;
};

struct CoverageResult {
  int j = 0;  // score of the paired minutiae by component
  int k = 0;  // cells of the best component
  int v = 0;  // window cells where unpaired minutiae outweigh pairs
};

// What the balance of the painted grids already tells: v exactly, and upper bounds of
// j and k (each at least the value the components give).
struct CoverageBalance {
  int v = 0;
  int jBound = 0;
  int kBound = 0;
};

namespace detail {
struct CoverageWork;
}

// Coverage analysis in stages, so that a caller can stop once the bounds show that
// the components cannot matter. The input must stay in place while the object is
// used; the stages use this thread's work buffers, so a thread runs one analysis at
// a time.
class CoverageAnalysis {
 public:
  // Paints the coarse grids and balances them.
  explicit CoverageAnalysis(const CoverageInput& input);
  const CoverageBalance& balance() const { return balance_; }
  // Closes the area; the bound of K becomes the cells of its outline that are not
  // negative (both bounds 0 when there is no area).
  void closeArea();
  // Erodes and labels the area and scores the pairs by component.
  CoverageResult components();

 private:
  void paintFine(int r0, int r1, int c0, int c1) const;

  const CoverageInput& input_;
  detail::CoverageWork& work_;
  int r0_ = 0, r1_ = 0, c0_ = 0, c1_ = 0;
  int countA_ = 0;
  CoverageBalance balance_;
  bool closed_ = false;
  int seed_ = -1;
};

// Both stages.
CoverageResult coverageAnalysis(const CoverageInput& input);

// Bounds the marked cells of the box (high byte 0x80 or more), closes them into a
// convex outline and fills it. Updates the box; returns the seed column in the new
// box, or -1 when fewer than five rows hold marked cells.
int regionEnvelope(CoarseGrid& grid, CoverageBox& box);

// Replaces missing values (128 or more as a signed byte) and concave dents of
// values[0..n] by the lower convex hull through the present values. Only the first
// CoarseGrid::kSide + 1 values take part; any beyond stay as they were.
void lowerHullFill(uint8_t* values, int n);

// Writes the label into the high byte of the 4-connected component of marked cells
// (high byte 0x80) that contains the run starting at the seed.
void labelComponent(CoarseGrid& grid, int label, const CoverageBox& box, int seedRow, int seedColumn);

// Kernels: cones at 1/8 scale (offsets up to 6 cells), bump at 1/16 scale (up to 5).
// Rows are padded with zeros to 16 cells so that painting works on whole rows.
inline constexpr int kConeReach = 6;
inline constexpr int kBumpReach = 5;
inline constexpr int kKernelRow = 16;
using ConeKernel = std::array<std::array<uint16_t, kKernelRow>, 2 * kConeReach + 1>;
using BumpKernel = std::array<std::array<uint16_t, kKernelRow>, 2 * kBumpReach + 1>;

// round(centre - slope * d) within d^2 <= 41 cells, 0 beyond.
constexpr ConeKernel makeCone(int centre, int slope) {
  ConeKernel cone{};
  for (int dr = -kConeReach; dr <= kConeReach; ++dr)
    for (int dc = -kConeReach; dc <= kConeReach; ++dc) {
      const int d2 = dr * dr + dc * dc;
      if (d2 > 41) continue;
      // round(slope * sqrt(d2)) exactly: the n with (2n - 1)^2 < 4 slope^2 d2 < (2n + 1)^2.
      const int target = 4 * slope * slope * d2;
      int n = 0;
      while ((2 * n + 1) * (2 * n + 1) < target) ++n;
      cone[dr + kConeReach][dc + kConeReach] = static_cast<uint16_t>(centre - n);
    }
  return cone;
}
inline constexpr ConeKernel SmallCone = makeCone(84, 12);
inline constexpr ConeKernel LargeCone = makeCone(112, 16);

inline constexpr BumpKernel Bump = [] {
  constexpr uint16_t quadrant[6][6] = {
      {256, 192, 128, 32, 8, 2}, {192, 165, 92, 26, 7, 2}, {128, 92, 41, 12, 4, 1},
      {32, 26, 12, 6, 2, 0},     {8, 7, 4, 2, 0, 0},       {2, 2, 0, 0, 0, 0},
  };
  BumpKernel bump{};
  for (int dr = -kBumpReach; dr <= kBumpReach; ++dr)
    for (int dc = -kBumpReach; dc <= kBumpReach; ++dc)
      bump[dr + kBumpReach][dc + kBumpReach] = quadrant[dr < 0 ? -dr : dr][dc < 0 ? -dc : dc];
  return bump;
}();

}  // namespace fx60::match
