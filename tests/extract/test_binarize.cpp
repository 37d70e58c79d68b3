#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "extract/minutiae_stages.h"

namespace fx60::extract {
namespace {

// Straightforward window means over the untouched input, for comparison.
std::vector<uint8_t> referenceBinarize(const std::vector<uint8_t>& in, const PeriodMap& periods) {
  std::vector<uint8_t> out(kPixels, 255);
  for (int y = 1; y <= 357; ++y) {
    for (int x = 1; x <= 252; ++x) {
      const int v = periods[cellIndex((y - 1) / 3, (x - 1) / 3)];
      if (v == 0) continue;
      const int half = v < 72 ? 3 : (v < 120 ? 5 : 7);
      long sum = 0;
      int n = 0;
      for (int yy = std::max(0, y - half); yy <= std::min(kHeight - 1, y + half); ++yy)
        for (int xx = std::max(0, x - half); xx <= std::min(kWidth - 1, x + half); ++xx) {
          sum += in[yy * kWidth + xx];
          ++n;
        }
      out[y * kWidth + x] = in[y * kWidth + x] * n >= sum ? 255 : 0;
    }
  }
  return out;
}

TEST(Binarize, MatchesWindowMeansOnNoiseWithEveryWindowSize) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> grey(0, 255);
  std::uniform_int_distribution<int> code(0, 150);
  std::vector<uint8_t> image(kPixels);
  for (auto& p : image) p = static_cast<uint8_t>(grey(random));
  PeriodMap periods{};
  for (auto& v : periods) v = static_cast<uint8_t>(code(random));
  const auto expected = referenceBinarize(image, periods);
  binarizeImage(image.data(), periods);
  EXPECT_EQ(image, expected);
}

TEST(Binarize, PixelAtTheMeanIsWhiteAndBelowIsRidge) {
  std::vector<uint8_t> image(kPixels, 100);
  PeriodMap periods{};
  periods.fill(16);
  image[50 * kWidth + 50] = 90;
  binarizeImage(image.data(), periods);
  EXPECT_EQ(image[50 * kWidth + 50], 0);
  EXPECT_EQ(image[60 * kWidth + 60], 255);  // uniform: equal to the mean
}

TEST(Binarize, WindowShrinksAtTheLeftEdge) {
  // x = 1 with a 7 x 7 window uses columns 0..4 only; a dark column 5 must not count.
  std::vector<uint8_t> image(kPixels, 100);
  for (int y = 0; y < kHeight; ++y) image[y * kWidth + 5] = 0;
  image[20 * kWidth + 1] = 99;
  PeriodMap periods{};
  periods.fill(16);
  binarizeImage(image.data(), periods);
  EXPECT_EQ(image[20 * kWidth + 1], 0);  // below the mean of columns 0..4
  EXPECT_EQ(image[20 * kWidth + 2], 255);  // column 5 pulls its mean down
}

TEST(Binarize, BorderAndBackgroundAreWhite) {
  std::vector<uint8_t> image(kPixels, 0);
  for (int i = 0; i < kPixels; i += 3) image[i] = 200;
  PeriodMap periods{};
  periods.fill(130);
  for (int c = 0; c < kGridColumns; ++c) periods[cellIndex(40, c)] = 0;
  binarizeImage(image.data(), periods);
  for (int x = 0; x < kWidth; ++x) {
    EXPECT_EQ(image[x], 255);
    EXPECT_EQ(image[358 * kWidth + x], 255);
    EXPECT_EQ(image[359 * kWidth + x], 255);
  }
  for (int y = 0; y < kHeight; ++y)
    for (int x : {0, 253, 254, 255}) EXPECT_EQ(image[y * kWidth + x], 255);
  // Rows 121..123 read period row 40, the background row.
  for (int y = 121; y <= 123; ++y)
    for (int x = 1; x <= 252; ++x) ASSERT_EQ(image[y * kWidth + x], 255);
}

}  // namespace
}  // namespace fx60::extract
