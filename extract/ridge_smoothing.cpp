#include "extract/ridge_smoothing.h"

#include "extract/block_row_ring.h"

#include <algorithm>
#include <cstring>

#include "extract/ridge_kernels.h"

namespace fx60::extract {

namespace {

namespace kernels = ridge_kernels::fast;
using ridge_kernels::InteriorKernel;

// Rows 0..30 (horizontal ridges to the down-right diagonal); the rest follow by
// mirroring about the diagonal and by quarter turns.
constexpr int kGivenRows = 31;
constexpr std::array<SmoothingKernel, kGivenRows> kGivenKernels = {{
    {46, 5, {{{1, 0, 21}, {2, 0, 21}, {3, 0, 21}, {4, 0, 21}, {5, 0, 21}}}},
    {46, 7, {{{1, 0, 21}, {2, 0, 21}, {3, 0, 21}, {4, 0, 19}, {5, 0, 18}, {4, 1, 2}, {5, 1, 3}}}},
    {48, 7, {{{1, 0, 21}, {2, 0, 21}, {3, 0, 21}, {4, 0, 17}, {5, 0, 15}, {4, 1, 4}, {5, 1, 5}}}},
    {46, 7, {{{1, 0, 21}, {2, 0, 21}, {3, 0, 21}, {4, 0, 14}, {5, 0, 13}, {4, 1, 7}, {5, 1, 8}}}},
    {46, 7, {{{1, 0, 21}, {2, 0, 21}, {3, 0, 21}, {4, 0, 12}, {5, 0, 10}, {4, 1, 9}, {5, 1, 11}}}},
    {46, 7, {{{1, 0, 21}, {2, 0, 21}, {3, 0, 13}, {4, 0, 10}, {3, 1, 8}, {4, 1, 11}, {5, 1, 21}}}},
    {46, 7, {{{1, 0, 21}, {2, 0, 21}, {3, 0, 11}, {4, 0, 8}, {3, 1, 10}, {4, 1, 13}, {5, 1, 21}}}},
    {48, 7, {{{1, 0, 21}, {2, 0, 13}, {3, 0, 9}, {2, 1, 8}, {3, 1, 12}, {4, 1, 21}, {5, 1, 20}}}},
    {48, 7, {{{1, 0, 21}, {2, 0, 12}, {3, 0, 8}, {2, 1, 9}, {3, 1, 14}, {4, 1, 21}, {5, 1, 19}}}},
    {46, 7, {{{1, 0, 21}, {2, 0, 11}, {3, 0, 6}, {2, 1, 10}, {3, 1, 15}, {4, 1, 22}, {5, 1, 20}}}},
    {46, 7, {{{1, 0, 16}, {2, 0, 10}, {1, 1, 6}, {2, 1, 12}, {3, 1, 21}, {4, 1, 21}, {5, 1, 19}}}},
    {48, 7, {{{1, 0, 21}, {2, 0, 9}, {2, 1, 13}, {3, 1, 21}, {4, 1, 21}, {5, 1, 11}, {5, 2, 8}}}},
    {44, 7, {{{1, 0, 22}, {2, 0, 8}, {2, 1, 14}, {3, 1, 22}, {4, 1, 22}, {5, 1, 8}, {5, 2, 10}}}},
    {46, 7, {{{1, 0, 14}, {1, 1, 8}, {2, 1, 22}, {3, 1, 22}, {4, 1, 13}, {4, 2, 9}, {5, 2, 17}}}},
    {48, 7, {{{1, 0, 13}, {1, 1, 9}, {2, 1, 22}, {3, 1, 22}, {4, 1, 10}, {4, 2, 12}, {5, 2, 16}}}},
    {48, 7, {{{1, 0, 13}, {1, 1, 10}, {2, 1, 23}, {3, 1, 23}, {4, 1, 8}, {4, 2, 14}, {5, 2, 13}}}},
    {48, 7, {{{1, 0, 13}, {1, 1, 10}, {2, 1, 23}, {3, 1, 15}, {3, 2, 8}, {4, 2, 23}, {5, 2, 12}}}},
    {48, 7, {{{1, 0, 12}, {1, 1, 11}, {2, 1, 24}, {3, 1, 13}, {3, 2, 10}, {4, 2, 23}, {5, 2, 11}}}},
    {46, 7, {{{1, 0, 11}, {1, 1, 12}, {2, 1, 25}, {3, 1, 11}, {3, 2, 12}, {4, 2, 24}, {5, 2, 10}}}},
    {50, 7, {{{1, 0, 11}, {1, 1, 13}, {2, 1, 24}, {3, 1, 9}, {3, 2, 14}, {4, 2, 23}, {5, 2, 9}}}},
    {52, 7, {{{1, 0, 11}, {1, 1, 14}, {2, 1, 26}, {3, 1, 8}, {3, 2, 17}, {4, 2, 17}, {4, 3, 9}}}},
    {52, 7, {{{1, 0, 10}, {1, 1, 15}, {2, 1, 18}, {2, 2, 7}, {3, 2, 26}, {4, 2, 14}, {4, 3, 12}}}},
    {50, 7, {{{1, 0, 10}, {1, 1, 15}, {2, 1, 16}, {2, 2, 9}, {3, 2, 28}, {4, 2, 11}, {4, 3, 14}}}},
    {50, 7, {{{1, 0, 9}, {1, 1, 16}, {2, 1, 15}, {2, 2, 10}, {3, 2, 28}, {4, 2, 8}, {4, 3, 17}}}},
    {50, 7, {{{1, 0, 9}, {1, 1, 17}, {2, 1, 14}, {2, 2, 12}, {3, 2, 19}, {3, 3, 7}, {4, 3, 25}}}},
    {52, 7, {{{1, 0, 8}, {1, 1, 18}, {2, 1, 12}, {2, 2, 14}, {3, 2, 16}, {3, 3, 10}, {4, 3, 24}}}},
    {54, 7, {{{1, 0, 8}, {1, 1, 20}, {2, 1, 11}, {2, 2, 15}, {3, 2, 14}, {3, 3, 12}, {4, 3, 21}}}},
    {54, 7, {{{1, 0, 7}, {1, 1, 22}, {2, 1, 10}, {2, 2, 17}, {3, 2, 12}, {3, 3, 14}, {4, 3, 19}}}},
    {52, 7, {{{1, 0, 7}, {1, 1, 23}, {2, 1, 8}, {2, 2, 20}, {3, 2, 10}, {3, 3, 17}, {4, 3, 17}}}},
    {50, 7, {{{1, 1, 30}, {2, 1, 7}, {2, 2, 22}, {3, 2, 8}, {3, 3, 21}, {4, 3, 8}, {4, 4, 7}}}},
    {48, 6, {{{1, 1, 31}, {2, 2, 31}, {3, 3, 19}, {4, 3, 8}, {3, 4, 8}, {4, 4, 7}}}},
}};

constexpr std::array<SmoothingKernel, kOrientationSteps> buildKernels() {
  std::array<SmoothingKernel, kOrientationSteps> kernels{};
  for (int h = 0; h < kGivenRows; ++h) kernels[h] = kGivenKernels[h];
  // Mirror about the diagonal: 60 - h is h with dx and dy exchanged.
  for (int h = 1; h < 30; ++h) {
    SmoothingKernel k = kGivenKernels[h];
    for (SmoothingTap& t : k.taps) t = {t.dy, t.dx, t.weight};
    kernels[60 - h] = k;
  }
  // Quarter turn: h + 60 is h with (dx, dy) replaced by (-dy, dx).
  for (int h = 0; h < 60; ++h) {
    SmoothingKernel k = kernels[h];
    for (SmoothingTap& t : k.taps) t = {static_cast<int8_t>(-t.dy), t.dx, t.weight};
    kernels[h + 60] = k;
  }
  return kernels;
}

constexpr std::array<SmoothingKernel, kOrientationSteps> kKernels = buildKernels();

constexpr bool weightsSumTo256() {
  for (const SmoothingKernel& k : kKernels) {
    int sum = k.centreWeight;
    for (int i = 0; i < k.tapCount; ++i) sum += 2 * k.taps[i].weight;
    if (sum != 256) return false;
  }
  return true;
}
static_assert(weightsSumTo256(), "every smoothing kernel must keep a flat area unchanged");

constexpr std::array<InteriorKernel, kOrientationSteps> buildInteriorKernels() {
  std::array<InteriorKernel, kOrientationSteps> table{};
  for (int h = 0; h < kOrientationSteps; ++h) {
    table[h].centreWeight = kKernels[h].centreWeight;
    for (int i = 0; i < kKernels[h].tapCount; ++i) {
      table[h].offsets[i] = kKernels[h].taps[i].dy * kWidth + kKernels[h].taps[i].dx;
      table[h].weights[i] = kKernels[h].taps[i].weight;
    }
  }
  return table;
}
constexpr std::array<InteriorKernel, kOrientationSteps> kInteriorKernels = buildInteriorKernels();


inline bool insideImage(int x, int y) { return x >= 0 && x < kWidth && y >= 0 && y < kHeight; }

// Cells near the border use only the samples inside the image and divide by the
// weights of those samples.
void smoothBorderBlock(const uint8_t* image, const SmoothingKernel& k, int r, int c, BlockRow& out) {
  for (int by = 0; by < kCellSpacing; ++by) {
    const int y = kCellSpacing * r + 1 + by;
    for (int bx = 0; bx < kCellSpacing; ++bx) {
      const int x = kCellSpacing * c + 1 + bx;
      int acc = k.centreWeight * image[y * kWidth + x];
      int weights = k.centreWeight;
      for (int i = 0; i < k.tapCount; ++i) {
        const SmoothingTap& t = k.taps[i];
        if (insideImage(x + t.dx, y + t.dy)) {
          acc += t.weight * image[(y + t.dy) * kWidth + x + t.dx];
          weights += t.weight;
        }
        if (insideImage(x - t.dx, y - t.dy)) {
          acc += t.weight * image[(y - t.dy) * kWidth + x - t.dx];
          weights += t.weight;
        }
      }
      out[by * kWidth + x] = static_cast<uint8_t>(acc / weights);
    }
  }
}

// Largest |dx| and |dy| over the taps of each kernel.
struct KernelReach {
  int x, y;
};
constexpr std::array<KernelReach, kOrientationSteps> buildReaches() {
  std::array<KernelReach, kOrientationSteps> table{};
  for (int h = 0; h < kOrientationSteps; ++h)
    for (int i = 0; i < kKernels[h].tapCount; ++i) {
      const SmoothingTap& t = kKernels[h].taps[i];
      table[h].x = std::max(table[h].x, t.dx < 0 ? -t.dx : static_cast<int>(t.dx));
      table[h].y = std::max(table[h].y, t.dy < 0 ? -t.dy : static_cast<int>(t.dy));
    }
  return table;
}
constexpr std::array<KernelReach, kOrientationSteps> kReaches = buildReaches();

// True when every sample of the cell's 3 x 3 pixels lies inside the image, so
// that the interior form gives the same result; true for every cell at least two
// cells from the border. Cells in the last three rows always take the border
// form, since the eight-pixel loads there could run past the image.
inline bool kernelFitsCell(int r, int c, int h) {
  const KernelReach reach = kReaches[h];
  return r <= 116 && kCellSpacing * r + 1 >= reach.y && kCellSpacing * c + 1 >= reach.x &&
         kCellSpacing * c + 3 + reach.x < kWidth;
}

void smoothCellRow(const uint8_t* image, const OrientationMap& orientation, int r, BlockRow& out) {
  for (int c = 0; c < kGridColumns;) {
    const int h = orientationOf(orientation[cellIndex(r, c)]);
    if (kernelFitsCell(r, c, h)) {
      int cells = 1;
      while (c + cells < kGridColumns && orientationOf(orientation[cellIndex(r, c + cells)]) == h &&
             kernelFitsCell(r, c + cells, h))
        ++cells;
      kernels::smoothInteriorBlocks(image, kInteriorKernels[h], r, c, cells, out);
      c += cells;
    } else {
      smoothBorderBlock(image, kKernels[h], r, c, out);
      ++c;
    }
  }
}

}  // namespace

const std::array<SmoothingKernel, kOrientationSteps>& ridgeSmoothingKernels() { return kKernels; }

void smoothAlongRidges(uint8_t* image, const OrientationMap& orientation) {
  filterByBlockRows(image, [&](int r, BlockRow& out) { smoothCellRow(image, orientation, r, out); });
}

}  // namespace fx60::extract
