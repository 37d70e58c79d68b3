#include "synth/generator.h"

namespace fx60::synth {

namespace {

// Seed spacing of the ridge growth, pixels: sets how many minutiae a finger has.
constexpr int kSeedSpacing = 40;

// Sub-streams of a finger's seed.
enum Stream : uint64_t {
  kClassStream = 1,
  kPatternStream,
  kPeriodStream,
  kGrowthStream,
  kImpressionStream,
  kOutlineStream,
};

}  // namespace

Finger makeFinger(uint64_t seed, uint32_t number, std::optional<FingerClass> fingerClass) {
  Finger finger;
  finger.seed = deriveSeed(seed, number);
  Random classRandom(deriveSeed(finger.seed, kClassStream));
  finger.fingerClass = fingerClass ? *fingerClass : drawFingerClass(classRandom);
  Random patternRandom(deriveSeed(finger.seed, kPatternStream));
  finger.singularPoints = placeSingularPoints(finger.fingerClass, patternRandom);
  const Grid<float> orientation = orientationField(finger.singularPoints);
  Random periodRandom(deriveSeed(finger.seed, kPeriodStream));
  const Grid<float> periods = ridgePeriodMap(finger.singularPoints, periodRandom);
  Random growthRandom(deriveSeed(finger.seed, kGrowthStream));
  finger.master = growRidges(orientation, periods, kSeedSpacing, growthRandom);
  finger.padCentre = {kMasterWidth / 2.0, finger.singularPoints.archCentre.y + 25};
  Random outlineRandom(deriveSeed(finger.seed, kOutlineStream));
  finger.fingertip.centre = {finger.padCentre.x + outlineRandom.uniform(-8, 8), finger.padCentre.y + 50};
  finger.fingertip.halfWidth = outlineRandom.uniform(140, 160);
  finger.fingertip.halfHeight = outlineRandom.uniform(245, 275);
  return finger;
}

Image makeImpression(const Finger& finger, uint32_t number) {
  Random random(deriveSeed(deriveSeed(finger.seed, kImpressionStream), number));
  const ImpressionRecipe recipe = drawImpression(finger.padCentre, finger.fingertip, random);
  return renderImpression(finger.master, recipe);
}

}  // namespace fx60::synth
