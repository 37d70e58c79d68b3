#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "extract/ridge_period.h"
#include "extract/ridge_smoothing.h"
#include "synthetic_images.h"

namespace fx60::extract {
namespace {

using testing::Image;

OrientationMap uniformMap(int orientation, bool background = false) {
  OrientationMap map{};
  map.fill(static_cast<uint8_t>(orientation | (background ? kBackgroundFlag : 0)));
  return map;
}

TEST(RidgeSmoothingKernels, FollowTheRidgeDirection) {
  const auto& kernels = ridgeSmoothingKernels();
  // Horizontal ridges smooth along x, vertical along y; the generated rows must
  // keep every offset within 5 pixels.
  EXPECT_EQ(kernels[0].taps[4].dx, 5);
  EXPECT_EQ(kernels[0].taps[4].dy, 0);
  EXPECT_EQ(kernels[60].taps[4].dx, 0);
  EXPECT_EQ(kernels[60].taps[4].dy, 5);
  for (int h = 0; h < kOrientationSteps; ++h) {
    // The heaviest tap lies closest to the ridge direction of row h.
    const double t = h * 1.5 * 3.14159265358979 / 180;
    for (int i = 0; i < kernels[h].tapCount; ++i) {
      const SmoothingTap& tap = kernels[h].taps[i];
      ASSERT_LE(std::max(std::abs(tap.dx), std::abs(tap.dy)), 5);
      const double across = std::abs(-std::sin(t) * tap.dx + std::cos(t) * tap.dy);
      ASSERT_LE(across, 1.0) << "row " << h << " tap " << i;
    }
  }
}

TEST(SmoothAlongRidges, MatchesThePixelByPixelDefinitionForEveryOrientation) {
  // Runs of equal orientations, so that neighbouring cells are often filtered
  // together, and every orientation appears along the border.
  std::mt19937 random(11);
  OrientationMap orientation{};
  for (int i = 0; i < kGridCells;) {
    const int run = std::uniform_int_distribution<int>(1, 6)(random);
    const auto h = static_cast<uint8_t>(std::uniform_int_distribution<int>(0, 119)(random));
    for (int j = 0; j < run && i < kGridCells; ++j) orientation[i++] = h;
  }
  const Image input = testing::noiseImage(12);
  Image expected = input;
  const auto& kernels = ridgeSmoothingKernels();
  // Every sample reads the input; samples outside the image are left out and
  // the sum is divided by the weights that remain.
  for (int y = 1; y < 358; ++y)
    for (int x = 1; x < 253; ++x) {
      const SmoothingKernel& k = kernels[orientationOf(orientation[cellIndex((y - 1) / 3, (x - 1) / 3)])];
      int sum = k.centreWeight * input[y * kWidth + x], weights = k.centreWeight;
      for (int i = 0; i < k.tapCount; ++i)
        for (int sign : {1, -1}) {
          const int sx = x + sign * k.taps[i].dx, sy = y + sign * k.taps[i].dy;
          if (sx < 0 || sx >= kWidth || sy < 0 || sy >= kHeight) continue;
          sum += k.taps[i].weight * input[sy * kWidth + sx];
          weights += k.taps[i].weight;
        }
      expected[y * kWidth + x] = static_cast<uint8_t>(sum / weights);
    }
  Image image = input;
  smoothAlongRidges(image.data(), orientation);
  for (int i = 0; i < kPixels; ++i) ASSERT_EQ(image[i], expected[i]) << "pixel " << i % kWidth << "," << i / kWidth;
}

TEST(SmoothAlongRidges, UniformImageIsUnchanged) {
  Image image = testing::uniformImage(201);
  smoothAlongRidges(image.data(), uniformMap(37));
  EXPECT_EQ(image, testing::uniformImage(201));
}

TEST(SmoothAlongRidges, KeepsRidgesAlongTheirDirectionAndLeavesTheFrame) {
  // Noise on vertical stripes: smoothing along y keeps the stripes, and the
  // frame rows and columns are left exactly as they were.
  const Image stripes = testing::stripeImage(90.0, 8.0);
  Image image = stripes;
  const Image noise = testing::noiseImage(5);
  for (int i = 0; i < kPixels; ++i) image[i] = static_cast<uint8_t>((image[i] * 3 + noise[i]) / 4);
  const Image before = image;
  smoothAlongRidges(image.data(), uniformMap(60));
  long errorBefore = 0, errorAfter = 0;
  for (int y = 10; y < kHeight - 10; ++y)
    for (int x = 10; x < kWidth - 10; ++x) {
      const int target = stripes[y * kWidth + x] * 3 / 4 + 32;
      errorBefore += std::abs(before[y * kWidth + x] - target);
      errorAfter += std::abs(image[y * kWidth + x] - target);
    }
  EXPECT_LT(errorAfter * 2, errorBefore);
  for (int x = 0; x < kWidth; ++x)
    for (int y : {0, 358, 359}) ASSERT_EQ(image[y * kWidth + x], before[y * kWidth + x]);
  for (int y = 0; y < kHeight; ++y)
    for (int x : {0, 254, 255}) ASSERT_EQ(image[y * kWidth + x], before[y * kWidth + x]);
}

TEST(RidgeProfileOffsets, StepOnePixelAcrossTheRidges) {
  const auto& offsets = ridgeProfileOffsets();
  EXPECT_EQ(offsets[0][0].dx, 0);   // horizontal ridges: along the column
  EXPECT_EQ(offsets[0][0].dy, -1);
  EXPECT_EQ(offsets[60][0].dx, 1);  // vertical ridges: along the row
  EXPECT_EQ(offsets[60][0].dy, 0);
  EXPECT_EQ(offsets[90][3].dx, 4);  // down-left ridges: across towards +x, +y
  EXPECT_EQ(offsets[90][3].dy, 4);
  for (int h = 0; h < kOrientationSteps; ++h)
    for (int d = 1; d <= 12; ++d)
      ASSERT_EQ(std::max(std::abs(offsets[h][d - 1].dx), std::abs(offsets[h][d - 1].dy)), d);
  EXPECT_EQ(ridgeProfileStep(0), 128);
  EXPECT_EQ(ridgeProfileStep(30), 181);
  EXPECT_EQ(ridgeProfileStep(31), 174);
  EXPECT_EQ(ridgeProfileStep(90), 181);
  EXPECT_EQ(periodCentroid(0, 0), 0);
  EXPECT_EQ(periodCentroid(10, 1), 0);   // 0.4 rounds down
  EXPECT_EQ(periodCentroid(8, 1), 1);    // 0.5 rounds up
  EXPECT_EQ(periodCentroid(10, 9), 2);   // capped at 2
}

TEST(EstimateRidgePeriod, MeasuresTheStripeSpacing) {
  for (const auto& [degrees, orientation] : {std::pair{0.0, 0}, {90.0, 60}, {45.0, 30}}) {
    for (int period : {5, 8, 11}) {
      const Image image = testing::stripeImage(degrees, period);
      PeriodMap periods{};
      estimateRidgePeriod(image.data(), periods, uniformMap(orientation));
      // Code v stands for a period of 3 + v / 16 pixels.
      const int expected = (period - 3) * 16;
      for (int r = 10; r < kGridRows - 10; ++r)
        for (int c = 10; c < kGridColumns - 10; ++c)
          ASSERT_NEAR(periods[cellIndex(r, c)], expected, 12)
              << "period " << period << " at " << degrees << " degrees, cell " << r << "," << c;
    }
  }
}

TEST(EstimateRidgePeriod, WithoutAnyCrossingForegroundTakesTheLongestPeriod) {
  // A flat image has no zero crossings: every vote window is empty, which counts
  // as the highest code, 36 quarter codes, and averages to 144 everywhere.
  const Image image = testing::uniformImage(90);
  PeriodMap periods{};
  estimateRidgePeriod(image.data(), periods, uniformMap(0));
  for (uint8_t code : periods) ASSERT_EQ(code, 144);
}

TEST(EstimateRidgePeriod, BackgroundStaysZeroAndIsolatedBorderCellsGetNoEstimate) {
  const Image image = testing::stripeImage(0.0, 8.0);
  OrientationMap map = uniformMap(0, true);
  PeriodMap periods{};
  estimateRidgePeriod(image.data(), periods, map);
  for (uint8_t code : periods) ASSERT_EQ(code, 0);

  // A foreground cell in the grid corner whose window holds no voted value
  // (all its neighbours are background) keeps 0 rather than dividing by zero.
  map[cellIndex(0, 0)] = 0;
  map[cellIndex(60, 40)] = 0;
  estimateRidgePeriod(image.data(), periods, map);
  EXPECT_EQ(periods[cellIndex(0, 0)], 0);
  EXPECT_NEAR(periods[cellIndex(60, 40)], 80, 12);
}

TEST(EstimateRidgePeriod, OutOfRangeSpacingIsClamped) {
  // Stripes 3 pixels apart read as the shortest period (raw code 1, 4 pixels);
  // 20 pixels apart as the longest (code 9, 12 pixels).
  for (const auto& [period, expected] : {std::pair{3.0, 16}, {20.0, 144}}) {
    const Image image = testing::stripeImage(0.0, period);
    PeriodMap periods{};
    estimateRidgePeriod(image.data(), periods, uniformMap(0));
    EXPECT_NEAR(periods[cellIndex(60, 40)], expected, 8) << period;
  }
}

}  // namespace
}  // namespace fx60::extract
