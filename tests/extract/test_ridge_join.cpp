#include <gtest/gtest.h>

#include "extract/minutiae_stages.h"
#include "skeleton_fixtures.h"

namespace fx60::extract {
namespace {

using testing::addCandidate;
using testing::Canvas;

// Two ridges on row 100 with facing ends at x = 100 and x = 100 + gap.
struct BrokenRidge {
  Canvas canvas;
  MinutiaCandidateList candidates;

  explicit BrokenRidge(int gap) {
    canvas.ray(100, 100, -1, 0, 20);
    canvas.ray(100 + gap, 100, 1, 0, 20);
    addCandidate(candidates, 100, 100, kRidgeEnding, 120);     // its ridge runs left
    addCandidate(candidates, 100 + gap, 100, kRidgeEnding, 0);  // and this one right
  }
};

TEST(RidgeJoin, FacingEndingsFifteenApartAreBridged) {
  BrokenRidge broken(15);
  joinBrokenRidges(broken.candidates, broken.canvas.data());
  EXPECT_EQ(broken.candidates.entries[0].direction240, kRemovedDirection);
  EXPECT_EQ(broken.candidates.entries[1].direction240, kRemovedDirection);
  for (int x = 100; x <= 115; ++x) EXPECT_EQ(broken.canvas.at(x, 100), 0) << x;
}

TEST(RidgeJoin, SixteenApartStayApart) {
  BrokenRidge broken(16);
  const Canvas before = broken.canvas;
  joinBrokenRidges(broken.candidates, broken.canvas.data());
  EXPECT_EQ(broken.candidates.entries[0].direction240, 120);
  EXPECT_EQ(broken.candidates.entries[1].direction240, 0);
  EXPECT_EQ(broken.canvas.pixels, before.pixels);
}

TEST(RidgeJoin, RidgeAcrossTheGapBlocksTheBridge) {
  BrokenRidge broken(10);
  broken.canvas.ray(106, 90, 0, 1, 20);  // a ridge crossing the gap
  const Canvas before = broken.canvas;
  joinBrokenRidges(broken.candidates, broken.canvas.data());
  EXPECT_EQ(broken.candidates.entries[0].direction240, 120);
  EXPECT_EQ(broken.canvas.pixels, before.pixels);
}

TEST(RidgeJoin, EndingsPointingTheSameWayAreNotJoined) {
  BrokenRidge broken(8);
  broken.candidates.entries[1].direction240 = 120;
  joinBrokenRidges(broken.candidates, broken.canvas.data());
  EXPECT_EQ(broken.candidates.entries[0].direction240, 120);
  EXPECT_EQ(broken.candidates.entries[1].direction240, 120);
}

TEST(RidgeJoin, AnEndingRemovedByAnEarlierJoinMayJoinAgain) {
  // After the first pair is joined, the second ending's direction byte reads
  // 255. It is not skipped: read as a direction in the angle tests, 255 faces a
  // third ending up-left of it (differences 105 and 105, limit 98 at 9 pixels),
  // so the two are bridged too and the third ending is removed as well.
  BrokenRidge broken(10);
  broken.candidates.entries[1].y = 101;
  broken.canvas.ray(110, 101, 1, 0, 20);
  addCandidate(broken.candidates, 103, 94, kRidgeEnding, 150);
  broken.canvas.ray(103, 94, -1, -1, 20);
  joinBrokenRidges(broken.candidates, broken.canvas.data());
  EXPECT_EQ(broken.candidates.entries[0].direction240, kRemovedDirection);
  EXPECT_EQ(broken.candidates.entries[1].direction240, kRemovedDirection);
  EXPECT_EQ(broken.candidates.entries[2].direction240, kRemovedDirection);
  for (int k = 1; k <= 6; ++k) EXPECT_EQ(broken.canvas.at(110 - k, 101 - k), 0) << k;

  // With a direction the removed byte does not face, it stays apart.
  BrokenRidge apart(10);
  apart.candidates.entries[1].y = 101;
  apart.canvas.ray(110, 101, 1, 0, 20);
  addCandidate(apart.candidates, 103, 94, kRidgeEnding, 100);
  apart.canvas.ray(103, 94, -1, -1, 20);
  joinBrokenRidges(apart.candidates, apart.canvas.data());
  EXPECT_EQ(apart.candidates.entries[2].direction240, 100);
  EXPECT_EQ(apart.canvas.at(109, 100), 255);
}

TEST(RidgeJoin, ForksAndSingleCandidatesAreLeftAlone) {
  BrokenRidge broken(10);
  broken.candidates.entries[1].kind = kBifurcation;
  joinBrokenRidges(broken.candidates, broken.canvas.data());
  EXPECT_EQ(broken.candidates.entries[0].direction240, 120);

  BrokenRidge single(10);
  single.candidates.count = 1;
  joinBrokenRidges(single.candidates, single.canvas.data());
  EXPECT_EQ(single.candidates.entries[0].direction240, 120);
}

}  // namespace
}  // namespace fx60::extract
