#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <utility>

#include "extract/minutiae_stages.h"

namespace fx60::extract {
namespace {

// Window half-sizes chosen by the period code: 7 x 7, 11 x 11 and 15 x 15 pixels.
constexpr int kWindows = 3;
constexpr std::array<int, kWindows> kWindowHalf = {3, 5, 7};
constexpr int kLargestHalf = 7;

constexpr int windowForPeriod(int code) { return code < 72 ? 0 : (code < 120 ? 1 : 2); }

// Rows of raw (enhanced) values still needed after their image row was
// overwritten: the window reaches kLargestHalf rows up, and one more row is
// kept so that the leaving row can be subtracted before the entering one is loaded.
constexpr int kRingRows = 16;

// Every sum fits 16 bits: a 15 x 15 window of 255 is 57375, and so is the
// largest pixel x count product.
using Row16 = std::array<uint16_t, kWidth>;

// Number of columns of each window at column x once clipped to the image.
constexpr std::array<Row16, kWindows> kClippedWidth = [] {
  std::array<Row16, kWindows> widths{};
  for (int w = 0; w < kWindows; ++w)
    for (int x = 0; x < kWidth; ++x) {
      const int left = std::max(0, x - kWindowHalf[w]);
      const int right = std::min(kWidth - 1, x + kWindowHalf[w]);
      widths[w][x] = static_cast<uint16_t>(right - left + 1);
    }
  return widths;
}();

// Column sums with zero columns on both sides, so that window sums along the
// row need no clipping.
constexpr int kPad = 8;
using PaddedColumns = std::array<uint16_t, kPad + kWidth + kPad>;

// Sums of 2 Half + 1 neighbouring columns, spelled out as one expression per
// column so that the compiler runs the loop on many columns at once.
template <int Half, std::size_t... Offset>
void windowSums(const uint16_t* columns, uint16_t* sum,
                std::index_sequence<Offset...>) {
  const uint16_t* first = columns - Half;
  for (int x = 0; x < kWidth; ++x) sum[x] = static_cast<uint16_t>((first[x + Offset] + ...));
}

template <int Half>
void windowSums(const uint16_t* columns, uint16_t* sum) {
  windowSums<Half>(columns, sum, std::make_index_sequence<2 * Half + 1>{});
}

// Binarises one row against windows of one size: 255 where the pixel is at or
// above the window mean, else 0. `columns` points at the column sum of x = 0
// and may be read kLargestHalf entries beyond both ends. Kept out of line:
// inlined into the row loop, the compiler no longer vectorises its loops.
[[gnu::noinline]] void thresholdRow(const uint8_t* pixels, const uint16_t* columns, int window,
                  int height, uint8_t* result) {
  std::array<uint16_t, kWidth> sum;
  if (window == 0) {
    windowSums<3>(columns, sum.data());
  } else if (window == 1) {
    windowSums<5>(columns, sum.data());
  } else {
    windowSums<7>(columns, sum.data());
  }
  const uint16_t* widths = kClippedWidth[window].data();
  const auto rows = static_cast<uint16_t>(height);
  for (int x = 0; x < kWidth; ++x) {
    const auto scaled = static_cast<uint16_t>(pixels[x] * static_cast<uint16_t>(widths[x] * rows));
    // 255 when at or above the mean, written without a branch.
    result[x] = static_cast<uint8_t>(0u - static_cast<unsigned>(scaled >= sum[x]));
  }
}

}  // namespace

void binarizeImage(uint8_t* image, const PeriodMap& periods) {
  std::array<std::array<uint8_t, kWidth>, kRingRows> raw{};
  // Per-column sums over the rows of each window height, clipped to the image.
  std::array<PaddedColumns, kWindows> columnSums{};
  std::array<std::array<uint8_t, kWidth>, kWindows> thresholded{};

  auto loadRow = [&](int y) {
    std::memcpy(raw[y % kRingRows].data(), image + y * kWidth, kWidth);
  };
  auto addRow = [&](int window, int y) {
    const uint8_t* row = raw[y % kRingRows].data();
    uint16_t* sums = columnSums[window].data() + kPad;
    for (int x = 0; x < kWidth; ++x) sums[x] = static_cast<uint16_t>(sums[x] + row[x]);
  };
  auto subtractRow = [&](int window, int y) {
    const uint8_t* row = raw[y % kRingRows].data();
    uint16_t* sums = columnSums[window].data() + kPad;
    for (int x = 0; x < kWidth; ++x) sums[x] = static_cast<uint16_t>(sums[x] - row[x]);
  };

  // Column sums for output row 0 cover rows 0..half.
  for (int y = 0; y <= kLargestHalf; ++y) loadRow(y);
  for (int w = 0; w < kWindows; ++w)
    for (int y = 0; y <= kWindowHalf[w]; ++y) addRow(w, y);

  std::array<uint8_t, kWidth> output{};
  for (int y = 0; y < kHeight; ++y) {
    if (y > 0) {
      // Slide every window down by one row: drop row y - half - 1, add row y + half.
      for (int w = 0; w < kWindows; ++w) {
        const int leaving = y - kWindowHalf[w] - 1;
        if (leaving >= 0) subtractRow(w, leaving);
      }
      const int entering = y + kLargestHalf;
      if (entering < kHeight) loadRow(entering);
      for (int w = 0; w < kWindows; ++w) {
        const int row = y + kWindowHalf[w];
        if (row < kHeight) addRow(w, row);
      }
    }

    output.fill(255);
    if (y >= 1 && y <= kHeight - 3) {
      const uint8_t* periodRow = periods.data() + cellIndex((y - 1) / kCellSpacing, 0);
      // Whole rows are thresholded for each window size this row uses; each
      // pixel then takes the result of its own cell's window.
      std::array<bool, kWindows> used{};
      for (int c = 0; c < kGridColumns; ++c)
        if (periodRow[c] != 0) used[windowForPeriod(periodRow[c])] = true;
      const uint8_t* pixels = raw[y % kRingRows].data();
      for (int w = 0; w < kWindows; ++w) {
        if (!used[w]) continue;
        const int half = kWindowHalf[w];
        const int height = std::min(kHeight - 1, y + half) - std::max(0, y - half) + 1;
        thresholdRow(pixels, columnSums[w].data() + kPad, w, height, thresholded[w].data());
      }
      // Pixel x takes the period of cell column (x - 1) / 3: columns 1..252
      // are exactly three pixels for each of the 84 cell columns.
      static_assert(kCellSpacing * kGridColumns == kWidth - 4);
      for (int c = 0; c < kGridColumns; ++c) {
        const int code = periodRow[c];
        if (code == 0) continue;
        const uint8_t* result = thresholded[windowForPeriod(code)].data();
        const int x = kCellSpacing * c + 1;
        output[x] = result[x];
        output[x + 1] = result[x + 1];
        output[x + 2] = result[x + 2];
      }
    }
    std::memcpy(image + y * kWidth, output.data(), kWidth);
  }
}

}  // namespace fx60::extract
