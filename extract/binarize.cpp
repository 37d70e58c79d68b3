#include <algorithm>
#include <array>
#include <cstring>

#include "extract/minutiae_stages.h"

namespace fx60::extract {
namespace {

// Window half-sizes chosen by the period code: 7 x 7, 11 x 11 and 15 x 15 pixels.
constexpr std::array<int, 3> kWindowHalf = {3, 5, 7};
constexpr int kLargestHalf = 7;

constexpr int windowForPeriod(int code) { return code < 72 ? 0 : (code < 120 ? 1 : 2); }

// Rows of raw (enhanced) values still needed after their image row was
// overwritten: the window reaches kLargestHalf rows up, and one more row is
// kept so that the leaving row can be subtracted before the entering one is loaded.
constexpr int kRingRows = 16;

// Number of columns of each window at column x once clipped to the image.
constexpr std::array<std::array<uint8_t, kWidth>, 3> kClippedWidth = [] {
  std::array<std::array<uint8_t, kWidth>, 3> widths{};
  for (int w = 0; w < 3; ++w)
    for (int x = 0; x < kWidth; ++x) {
      const int left = x - kWindowHalf[w] < 0 ? 0 : x - kWindowHalf[w];
      const int right = x + kWindowHalf[w] > kWidth - 1 ? kWidth - 1 : x + kWindowHalf[w];
      widths[w][x] = static_cast<uint8_t>(right - left + 1);
    }
  return widths;
}();

// Prefix sums along a row with room for the window overhang on both sides:
// entry kPad + i holds the sum of columns 0..i-1, so columns outside the image
// add nothing and a window sum needs no clipping.
constexpr int kPad = kLargestHalf + 1;
using PaddedPrefix = std::array<int32_t, kWidth + 2 * kPad + 1>;

void prefixSums(const std::array<uint16_t, kWidth>& columns, PaddedPrefix& prefix) {
  for (int i = 0; i <= kPad; ++i) prefix[i] = 0;
  int32_t sum = 0;
  for (int x = 0; x < kWidth; ++x) {
    sum += columns[x];
    prefix[kPad + x + 1] = sum;
  }
  for (int i = kPad + kWidth + 1; i < static_cast<int>(prefix.size()); ++i) prefix[i] = sum;
}

}  // namespace

void binarizeImage(uint8_t* image, const PeriodMap& periods) {
  std::array<std::array<uint8_t, kWidth>, kRingRows> raw{};
  // Per-column sums over the rows of each window height, clipped to the image
  // (at most 15 x 255, so 16 bits suffice).
  std::array<std::array<uint16_t, kWidth>, 3> columnSums{};
  std::array<PaddedPrefix, 3> prefix{};

  auto loadRow = [&](int y) {
    std::memcpy(raw[y % kRingRows].data(), image + y * kWidth, kWidth);
  };
  auto addRow = [&](int window, int y) {
    const uint8_t* row = raw[y % kRingRows].data();
    uint16_t* sums = columnSums[window].data();
    for (int x = 0; x < kWidth; ++x) sums[x] = static_cast<uint16_t>(sums[x] + row[x]);
  };
  auto subtractRow = [&](int window, int y) {
    const uint8_t* row = raw[y % kRingRows].data();
    uint16_t* sums = columnSums[window].data();
    for (int x = 0; x < kWidth; ++x) sums[x] = static_cast<uint16_t>(sums[x] - row[x]);
  };

  // Column sums for output row 0 cover rows 0..half.
  for (int y = 0; y <= kLargestHalf; ++y) loadRow(y);
  for (int w = 0; w < 3; ++w)
    for (int y = 0; y <= kWindowHalf[w]; ++y) addRow(w, y);

  std::array<uint8_t, kWidth> output{};
  for (int y = 0; y < kHeight; ++y) {
    if (y > 0) {
      // Slide every window down by one row: drop row y - half - 1, add row y + half.
      for (int w = 0; w < 3; ++w) {
        const int leaving = y - kWindowHalf[w] - 1;
        if (leaving >= 0) subtractRow(w, leaving);
      }
      const int entering = y + kLargestHalf;
      if (entering < kHeight) loadRow(entering);
      for (int w = 0; w < 3; ++w) {
        const int row = y + kWindowHalf[w];
        if (row < kHeight) addRow(w, row);
      }
    }

    output.fill(255);
    if (y >= 1 && y <= kHeight - 3) {
      const uint8_t* periodRow = periods.data() + cellIndex((y - 1) / kCellSpacing, 0);
      // Only the window sizes this row uses need their row sums.
      std::array<bool, 3> used{};
      for (int c = 0; c < kGridColumns; ++c)
        if (periodRow[c] != 0) used[windowForPeriod(periodRow[c])] = true;
      std::array<int, 3> clippedHeight{};
      for (int w = 0; w < 3; ++w) {
        if (!used[w]) continue;
        prefixSums(columnSums[w], prefix[w]);
        const int half = kWindowHalf[w];
        clippedHeight[w] = std::min(kHeight - 1, y + half) - std::max(0, y - half) + 1;
      }
      const uint8_t* pixels = raw[y % kRingRows].data();
      // Pixel x takes the period of cell column (x - 1) / 3: three pixels per cell.
      for (int c = 0; c < kGridColumns; ++c) {
        const int code = periodRow[c];
        if (code == 0) continue;
        const int w = windowForPeriod(code);
        const int half = kWindowHalf[w];
        const int32_t* sums = prefix[w].data() + kPad;
        const int lastX = std::min(kCellSpacing * c + 3, kWidth - 4);
        for (int x = kCellSpacing * c + 1; x <= lastX; ++x) {
          const int count = kClippedWidth[w][x] * clippedHeight[w];
          const int sum = sums[x + half + 1] - sums[x - half];
          // At or above the local mean is valley.
          output[x] = pixels[x] * count >= sum ? 255 : 0;
        }
      }
    }
    std::memcpy(image + y * kWidth, output.data(), kWidth);
  }
}

}  // namespace fx60::extract
