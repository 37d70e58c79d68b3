#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "extract/minutiae_stages.h"
#include "extract/ridge_geometry.h"
#include "skeleton_fixtures.h"

namespace fx60::extract {
namespace {

using testing::Canvas;

TEST(Thinning, RidgeEndingWithOneEastNeighbourSurvives) {
  Canvas canvas;
  canvas.ray(100, 100, 1, 0, 20);  // the left end has code 251
  ASSERT_EQ(neighbourCode(canvas.data(), 100, 100), 251);
  thinRidges(canvas.data());
  EXPECT_EQ(canvas.at(100, 100), 0);
  EXPECT_EQ(canvas.ridgePixels(), 20);
}

TEST(Thinning, Code124IsDeletedBelowARowAndKeptAboveIt) {
  // A pixel under a 3-pixel row (code 124) goes in the first sub-iteration.
  Canvas below;
  below.ray(99, 100, 1, 0, 3);
  below.set(100, 101);
  ASSERT_EQ(neighbourCode(below.data(), 100, 101), 124);
  thinRidges(below.data());
  EXPECT_EQ(below.at(100, 101), 255);

  // The mirrored shape (three ridge pixels below) goes as well.
  Canvas above;
  above.ray(99, 100, 1, 0, 3);
  above.set(100, 99);
  thinRidges(above.data());
  EXPECT_EQ(above.at(100, 99), 255);
}

TEST(Thinning, ThickBarBecomesOnePixelWide) {
  Canvas canvas;
  for (int y = 100; y < 105; ++y) canvas.ray(60, y, 1, 0, 80);
  thinRidges(canvas.data());
  for (int x = 70; x < 130; ++x) {
    int column = 0;
    for (int y = 95; y < 110; ++y) column += canvas.at(x, y) == 0 ? 1 : 0;
    EXPECT_EQ(column, 1) << x;
  }
}

TEST(Thinning, StopsAfterSixPasses) {
  // A solid disc needs many passes; after six its core is still solid.
  Canvas canvas;
  for (int y = 100; y <= 160; ++y)
    for (int x = 100; x <= 160; ++x)
      if ((x - 130) * (x - 130) + (y - 130) * (y - 130) <= 900) canvas.set(x, y);
  thinRidges(canvas.data());
  for (int y = 125; y <= 135; ++y)
    for (int x = 125; x <= 135; ++x) EXPECT_EQ(canvas.at(x, y), 0);
  EXPECT_EQ(canvas.at(130, 101), 255);
}

// Whole-image copies per sub-iteration, with the same row retirement.
void referenceThin(std::vector<uint8_t>& image) {
  static constexpr int deletable[] = {1,   3,   7,   15,  28,  30,  31,  39,  47,  60,  62,  64,
                                      96,  112, 120, 124, 129, 131, 135, 143, 156, 158, 167, 188,
                                      192, 193, 195, 199, 224, 225, 227, 240, 241, 248};
  bool table[256] = {};
  for (int c : deletable) table[c] = true;
  bool active[2][kHeight];
  for (auto& a : active)
    for (bool& b : a) b = true;
  for (int pass = 0; pass < 6; ++pass) {
    bool any = false;
    for (int sub = 0; sub < 2; ++sub) {
      const std::vector<uint8_t> before = image;
      for (int y = 1; y <= 358; ++y) {
        if (!active[sub][y]) continue;
        bool deleted = false;
        for (int x = 1; x <= 254; ++x) {
          if (before[y * kWidth + x] != 0) continue;
          int code = neighbourCode(before.data(), x, y);
          if (sub == 1) code = ((code << 4) | (code >> 4)) & 0xFF;
          if (table[code]) {
            image[y * kWidth + x] = 255;
            deleted = true;
          }
        }
        if (!deleted) active[sub][y] = false;
        any = any || deleted;
      }
    }
    if (!any) break;
  }
}

TEST(Thinning, ReadsOnlyValuesFromBeforeEachSubIteration) {
  std::mt19937 random(3);
  std::bernoulli_distribution ridge(0.55);
  std::vector<uint8_t> image(kPixels);
  for (auto& p : image) p = ridge(random) ? 0 : 255;
  std::vector<uint8_t> expected = image;
  referenceThin(expected);
  thinRidges(image.data());
  EXPECT_EQ(image, expected);
}

}  // namespace
}  // namespace fx60::extract
