#include "extract/preconditioning.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#include "extract/grid.h"

namespace fx60::extract {

namespace {

// Exact quotient n / d for n < 65536 and 1 <= d <= 255 by one multiplication:
// with R = floor(2^32 / d) + 1 the error of n R / 2^32 stays below 2^-16, less
// than the smallest distance 1 / d of n / d to the next integer.
constexpr std::array<uint64_t, 256> buildReciprocals() {
  std::array<uint64_t, 256> table{};
  for (uint64_t d = 1; d < 256; ++d) table[d] = (uint64_t{1} << 32) / d + 1;
  return table;
}
constexpr std::array<uint64_t, 256> kReciprocals = buildReciprocals();

inline uint32_t divideSmall(uint32_t n, uint32_t d) { return static_cast<uint32_t>((n * kReciprocals[d]) >> 32); }

constexpr bool divisionIsExact() {
  for (uint32_t d = 1; d < 256; ++d)
    for (uint32_t n = 0; n < 65536; n += 1 + n / 64)
      if (((n * kReciprocals[d]) >> 32) != n / d) return false;
  return true;
}
static_assert(divisionIsExact());

// Feeds the clipped box means of radius R of a w x h image to `row(v, means)`,
// one row at a time in order. Column sums of the rows inside the window are kept
// up to date as the window slides down, then a running sum slides along the row.
template <int R, int W, typename RowSink>
void forEachBoxMeanRow(const uint8_t* src, int height, RowSink&& row) {
  std::array<uint32_t, W> columnSums{};
  std::array<uint8_t, W> means{};
  // Rows 0..R-1 enter before the first output row.
  for (int y = 0; y < std::min(R, height); ++y)
    for (int x = 0; x < W; ++x) columnSums[x] += src[y * W + x];
  for (int v = 0; v < height; ++v) {
    const int entering = v + R;
    if (entering < height)
      for (int x = 0; x < W; ++x) columnSums[x] += src[entering * W + x];
    const int leaving = v - R - 1;
    if (leaving >= 0)
      for (int x = 0; x < W; ++x) columnSums[x] -= src[leaving * W + x];
    const uint32_t rowsInside =
        static_cast<uint32_t>(std::min(height - 1, v + R) - std::max(0, v - R) + 1);
    // Running sum along the row: the window is clipped for the first and last R
    // columns only, so the divisor is constant in between.
    uint32_t sum = 0;
    for (int x = 0; x < R; ++x) sum += columnSums[x];
    for (int u = 0; u <= R; ++u) {
      sum += columnSums[u + R];
      means[u] = static_cast<uint8_t>(divideSmall(sum, rowsInside * static_cast<uint32_t>(u + R + 1)));
    }
    const uint64_t reciprocal = kReciprocals[rowsInside * (2 * R + 1)];
    for (int u = R + 1; u < W - R; ++u) {
      sum += columnSums[u + R] - columnSums[u - R - 1];
      means[u] = static_cast<uint8_t>((sum * reciprocal) >> 32);
    }
    for (int u = W - R; u < W; ++u) {
      sum -= columnSums[u - R - 1];
      means[u] = static_cast<uint8_t>(divideSmall(sum, rowsInside * static_cast<uint32_t>(W - u + R)));
    }
    row(v, means.data());
  }
}

}  // namespace

// Sums of 4, 6 or 9 pixels divided by multiplying with ceil(65536 / n): exact for
// every sum that n pixels can reach, and cheap enough to vectorise.
constexpr uint32_t meanMultiplier(uint32_t n) { return (65536 + n - 1) / n; }
constexpr bool meanMultiplierIsExact(uint32_t n) {
  for (uint32_t sum = 0; sum <= 255 * n; ++sum)
    if (((sum * meanMultiplier(n)) >> 16) != sum / n) return false;
  return true;
}
static_assert(meanMultiplierIsExact(4) && meanMultiplierIsExact(6) && meanMultiplierIsExact(9));

void meanFilter3x3(uint8_t* image) {
  // Input rows y - 1 and y are kept aside because the output overwrites them.
  std::array<uint8_t, kWidth> previous{};
  std::array<uint8_t, kWidth> current{};
  std::array<uint16_t, kWidth> columnSums{};
  for (int y = 0; y < kHeight; ++y) {
    uint8_t* out = image + y * kWidth;
    std::memcpy(current.data(), out, kWidth);
    const uint8_t* next = y + 1 < kHeight ? image + (y + 1) * kWidth : nullptr;
    for (int x = 0; x < kWidth; ++x)
      columnSums[x] = static_cast<uint16_t>(current[x] + (y > 0 ? previous[x] : 0) +
                                            (next != nullptr ? next[x] : 0));
    const uint32_t rows = 1 + (y > 0 ? 1 : 0) + (next != nullptr ? 1 : 0);
    const uint32_t edge = meanMultiplier(2 * rows);
    const uint32_t inner = meanMultiplier(3 * rows);
    out[0] = static_cast<uint8_t>(((columnSums[0] + columnSums[1]) * edge) >> 16);
    for (int x = 1; x < kWidth - 1; ++x)
      out[x] = static_cast<uint8_t>(
          (static_cast<uint32_t>(columnSums[x - 1] + columnSums[x] + columnSums[x + 1]) * inner) >> 16);
    out[kWidth - 1] = static_cast<uint8_t>(((columnSums[kWidth - 2] + columnSums[kWidth - 1]) * edge) >> 16);
    previous = current;
  }
}

void halveImage(uint8_t* image) {
  // Output index 128 v + u never exceeds the input index 512 v + 2 u, so the
  // forward copy reads every source pixel before it is overwritten.
  for (int v = 0; v < kHalfHeight; ++v)
    for (int u = 0; u < kHalfWidth; ++u)
      image[v * kHalfWidth + u] = image[2 * v * kWidth + 2 * u];
}

void normalizeContrast(uint8_t* halfImage) {
  // Local means and deviations come from the values before normalisation, so both
  // are taken in full before any pixel is written.
  std::array<uint8_t, kHalfPixels> means;
  std::array<uint8_t, kHalfPixels> deviations;
  forEachBoxMeanRow<3, kHalfWidth>(halfImage, kHalfHeight, [&](int v, const uint8_t* meanRow) {
    std::memcpy(means.data() + v * kHalfWidth, meanRow, kHalfWidth);
  });
  for (int i = 0; i < kHalfPixels; ++i)
    deviations[i] = static_cast<uint8_t>(std::abs(means[i] - halfImage[i]));
  forEachBoxMeanRow<4, kHalfWidth>(
      deviations.data(), kHalfHeight, [&](int v, const uint8_t* spreadRow) {
        uint8_t* pixels = halfImage + v * kHalfWidth;
        const uint8_t* meanRow = means.data() + v * kHalfWidth;
        for (int u = 0; u < kHalfWidth; ++u) {
          const int mean = meanRow[u];
          const int spread = spreadRow[u];
          const int lo = mean < spread ? 0 : mean - spread;
          const int hi = std::min(255, mean + spread);
          if (hi - lo <= 4) continue;
          const int p = pixels[u];
          if (p >= hi)
            pixels[u] = 255;
          else if (p <= lo)
            pixels[u] = 0;
          else
            pixels[u] = static_cast<uint8_t>(divideSmall(static_cast<uint32_t>((p - lo) * 255), static_cast<uint32_t>(hi - lo)));
        }
      });
}

void doubleImage(uint8_t* image) {
  // Rows are produced from the last to the first. Output row y >= 1 starts beyond
  // the half rows it reads; row 0 reads only half row 0 and goes through the row
  // buffer, so no source pixel is overwritten before it is read.
  std::array<uint8_t, kWidth> row{};
  for (int y = kHeight - 1; y >= 0; --y) {
    const int v = y / 2;
    const int py = y % 2;
    const uint8_t* h0 = image + v * kHalfWidth;
    const uint8_t* h1 = v + 1 < kHalfHeight ? h0 + kHalfWidth : h0;
    if (v < kHalfHeight - 1) {
      for (int u = 0; u < kHalfWidth - 1; ++u) {
        const int s00 = h0[u], s10 = h0[u + 1], s01 = h1[u], s11 = h1[u + 1];
        if (py == 0) {
          row[2 * u] = static_cast<uint8_t>(s00);
          row[2 * u + 1] = static_cast<uint8_t>((2 * s00 + 2 * s10) / 4);
        } else {
          row[2 * u] = static_cast<uint8_t>((2 * s00 + 2 * s01) / 4);
          row[2 * u + 1] = static_cast<uint8_t>((s00 + s10 + s01 + s11) / 4);
        }
      }
      // Last half column: both output columns take the vertical interpolation.
      const int u = kHalfWidth - 1;
      const auto last = static_cast<uint8_t>((h0[u] * (2 - py) + h1[u] * py) / 2);
      row[2 * u] = last;
      row[2 * u + 1] = last;
    } else {
      // Last half row: both output rows take the horizontal interpolation.
      for (int u = 0; u < kHalfWidth - 1; ++u) {
        row[2 * u] = h0[u];
        row[2 * u + 1] = static_cast<uint8_t>((h0[u] + h0[u + 1]) / 2);
      }
      row[kWidth - 2] = h0[kHalfWidth - 1];
      row[kWidth - 1] = h0[kHalfWidth - 1];
    }
    std::memcpy(image + y * kWidth, row.data(), kWidth);
  }
}

}  // namespace fx60::extract
