#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "extract/preconditioning.h"
#include "synthetic_images.h"

namespace fx60::extract {
namespace {

using testing::Image;

// Straightforward clipped box mean, to check the running-sum versions against.
uint8_t boxMean(const uint8_t* image, int width, int height, int x, int y, int radius) {
  int sum = 0, count = 0;
  for (int j = std::max(0, y - radius); j <= std::min(height - 1, y + radius); ++j)
    for (int i = std::max(0, x - radius); i <= std::min(width - 1, x + radius); ++i) {
      sum += image[j * width + i];
      ++count;
    }
  return static_cast<uint8_t>(sum / count);
}

TEST(Preconditioning, UniformImageIsUnchangedByEveryStep) {
  Image image = testing::uniformImage(77);
  meanFilter3x3(image.data());
  EXPECT_EQ(image, testing::uniformImage(77));
  halveImage(image.data());
  normalizeContrast(image.data());
  doubleImage(image.data());
  EXPECT_EQ(image, testing::uniformImage(77));
}

TEST(MeanFilter, BrightCornerSpreadsByTheClippedCount) {
  Image image = testing::uniformImage(0);
  image[0] = 255;
  meanFilter3x3(image.data());
  EXPECT_EQ(image[0], 63);           // corner: 4 pixels
  EXPECT_EQ(image[1], 42);           // border: 6 pixels
  EXPECT_EQ(image[kWidth], 42);
  EXPECT_EQ(image[kWidth + 1], 28);  // inside: 9 pixels
  EXPECT_EQ(image[2], 0);
}

TEST(MeanFilter, InPlaceResultEqualsFilterOfTheOriginal) {
  const Image original = testing::noiseImage(1);
  Image image = original;
  meanFilter3x3(image.data());
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      ASSERT_EQ(image[y * kWidth + x], boxMean(original.data(), kWidth, kHeight, x, y, 1)) << x << "," << y;
}

TEST(HalveAndDouble, DoublingReproducesEveryEvenPixelAndRepeatsTheLastRowAndColumn) {
  const Image original = testing::noiseImage(2);
  Image image = original;
  halveImage(image.data());
  for (int v = 0; v < kHalfHeight; ++v)
    for (int u = 0; u < kHalfWidth; ++u)
      ASSERT_EQ(image[v * kHalfWidth + u], original[2 * v * kWidth + 2 * u]);
  // The part beyond the half image is left as it was.
  EXPECT_TRUE(std::equal(image.begin() + kHalfPixels, image.end(), original.begin() + kHalfPixels));

  doubleImage(image.data());
  for (int y = 0; y < kHeight; y += 2)
    for (int x = 0; x < kWidth; x += 2) ASSERT_EQ(image[y * kWidth + x], original[y * kWidth + x]);
  for (int y = 0; y < kHeight; ++y) EXPECT_EQ(image[y * kWidth + 254], image[y * kWidth + 255]);
  for (int x = 0; x < kWidth; ++x) EXPECT_EQ(image[358 * kWidth + x], image[359 * kWidth + x]);
  // An odd pixel inside takes the mean of its four neighbours.
  const auto at = [&](int x, int y) { return int{original[y * kWidth + x]}; };
  EXPECT_EQ(image[11 * kWidth + 21], (at(20, 10) + at(22, 10) + at(20, 12) + at(22, 12)) / 4);
  EXPECT_EQ(image[10 * kWidth + 21], (2 * at(20, 10) + 2 * at(22, 10)) / 4);
}

TEST(NormalizeContrast, MatchesTheDefinitionOnNoise) {
  const Image original = testing::noiseImage(3);
  Image half(original.begin(), original.begin() + kHalfPixels);
  const Image before = half;
  normalizeContrast(half.data());

  Image means(kHalfPixels), deviations(kHalfPixels);
  for (int v = 0; v < kHalfHeight; ++v)
    for (int u = 0; u < kHalfWidth; ++u)
      means[v * kHalfWidth + u] = boxMean(before.data(), kHalfWidth, kHalfHeight, u, v, 3);
  for (int i = 0; i < kHalfPixels; ++i) deviations[i] = static_cast<uint8_t>(std::abs(means[i] - before[i]));
  for (int v = 0; v < kHalfHeight; ++v)
    for (int u = 0; u < kHalfWidth; ++u) {
      const int i = v * kHalfWidth + u;
      const int m = means[i];
      const int e = boxMean(deviations.data(), kHalfWidth, kHalfHeight, u, v, 4);
      const int lo = std::max(0, m - e), hi = std::min(255, m + e);
      const int p = before[i];
      int expected = p;
      if (hi - lo > 4) expected = p >= hi ? 255 : p <= lo ? 0 : (p - lo) * 255 / (hi - lo);
      ASSERT_EQ(half[i], expected) << u << "," << v;
    }
}

TEST(NormalizeContrast, LowSpreadKeepsValues) {
  Image half(kHalfPixels);
  for (int i = 0; i < kHalfPixels; ++i) half[i] = static_cast<uint8_t>(100 + (i % 3));  // spread <= 2
  const Image before = half;
  normalizeContrast(half.data());
  EXPECT_EQ(half, before);
}

}  // namespace
}  // namespace fx60::extract
