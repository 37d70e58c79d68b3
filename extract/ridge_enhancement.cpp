#include "extract/ridge_enhancement.h"

#include "extract/block_row_ring.h"

#include <algorithm>
#include <cstring>

#include "extract/ridge_kernels.h"

namespace fx60::extract {

namespace {

namespace kernels = ridge_kernels::fast;

constexpr int kGivenBuckets = 11;  // buckets 0..10 per class; the rest by symmetry

using GivenKernels = std::array<std::array<EnhancementKernel, kGivenBuckets>, kPeriodClasses>;
constexpr GivenKernels kGivenKernels = {{
    {{
        {{{1, 0, 176}, {0, -1, 0}, {0, -2, -137}, {0, -3, -147}, {0, -4, -20}}},
        {{{1, 0, 176}, {0, -1, 0}, {0, -2, -138}, {0, -3, -147}, {0, -4, -19}}},
        {{{1, 0, 176}, {0, -1, 0}, {0, -2, -143}, {0, -3, -146}, {1, -4, -15}}},
        {{{1, 0, 176}, {0, -1, 0}, {0, -2, -151}, {1, -3, -144}, {1, -4, -9}}},
        {{{1, 0, 176}, {0, -1, 0}, {1, -2, -163}, {1, -3, -140}, {1, -4, -1}}},
        {{{1, 0, 176}, {0, -1, 0}, {1, -2, -174}, {1, -3, -130}, {2, -4, 0}}},
        {{{1, 1, 176}, {1, -1, 0}, {1, -2, -187}, {2, -3, -117}, {2, -4, 0}}},
        {{{1, 1, 176}, {1, -1, 0}, {1, -2, -206}, {2, -3, -98}, {2, -4, 0}}},
        {{{1, 1, 176}, {1, -1, 0}, {1, -2, -230}, {2, -3, -74}, {3, -4, 0}}},
        {{{1, 1, 176}, {1, -1, 0}, {2, -2, -264}, {3, -3, -40}, {3, -4, 0}}},
        {{{1, 1, 176}, {1, -1, -16}, {2, -2, -288}, {3, -3, 0}, {4, -4, 0}}},
    }},
    {{
        {{{1, 0, 176}, {0, -2, -37}, {0, -3, -141}, {0, -4, -103}, {0, -5, -23}}},
        {{{1, 0, 176}, {0, -2, -38}, {0, -3, -141}, {0, -4, -103}, {0, -5, -22}}},
        {{{1, 0, 176}, {0, -2, -42}, {0, -3, -143}, {1, -4, -100}, {1, -5, -19}}},
        {{{1, 0, 175}, {0, -2, -48}, {1, -3, -145}, {1, -4, -96}, {1, -5, -14}}},
        {{{1, 0, 175}, {1, -2, -57}, {1, -3, -149}, {1, -4, -90}, {2, -5, -7}}},
        {{{1, 0, 176}, {1, -2, -69}, {1, -3, -153}, {2, -4, -82}, {2, -5, 0}}},
        {{{1, 1, 176}, {1, -2, -84}, {2, -3, -152}, {2, -4, -68}, {3, -5, 0}}},
        {{{1, 1, 176}, {1, -2, -102}, {2, -3, -151}, {2, -4, -51}, {3, -5, 0}}},
        {{{1, 1, 176}, {1, -2, -125}, {2, -3, -147}, {3, -4, -32}, {4, -5, 0}}},
        {{{1, 1, 176}, {2, -2, -156}, {3, -3, -139}, {3, -4, -9}, {4, -5, 0}}},
        {{{1, 1, 176}, {2, -2, -187}, {3, -3, -117}, {4, -4, 0}, {5, -5, 0}}},
    }},
    {{
        {{{1, 0, 176}, {0, -2, 0}, {0, -3, -123}, {0, -4, -124}, {0, -5, -57}}},
        {{{1, 0, 176}, {0, -2, -1}, {0, -3, -124}, {0, -4, -124}, {0, -5, -55}}},
        {{{1, 0, 176}, {0, -2, -4}, {0, -3, -126}, {1, -4, -122}, {1, -5, -52}}},
        {{{1, 0, 176}, {0, -2, -10}, {1, -3, -129}, {1, -4, -118}, {1, -5, -47}}},
        {{{1, 0, 176}, {1, -2, -18}, {1, -3, -133}, {1, -4, -114}, {2, -5, -39}}},
        {{{1, 0, 176}, {1, -2, -29}, {1, -3, -138}, {2, -4, -108}, {2, -5, -29}}},
        {{{1, 1, 176}, {1, -2, -43}, {2, -3, -144}, {2, -4, -99}, {3, -5, -18}}},
        {{{1, 1, 176}, {1, -2, -61}, {2, -3, -150}, {2, -4, -87}, {3, -5, -6}}},
        {{{1, 1, 176}, {1, -2, -82}, {2, -3, -153}, {3, -4, -69}, {4, -5, 0}}},
        {{{1, 1, 176}, {2, -2, -109}, {3, -3, -150}, {3, -4, -45}, {4, -5, 0}}},
        {{{1, 1, 176}, {2, -2, -143}, {3, -3, -142}, {4, -4, -19}, {5, -5, 0}}},
    }},
    {{
        {{{1, 0, 175}, {0, -2, 0}, {0, -3, -88}, {0, -4, -126}, {0, -5, -89}}},
        {{{1, 0, 176}, {0, -2, 0}, {0, -3, -89}, {0, -4, -126}, {0, -5, -89}}},
        {{{1, 0, 176}, {0, -2, 0}, {0, -3, -92}, {1, -4, -126}, {1, -5, -86}}},
        {{{1, 0, 176}, {0, -2, 0}, {1, -3, -96}, {1, -4, -126}, {1, -5, -82}}},
        {{{1, 0, 176}, {1, -2, 0}, {1, -3, -102}, {1, -4, -126}, {2, -5, -76}}},
        {{{1, 0, 176}, {1, -2, 0}, {1, -3, -111}, {2, -4, -125}, {2, -5, -68}}},
        {{{1, 1, 176}, {1, -2, 0}, {2, -3, -123}, {2, -4, -124}, {3, -5, -57}}},
        {{{1, 1, 176}, {1, -2, -15}, {2, -3, -131}, {2, -4, -116}, {3, -5, -42}}},
        {{{1, 1, 176}, {1, -2, -34}, {2, -3, -141}, {3, -4, -104}, {4, -5, -25}}},
        {{{1, 1, 176}, {2, -2, -59}, {3, -3, -150}, {3, -4, -88}, {4, -5, -7}}},
        {{{1, 1, 175}, {2, -2, -89}, {3, -3, -152}, {4, -4, -62}, {5, -5, 0}}},
    }},
}};

using KernelBank = std::array<std::array<EnhancementKernel, kOrientationBuckets>, kPeriodClasses>;

constexpr KernelBank buildBank() {
  KernelBank bank{};
  for (int cls = 0; cls < kPeriodClasses; ++cls) {
    for (int b = 0; b < kGivenBuckets; ++b) bank[cls][b] = kGivenKernels[cls][b];
    // Mirror about the diagonal: bucket 20 - b takes (dx, dy) -> (-dy, -dx).
    for (int b = 1; b <= 9; ++b) {
      EnhancementKernel k = kGivenKernels[cls][b];
      for (EnhancementTap& t : k) t = {static_cast<int8_t>(-t.dy), static_cast<int8_t>(-t.dx), t.weight};
      bank[cls][20 - b] = k;
    }
    // Quarter turn: bucket b + 20 takes (dx, dy) -> (-dy, dx).
    for (int b = 0; b < 20; ++b) {
      EnhancementKernel k = bank[cls][b];
      for (EnhancementTap& t : k) t = {static_cast<int8_t>(-t.dy), t.dx, t.weight};
      bank[cls][b + 20] = k;
    }
  }
  return bank;
}
constexpr KernelBank kBank = buildBank();

constexpr bool kernelsHaveNoFlatResponse() {
  for (const auto& row : kBank)
    for (const EnhancementKernel& k : row) {
      int sum = 0;
      for (const EnhancementTap& t : k) sum += t.weight;
      if (2 * sum != -256) return false;
    }
  return true;
}
static_assert(kernelsHaveNoFlatResponse(), "a flat area must come out as 127");

// Interior form of the bank: index offsets of the taps.
using KernelOffsets = std::array<std::array<std::array<int, 5>, kOrientationBuckets>, kPeriodClasses>;
constexpr KernelOffsets buildOffsets() {
  KernelOffsets table{};
  for (int cls = 0; cls < kPeriodClasses; ++cls)
    for (int b = 0; b < kOrientationBuckets; ++b)
      for (int i = 0; i < 5; ++i) table[cls][b][i] = kBank[cls][b][i].dy * kWidth + kBank[cls][b][i].dx;
  return table;
}
constexpr KernelOffsets kOffsets = buildOffsets();

using ridge_kernels::kOutputBias;

inline uint8_t clampToByte(int e) { return e < 0 ? 0 : (e >= 65536 ? 255 : static_cast<uint8_t>(e >> 8)); }
inline bool insideImage(int x, int y) { return x >= 0 && x < kWidth && y >= 0 && y < kHeight; }

void copyBlock(const uint8_t* image, int r, int c, BlockRow& out) {
  for (int by = 0; by < kCellSpacing; ++by) {
    const int y = kCellSpacing * r + 1 + by;
    const int x = kCellSpacing * c + 1;
    std::memcpy(out.data() + by * kWidth + x, image + y * kWidth + x, kCellSpacing);
  }
}

// Near the border only the samples inside the image count, and the centre pixel
// balances exactly their weights.
void enhanceBorderBlock(const uint8_t* image, const EnhancementKernel& k, int r, int c, BlockRow& out) {
  for (int by = 0; by < kCellSpacing; ++by) {
    const int y = kCellSpacing * r + 1 + by;
    for (int bx = 0; bx < kCellSpacing; ++bx) {
      const int x = kCellSpacing * c + 1 + bx;
      int e = kOutputBias;
      int weights = 0;
      for (const EnhancementTap& t : k) {
        if (insideImage(x + t.dx, y + t.dy)) {
          e += t.weight * image[(y + t.dy) * kWidth + x + t.dx];
          weights += t.weight;
        }
        if (insideImage(x - t.dx, y - t.dy)) {
          e += t.weight * image[(y - t.dy) * kWidth + x - t.dx];
          weights += t.weight;
        }
      }
      out[by * kWidth + x] = clampToByte(e - image[y * kWidth + x] * weights);
    }
  }
}

// Largest |dx| and |dy| over the taps of each kernel.
struct KernelReach {
  int x, y;
};
using KernelReaches = std::array<std::array<KernelReach, kOrientationBuckets>, kPeriodClasses>;
constexpr KernelReaches buildReaches() {
  KernelReaches table{};
  for (int cls = 0; cls < kPeriodClasses; ++cls)
    for (int b = 0; b < kOrientationBuckets; ++b)
      for (const EnhancementTap& t : kBank[cls][b]) {
        table[cls][b].x = std::max(table[cls][b].x, t.dx < 0 ? -t.dx : static_cast<int>(t.dx));
        table[cls][b].y = std::max(table[cls][b].y, t.dy < 0 ? -t.dy : static_cast<int>(t.dy));
      }
  return table;
}
constexpr KernelReaches kReaches = buildReaches();

// True when every tap of the cell's 3 x 3 pixels lies inside the image, so that
// the interior form gives the same result; true for every cell at least two
// cells from the border. Cells in the last three rows always take the border
// form, since the eight-pixel loads there could run past the image.
inline bool kernelFitsCell(int r, int c, int kernel) {
  const KernelReach reach = kReaches[kernel / kOrientationBuckets][kernel % kOrientationBuckets];
  return r <= 116 && kCellSpacing * r + 1 >= reach.y && kCellSpacing * c + 1 >= reach.x &&
         kCellSpacing * c + 3 + reach.x < kWidth;
}

void enhanceCellRow(const uint8_t* image, const OrientationMap& orientation, const PeriodMap& periods, int r,
                    BlockRow& out) {
  auto kernelOf = [&](int c) {
    return periodClass(periods[cellIndex(r, c)]) * kOrientationBuckets +
           orientationBucket(orientationOf(orientation[cellIndex(r, c)]));
  };
  for (int c = 0; c < kGridColumns;) {
    if (periods[cellIndex(r, c)] == 0) {
      copyBlock(image, r, c, out);
      ++c;
      continue;
    }
    const int kernel = kernelOf(c);
    const int cls = kernel / kOrientationBuckets, bucket = kernel % kOrientationBuckets;
    if (kernelFitsCell(r, c, kernel)) {
      // The following cells with the same kernel join this one.
      int cells = 1;
      while (c + cells < kGridColumns && periods[cellIndex(r, c + cells)] != 0 && kernelOf(c + cells) == kernel &&
             kernelFitsCell(r, c + cells, kernel))
        ++cells;
      kernels::enhanceInteriorBlocks(image, kBank[cls][bucket], kOffsets[cls][bucket], r, c, cells, out);
      c += cells;
    } else {
      enhanceBorderBlock(image, kBank[cls][bucket], r, c, out);
      ++c;
    }
  }
}

}  // namespace

const EnhancementKernel& enhancementKernel(int periodClass, int bucket) { return kBank[periodClass][bucket]; }

void enhanceRidges(const OrientationMap& orientation, const PeriodMap& periods, uint8_t* image) {
  filterByBlockRows(image, [&](int r, BlockRow& out) { enhanceCellRow(image, orientation, periods, r, out); });
}

}  // namespace fx60::extract
