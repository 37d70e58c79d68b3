// The generator's stages one by one: the portable maths and random numbers, the
// singular points and the flow they induce, the ridge filters and the grown
// pattern, the placement on the sensor, pressure and contact; and the bytes of a
// few whole impressions, pinned so that they stay the same on every machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <set>
#include <vector>

#include "synth/generator.h"
#include "synth/portable_math.h"

namespace fx60::synth {
namespace {

// ---- portable maths and random numbers ----------------------------------------

TEST(PortableMath, AgreesWithTheStandardFunctions) {
  for (double x = -60; x <= 60; x += 0.0137) {
    const SineCosine ours = sineCosine(x);
    ASSERT_NEAR(ours.sine, std::sin(x), 1e-12) << x;
    ASSERT_NEAR(ours.cosine, std::cos(x), 1e-12) << x;
  }
  for (double x = -40; x <= 8; x += 0.0071) ASSERT_NEAR(exponential(x) / std::exp(x), 1.0, 1e-12) << x;
  EXPECT_EQ(exponential(-800), 0.0);
  for (double y = -3; y <= 3; y += 0.05)
    for (double x = -3; x <= 3; x += 0.05) ASSERT_NEAR(arcTangent2(y, x), std::atan2(y, x), 1e-13) << y << "," << x;
  // The axes, where the quadrant logic decides alone.
  EXPECT_EQ(arcTangent2(0, 0), 0.0);
  EXPECT_NEAR(arcTangent2(1, 0), kHalfPi, 1e-15);
  EXPECT_NEAR(arcTangent2(-1, 0), -kHalfPi, 1e-15);
  EXPECT_NEAR(arcTangent2(0, -1), kPi, 1e-15);
  EXPECT_NEAR(arcTangent2(1e-300, 1), 0.0, 1e-15);
}

TEST(Random, IsTheSplitMixSequenceAndStaysInRange) {
  // The first outputs of SplitMix64 from state 0.
  Random zero(0);
  EXPECT_EQ(zero.next(), 0xE220A8397B1DCDAFull);
  EXPECT_EQ(zero.next(), 0x6E789E6AA1B965F4ull);
  EXPECT_EQ(zero.next(), 0x06C45D188009454Full);

  Random random(7);
  std::set<uint32_t> seen;
  for (int i = 0; i < 2000; ++i) {
    const uint32_t draw = random.below(10);
    ASSERT_LT(draw, 10u);
    seen.insert(draw);
    const double u = random.uniform();
    ASSERT_TRUE(u >= 0.0 && u < 1.0) << u;
  }
  EXPECT_EQ(seen.size(), 10u);
  // Sub-streams differ from each other and from their parent.
  EXPECT_NE(deriveSeed(1, 2), deriveSeed(1, 3));
  EXPECT_NE(deriveSeed(1, 2), deriveSeed(2, 2));
  Random parent(5);
  Random first = parent.fork(1), second = parent.fork(1);
  EXPECT_NE(first.next(), second.next());
}

// ---- singular points and orientation ----------------------------------------------

// Turn of the ridge orientation, in half turns, along the square of half side
// `radius` field cells around a field cell: +1 around a core, -1 around a delta.
double orientationTurn(const Grid<float>& field, int column, int row, int radius) {
  std::vector<float> ring;
  for (int i = -radius; i < radius; ++i) ring.push_back(field.at(column + i, row - radius));
  for (int i = -radius; i < radius; ++i) ring.push_back(field.at(column + radius, row + i));
  for (int i = radius; i > -radius; --i) ring.push_back(field.at(column + i, row + radius));
  for (int i = radius; i > -radius; --i) ring.push_back(field.at(column - radius, row + i));
  double turn = 0;
  for (size_t i = 0; i < ring.size(); ++i) {
    double step = ring[(i + 1) % ring.size()] - ring[i];
    while (step > kHalfPi) step -= kPi;
    while (step <= -kHalfPi) step += kPi;
    turn += step;
  }
  return turn / kPi;
}

struct Singularities {
  int cores = 0;
  int deltas = 0;
};

// Every singular point of the field, found by tiling the canvas with squares of
// 16 x 16 pixels and measuring the turn around each.
Singularities countSingularities(const Grid<float>& field) {
  Singularities found;
  constexpr int kHalf = 4;  // field cells
  for (int row = kHalf; row + kHalf < field.height; row += 2 * kHalf)
    for (int column = kHalf; column + kHalf < field.width; column += 2 * kHalf) {
      const double turn = orientationTurn(field, column, row, kHalf);
      if (turn > 0.5) ++found.cores;
      if (turn < -0.5) ++found.deltas;
    }
  return found;
}

TEST(OrientationField, EveryClassHasItsCoresAndDeltasAndNoOthers) {
  const struct {
    FingerClass fingerClass;
    int cores, deltas;
  } classes[] = {{FingerClass::kArch, 0, 0},
                 {FingerClass::kTentedArch, 1, 1},
                 {FingerClass::kLeftLoop, 1, 1},
                 {FingerClass::kRightLoop, 1, 1},
                 {FingerClass::kWhorl, 2, 2}};
  for (const auto& expected : classes)
    for (uint64_t seed = 1; seed <= 3; ++seed) {
      Random random(seed);
      const SingularPoints points = placeSingularPoints(expected.fingerClass, random);
      SCOPED_TRACE(std::string(fingerClassName(expected.fingerClass)) + " seed " + std::to_string(seed));
      ASSERT_EQ(points.cores.size(), static_cast<size_t>(expected.cores));
      ASSERT_EQ(points.deltas.size(), static_cast<size_t>(expected.deltas));
      const Grid<float> field = orientationField(points);
      ASSERT_EQ(field.width, kFieldWidth);
      ASSERT_EQ(field.height, kFieldHeight);
      for (float angle : field.values) ASSERT_TRUE(angle >= 0 && angle < kPi);
      // Each placed point turns the flow the right way round.
      for (const SingularPoint& core : points.cores)
        EXPECT_NEAR(orientationTurn(field, static_cast<int>(core.at.x) / kFieldStep,
                                    static_cast<int>(core.at.y) / kFieldStep, 3), 1.0, 1e-6);
      for (const SingularPoint& delta : points.deltas)
        EXPECT_NEAR(orientationTurn(field, static_cast<int>(delta.at.x) / kFieldStep,
                                    static_cast<int>(delta.at.y) / kFieldStep, 3), -1.0, 1e-6);
      // The bends, waves and arch add none.
      const Singularities found = countSingularities(field);
      EXPECT_EQ(found.cores, expected.cores);
      EXPECT_EQ(found.deltas, expected.deltas);
    }
}

TEST(OrientationField, LoopsOpenTowardsTheirSideAndArchesRunAcross) {
  Random random(3);
  const SingularPoints left = placeSingularPoints(FingerClass::kLeftLoop, random);
  const SingularPoints right = placeSingularPoints(FingerClass::kRightLoop, random);
  // A left loop has its delta on the right, below the core; a right loop mirrors it.
  EXPECT_GT(left.deltas[0].at.x, left.cores[0].at.x);
  EXPECT_LT(right.deltas[0].at.x, right.cores[0].at.x);
  EXPECT_GT(left.deltas[0].at.y, left.cores[0].at.y);
  // Far below every singular point the ridges run roughly across the finger.
  const Grid<float> field = orientationField(left);
  const float bottom = field.at(kFieldWidth / 2, kFieldHeight - 4);
  EXPECT_LT(std::min<double>(bottom, kPi - bottom), 0.5);
}

TEST(RidgePeriodMap, StaysNearTheFingersPeriodAndWidensAboveTheCore) {
  Random random(4);
  const SingularPoints points = placeSingularPoints(FingerClass::kLeftLoop, random);
  const Grid<float> periods = ridgePeriodMap(points, random);
  const auto [low, high] = std::minmax_element(periods.values.begin(), periods.values.end());
  EXPECT_GE(*low, 7.0f);
  EXPECT_LE(*high, 13.5f);
  const int column = static_cast<int>(points.cores[0].at.x) / kFieldStep;
  EXPECT_GT(periods.at(column, 2), periods.at(column, static_cast<int>(points.cores[0].at.y) / kFieldStep));
}

// ---- ridge filters and growth ------------------------------------------------------

TEST(GaborBank, FiltersIgnoreFlatAreasAndPassTheirOwnRidges) {
  GaborBank bank;
  for (float orientation : {0.0f, 0.7f, 1.6f, 2.9f})
    for (float period : {7.0f, 9.0f, 12.0f}) {
      const int16_t* taps = bank.kernel(GaborBank::binOf(orientation, period));
      const int bin = GaborBank::binOf(orientation, period);
      const double binAngle = (bin % GaborBank::kOrientationBins) * kPi / GaborBank::kOrientationBins;
      const double binPeriod = GaborBank::kMinPeriod + (bin / GaborBank::kOrientationBins) * GaborBank::kPeriodStep;
      double flat = 0, inPhase = 0, crossing = 0, magnitude = 0;
      for (int v = 0; v < GaborBank::kSize; ++v)
        for (int u = 0; u < GaborBank::kStride; ++u) {
          const int tap = taps[v * GaborBank::kStride + u];
          if (u >= GaborBank::kSize) {
            ASSERT_EQ(tap, 0);
            continue;
          }
          const double dx = u - GaborBank::kRadius, dy = v - GaborBank::kRadius;
          const double across = -dx * std::sin(binAngle) + dy * std::cos(binAngle);
          const double along = dx * std::cos(binAngle) + dy * std::sin(binAngle);
          flat += tap;
          magnitude += std::abs(tap);
          inPhase += tap * std::cos(2 * kPi * across / binPeriod);
          crossing += tap * std::cos(2 * kPi * along / binPeriod);
        }
      EXPECT_LT(std::abs(flat), 0.01 * magnitude) << orientation << " " << period;
      EXPECT_NEAR(inPhase / GaborBank::kOne, 1.0, 0.01) << orientation << " " << period;
      EXPECT_LT(std::abs(crossing / GaborBank::kOne), 0.3) << orientation << " " << period;
    }
}

TEST(RidgeGrowth, FillsTheCanvasWithRidgesOfTheMappedPeriodAndDirection) {
  // Horizontal ridges 9 pixels apart everywhere.
  const Grid<float> orientation(kFieldWidth, kFieldHeight, 0.0f);
  const Grid<float> periods(kFieldWidth, kFieldHeight, 9.0f);
  Random random(11);
  const RidgePattern pattern = growRidges(orientation, periods, 40, random);
  ASSERT_EQ(pattern.width, kMasterWidth);
  ASSERT_EQ(pattern.height, kMasterHeight);
  // Filled: hardly any flat grey left (a sine is above a quarter of its peak 84 %
  // of the time).
  const long filled =
      std::count_if(pattern.values.begin(), pattern.values.end(), [](float v) { return std::abs(v) > 0.25f; });
  EXPECT_GT(filled, static_cast<long>(pattern.values.size() * 8 / 10));
  // Down a column the ridges alternate with the period; along a row they barely change.
  auto signChanges = [](const std::vector<float>& line) {
    int changes = 0;
    for (size_t i = 1; i < line.size(); ++i) changes += (line[i - 1] < 0) != (line[i] < 0);
    return changes;
  };
  double acrossRidges = 0, alongRidges = 0;
  for (int column = 40; column < kMasterWidth - 40; column += 40) {
    std::vector<float> line;
    for (int y = 40; y < kMasterHeight - 40; ++y) line.push_back(pattern.at(column, y));
    acrossRidges += signChanges(line) / 2.0 / static_cast<double>(line.size());  // ridges per pixel
  }
  for (int row = 40; row < kMasterHeight - 40; row += 40) {
    std::vector<float> line;
    for (int x = 40; x < kMasterWidth - 40; ++x) line.push_back(pattern.at(x, row));
    alongRidges += signChanges(line);
  }
  acrossRidges /= 6;  // columns measured
  EXPECT_NEAR(1 / acrossRidges, 9.0, 0.6);
  EXPECT_LT(alongRidges / 10, 8);  // a few crossings where a ridge ends or forks
}

// ---- impression stages --------------------------------------------------------------

TEST(Placement, TurnsAndMovesTheFingerAndStretchesOnlyTheOuterSkin) {
  Placement placement;
  placement.rotation = 10 * kPi / 180;
  placement.fingerAtCentre = {170, 230};
  Contact contact;
  contact.centre = {kImageWidth / 2.0, kImageHeight / 2.0};
  const Grid<Point> rigid = placeOnSensor(placement, contact);
  ASSERT_EQ(rigid.width, kImageWidth);
  ASSERT_EQ(rigid.height, kImageHeight);
  EXPECT_DOUBLE_EQ(rigid.at(128, 180).x, 170);
  EXPECT_DOUBLE_EQ(rigid.at(128, 180).y, 230);
  // 50 pixels right on the sensor lie 50 pixels along the finger turned back by 10 degrees.
  EXPECT_NEAR(rigid.at(178, 180).x, 170 + 50 * std::cos(placement.rotation), 1e-9);
  EXPECT_NEAR(rigid.at(178, 180).y, 230 - 50 * std::sin(placement.rotation), 1e-9);

  placement.drag = {8, -5};
  placement.stretchX = 0.05;
  const Grid<Point> dragged = placeOnSensor(placement, contact);
  // The centre of contact stays, the rim moves by about the drag.
  EXPECT_DOUBLE_EQ(dragged.at(128, 180).x, rigid.at(128, 180).x);
  EXPECT_DOUBLE_EQ(dragged.at(128, 180).y, rigid.at(128, 180).y);
  const double moved = std::hypot(dragged.at(128, 2).x - rigid.at(128, 2).x, dragged.at(128, 2).y - rigid.at(128, 2).y);
  EXPECT_NEAR(moved, std::hypot(8, 5), 2.0);
}

TEST(Pressure, HeavyPressureWidensRidgesAndLightPressureNarrowsThem) {
  Grid<float> ink(64, 64);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) ink.at(x, y) = (y % 9) < 4 ? 1.0f : 0.0f;
  auto mean = [](const Grid<float>& grid) {
    double sum = 0;
    for (float v : grid.values) sum += v;
    return sum / grid.values.size();
  };
  const double plain = mean(ink);
  EXPECT_DOUBLE_EQ(mean(applyPressure(ink, 0)), plain);
  EXPECT_GT(mean(applyPressure(ink, 0.5)), plain);
  EXPECT_GT(mean(applyPressure(ink, 1.0)), mean(applyPressure(ink, 0.5)));
  EXPECT_LT(mean(applyPressure(ink, -0.5)), plain);
  // A full step widens a 4-pixel ridge to 6 pixels.
  EXPECT_NEAR(mean(applyPressure(ink, 1.0 / 1.1)), 6.0 / 9, 0.02);
}

TEST(ContactRegion, TouchesInsideThePressedAreaAndTheFingertipOnly) {
  Contact contact;
  contact.centre = {128, 180};
  contact.halfWidth = 100;
  contact.halfHeight = 140;
  contact.rimRoughness = 0;
  contact.fingertip = {{160, 240}, 150, 260};
  Placement placement;
  placement.fingerAtCentre = {160, 230};
  const Grid<Point> sources = placeOnSensor(placement, contact);
  Random random(2);
  const Grid<float> region = contactRegion(contact, sources, random);
  EXPECT_FLOAT_EQ(region.at(128, 180), 1.0f);
  EXPECT_FLOAT_EQ(region.at(5, 5), 0.0f);      // outside the pressed ellipse
  EXPECT_FLOAT_EQ(region.at(128, 52), 1.0f);   // inside, 128 of 140 pixels up
  EXPECT_FLOAT_EQ(region.at(128, 35), 0.0f);

  contact.cut = true;
  contact.cutNormal = {1, 0};
  contact.cutDistance = 40;
  Random again(2);
  const Grid<float> cut = contactRegion(contact, sources, again);
  EXPECT_FLOAT_EQ(cut.at(100, 180), 1.0f);
  EXPECT_FLOAT_EQ(cut.at(180, 180), 0.0f);  // beyond the straight edge
}

// ---- whole fingers ---------------------------------------------------------------

uint64_t digestOf(const Image& image) {
  uint64_t hash = 0xCBF29CE484222325ull;  // FNV-1a
  for (uint8_t byte : image) {
    hash ^= byte;
    hash *= 0x100000001B3ull;
  }
  return hash;
}

TEST(Generator, ImpressionsAreTheSameBytesOnEveryMachine) {
  // Fingers 1 and 2 of seed 1, and a whorl of seed 99; any change to the generator,
  // or a build that computes differently, shows here.
  const Finger first = makeFinger(1, 1);
  const Finger second = makeFinger(1, 2);
  const Finger whorl = makeFinger(99, 1, FingerClass::kWhorl);
  const uint64_t digests[] = {digestOf(makeImpression(first, 1)), digestOf(makeImpression(first, 2)),
                              digestOf(makeImpression(second, 1)), digestOf(makeImpression(whorl, 5))};
  const uint64_t expected[] = {0xf94a630d69b81158ull, 0x510fde95d9f8646eull, 0x3870848887aeb44full,
                               0x3022a3f46a769bc7ull};
  for (size_t i = 0; i < std::size(digests); ++i)
    EXPECT_EQ(digests[i], expected[i]) << "image " << i << std::hex << ": 0x" << digests[i];
}

TEST(Generator, ImpressionsOfOneFingerDifferAndRepeat) {
  const Finger finger = makeFinger(3, 4, FingerClass::kLeftLoop);
  EXPECT_EQ(finger.fingerClass, FingerClass::kLeftLoop);
  const Image first = makeImpression(finger, 1);
  ASSERT_EQ(first.size(), static_cast<size_t>(kImageWidth * kImageHeight));
  EXPECT_EQ(first, makeImpression(finger, 1));
  EXPECT_NE(first, makeImpression(finger, 2));
  EXPECT_EQ(makeFinger(3, 4, FingerClass::kLeftLoop).master.values, finger.master.values);
  EXPECT_NE(makeFinger(3, 5, FingerClass::kLeftLoop).master.values, finger.master.values);
  // A print: dark ridges and light valleys through the middle, light background in
  // a corner.
  const auto row = first.begin() + 180 * kImageWidth;
  const auto [low, high] = std::minmax_element(row + 64, row + 192);
  EXPECT_GT(*high - *low, 80);
  EXPECT_GT(first[0], 150);
}

TEST(Generator, ClassNamesReadBack) {
  for (FingerClass fingerClass : kAllFingerClasses)
    EXPECT_EQ(parseFingerClass(fingerClassName(fingerClass)), fingerClass);
  EXPECT_FALSE(parseFingerClass("loop"));
  EXPECT_FALSE(parseFingerClass(""));
}

}  // namespace
}  // namespace fx60::synth
