#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "extract/ridge_enhancement.h"
#include "synthetic_images.h"

namespace fx60::extract {
namespace {

using testing::Image;

static_assert(orientationBucket(119) == 0 && orientationBucket(118) == 39 && orientationBucket(0) == 0 &&
              orientationBucket(2) == 1);
static_assert(periodClass(16) == 0 && periodClass(48) == 0 && periodClass(49) == 1 && periodClass(81) == 2 &&
              periodClass(144) == 3);

TEST(EnhancementKernels, FirstTapLiesAlongTheRidgeOfEveryBucket) {
  for (int cls = 0; cls < kPeriodClasses; ++cls)
    for (int b = 0; b < kOrientationBuckets; ++b) {
      const EnhancementKernel& k = enhancementKernel(cls, b);
      const double t = b * 4.5 * 3.14159265358979 / 180;
      // Component of the first tap across the ridge stays small; the others
      // reach across it.
      const double across = std::abs(-std::sin(t) * k[0].dx + std::cos(t) * k[0].dy);
      ASSERT_LE(across, 0.75) << "class " << cls << " bucket " << b;
      int sum = 0;
      for (const EnhancementTap& tap : k) sum += tap.weight;
      ASSERT_EQ(2 * sum, -256);
      for (int i = 2; i < 5; ++i) {
        const double reach = std::abs(-std::sin(t) * k[i].dx + std::cos(t) * k[i].dy);
        ASSERT_GE(reach, 1.5) << "class " << cls << " bucket " << b << " tap " << i;
      }
    }
}

TEST(EnhanceRidges, FlatAreaBecomes127AndUnestimatedCellsAreCopied) {
  Image image = testing::uniformImage(200);
  OrientationMap orientation{};
  PeriodMap periods{};
  periods.fill(80);
  periods[cellIndex(40, 40)] = 0;
  enhanceRidges(orientation, periods, image.data());
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      // Cells cover columns 1..252 and rows 1..357.
      const bool frame = y == 0 || y >= 358 || x == 0 || x >= 253;
      const bool skipped = (y - 1) / 3 == 40 && (x - 1) / 3 == 40;
      ASSERT_EQ(image[y * kWidth + x], frame || skipped ? 200 : 127) << x << "," << y;
    }
}

TEST(EnhanceRidges, DarkensRidgesAndBrightensValleys) {
  // Horizontal stripes 8 pixels apart, dark at y = 8k.
  const Image stripes = testing::stripeImage(0.0, 8.0);
  Image image = stripes;
  OrientationMap orientation{};
  PeriodMap periods{};
  periods.fill(static_cast<uint8_t>((8 - 3) * 16));
  enhanceRidges(orientation, periods, image.data());
  for (int y = 20; y < 340; ++y)
    for (int x = 20; x < 236; ++x) {
      const int before = stripes[y * kWidth + x];
      const int after = image[y * kWidth + x];
      if (before < 60) {
        ASSERT_LT(after, 127) << x << "," << y;
      }
      if (before > 196) {
        ASSERT_GT(after, 127) << x << "," << y;
      }
    }
}

// Straight from the definition, one pixel at a time: every tap reads the input
// image, taps outside the image are left out and the centre balances the rest.
Image enhanceByDefinition(const Image& input, const OrientationMap& orientation, const PeriodMap& periods) {
  Image output = input;
  for (int y = 1; y < 358; ++y)
    for (int x = 1; x < 253; ++x) {
      const int cell = cellIndex((y - 1) / 3, (x - 1) / 3);
      if (periods[cell] == 0) continue;
      const EnhancementKernel& k =
          enhancementKernel(periodClass(periods[cell]), orientationBucket(orientationOf(orientation[cell])));
      int e = 127 * 256, weights = 0;
      for (const EnhancementTap& t : k)
        for (int sign : {1, -1}) {
          const int sx = x + sign * t.dx, sy = y + sign * t.dy;
          if (sx < 0 || sx >= kWidth || sy < 0 || sy >= kHeight) continue;
          e += t.weight * input[sy * kWidth + sx];
          weights += t.weight;
        }
      e -= weights * input[y * kWidth + x];
      output[y * kWidth + x] = static_cast<uint8_t>(std::clamp(e, 0, 65535) >> 8);
    }
  return output;
}

// Maps made of runs of equal cells, so that neighbouring cells often share a
// kernel, with some cells left without an estimate.
void randomMaps(unsigned seed, OrientationMap& orientation, PeriodMap& periods) {
  std::mt19937 random(seed);
  for (int i = 0; i < kGridCells;) {
    const int run = std::uniform_int_distribution<int>(1, 12)(random);
    const auto h = static_cast<uint8_t>(std::uniform_int_distribution<int>(0, 119)(random));
    const int draw = std::uniform_int_distribution<int>(0, 8)(random);
    const auto code = static_cast<uint8_t>(draw == 0 ? 0 : 16 + 16 * draw);
    for (int j = 0; j < run && i < kGridCells; ++j, ++i) {
      orientation[i] = h;
      periods[i] = code;
    }
  }
}

TEST(EnhanceRidges, MatchesThePixelByPixelDefinitionIncludingClamping) {
  for (unsigned seed : {1u, 2u, 3u}) {
    OrientationMap orientation{};
    PeriodMap periods{};
    randomMaps(seed, orientation, periods);
    // Pure noise drives many sums past both ends of the byte range.
    Image image = testing::noiseImage(seed);
    for (size_t i = 0; i < image.size(); i += 7) image[i] = image[i] < 128 ? 0 : 255;
    const Image expected = enhanceByDefinition(image, orientation, periods);
    enhanceRidges(orientation, periods, image.data());
    for (int i = 0; i < kPixels; ++i)
      ASSERT_EQ(image[i], expected[i]) << "seed " << seed << " pixel " << i % kWidth << "," << i / kWidth;
  }
}

}  // namespace
}  // namespace fx60::extract
