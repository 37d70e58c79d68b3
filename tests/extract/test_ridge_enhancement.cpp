#include <gtest/gtest.h>

#include <cmath>

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

}  // namespace
}  // namespace fx60::extract
