#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "extract/minutiae_stages.h"
#include "skeleton_fixtures.h"

namespace fx60::extract {
namespace {

using testing::addCandidate;
using testing::Canvas;
using testing::foregroundMap;

// Endings at the given points, each at the left end of an 18-pixel ridge
// running right (17 steps: long enough for both directions).
struct EndingField {
  Canvas canvas;
  MinutiaCandidateList candidates;
  OrientationMap map = foregroundMap();

  void addEnding(int x, int y) {
    canvas.ray(x, y, 1, 0, 18);
    addCandidate(candidates, x, y, kRidgeEnding, 0);
  }
  MinutiaList refine() {
    MinutiaList list;
    refineMinutiae(list, candidates, canvas.data(), map);
    return list;
  }
};

std::vector<std::pair<int, int>> positions(const MinutiaList& list) {
  std::vector<std::pair<int, int>> out;
  for (int i = 0; i < list.count; ++i) out.emplace_back(list.entries[i].x, list.entries[i].y);
  return out;
}

TEST(Refinement, EndingGetsBothDirectionsFromItsRidge) {
  EndingField field;
  field.addEnding(100, 100);
  field.candidates.entries[0].direction240 = 77;  // replaced by the longer walk
  const MinutiaList list = field.refine();
  ASSERT_EQ(list.count, 1);
  EXPECT_EQ(list.entries[0].kind, kRidgeEnding);
  EXPECT_EQ(list.entries[0].direction256, 0);
  EXPECT_EQ(field.candidates.entries[0].direction240, 0);
}

TEST(Refinement, ShortRidgeLosesTheEnding) {
  EndingField field;
  field.canvas.ray(100, 100, 1, 0, 16);  // 15 steps
  addCandidate(field.candidates, 100, 100, kRidgeEnding, 0);
  EXPECT_EQ(field.refine().count, 0);
}

TEST(Refinement, MarginOfEightPixels) {
  EndingField field;
  field.addEnding(7, 100);
  field.addEnding(8, 200);
  field.addEnding(100, 352);
  field.addEnding(130, 351);
  field.addEnding(150, 7);
  field.addEnding(150, 30);
  EXPECT_EQ(positions(field.refine()),
            (std::vector<std::pair<int, int>>{{8, 200}, {130, 351}, {150, 30}}));
}

TEST(Refinement, BackgroundNearbyRemovesAMinutia) {
  EndingField field;
  field.addEnding(100, 100);
  field.addEnding(150, 100);
  field.map[cellIndex((100 + 6) / 3, (150 - 8) / 3)] |= kBackgroundFlag;
  EXPECT_EQ(positions(field.refine()), (std::vector<std::pair<int, int>>{{100, 100}}));
}

TEST(Refinement, FiveCloseNeighboursRemoveAMinutiaFourDoNot) {
  auto build = [](bool fifth) {
    EndingField field;
    // The centre ending's ridge runs up-left so the others' ridges stay clear.
    field.canvas.ray(100, 100, -1, -1, 18);
    addCandidate(field.candidates, 100, 100, kRidgeEnding, 0);
    field.canvas.ray(119, 100, 1, 0, 18);
    addCandidate(field.candidates, 119, 100, kRidgeEnding, 0);
    field.canvas.ray(81, 100, -1, 0, 18);
    addCandidate(field.candidates, 81, 100, kRidgeEnding, 0);
    field.canvas.ray(100, 119, 0, 1, 18);
    addCandidate(field.candidates, 100, 119, kRidgeEnding, 0);
    field.canvas.ray(100, 81, 0, -1, 18);
    addCandidate(field.candidates, 100, 81, kRidgeEnding, 0);
    if (fifth) {
      field.canvas.ray(113, 113, 1, 1, 18);
      addCandidate(field.candidates, 113, 113, kRidgeEnding, 0);
    }
    return field;
  };
  EndingField four = build(false);
  EXPECT_EQ(four.refine().count, 5);
  EndingField five = build(true);
  const auto survivors = positions(five.refine());
  EXPECT_EQ(survivors.size(), 5u);
  for (const auto& p : survivors) EXPECT_NE(p, std::make_pair(100, 100));
}

// Two forks two pixels apart diagonally, each with three long branches.
TEST(Refinement, TouchingForksAreBothRemoved) {
  Canvas canvas;
  // Fork A at (100, 100): branches up, right, left.
  canvas.ray(100, 100, 0, -1, 25);
  canvas.ray(101, 100, 1, 0, 25);
  canvas.ray(99, 100, -1, 0, 25);
  // Fork B at (102, 102): branches right, down, left.
  canvas.ray(102, 102, 0, 1, 25);
  canvas.ray(103, 102, 1, 0, 25);
  canvas.ray(101, 102, -1, 0, 25);
  MinutiaCandidateList candidates;
  addCandidate(candidates, 100, 100, kBifurcation, 0);
  addCandidate(candidates, 102, 102, kBifurcation, 0);
  MinutiaList list;
  refineMinutiae(list, candidates, canvas.data(), foregroundMap());
  EXPECT_EQ(list.count, 0);

  // Either fork alone survives with a valid direction.
  MinutiaCandidateList alone;
  addCandidate(alone, 100, 100, kBifurcation, 0);
  refineMinutiae(list, alone, canvas.data(), foregroundMap());
  EXPECT_EQ(list.count, 1);
}

TEST(Refinement, ForkDirectionIsTheMidpointOfItsClosestBranches) {
  Canvas canvas;
  canvas.ray(100, 100, 0, -1, 25);  // up: 180 / 192
  canvas.ray(101, 101, 1, 1, 25);   // down-right: 30 / 32
  canvas.ray(99, 101, -1, 1, 25);   // down-left: 90 / 96
  const Canvas before = canvas;
  MinutiaCandidateList candidates;
  addCandidate(candidates, 100, 100, kBifurcation, 0);
  MinutiaList list;
  refineMinutiae(list, candidates, canvas.data(), foregroundMap());
  ASSERT_EQ(list.count, 1);
  EXPECT_EQ(list.entries[0].kind, kBifurcation);
  EXPECT_EQ(list.entries[0].direction256, 64);
  EXPECT_EQ(candidates.entries[0].direction240, 60);
  EXPECT_EQ(canvas.pixels, before.pixels);
}

TEST(Refinement, RowOfEndingsAtThePrintEdgeIsRemoved) {
  // The middle ending meets the one above first (15 rows) and then the nearer
  // one below (14 rows), which pushes the first to second place.
  auto build = [](uint8_t lastDirectionOffset) {
    EndingField field;
    field.addEnding(100, 85);
    field.addEnding(100, 100);
    field.addEnding(100, 114);
    if (lastDirectionOffset != 0) {
      // Turn the last ridge so that ending points elsewhere.
      for (int x = 100; x < 118; ++x) field.canvas.set(x, 114, 255);
      field.canvas.ray(100, 114, 1, 1, 18);
    }
    // Background in grid column 27: within reach of the row test, outside the
    // position check.
    for (int r = 0; r < kGridRows; ++r) field.map[cellIndex(r, 27)] |= kBackgroundFlag;
    return field;
  };
  EndingField row = build(0);
  EXPECT_EQ(row.refine().count, 0);
  EndingField bent = build(1);
  EXPECT_EQ(bent.refine().count, 3);
}

TEST(Refinement, EdgeRowSecondNearestComesOnlyFromAPush) {
  // Both searches start from the bound 300 and only a
  // strictly smaller distance than the nearest moves anything, pushing the old
  // nearest to second place. A distance between the two does not become the
  // second, so the outcome depends on the order of the list.
  auto refineRow = [](const std::vector<int>& rows) {
    EndingField field;
    for (int y : rows) field.addEnding(100, y);
    for (int r = 0; r < kGridRows; ++r) field.map[cellIndex(r, 27)] |= kBackgroundFlag;
    return field.refine().count;
  };
  // Middle at 100, neighbours 14 and 15 rows away.
  EXPECT_EQ(refineRow({115, 100, 86}), 0);  // 15 then 14: the push gives both
  EXPECT_EQ(refineRow({86, 100, 115}), 3);  // 14 then 15: no second place
  EXPECT_EQ(refineRow({85, 100, 115}), 3);  // 15 and 15: no second place either
}

// A grid of endings 22 columns and 20 rows apart: no density or pair rule applies.
EndingField gridField(const std::vector<std::pair<int, int>>& skip) {
  EndingField field;
  for (int j = 0; j < 10; ++j)
    for (int i = 0; i < 11; ++i) {
      const std::pair<int, int> point{10 + 22 * i, 10 + 20 * j};
      bool skipped = false;
      for (const auto& s : skip) skipped = skipped || s == point;
      if (!skipped) field.addEnding(point.first, point.second);
    }
  return field;
}

TEST(Refinement, AtMostOneHundredNearestTheCentreSurvive) {
  // 110 places; three corners and six inner places left out, so the top-left
  // corner (10, 10) is the one point farthest from the bounding-box centre.
  const std::vector<std::pair<int, int>> skip = {{230, 10}, {10, 190}, {230, 190}, {54, 50},
                                                 {76, 50},  {98, 50},  {120, 50},  {142, 50},
                                                 {164, 50}};
  EndingField field = gridField(skip);
  ASSERT_EQ(field.candidates.count, 101u);
  std::vector<std::pair<int, int>> expected;
  for (uint32_t i = 1; i < field.candidates.count; ++i)
    expected.emplace_back(field.candidates.entries[i].x, field.candidates.entries[i].y);
  const MinutiaList list = field.refine();
  EXPECT_EQ(list.count, 100);
  EXPECT_EQ(positions(list), expected);

  std::vector<std::pair<int, int>> skipOneMore = skip;
  skipOneMore.emplace_back(186, 50);
  EndingField hundred = gridField(skipOneMore);
  ASSERT_EQ(hundred.candidates.count, 100u);
  std::vector<std::pair<int, int>> all;
  for (uint32_t i = 0; i < hundred.candidates.count; ++i)
    all.emplace_back(hundred.candidates.entries[i].x, hundred.candidates.entries[i].y);
  EXPECT_EQ(positions(hundred.refine()), all);
}

}  // namespace
}  // namespace fx60::extract
