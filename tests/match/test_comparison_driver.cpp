// The comparison driver: template preparation, the half-turn copy and the published score.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "match/match_pass.h"
#include "match/matcher.h"
#include "template_builder.h"

namespace fx60::match {
namespace {

using testing::buildTemplate;
using testing::setSingularPoint;
using testing::Template;
using testing::TestMinutia;

testing::TestMinutia recordOf(const Template& t, int i) {
  const uint8_t* r = t.data() + kTemplateFirstMinutia + 4 * i;
  return {r[0], r[1] + 256 * (r[3] & 1), r[2] + 256 * ((r[3] >> 1) & 1)};
}

TEST(PublishedScore, NeverFallsInTheGapAndDoublesPassingResults) {
  for (int v = 0; v <= 65536; v += 7) {
    const float x = v / 65536.0f;
    const float s = publishedScore(x, 0.0f);
    EXPECT_FALSE(s >= 0.41f && s < 0.815f) << v;
    EXPECT_LE(s, 1.0f);
  }
  EXPECT_EQ(publishedScore(0.0f, 0.0f), 0.0f);
  // 40 percent (x = 0.08) retries and is not doubled; 41 percent is doubled.
  EXPECT_TRUE(needsHalfTurnRetry(0.08f));
  EXPECT_FALSE(needsHalfTurnRetry(0.082f));
  EXPECT_FLOAT_EQ(publishedScore(0.08f, 0.0f), 0.405f);
  EXPECT_FLOAT_EQ(publishedScore(0.082f, 0.0f), 0.825f);
  EXPECT_FLOAT_EQ(publishedScore(0.3f, 0.0f), 1.0f);
}

TEST(PublishedScore, RetryReplacesOnlyAStrictlyBetterFirstResult) {
  // Same rounded percent (30): the first result stays even though x2 is larger.
  EXPECT_FLOAT_EQ(publishedScore(0.0600f, 0.0609f), 5 * 0.0600f + 0.005f);
  EXPECT_FLOAT_EQ(publishedScore(0.0600f, 0.0620f), 5 * 0.0620f + 0.005f);
  // A retry that passes the bound is doubled.
  EXPECT_FLOAT_EQ(publishedScore(0.01f, 0.09f), 2 * 5 * 0.09f + 0.005f);
}

TEST(MatchTemplates, RejectsUnusableTemplates) {
  const Template good = buildTemplate(testing::scatteredMinutiae(20, 1));
  float score = 7.0f;
  Template wrongMagic = good;
  wrongMagic[0] = 0x42;
  EXPECT_EQ(matchTemplates(wrongMagic.data(), good.data(), &score), -1);
  EXPECT_EQ(score, 0.0f);
  Template badCheck = good;
  badCheck[kTemplateCheckByte] ^= 1;
  EXPECT_EQ(matchTemplates(good.data(), badCheck.data(), &score), -1);
  Template count255 = good;
  count255[kTemplateCountByte] = 255;
  updateCheckByte(count255.data());
  EXPECT_EQ(matchTemplates(count255.data(), good.data(), &score), -1);
  EXPECT_EQ(matchTemplates(nullptr, good.data(), &score), -1);
}

TEST(MatchTemplates, EmptySideScoresZeroAfterTheRetry) {
  const Template good = buildTemplate(testing::scatteredMinutiae(20, 1));
  Template empty = good;
  empty[kTemplateCountByte] = 0;
  updateCheckByte(empty.data());
  // Count 0 is refused by the native clean-up; a non-native copy is compared and scores 0.
  EXPECT_EQ(matchTemplates(good.data(), empty.data(), nullptr), -1);
  empty[2] = 0;
  updateCheckByte(empty.data());
  float score = 1.0f;
  MatchDetails details;
  EXPECT_EQ(matchTemplates(good.data(), empty.data(), &score, &details), 1);
  EXPECT_EQ(score, 0.0f);
  EXPECT_TRUE(details.halfTurnRetried);
}

TEST(MatchTemplates, CallerBuffersAreNeverWritten) {
  Template a = buildTemplate({{3, 3, 10}, {100, 100, 20}, {120, 200, 30}, {200, 300, 40}});
  const Template before = a;
  float score;
  matchTemplates(a.data(), a.data(), &score);
  EXPECT_EQ(a, before);
}

TEST(MatchTemplates, AnyBytesGiveAStatusAndAScore) {
  uint32_t state = 12345;
  for (int round = 0; round < 300; ++round) {
    Template a;
    Template b;
    for (auto* t : {&a, &b})
      for (uint8_t& byte : *t) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(state >> 16);
      }
    a[0] = b[0] = kTemplateMagic;
    if (round % 2 == 0) {  // native ones with a valid check byte reach the clean-up
      a[1] = b[1] = 1, a[2] = b[2] = 18, a[3] = b[3] = 14, a[4] = b[4] = 1;
    }
    updateCheckByte(a.data());
    updateCheckByte(b.data());
    float score = -1.0f;
    const int status = matchTemplates(a.data(), b.data(), &score);
    EXPECT_TRUE(status == 1 || status == -1);
    EXPECT_GE(score, 0.0f);
    EXPECT_LE(score, 1.0f);
  }
}

// A copy of the minutiae, some dropped, the rest moved by a small turn and shift with
// a little noise: a second impression of the same finger.
std::vector<TestMinutia> anotherImpression(const std::vector<TestMinutia>& minutiae, uint32_t seed) {
  uint32_t state = seed * 2654435761u + 1;
  const auto next = [&state](int range) {
    state = state * 1664525u + 1013904223u;
    return static_cast<int>((state >> 8) % static_cast<uint32_t>(range));
  };
  const double turn = (next(21) - 10) * 3.14159265 / 180.0;
  const int shiftX = next(31) - 15;
  const int shiftY = next(31) - 15;
  const int dropOneIn = 3 + next(6);
  std::vector<TestMinutia> out;
  for (const TestMinutia& m : minutiae) {
    if (next(dropOneIn) == 0) continue;
    const double dx = m.x - 128.0;
    const double dy = m.y - 180.0;
    const int x = static_cast<int>(128.0 + dx * std::cos(turn) - dy * std::sin(turn)) + shiftX + next(5) - 2;
    const int y = static_cast<int>(180.0 + dx * std::sin(turn) + dy * std::cos(turn)) + shiftY + next(5) - 2;
    if (x < 8 || x > 247 || y < 8 || y > 351) continue;
    const int angle = (m.angle + 360 + static_cast<int>(turn * 180.0 / 3.14159265) + next(9) - 4) % 360;
    out.push_back({x, y, angle});
  }
  return out;
}

TEST(MatchTemplates, PlainCallPublishesExactlyTheDetailedScore) {
  // Without details the matcher stops once the rest of the comparison cannot change
  // the published score: a saturated first result, a second result that cannot
  // replace the first. Same fingers, turned copies (which reach the half-turn retry),
  // and other fingers all publish bit for bit what the full comparison publishes.
  int saturated = 0;
  int retriedAndReplaced = 0;
  int retriedAndKept = 0;
  for (uint32_t seed = 1; seed <= 60; ++seed) {
    const std::vector<TestMinutia> finger = testing::scatteredMinutiae(18 + static_cast<int>(seed % 30), seed);
    const Template a = buildTemplate(finger, static_cast<uint8_t>(40 + seed % 60));
    Template same = buildTemplate(anotherImpression(finger, seed), static_cast<uint8_t>(50 + seed % 50));
    Template turned = same;
    rotateTemplate180(turned.data());
    const Template other = buildTemplate(testing::scatteredMinutiae(18 + static_cast<int>(seed % 23), seed + 1000));
    if (seed % 5 == 0) setSingularPoint(same, 0, 120, 170);
    for (const Template* b : std::initializer_list<const Template*>{&same, &turned, &other}) {
      float detailedScore = -1.0f;
      MatchDetails details;
      const int detailedStatus = matchTemplates(a.data(), b->data(), &detailedScore, &details);
      float plainScore = -1.0f;
      const int plainStatus = matchTemplates(a.data(), b->data(), &plainScore);
      EXPECT_EQ(plainStatus, detailedStatus) << seed;
      EXPECT_EQ(std::memcmp(&plainScore, &detailedScore, sizeof plainScore), 0)
          << seed << ": plain " << plainScore << ", detailed " << detailedScore;
      if (details.firstSimilarity >= 0.1f) ++saturated;
      if (details.halfTurnRetried) {
        if (publishedScore(details.firstSimilarity, 0.0f) != detailedScore)
          ++retriedAndReplaced;
        else
          ++retriedAndKept;
      }
    }
  }
  // Every way of stopping early is exercised.
  EXPECT_GT(saturated, 10);
  EXPECT_GT(retriedAndReplaced, 10);
  EXPECT_GT(retriedAndKept, 10);
}

TEST(NormaliseTemplate, InsideTemplatesOnlyLoseRecordsBeyond70) {
  const std::vector<TestMinutia> inside = testing::scatteredMinutiae(30, 7);
  Template t = buildTemplate(inside);
  const Template before = t;
  EXPECT_EQ(normaliseTemplate(t.data()), 0);
  EXPECT_EQ(t, before);

  std::vector<TestMinutia> many;
  for (int i = 0; i < 90; ++i) many.push_back({10 + (i % 10) * 20, 10 + (i / 10) * 30, i * 4});
  Template capped = buildTemplate(many);
  EXPECT_EQ(normaliseTemplate(capped.data()), 0);
  EXPECT_EQ(capped[kTemplateCountByte], 70);
  EXPECT_EQ(recordOf(capped, 69).angle, 69 * 4);
  EXPECT_TRUE(checkByteIsValid(capped.data()));
}

TEST(NormaliseTemplate, ShiftsToTheBoxCornerAndDropsItsEdge) {
  // minX = 3 (< 6) triggers the shift by (minX, minY).
  Template t = buildTemplate({{3, 50, 10}, {8, 60, 20}, {40, 100, 359}, {200, 300, 0}});
  EXPECT_EQ(normaliseTemplate(t.data()), 0);
  ASSERT_EQ(t[kTemplateCountByte], 2);  // the corner minutia and the one within 6 of it go
  EXPECT_EQ(recordOf(t, 0).x, 37);
  EXPECT_EQ(recordOf(t, 0).y, 50);
  EXPECT_EQ(recordOf(t, 0).angle, 359);
  EXPECT_EQ(recordOf(t, 1).x, 197);
  EXPECT_EQ(recordOf(t, 1).y, 250);
  // Without out-of-range rows the dropped tail records stay in place.
  EXPECT_EQ(recordOf(t, 2).x, 40);
}

TEST(NormaliseTemplate, OutOfRangeRowsClearTheDroppedTail) {
  Template t = buildTemplate({{20, 30, 10}, {60, 200, 20}, {100, 400, 30}});
  EXPECT_EQ(normaliseTemplate(t.data()), 0);
  // The rows span 370, so the offset comes from the centroid: (0, 210 - 180).
  ASSERT_EQ(t[kTemplateCountByte], 1);
  EXPECT_EQ(recordOf(t, 0).x, 60);
  EXPECT_EQ(recordOf(t, 0).y, 170);
  for (int byte = kTemplateFirstMinutia + 4; byte < kTemplateFirstMinutia + 12; ++byte) EXPECT_EQ(t[byte], 0);
}

TEST(NormaliseTemplate, CountsBeyondTheRecordAreaAreBounded) {
  Template t = buildTemplate(testing::scatteredMinutiae(20, 3));
  t[kTemplateCountByte] = 254;
  updateCheckByte(t.data());
  EXPECT_EQ(normaliseTemplate(t.data()), 0);
  EXPECT_LE(t[kTemplateCountByte], 70);
}

TEST(RotateTemplate180, TurnsPositionsAnglesAndTwoSingularPoints) {
  Template t = buildTemplate({{10, 20, 0}, {100, 300, 270}});
  setSingularPoint(t, 0, 50, 60);
  setSingularPoint(t, 1, 70, 80);
  setSingularPoint(t, 2, 90, 100);
  rotateTemplate180(t.data());
  EXPECT_TRUE(checkByteIsValid(t.data()));
  EXPECT_EQ(recordOf(t, 0).x, 245);
  EXPECT_EQ(recordOf(t, 0).y, 339);
  EXPECT_EQ(recordOf(t, 0).angle, 180);
  EXPECT_EQ(recordOf(t, 1).x, 155);
  EXPECT_EQ(recordOf(t, 1).y, 59);
  EXPECT_EQ(recordOf(t, 1).angle, 90);
  EXPECT_EQ(t[kTemplateSingularPoints], 205);
  EXPECT_EQ(t[kTemplateSingularPoints + 1], 299 - 256);
  EXPECT_EQ(t[kTemplateSingularPoints + 2], 0xFF);
  EXPECT_EQ(t[kTemplateSingularPoints + 3], 185);
  EXPECT_EQ(t[kTemplateSingularPoints + 6], 90);  // slot 3 is not touched
  EXPECT_EQ(t[kTemplateLengthHigh + 1], 4 * 2 + 9);
}

TEST(RotateTemplate180, BadCheckByteLeavesNoMinutiae) {
  Template t = buildTemplate({{10, 20, 0}, {100, 300, 270}});
  t[kTemplateCheckByte] ^= 0xFF;
  rotateTemplate180(t.data());
  EXPECT_EQ(t[kTemplateCountByte], 0);
  EXPECT_TRUE(checkByteIsValid(t.data()));
}

TEST(RotateTemplate180, RowsBelowTheImageStayInRange) {
  Template t = buildTemplate({{10, 500, 0}});
  rotateTemplate180(t.data());
  EXPECT_EQ(recordOf(t, 0).y, 0);
}

}  // namespace
}  // namespace fx60::match
