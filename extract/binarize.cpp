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

}  // namespace

void binarizeImage(uint8_t* image, const PeriodMap& periods) {
  std::array<std::array<uint8_t, kWidth>, kRingRows> raw{};
  // Per-column sums over the rows of each window height, clipped to the image.
  std::array<std::array<int, kWidth>, 3> columnSums{};
  // Prefix sums along the row of the column sums: prefix[x] = sum of columns 0..x-1.
  std::array<std::array<int, kWidth + 1>, 3> prefix{};

  auto loadRow = [&](int y) {
    std::memcpy(raw[y % kRingRows].data(), image + y * kWidth, kWidth);
  };
  auto addRow = [&](int window, int y, int sign) {
    const uint8_t* row = raw[y % kRingRows].data();
    for (int x = 0; x < kWidth; ++x) columnSums[window][x] += sign * row[x];
  };

  // Column sums for output row 0 cover rows 0..half.
  for (int y = 0; y <= kLargestHalf; ++y) loadRow(y);
  for (int w = 0; w < 3; ++w)
    for (int y = 0; y <= kWindowHalf[w]; ++y) addRow(w, y, 1);

  std::array<uint8_t, kWidth> output{};
  for (int y = 0; y < kHeight; ++y) {
    if (y > 0) {
      // Slide every window down by one row: drop row y - half - 1, add row y + half.
      for (int w = 0; w < 3; ++w) {
        const int leaving = y - kWindowHalf[w] - 1;
        if (leaving >= 0) addRow(w, leaving, -1);
      }
      const int entering = y + kLargestHalf;
      if (entering < kHeight) loadRow(entering);
      for (int w = 0; w < 3; ++w) {
        const int row = y + kWindowHalf[w];
        if (row < kHeight) addRow(w, row, 1);
      }
    }

    output.fill(255);
    if (y >= 1 && y <= kHeight - 3) {
      for (int w = 0; w < 3; ++w) {
        prefix[w][0] = 0;
        for (int x = 0; x < kWidth; ++x) prefix[w][x + 1] = prefix[w][x] + columnSums[w][x];
      }
      const uint8_t* pixels = raw[y % kRingRows].data();
      const uint8_t* periodRow = periods.data() + cellIndex((y - 1) / kCellSpacing, 0);
      for (int x = 1; x <= kWidth - 4; ++x) {
        const int code = periodRow[(x - 1) / kCellSpacing];
        if (code == 0) continue;
        const int w = windowForPeriod(code);
        const int half = kWindowHalf[w];
        const int left = std::max(0, x - half);
        const int right = std::min(kWidth - 1, x + half);
        const int top = std::max(0, y - half);
        const int bottom = std::min(kHeight - 1, y + half);
        const int count = (right - left + 1) * (bottom - top + 1);
        const int sum = prefix[w][right + 1] - prefix[w][left];
        // At or above the local mean is valley.
        output[x] = pixels[x] * count >= sum ? 255 : 0;
      }
    }
    std::memcpy(image + y * kWidth, output.data(), kWidth);
  }
}

}  // namespace fx60::extract
