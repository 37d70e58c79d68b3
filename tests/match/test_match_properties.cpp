// Properties of whole comparisons: determinism across threads, and on generated
// prints (and on real ones where the shared sets are present) a template matches
// itself and its own turned and shifted minutiae, while different fingers rarely
// pass the default level.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "extract/extractor.h"
#include "match/match_pass.h"
#include "match/matcher.h"
#include "template/feature_template.h"
#include "template_builder.h"
#include "tests/support/generated_prints.h"
#include "tests/support/test_data.h"

namespace fx60::match {
namespace {

using testing::Template;

constexpr float kLevel5 = 0.61f;
constexpr float kLevel3 = 0.34f;

// A template with every minutia turned about the image centre and moved; minutiae that
// leave the image are dropped.
Template turnedAndMoved(const Template& source, double degrees, int dx, int dy) {
  std::vector<testing::TestMinutia> moved;
  const double rad = degrees * M_PI / 180.0;
  for (int i = 0; i < source[kTemplateCountByte]; ++i) {
    const uint8_t* r = source.data() + kTemplateFirstMinutia + 4 * i;
    const double x = r[0] - 128.0;
    const double y = r[1] + 256 * (r[3] & 1) - 180.0;
    const int angle = r[2] + 256 * ((r[3] >> 1) & 1);
    // Anticlockwise on the screen (y grows downwards).
    const int nx = static_cast<int>(std::lround(128.0 + x * std::cos(rad) + y * std::sin(rad))) + dx;
    const int ny = static_cast<int>(std::lround(180.0 - x * std::sin(rad) + y * std::cos(rad))) + dy;
    if (nx < 0 || nx > 255 || ny < 0 || ny > 359) continue;
    moved.push_back({nx, ny, ((angle + static_cast<int>(std::lround(degrees))) % 360 + 360) % 360});
  }
  Template out = testing::buildTemplate(moved, source[kTemplateQualityByte]);
  return out;
}

float compare(const Template& a, const Template& b) {
  float score = 0;
  EXPECT_EQ(matchTemplates(a.data(), b.data(), &score), 1);
  return score;
}

TEST(MatchProperties, ConcurrentComparisonsEqualSerialOnes) {
  std::vector<Template> templates;
  for (uint32_t seed = 1; seed <= 4; ++seed) {
    const Template base = testing::buildTemplate(testing::scatteredMinutiae(35, seed));
    templates.push_back(base);
    templates.push_back(turnedAndMoved(base, 8.0 * seed - 20.0, 3 * static_cast<int>(seed), -5));
  }
  std::vector<float> serial;
  for (const Template& a : templates)
    for (const Template& b : templates) serial.push_back(compare(a, b));

  constexpr int kThreads = 4;
  std::vector<std::vector<float>> results(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 2; ++round) {
        std::vector<float> scores;
        for (const Template& a : templates)
          for (const Template& b : templates) {
            float score = 0;
            matchTemplates(a.data(), b.data(), &score);
            scores.push_back(score);
          }
        results[t] = scores;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(results[t], serial) << "thread " << t;
}

// The result of work run on a thread of its own, whose matcher buffers start empty.
template <typename Work>
auto onFreshThread(const Work& work) {
  decltype(work()) result{};
  std::thread([&] { result = work(); }).join();
  return result;
}

// A thread remembers the side A it prepared last and recalls it for the next
// comparison with the same first template. Whatever ran on the thread before (other
// first templates, second passes that used the remembered pair list, half-turn
// retries, direct similarity calls), every comparison scores as a fresh one.
TEST(MatchProperties, RememberedSideAScoresAsAFreshOne) {
  std::vector<Template> templates;
  for (uint32_t seed = 1; seed <= 3; ++seed) {
    const Template base = testing::buildTemplate(testing::scatteredMinutiae(30 + 5 * static_cast<int>(seed), seed));
    templates.push_back(base);
    templates.push_back(turnedAndMoved(base, 9.0 * seed - 15.0, 4 * static_cast<int>(seed), -6));
    Template turned = base;
    rotateTemplate180(turned.data());
    templates.push_back(turned);
  }
  // Each first template against all, then the pairs the other way round, so that a
  // first template is met again after others.
  std::vector<std::pair<size_t, size_t>> order;
  for (size_t a = 0; a < templates.size(); ++a)
    for (size_t b = 0; b < templates.size(); ++b) order.emplace_back(a, b);
  for (size_t b = 0; b < templates.size(); ++b)
    for (size_t a = templates.size(); a-- > 0;) order.emplace_back(a, b);

  int recalledAfterSecondPass = 0;
  bool lastRanSecondPass = false;
  size_t lastA = templates.size();
  for (size_t n = 0; n < order.size(); ++n) {
    const auto [a, b] = order[n];
    const Template& first = templates[a];
    const Template& second = templates[b];
    SimilarityTrace trace;
    MatchDetails details;
    details.firstTrace = &trace;
    float detailed = 0;
    float plain = 0;
    if (n % 2 == 0) {
      matchTemplates(first.data(), second.data(), &detailed, &details);
      matchTemplates(first.data(), second.data(), &plain);
    } else {
      matchTemplates(first.data(), second.data(), &plain);
      matchTemplates(first.data(), second.data(), &detailed, &details);
    }
    if (a == lastA && lastRanSecondPass) ++recalledAfterSecondPass;
    lastA = a;
    lastRanSecondPass = trace.passCount == 2;
    const float fresh = onFreshThread([&] {
      float score = 0;
      matchTemplates(first.data(), second.data(), &score);
      return score;
    });
    EXPECT_EQ(plain, fresh) << a << " against " << b;
    EXPECT_EQ(detailed, fresh) << a << " against " << b;
    // A similarity with another side A in between leaves nothing behind either.
    if (n % 7 == 0) templateSimilarity(second.data(), first.data());
  }
  EXPECT_GT(recalledAfterSecondPass, 0);
}

// Templates extracted from prints, with the name of each print.
struct PrintTemplates {
  std::vector<Template> templates;
  std::vector<std::string> fingers;
};

// Adds the template of an image when extraction yields a usable one.
void addTemplate(PrintTemplates& out, std::vector<uint8_t> image, const std::string& name) {
  Template t{};
  extract::extractUnsealedTemplate(image.data(), t.data());
  if (t[kTemplateQualityByte] < 20) return;
  out.templates.push_back(t);
  out.fingers.push_back(name);
}

// Templates of the first `impressions` impressions of `fingers` generated fingers.
PrintTemplates generatedTemplates(int fingers, int impressions) {
  PrintTemplates out;
  for (auto& print : fx60::testing::generatedPrints(fingers, impressions))
    addTemplate(out, std::move(print.pixels), "generated/" + print.name());
  return out;
}

// Extracted templates of the first `impressions` impressions of the first `fingers`
// fingers of every set (images are sorted by finger, then impression).
PrintTemplates realTemplates(int fingers, int impressions) {
  PrintTemplates out;
  for (const auto& set : fx60::testing::fingerprintSets()) {
    std::string finger;
    int fingerCount = 0;
    int impressionCount = 0;
    for (const auto& file : fx60::testing::imagesOfSet(set)) {
      const std::string stem = file.stem().string();
      const std::string thisFinger = stem.substr(0, stem.rfind('_'));
      if (thisFinger != finger) {
        finger = thisFinger;
        impressionCount = 0;
        if (++fingerCount > fingers) break;
      }
      if (impressionCount++ >= impressions) continue;
      std::vector<uint8_t> image = fx60::testing::readPgm(file);
      if (image.empty()) continue;
      addTemplate(out, std::move(image), set.filename().string() + "/" + stem);
    }
  }
  return out;
}

// Each template matches its own minutiae turned by up to 20 degrees and moved.
void expectTemplatesMatchThemselvesTurnedAndMoved(const PrintTemplates& prints) {
  ASSERT_FALSE(prints.templates.empty());
  const struct {
    double degrees;
    int dx, dy;
  } moves[] = {{0, 0, 0}, {20, 0, 0}, {-20, 0, 0}, {0, 30, 0}, {0, 0, -30}, {12, -20, 20}, {-17, 25, 10}};
  for (size_t i = 0; i < prints.templates.size(); ++i) {
    for (const auto& move : moves) {
      const Template moved = turnedAndMoved(prints.templates[i], move.degrees, move.dx, move.dy);
      EXPECT_GE(compare(prints.templates[i], moved), kLevel5)
          << prints.fingers[i] << " turned " << move.degrees << " moved " << move.dx << "," << move.dy;
    }
  }
}

TEST(MatchProperties, GeneratedTemplatesMatchThemselvesTurnedAndMoved) {
  expectTemplatesMatchThemselvesTurnedAndMoved(generatedTemplates(8, 1));
}

TEST(MatchProperties, RealTemplatesMatchThemselvesTurnedAndMoved) {
  FX60_REQUIRE_SHARED_DATA();
  expectTemplatesMatchThemselvesTurnedAndMoved(realTemplates(2, 1));
}

// The half-turn retry reuses side A as the first comparison left it; its result must
// equal a comparison started afresh on another thread, also after a second pass used
// A's pair list.
void expectHalfTurnRetryEqualsAFreshComparison(const PrintTemplates& prints) {
  const auto prepared = [](Template t) {
    if (isNativeTemplate(t.data())) {
      EXPECT_EQ(normaliseTemplate(t.data()), 0);
    } else {
      std::memset(t.data() + kTemplateSingularPoints, 0, 9);
      updateCheckByte(t.data());
    }
    return t;
  };
  int retriesAfterSecondPass = 0;
  for (size_t i = 0; i < prints.templates.size(); ++i)
    for (size_t j = i + 1; j < prints.templates.size(); ++j) {
      SimilarityTrace firstTrace;
      MatchDetails details;
      details.firstTrace = &firstTrace;
      float score = 0;
      ASSERT_EQ(matchTemplates(prints.templates[i].data(), prints.templates[j].data(), &score, &details), 1);
      const Template a = prepared(prints.templates[i]);
      Template b = prepared(prints.templates[j]);
      EXPECT_EQ(details.firstSimilarity, onFreshThread([&] { return templateSimilarity(a.data(), b.data()); }));
      if (!details.halfTurnRetried) continue;
      if (firstTrace.passCount == 2) ++retriesAfterSecondPass;
      rotateTemplate180(b.data());
      EXPECT_EQ(details.secondSimilarity, onFreshThread([&] { return templateSimilarity(a.data(), b.data()); }))
          << prints.fingers[i] << " against " << prints.fingers[j];
    }
  EXPECT_GT(retriesAfterSecondPass, 0);
}

TEST(MatchProperties, HalfTurnRetryEqualsAFreshComparisonOnGeneratedTemplates) {
  expectHalfTurnRetryEqualsAFreshComparison(generatedTemplates(10, 1));
}

TEST(MatchProperties, HalfTurnRetryEqualsAFreshComparison) {
  FX60_REQUIRE_SHARED_DATA();
  expectHalfTurnRetryEqualsAFreshComparison(realTemplates(3, 1));
}

// Different fingers pass the default level in at most one comparison in a hundred.
void expectDifferentFingersRarelyPassLevel3(const PrintTemplates& prints) {
  int comparisons = 0;
  int passes = 0;
  for (size_t i = 0; i < prints.templates.size(); ++i)
    for (size_t j = i + 1; j < prints.templates.size(); ++j) {
      ++comparisons;
      if (compare(prints.templates[i], prints.templates[j]) >= kLevel3) ++passes;
    }
  ASSERT_GT(comparisons, 100);
  EXPECT_LE(passes * 100, comparisons) << passes << " of " << comparisons << " impostor comparisons passed";
}

TEST(MatchProperties, DifferentGeneratedFingersRarelyPassLevel3) {
  expectDifferentFingersRarelyPassLevel3(generatedTemplates(16, 1));
}

TEST(MatchProperties, DifferentFingersRarelyPassLevel3) {
  FX60_REQUIRE_SHARED_DATA();
  expectDifferentFingersRarelyPassLevel3(realTemplates(4, 1));
}

}  // namespace
}  // namespace fx60::match
