#include <gtest/gtest.h>

#include "extract/minutiae_stages.h"
#include "extract/ridge_geometry.h"
#include "extract/ridge_tracing.h"
#include "skeleton_fixtures.h"

namespace fx60::extract {
namespace {

using testing::Canvas;
using testing::foregroundMap;

TEST(RidgeTrace, StepsAlongALineAndRestoresIt) {
  Canvas canvas;
  canvas.ray(100, 100, 1, 0, 30);
  const Canvas before = canvas;
  const RidgeTrace trace = traceRidge(canvas.data(), 100, 100, 10);
  EXPECT_EQ(trace.steps, 10);
  EXPECT_EQ(trace.endX, 110);
  EXPECT_EQ(trace.endY, 100);
  EXPECT_EQ(canvas.pixels, before.pixels);

  // A 5-pixel line makes 4 steps and stops on its far end.
  Canvas shortLine;
  shortLine.ray(50, 50, 0, 1, 5);
  EXPECT_EQ(traceRidge(shortLine.data(), 50, 50, 10).steps, 4);
}

TEST(RidgeTrace, PutsBackWhatItFoundEvenAtAWhiteStart) {
  // A walk restores the earlier values: from a white start next to a line the
  // start stays white, the line stays ridge, and nothing is added.
  Canvas canvas;
  canvas.ray(101, 100, 1, 0, 30);
  const Canvas before = canvas;
  EXPECT_EQ(traceRidge(canvas.data(), 100, 100, 10).steps, 10);
  EXPECT_EQ(canvas.at(100, 100), 255);
  EXPECT_EQ(canvas.pixels, before.pixels);
}

TEST(RidgeTrace, StopsAtTheWalkAreaBorder) {
  Canvas canvas;
  canvas.ray(5, 200, -1, 0, 6);  // runs into column 0
  const RidgeTrace trace = traceRidge(canvas.data(), 5, 200, 20);
  EXPECT_EQ(trace.steps, 5);
  EXPECT_EQ(trace.endX, 0);
}

TEST(BranchTrace, ThreeWalksTakeThreeLines) {
  Canvas canvas;
  canvas.ray(100, 100, 0, -1, 25);  // up
  canvas.ray(101, 101, 1, 1, 25);   // down-right
  canvas.ray(99, 101, -1, 1, 25);   // down-left
  const Canvas before = canvas;
  BranchTrace trace;
  traceBranches(canvas.data(), 100, 100, 10, 20, AngleUnits::k240, trace);
  EXPECT_FALSE(trace.metFork);
  EXPECT_EQ(trace.walks[0].direction, 180);
  EXPECT_EQ(trace.walks[1].direction, 30);
  EXPECT_EQ(trace.walks[2].direction, 90);
  for (const BranchWalk& walk : trace.walks) {
    EXPECT_EQ(walk.steps, 20);
    EXPECT_EQ(walk.length, 84);
  }
  for (int w = 2; w >= 0; --w) restoreWalk(canvas.data(), trace.walks[w]);
  EXPECT_EQ(canvas.pixels, before.pixels);
}

TEST(BranchTrace, ForkProbeCutsASingleSpurAndWalksOn) {
  Canvas canvas;
  canvas.ray(100, 100, 0, -1, 25);
  canvas.ray(101, 101, 1, 1, 25);
  canvas.ray(99, 101, -1, 1, 25);
  // A 1-pixel spur off the upward line, 6 pixels above the fork.
  canvas.set(101, 94);
  BranchTrace trace;
  traceBranches(canvas.data(), 100, 100, 10, 20, AngleUnits::k240, trace);
  // The walk passed a fork and ended elsewhere: it has met a fork all the same.
  EXPECT_TRUE(trace.metFork);
  EXPECT_EQ(trace.walks[0].steps, 20);
  for (int w = 2; w >= 0; --w) restoreWalk(canvas.data(), trace.walks[w]);
  EXPECT_EQ(canvas.at(101, 94), 255);
  EXPECT_EQ(canvas.at(100, 94), 0);
  EXPECT_EQ(canvas.at(100, 95), 0);
}

TEST(BranchTrace, ForkProbeNeverCutsTheForkPixelItself) {
  // The first walk goes up from the fork at (100, 110) and meets P = (100, 100),
  // whose other neighbours are A = (100, 99) above (a stub) and B = (101, 100)
  // to the right (a ridge running east). The first probe steps to A, which
  // whitens B for a move; A, left alone, steps (0, 0), gets B back and goes on
  // along B: 4 steps, no spur. The second probe starts from P with no ridge
  // neighbour left, steps (0, 0) twice and ends freely: a spur of P alone.
  // Only the spur's pixels other than P are cut, so nothing is, and P stays.
  Canvas canvas;
  canvas.ray(100, 110, 0, -1, 12);  // from the fork up to P and A
  canvas.ray(101, 100, 1, 0, 20);   // B and the ridge east of it
  canvas.ray(101, 111, 1, 1, 20);
  canvas.ray(99, 111, -1, 1, 20);
  const Canvas before = canvas;
  BranchTrace trace;
  traceBranches(canvas.data(), 100, 110, 10, 20, AngleUnits::k240, trace);
  EXPECT_EQ(trace.walks[0].steps, 10);  // ends at P, a point on two lines
  for (int w = 2; w >= 0; --w) restoreWalk(canvas.data(), trace.walks[w]);
  EXPECT_EQ(canvas.at(100, 100), 0);
  EXPECT_EQ(canvas.pixels, before.pixels);
}

TEST(BranchTrace, WalkEndsAtAForkOfTwoLongBranches) {
  Canvas canvas;
  canvas.ray(100, 100, 0, -1, 25);
  canvas.ray(101, 101, 1, 1, 25);
  canvas.ray(99, 101, -1, 1, 25);
  canvas.ray(101, 94, 1, 0, 20);  // a real branch, not a spur
  BranchTrace trace;
  traceBranches(canvas.data(), 100, 100, 10, 20, AngleUnits::k240, trace);
  EXPECT_TRUE(trace.metFork);
  EXPECT_EQ(trace.walks[0].steps, 6);
  EXPECT_FALSE(trace.walks[0].valid);
  EXPECT_EQ(trace.walks[0].direction, 255);
}

TEST(Detection, FindsEndingsWithDirectionsAndIgnoresShortRidges) {
  Canvas canvas;
  canvas.ray(60, 60, 1, 0, 30);   // both ends are endings
  canvas.ray(60, 120, 0, 1, 3);   // 3 pixels: too short for a direction
  MinutiaCandidateList candidates;
  detectMinutiae(canvas.data(), foregroundMap(), candidates);
  ASSERT_EQ(candidates.count, 2u);
  EXPECT_EQ(candidates.entries[0].x, 60);
  EXPECT_EQ(candidates.entries[0].kind, kRidgeEnding);
  EXPECT_EQ(candidates.entries[0].direction240, 0);    // points into its ridge
  EXPECT_EQ(candidates.entries[1].x, 89);
  EXPECT_EQ(candidates.entries[1].direction240, 120);
}

TEST(Detection, ForkBecomesABifurcation) {
  Canvas canvas;
  canvas.ray(100, 100, 0, -1, 25);
  canvas.ray(101, 101, 1, 1, 25);
  canvas.ray(99, 101, -1, 1, 25);
  const Canvas before = canvas;
  MinutiaCandidateList candidates;
  detectMinutiae(canvas.data(), foregroundMap(), candidates);
  int forks = 0;
  for (uint32_t i = 0; i < candidates.count; ++i) {
    const MinutiaCandidate& c = candidates.entries[i];
    if (c.kind != kBifurcation) continue;
    ++forks;
    EXPECT_EQ(c.x, 100);
    EXPECT_EQ(c.y, 100);
    EXPECT_EQ(c.direction240, 180);  // the first walk goes up
  }
  EXPECT_EQ(forks, 1);
  EXPECT_EQ(canvas.pixels, before.pixels);
}

TEST(Detection, ForkWithTwoShortSpursBecomesAnEndingAndLosesThem) {
  Canvas canvas;
  canvas.ray(100, 100, 1, 0, 30);  // long ridge to the east
  canvas.ray(99, 99, -1, -1, 2);   // 2-pixel spurs to the north-west and south-west
  canvas.ray(99, 101, -1, 1, 2);
  MinutiaCandidateList candidates;
  detectMinutiae(canvas.data(), foregroundMap(), candidates);
  ASSERT_GE(candidates.count, 1u);
  const MinutiaCandidate& first = candidates.entries[0];
  EXPECT_EQ(first.x, 100);
  EXPECT_EQ(first.y, 100);
  EXPECT_EQ(first.kind, kRidgeEnding);
  EXPECT_EQ(first.direction240, 0);
  EXPECT_EQ(canvas.at(99, 99), 255);
  EXPECT_EQ(canvas.at(98, 98), 255);
  EXPECT_EQ(canvas.at(99, 101), 255);
  EXPECT_EQ(canvas.at(100, 100), 0);
  EXPECT_EQ(canvas.at(129, 100), 0);
}

TEST(Detection, TwoShortSpursNextToALongWalkPastAForkStayAFork) {
  // As above, but the long ridge has a 1-pixel spur below it 5 pixels along.
  // The walk east meets that fork, the probe cuts the spur and the walk goes
  // on for its 10 steps. The walks met a fork, so the point is no spur
  // junction: the two short spurs stay, and with their directions 255 the
  // point is dropped.
  Canvas canvas;
  canvas.ray(100, 100, 1, 0, 30);
  canvas.ray(99, 99, -1, -1, 2);
  canvas.ray(99, 101, -1, 1, 2);
  canvas.set(105, 101);
  MinutiaCandidateList candidates;
  detectMinutiae(canvas.data(), foregroundMap(), candidates);
  ASSERT_EQ(candidates.count, 1u);
  EXPECT_EQ(candidates.entries[0].x, 129);  // only the far end of the long ridge
  EXPECT_EQ(canvas.at(105, 101), 255);      // the cut spur stays removed
  EXPECT_EQ(canvas.at(99, 99), 0);
  EXPECT_EQ(canvas.at(98, 98), 0);
  EXPECT_EQ(canvas.at(99, 101), 0);
  EXPECT_EQ(canvas.at(98, 102), 0);
  EXPECT_EQ(canvas.at(100, 100), 0);
}

TEST(Detection, SkipsTheOuterCellRingAndCellsNextToBackground) {
  Canvas canvas;
  canvas.ray(2, 150, 1, 0, 30);    // ending in grid column 0
  canvas.ray(150, 2, 0, 1, 30);    // ending in grid row 0
  canvas.ray(100, 200, 1, 0, 20);  // left end in cell (66, 33)
  OrientationMap map = foregroundMap();
  map[cellIndex(67, 32)] |= kBackgroundFlag;  // a diagonal neighbour of that cell
  MinutiaCandidateList candidates;
  detectMinutiae(canvas.data(), map, candidates);
  for (uint32_t i = 0; i < candidates.count; ++i) {
    const MinutiaCandidate& c = candidates.entries[i];
    EXPECT_FALSE(c.x == 2 && c.y == 150);
    EXPECT_FALSE(c.x == 150 && c.y == 2);
    EXPECT_FALSE(c.x == 100 && c.y == 200);
  }
  EXPECT_EQ(candidates.count, 3u);  // the far ends of the three lines
}

TEST(Detection, StopsAt250Candidates) {
  Canvas canvas;
  for (int y = 10; y < 350; y += 4)
    for (int x = 10; x < 240; x += 12) canvas.ray(x, y, 1, 0, 8);
  MinutiaCandidateList candidates;
  detectMinutiae(canvas.data(), foregroundMap(), candidates);
  EXPECT_EQ(candidates.count, 250u);
}

}  // namespace
}  // namespace fx60::extract
