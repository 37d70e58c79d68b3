// Fine stage: rotation penalty and the rescoring of aligned candidates.
#include <gtest/gtest.h>

#include "match/fine_score.h"
#include "match/fine_stage.h"
#include "match/matcher.h"
#include "match/pair_tables.h"
#include "match/view.h"
#include "template_builder.h"

namespace fx60::match {
namespace {

TEST(RotationPenalty, ByTurnFromNoTurnOrHalfTurn) {
  for (int v : {0, 6, -6, 125, 128, -128, 131})  // 131 is -125 as a byte angle
    EXPECT_EQ(rotationPenalty(3200, v), 3200) << v;
  EXPECT_EQ(rotationPenalty(3200, 7), (31 * 3200) >> 5);
  EXPECT_EQ(rotationPenalty(3200, 20), (18 * 3200) >> 5);
  EXPECT_EQ(rotationPenalty(3200, -20), (18 * 3200) >> 5);
  EXPECT_EQ(rotationPenalty(3200, 236), (18 * 3200) >> 5);
  for (int v : {38, 60, 112}) EXPECT_EQ(rotationPenalty(3200, v), 0) << v;
  EXPECT_EQ(rotationPenalty(3200, 113), (4 * 3200) >> 4);
  EXPECT_EQ(rotationPenalty(3200, 124), (15 * 3200) >> 4);
  EXPECT_EQ(rotationPenalty(5760, 60), 0);
  EXPECT_EQ(rotationPenalty(5761, 60), 5761);  // strong scores are never penalised
}

// Side A from a scattered template; the candidate starts as an exact copy of it.
struct FineSetup {
  MatchContext ctx;
  CandidateAlignment candidate;
  explicit FineSetup(uint32_t seed, uint8_t qualityA = 40, uint8_t qualityB = 40) {
    resetContext(ctx, threadWorkBuffers());
    const auto a = testing::buildTemplate(testing::scatteredMinutiae(30, seed), qualityA);
    decodeView(ctx.viewA, a.data());
    ctx.viewB.quality = qualityB;
    std::copy_n(ctx.viewA.minutiae, ctx.viewA.count, candidate.minutiae.begin());
    candidate.count = ctx.viewA.count;
    preparePassTables(ctx);  // extent and count of side A
  }
  void move(int dy, int dx) {
    for (int k = 0; k < candidate.count; ++k) {
      candidate.minutiae[k].y += dy;
      candidate.minutiae[k].x += dx;
    }
  }
  int score(int g0, uint8_t rotation = 0, int correction = 0) {
    return fineRescore(ctx, candidate, g0, rotation, correction, 1);
  }
};

TEST(FineRescore, NoOverlapKeepsTheIncomingScore) {
  FineSetup setup(3);
  setup.move(0, 400);  // nothing of B near A
  EXPECT_EQ(setup.score(1000), 1000);
  EXPECT_EQ(setup.score(1000, 20), (18 * 1000) >> 5);
  EXPECT_EQ(setup.score(1000, 16, 4), (18 * 1000) >> 5);  // the correction counts too
}

TEST(FineRescore, AgreementRaisesTheScore) {
  FineSetup exact(5);
  const int same = exact.score(1000);
  FineSetup shifted(5);
  shifted.move(0, 30);
  const int moved = shifted.score(1000);
  EXPECT_GT(same, (64 * 1000 * 12) >> 10);  // more than the incoming score alone
  EXPECT_GT(same, moved);
  FineSetup other(5);
  const auto b = testing::buildTemplate(testing::scatteredMinutiae(30, 6));
  MatchView view{0, 0, 0, other.candidate.minutiae.data(), other.candidate.singularPoints.data()};
  decodeView(view, b.data());
  other.candidate.count = view.count;
  EXPECT_GT(same, other.score(1000));
}

TEST(FineRescore, QualityOnlyWeighsAboveEighty) {
  FineSetup low(9, 30, 50);
  FineSetup even(9, 40, 40);
  FineSetup high(9, 100, 100);
  for (FineSetup* s : {&low, &even, &high}) s->move(4, 25);  // leaves unmatched minutiae
  EXPECT_EQ(low.score(500), even.score(500));
  EXPECT_LT(high.score(500), even.score(500));
}

TEST(FineRescore, SingularPointsPairOnlyWithTheirOwnType) {
  const auto withSingular = [](uint8_t typeA, uint8_t typeB) {
    FineSetup setup(11);
    MatchSingularPoint point{};
    point.y = setup.ctx.viewA.minutiae[10].y;
    point.x = setup.ctx.viewA.minutiae[10].x;
    point.angle = 50;
    point.type = typeA;
    setup.ctx.viewA.singularPoints[0] = point;
    setup.ctx.viewA.singularCount = 1;
    point.type = typeB;
    setup.candidate.singularPoints[0] = point;
    setup.candidate.singularCount = 1;
    return setup.score(1000);
  };
  EXPECT_GT(withSingular(1, 1), withSingular(1, 0));
  EXPECT_GT(withSingular(0, 0), withSingular(1, 0));
}

}  // namespace
}  // namespace fx60::match

namespace fx60::match {
namespace {

TEST(FineRescore, CoordinatesFarOutsideTheImage) {
  // Aligned copies can land anywhere; nothing outside the grids may be touched.
  for (const int offset : {-3000, -600, -40, 300, 520, 4000}) {
    FineSetup setup(13);
    for (int k = 0; k < setup.candidate.count; k += 2) {
      setup.candidate.minutiae[k].y += offset;
      setup.candidate.minutiae[k].x -= offset / 2;
    }
    MatchSingularPoint far{};
    far.y = offset;
    far.x = -offset;
    setup.candidate.singularPoints[0] = far;
    setup.candidate.singularCount = 1;
    setup.ctx.viewA.singularPoints[0] = far;
    setup.ctx.viewA.singularCount = 1;
    EXPECT_GE(setup.score(2000, 3, -1), 0) << offset;
  }
}

TEST(FineRescore, StopsEarlyOnlyWhenTheScoreCannotBeatTheBest) {
  // Candidates from exact to poor, with and without singular points, at rotations with
  // and without penalty: with a score to beat, the stage gives either the full score
  // or 0, and 0 only when the full score does not exceed the score to beat. Asked to
  // keep zero, an early result is 0 exactly when the full score is, and otherwise
  // lies in [1, score to beat]. Asked only whether a level is reached, an early result
  // lies between that level and the full score.
  int stopped = 0;
  int settled = 0;
  int stoppedKeepingZero = 0;
  int stoppedAboveZero = 0;  // stopped with a lower bound of the score
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    FineSetup setup(seed, static_cast<uint8_t>(40 + seed), 60);
    setup.move(static_cast<int>(seed % 7) * 9 - 27, static_cast<int>(seed % 5) * 11 - 22);
    for (int k = 0; k < setup.candidate.count; k += 3)
      setup.candidate.minutiae[k].x += static_cast<int>((seed * 37 + k * 11) % 41) - 20;
    if (seed % 4 == 0) {
      MatchSingularPoint point{};
      point.y = 180;
      point.x = 120;
      point.type = 1;
      setup.ctx.viewA.singularPoints[0] = point;
      setup.ctx.viewA.singularCount = 1;
      point.x += static_cast<int>(seed % 9);
      setup.candidate.singularPoints[0] = point;
      setup.candidate.singularCount = 1;
    }
    for (int g0 : {0, 300, 4000}) {
      for (uint8_t rotation : {uint8_t{0}, uint8_t{20}, uint8_t{120}}) {
        const int full = setup.score(g0, rotation);
        for (int toBeat : {0, full / 4, full / 2, full - 1, full, full + 1, 2 * full + 500, 1 << 30}) {
          const int early = fineRescore(setup.ctx, setup.candidate, g0, rotation, 0, 1, {toBeat});
          if (early == full) continue;
          ++stopped;
          EXPECT_EQ(early, 0) << seed << " " << g0 << " " << int{rotation} << " " << toBeat;
          EXPECT_LE(full, toBeat) << seed << " " << g0 << " " << int{rotation};
        }
        for (int toBeat : {0, full / 4, full / 2, full - 1, full, full + 1, 2 * full + 500, 1 << 30}) {
          const int early = fineRescore(setup.ctx, setup.candidate, g0, rotation, 0, 1, {toBeat, true});
          if (early == full) continue;
          ++stoppedKeepingZero;
          if (early > 0) ++stoppedAboveZero;
          EXPECT_LE(full, toBeat) << seed << " " << g0 << " " << int{rotation};
          EXPECT_EQ(early == 0, full == 0) << seed << " " << g0 << " " << int{rotation} << " " << toBeat;
          EXPECT_GE(early, 0);
          EXPECT_LE(early, toBeat);
        }
        for (int level : {1, full / 2, full - 1, full, full + 1, 2 * full + 500}) {
          FineGoal goal;
          goal.settledFrom = level;
          const int early = fineRescore(setup.ctx, setup.candidate, g0, rotation, 0, 1, goal);
          if (early == full) continue;
          ++settled;
          EXPECT_GE(early, level) << seed << " " << g0 << " " << int{rotation};
          EXPECT_LE(early, full) << seed << " " << g0 << " " << int{rotation};
        }
      }
    }
  }
  EXPECT_GT(stopped, 0);  // the early stop is exercised
  EXPECT_GT(stoppedKeepingZero, 0);
  EXPECT_GT(stoppedAboveZero, 0);
  EXPECT_GT(settled, 0);
}

TEST(AlignedStages, ArbitraryTemplatesGiveAScore) {
  // Random records, counts up to 255, coordinates out of range, any singular slots:
  // every comparison runs through alignment, refinement and the fine stage safely.
  uint32_t state = 12345;
  const auto next = [&state]() {
    state = state * 1664525u + 1013904223u;
    return static_cast<uint8_t>(state >> 24);
  };
  const auto randomTemplate = [&](bool native) {
    testing::Template t{};
    for (uint8_t& byte : t) byte = next();
    t[kTemplateMagicByte] = kTemplateMagic;
    if (native) {
      t[1] = 1;
      t[2] = 18;
      t[3] = 14;
      t[4] = 1;
    }
    updateCheckByte(t.data());
    return t;
  };
  // A real-looking template against its own near copy keeps the later stages busy.
  const testing::Template base = testing::buildTemplate(testing::scatteredMinutiae(60, 21));
  for (int round = 0; round < 60; ++round) {
    testing::Template a = randomTemplate(round % 2 == 0);
    testing::Template b = round % 3 == 0 ? base : randomTemplate(round % 4 == 1);
    if (round % 5 == 0) a = base;
    float score = -1;
    const int status = matchTemplates(a.data(), b.data(), &score);
    EXPECT_TRUE(status == 1 || status == -1);
    EXPECT_GE(score, 0.0f);
    EXPECT_LE(score, 1.0f);
  }
}

}  // namespace
}  // namespace fx60::match
