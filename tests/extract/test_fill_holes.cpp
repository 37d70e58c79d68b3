#include <gtest/gtest.h>

#include "extract/minutiae_stages.h"
#include "skeleton_fixtures.h"

namespace fx60::extract {
namespace {

using testing::Canvas;

// A ridge blob covering [x0, x1] x [y0, y1] with a white island of `size`
// pixels in one row starting at (x0 + 2, y0 + 2).
Canvas blobWithIsland(int size) {
  Canvas canvas;
  for (int y = 40; y <= 50; ++y)
    for (int x = 40; x <= 80; ++x) canvas.set(x, y);
  for (int i = 0; i < size; ++i) canvas.set(42 + i, 42, 255);
  return canvas;
}

TEST(FillHoles, IslandOf29IsFilledAnd30StaysWhite) {
  Canvas small = blobWithIsland(29);
  fillSmallHoles(small.data());
  for (int i = 0; i < 29; ++i) EXPECT_EQ(small.at(42 + i, 42), 0);

  Canvas large = blobWithIsland(30);
  fillSmallHoles(large.data());
  for (int i = 0; i < 30; ++i) EXPECT_EQ(large.at(42 + i, 42), 255);
}

TEST(FillHoles, OnlyZeroAnd255Remain) {
  Canvas canvas = blobWithIsland(30);
  canvas.set(60, 46, 255);  // a one-pixel hole
  fillSmallHoles(canvas.data());
  EXPECT_EQ(canvas.at(60, 46), 0);
  for (uint8_t p : canvas.pixels) ASSERT_TRUE(p == 0 || p == 255);
  EXPECT_EQ(canvas.at(0, 0), 255);
}

TEST(FillHoles, SmallPartOfAKnownLargeRegionStaysWhite) {
  // A 40-pixel white row inside a ridge blob with a 3-pixel white pocket
  // hanging below its right end. The scan meets the row first (at its left
  // end), marks 30 pixels large; the rest of the row and the pocket are then
  // reached from another start, touch the large mark and stay white.
  Canvas canvas;
  for (int y = 40; y <= 60; ++y)
    for (int x = 10; x <= 70; ++x) canvas.set(x, y);
  for (int x = 15; x < 55; ++x) canvas.set(x, 45, 255);
  for (int y = 46; y <= 48; ++y) canvas.set(54, y, 255);
  fillSmallHoles(canvas.data());
  for (int x = 15; x < 55; ++x) EXPECT_EQ(canvas.at(x, 45), 255) << x;
  for (int y = 46; y <= 48; ++y) EXPECT_EQ(canvas.at(54, y), 255);
}

TEST(FillHoles, IslandsAtTheImageCornerAreBoundedByTheImage) {
  Canvas canvas;
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) canvas.set(x, y);
  canvas.set(0, 0, 255);  // 1-pixel island in the corner
  for (int y = kHeight - 10; y < kHeight; ++y)
    for (int x = kWidth - 10; x < kWidth; ++x) canvas.set(x, y);
  canvas.set(kWidth - 1, kHeight - 1, 255);
  fillSmallHoles(canvas.data());
  EXPECT_EQ(canvas.at(0, 0), 0);
  EXPECT_EQ(canvas.at(kWidth - 1, kHeight - 1), 0);
}

}  // namespace
}  // namespace fx60::extract
