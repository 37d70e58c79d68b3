#include <gtest/gtest.h>

#include <algorithm>

#include "extract/orientation.h"
#include "extract/preconditioning.h"
#include "synthetic_images.h"

namespace fx60::extract {
namespace {

using testing::Image;

int countForeground(const OrientationMap& map) {
  return static_cast<int>(std::count_if(map.begin(), map.end(), [](uint8_t cell) { return !isBackground(cell); }));
}

// Orientation of the cells well inside the grid, where every window is full.
std::vector<int> interiorOrientations(const OrientationMap& map) {
  std::vector<int> values;
  for (int r = 10; r < kGridRows - 10; ++r)
    for (int c = 10; c < kGridColumns - 10; ++c) values.push_back(orientationOf(map[cellIndex(r, c)]));
  return values;
}

TEST(EstimateOrientation, UniformImageIsAllBackgroundAndScoresTen) {
  const Image image = testing::uniformImage(128);
  OrientationMap map{};
  EXPECT_EQ(estimateOrientation(image.data(), map), 10);
  EXPECT_EQ(countForeground(map), 0);
}

TEST(EstimateOrientation, StraightRidgesGiveTheirDirection) {
  // Ridges along x are 0, along the down-right diagonal 30, along y 60, along the
  // down-left diagonal 90 (1.5 degrees per step, clockwise on the screen).
  for (const auto& [degrees, expected] : {std::pair{0.0, 0}, {45.0, 30}, {90.0, 60}, {135.0, 90}, {30.0, 20}}) {
    const Image image = testing::stripeImage(degrees, 9.0);
    OrientationMap map{};
    estimateOrientation(image.data(), map);
    for (int h : interiorOrientations(map)) {
      const int difference = std::abs(h - expected);
      ASSERT_LE(std::min(difference, kOrientationSteps - difference), 2) << "ridges at " << degrees << " degrees";
    }
  }
}

TEST(EstimateOrientation, CentredStrongPrintIsAcceptedWithForegroundInside) {
  const Image image = testing::stripeImage(20.0, 8.0, [](int x, int y) {
    return x >= 30 && x < 226 && y >= 30 && y < 330;
  });
  OrientationMap map{};
  const int score = estimateOrientation(image.data(), map);
  EXPECT_GE(score, 11);
  EXPECT_LE(score, 100);
  // The centre is print, the grid corners are always background after the vote.
  EXPECT_FALSE(isBackground(map[cellIndex(59, 42)]));
  EXPECT_TRUE(isBackground(map[cellIndex(0, 0)]));
  EXPECT_TRUE(isBackground(map[cellIndex(118, 83)]));
}

TEST(EstimateOrientation, RejectedPrintsScoreByTheirFault) {
  struct Case {
    const char* name;
    bool (*inside)(int, int);
    int score;
  };
  const Case cases[] = {
      {"small area", [](int x, int y) { return x >= 80 && x < 180 && y >= 100 && y < 260; }, 1},
      {"too far left", [](int x, int) { return x < 150; }, 2},
      {"too far right", [](int x, int) { return x >= 106; }, 3},
      {"too high", [](int, int y) { return y < 200; }, 4},
      {"too low", [](int, int y) { return y >= 160; }, 5},
  };
  for (const Case& c : cases) {
    const Image image = testing::stripeImage(70.0, 8.0, c.inside);
    OrientationMap map{};
    EXPECT_EQ(estimateOrientation(image.data(), map), c.score) << c.name;
  }
}

TEST(SmoothForegroundMask, KeepsOrientationsAndVotesOnTheFlag) {
  OrientationMap map{};
  for (int i = 0; i < kGridCells; ++i) map[i] = static_cast<uint8_t>(i % kOrientationSteps);
  // One background cell inside an all-foreground grid becomes foreground again;
  // the corners see only 36 cells and turn background.
  map[cellIndex(50, 40)] |= kBackgroundFlag;
  smoothForegroundMask(map);
  for (int i = 0; i < kGridCells; ++i) ASSERT_EQ(orientationOf(map[i]), i % kOrientationSteps);
  EXPECT_FALSE(isBackground(map[cellIndex(50, 40)]));
  EXPECT_TRUE(isBackground(map[cellIndex(0, 0)]));
  EXPECT_TRUE(isBackground(map[cellIndex(0, 83)]));
  // An edge cell (not a corner) sees 6 x 11 = 66 cells: still foreground.
  EXPECT_FALSE(isBackground(map[cellIndex(0, 40)]));
  // A corner-near cell with 7 x 8 = 56 cells in its window is outvoted.
  EXPECT_TRUE(isBackground(map[cellIndex(1, 2)]));
}

}  // namespace
}  // namespace fx60::extract
