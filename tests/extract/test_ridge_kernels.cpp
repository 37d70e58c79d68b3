// The ridge stages' kernels in their plain and their vector form, run on the same
// image: both must write and report the same, byte for byte.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

#include "extract/grid.h"
#include "extract/ridge_enhancement.h"
#include "extract/ridge_kernels.h"
#include "extract/ridge_period.h"
#include "extract/ridge_smoothing.h"
#include "tests/support/vector_form.h"

namespace fx60::extract {
namespace {

namespace plain = ridge_kernels::plain;

namespace simd = ridge_kernels::fast;

std::vector<uint8_t> randomImage(std::mt19937& rng) {
  std::vector<uint8_t> image(kPixels);
  // Smooth stretches and noise, and the extremes that test the clamping.
  for (int i = 0; i < kPixels; ++i) image[i] = static_cast<uint8_t>(i % 97 < 10 ? (rng() % 2) * 255 : rng());
  return image;
}

ridge_kernels::InteriorKernel interiorForm(const SmoothingKernel& k) {
  ridge_kernels::InteriorKernel interior{};
  interior.centreWeight = k.centreWeight;
  for (int i = 0; i < k.tapCount; ++i) {
    interior.offsets[i] = k.taps[i].dy * kWidth + k.taps[i].dx;
    interior.weights[i] = k.taps[i].weight;
  }
  return interior;
}

TEST(RidgeKernels, SmoothingAlike) {
  FX60_REQUIRE_VECTOR_FORM();
  std::mt19937 rng(21);
  const std::vector<uint8_t> image = randomImage(rng);
  const auto& kernels = ridgeSmoothingKernels();
  for (int h = 0; h < kOrientationSteps; h += 7) {
    for (const auto& [r, c, cells] : std::vector<std::array<int, 3>>{{10, 5, 1}, {50, 30, 3}, {100, 60, 5}, {116, 70, 10}}) {
      BlockRow a{}, b{};
      plain::smoothInteriorBlocks(image.data(), interiorForm(kernels[h]), r, c, cells, a);
      simd::smoothInteriorBlocks(image.data(), interiorForm(kernels[h]), r, c, cells, b);
      ASSERT_EQ(a, b) << h << " " << r << " " << c;
    }
  }
}

TEST(RidgeKernels, EnhancementAlike) {
  FX60_REQUIRE_VECTOR_FORM();
  std::mt19937 rng(22);
  const std::vector<uint8_t> image = randomImage(rng);
  for (int cls = 0; cls < kPeriodClasses; ++cls)
    for (int bucket = 0; bucket < kOrientationBuckets; bucket += 3) {
      const EnhancementKernel& k = enhancementKernel(cls, bucket);
      std::array<int, 5> offsets;
      for (int i = 0; i < 5; ++i) offsets[i] = k[i].dy * kWidth + k[i].dx;
      for (const auto& [r, c, cells] : std::vector<std::array<int, 3>>{{10, 5, 1}, {60, 20, 4}, {116, 70, 10}}) {
        BlockRow a{}, b{};
        plain::enhanceInteriorBlocks(image.data(), k, offsets, r, c, cells, a);
        simd::enhanceInteriorBlocks(image.data(), k, offsets, r, c, cells, b);
        ASSERT_EQ(a, b) << cls << " " << bucket << " " << r << " " << c;
      }
    }
}

TEST(RidgeKernels, ProfileSignsAlike) {
  FX60_REQUIRE_VECTOR_FORM();
  std::mt19937 rng(23);
  const std::vector<uint8_t> image = randomImage(rng);
  std::vector<uint8_t> ramp(kPixels);
  for (int i = 0; i < kPixels; ++i) ramp[i] = static_cast<uint8_t>((i % kWidth) / 8 % 2 == 0 ? 40 : 200);
  const ProfileOffsets& profile = ridgeProfileOffsets();
  for (const std::vector<uint8_t>* source : {&image, static_cast<const std::vector<uint8_t>*>(&ramp)}) {
    for (int h = 0; h < kOrientationSteps; ++h) {
      std::array<int16_t, ridge_kernels::kProfileRadius> offsets;
      for (int d = 0; d < ridge_kernels::kProfileRadius; ++d)
        offsets[d] = static_cast<int16_t>(profile[h][d].dy * kWidth + profile[h][d].dx);
      for (int y = 20; y < kHeight - 20; y += 37)
        for (int x = 20; x < kWidth - 20; x += 29) {
          const uint8_t* centre = source->data() + y * kWidth + x;
          const auto a = plain::profileSigns(centre, offsets.data());
          const auto b = simd::profileSigns(centre, offsets.data());
          ASSERT_EQ(a.positive, b.positive) << h << " " << x << "," << y;
          ASSERT_EQ(a.negative, b.negative) << h << " " << x << "," << y;
        }
    }
  }
}

TEST(RidgeKernels, RidgeBitsAlike) {
  FX60_REQUIRE_VECTOR_FORM();
  std::mt19937 rng(24);
  std::array<uint8_t, 64> pixels;
  for (int trial = 0; trial < 5000; ++trial) {
    for (uint8_t& p : pixels) p = rng() % 3 == 0 ? 0 : (rng() % 2 ? 255 : static_cast<uint8_t>(rng()));
    ASSERT_EQ(plain::ridgeBits(pixels.data()), simd::ridgeBits(pixels.data())) << trial;
  }
}

}  // namespace
}  // namespace fx60::extract
