// Coverage analysis: kernels, hull interpolation, envelope, component labelling and
// the J, K, V figures of simple layouts.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "match/coverage.h"

namespace fx60::match {
namespace {

constexpr int cone(const ConeKernel& k, int dr, int dc) { return k[dr + kConeReach][dc + kConeReach]; }
constexpr int bump(int dr, int dc) { return Bump[dr + kBumpReach][dc + kBumpReach]; }

static_assert(cone(SmallCone, 0, 0) == 84 && cone(SmallCone, 1, 0) == 72 && cone(SmallCone, 1, 1) == 67);
static_assert(cone(SmallCone, 6, 0) == 12 && cone(SmallCone, 6, 2) == 8 && cone(SmallCone, 5, 4) == 7);
static_assert(cone(SmallCone, 6, 3) == 0 && cone(SmallCone, 5, 5) == 0 && cone(SmallCone, -4, -5) == 7);
static_assert(cone(LargeCone, 0, 0) == 112 && cone(LargeCone, 1, 0) == 96 && cone(LargeCone, 1, 1) == 89);
static_assert(cone(LargeCone, 6, 0) == 16 && cone(LargeCone, 6, 2) == 11 && cone(LargeCone, 5, 4) == 10);
static_assert(bump(0, 0) == 256 && bump(-2, 5) == 1 && bump(5, -2) == 0 && bump(-1, -1) == 165);

int coneCells() {
  int n = 0;
  for (const auto& row : LargeCone)
    for (uint8_t v : row) n += v != 0;
  return n;
}

TEST(LowerHullFill, FillsGapsAndDents) {
  std::vector<uint8_t> gap = {10, 0xFF, 0xFF, 4};
  lowerHullFill(gap.data(), 3);
  EXPECT_EQ(gap, (std::vector<uint8_t>{10, 8, 6, 4}));

  std::vector<uint8_t> dent = {0, 5, 1, 3};  // (1, 5) lies above the hull
  lowerHullFill(dent.data(), 3);
  EXPECT_EQ(dent, (std::vector<uint8_t>{0, 1, 1, 3}));

  std::vector<uint8_t> convex = {0, 1, 3, 6};
  lowerHullFill(convex.data(), 3);
  EXPECT_EQ(convex, (std::vector<uint8_t>{0, 1, 3, 6}));

  std::vector<uint8_t> shortRun = {5, 0xFF};
  lowerHullFill(shortRun.data(), 1);
  EXPECT_EQ(shortRun, (std::vector<uint8_t>{5, 0xFF}));
}

TEST(LowerHullFill, RunsLongerThanTheGridStopAtItsSide) {
  // Ninety-one hull vertices, one more each time a step twice as flat follows: more
  // than a grid side holds. Only the first CoarseGrid::kSide + 1 values take part.
  std::vector<uint8_t> values(4200, 0xFF);
  for (int step = 0; step <= 90; ++step) values[step * (step + 1) / 2] = static_cast<uint8_t>(100 - step);
  lowerHullFill(values.data(), 90 * 91 / 2);
  EXPECT_EQ(values[2], 99);
  EXPECT_EQ(values[CoarseGrid::kSide], 0xFF);  // after the last vertex within reach
  EXPECT_EQ(values[91], 87);
  EXPECT_EQ(values[4000], 0xFF);
}

struct GridFixture : ::testing::Test {
  std::unique_ptr<CoarseGrid> grid = std::make_unique<CoarseGrid>();
  void fill(int r0, int r1, int c0, int c1, uint16_t value) {
    for (int r = r0; r <= r1; ++r)
      for (int c = c0; c <= c1; ++c) grid->at(r, c) = value;
  }
  int label(int r, int c) const { return grid->at(r, c) >> 8; }
};

using LabelComponent = GridFixture;

TEST_F(LabelComponent, LabelsTheWholeFourConnectedComponent) {
  // A U shape seeded at the top of its left arm, and a separate cell.
  const CoverageBox box{0, 0, 9, 5};
  fill(0, 3, 0, 0, 0x8000);
  fill(0, 3, 4, 4, 0x8000);
  fill(4, 4, 0, 4, 0x8000);
  grid->at(0, 8) = 0x8000;
  grid->at(1, 1) = 0x8000 + 0x7F;  // beside the left arm
  grid->at(3, 2) = 0x7FFF;         // balanced cells are not marked
  labelComponent(*grid, 129, box, 0, 0);
  EXPECT_EQ(label(0, 4), 129);  // up the right arm, against the sweep direction
  EXPECT_EQ(label(4, 2), 129);
  EXPECT_EQ(label(1, 1), 129);
  EXPECT_EQ(grid->at(1, 1) & 0xFF, 0x7F);  // the low byte is kept
  EXPECT_EQ(label(0, 8), 0x80);
  EXPECT_EQ(label(3, 2), 0x7F);

  // An unmarked seed labels nothing.
  labelComponent(*grid, 130, box, 0, 8);
  EXPECT_EQ(label(0, 8), 130);
  labelComponent(*grid, 131, box, 2, 2);
  EXPECT_EQ(label(2, 2), 0);
}

TEST_F(LabelComponent, EqualsAPlainFloodFillOnRandomGrids) {
  // Dense random layouts: runs that fold back through the rows they came from.
  const CoverageBox box{-3, -2, 40, 30};
  uint32_t state = 12345;
  for (int trial = 0; trial < 40; ++trial) {
    grid = std::make_unique<CoarseGrid>();
    for (int r = 0; r <= box.height; ++r)
      for (int c = 0; c <= box.width; ++c) {
        state = state * 1664525u + 1013904223u;
        grid->at(box.top + r, box.left + c) = (state >> 24) < 150 ? 0x8000 + (state & 0xFF) : 0x7FFF;
      }
    const CoarseGrid before = *grid;
    const int seedRow = trial % (box.height + 1);
    const int seedColumn = (7 * trial) % (box.width + 1);
    labelComponent(*grid, 200, box, seedRow, seedColumn);

    // Reference: breadth-first search over 4-neighbours of marked cells.
    std::vector<bool> reached((box.height + 1) * (box.width + 1), false);
    const auto marked = [&](int r, int c) { return (before.at(box.top + r, box.left + c) >> 8) == 0x80; };
    std::vector<std::pair<int, int>> queue;
    if (marked(seedRow, seedColumn)) {
      queue.push_back({seedRow, seedColumn});
      reached[seedRow * (box.width + 1) + seedColumn] = true;
    }
    for (size_t q = 0; q < queue.size(); ++q) {
      const auto [r, c] = queue[q];
      const int next[4][2] = {{r - 1, c}, {r + 1, c}, {r, c - 1}, {r, c + 1}};
      for (const auto& n : next) {
        if (n[0] < 0 || n[0] > box.height || n[1] < 0 || n[1] > box.width) continue;
        const int index = n[0] * (box.width + 1) + n[1];
        if (reached[index] || !marked(n[0], n[1])) continue;
        reached[index] = true;
        queue.push_back({n[0], n[1]});
      }
    }
    for (int r = 0; r <= box.height; ++r)
      for (int c = 0; c <= box.width; ++c) {
        const uint16_t old = before.at(box.top + r, box.left + c);
        const uint16_t want = reached[r * (box.width + 1) + c] ? static_cast<uint16_t>(0xC800 | (old & 0xFF)) : old;
        ASSERT_EQ(grid->at(box.top + r, box.left + c), want) << "trial " << trial << " cell " << r << "," << c;
      }
  }
}

using RegionEnvelope = GridFixture;

TEST_F(RegionEnvelope, ClosesADiamondAndMarksItsInside) {
  fill(0, 9, 0, 11, 0x7000);  // negative everywhere
  // Positive rim of a diamond over rows 2..6, balanced inside, one negative hole.
  grid->at(2, 5) = 0x8010;
  grid->at(3, 3) = grid->at(3, 7) = 0x8010;
  grid->at(4, 2) = grid->at(4, 8) = 0x8010;
  grid->at(5, 3) = grid->at(5, 7) = 0x8010;
  grid->at(6, 5) = 0x8010;
  fill(3, 5, 4, 6, 0x7FFF);
  fill(4, 4, 3, 7, 0x7FFF);
  grid->at(4, 5) = 0x7000;

  CoverageBox box{0, 0, 11, 9};
  const int seed = regionEnvelope(*grid, box);
  EXPECT_EQ(seed, 3);
  EXPECT_EQ(box.top, 2);
  EXPECT_EQ(box.left, 2);
  EXPECT_EQ(box.width, 6);
  EXPECT_EQ(box.height, 4);
  EXPECT_EQ(grid->at(4, 4), 0x8000);  // balanced inside: now marked
  EXPECT_EQ(grid->at(2, 5), 0x8011);
  EXPECT_EQ(grid->at(4, 5), 0x7001);  // negative stays unmarked
  EXPECT_EQ(grid->at(2, 4), 0x7000);  // outside the outline: untouched
  EXPECT_EQ(grid->at(4, 0), 0x8001);  // guards beside the outline
  EXPECT_EQ(grid->at(4, 1), 1);
  EXPECT_EQ(grid->at(4, 9), 1);
  EXPECT_EQ(grid->at(4, 10), 0x8001);
}

TEST_F(RegionEnvelope, NeedsFiveMarkedRows) {
  fill(0, 9, 0, 11, 0x7FFF);
  CoverageBox empty{0, 0, 11, 9};
  EXPECT_EQ(regionEnvelope(*grid, empty), -1);
  fill(2, 5, 3, 4, 0x8100);  // four rows
  CoverageBox box{0, 0, 11, 9};
  EXPECT_EQ(regionEnvelope(*grid, box), -1);
  fill(6, 6, 3, 3, 0x8100);  // five rows
  CoverageBox fiveRows{0, 0, 11, 9};
  EXPECT_EQ(regionEnvelope(*grid, fiveRows), 0);
  EXPECT_EQ(fiveRows.height, 4);
}

struct Layout {
  std::vector<OverlapRecordB> b;
  std::vector<OverlapRecordA> a;
  CoverageResult run() const {
    CoverageInput input;
    input.recordsB = b;
    input.recordsA = a;
    input.rect = {100, 100, 200, 300};
    return coverageAnalysis(input);
  }
  void pair(int y, int x, int strength) {
    b.push_back({y, x, 0, 0, 0, static_cast<uint8_t>(strength)});
    a.push_back({y, x, 0, 0, static_cast<uint8_t>(strength), static_cast<uint8_t>(b.size() - 1)});
  }
};

TEST(CoverageAnalysis, WithoutPairsOnlyTheUnpairedCount) {
  Layout layout;
  layout.a.push_back({150, 150, 0, 0, 0, 1});  // unpartnered, inside the other region
  const CoverageResult result = layout.run();
  EXPECT_EQ(result.j, 0);
  EXPECT_EQ(result.k, 0);
  EXPECT_EQ(result.v, coneCells());
  layout.a[0].partner = 0;  // outside the other region: no weight at all
  EXPECT_EQ(layout.run().v, 0);
}

TEST(CoverageAnalysis, SinglePairMakesOneComponent) {
  Layout layout;
  layout.pair(150, 150, 20);
  const CoverageResult result = layout.run();
  EXPECT_EQ(result.j, 40);  // 2m, no unpaired coverage
  EXPECT_EQ(result.k, coneCells());
  EXPECT_EQ(result.v, 0);
}

TEST(CoverageAnalysis, BalancedCellsJoinDistantPairs) {
  // Far apart, but the balanced cells between them fall inside the convex outline.
  Layout layout;
  layout.pair(120, 120, 20);
  layout.pair(280, 190, 30);
  EXPECT_EQ(layout.run().j, 100);
  // A row of unpaired minutiae between them cuts the area in two: the pair outside
  // the best component then counts only m.
  for (int x = 40; x <= 264; x += 16) layout.a.push_back({208, x, 0, 0, 0, 1});
  const CoverageResult cut = layout.run();
  EXPECT_EQ(cut.j, 60 + 20);
  EXPECT_GT(cut.v, 0);
}

}  // namespace
}  // namespace fx60::match
