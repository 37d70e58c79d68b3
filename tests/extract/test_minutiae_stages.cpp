// The stages from binarisation to the template records as a chain: hostile inputs and real
// prints, checking what every later consumer relies on.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <string>
#include <vector>

#include "extract/extractor.h"
#include "extract/minutiae_stages.h"
#include "extract/stage_observer.h"
#include "template/feature_template.h"
#include "tests/support/generated_prints.h"
#include "tests/support/test_data.h"

namespace fx60::extract {
namespace {

struct ChainResult {
  std::vector<uint8_t> skeleton;
  MinutiaCandidateList candidates;
  MinutiaList minutiae;
  std::array<uint8_t, kTemplateSize> tpl{};
};

ChainResult runChain(std::vector<uint8_t> image, const OrientationMap& orientation,
                     const PeriodMap& periods) {
  ChainResult result;
  binarizeImage(image.data(), periods);
  fillSmallHoles(image.data());
  thinRidges(image.data());
  result.skeleton = image;
  detectMinutiae(image.data(), orientation, result.candidates);
  joinBrokenRidges(result.candidates, image.data());
  refineMinutiae(result.minutiae, result.candidates, image.data(), orientation);
  writeTemplateOf(result.minutiae, result.tpl.data());
  return result;
}

void expectSoundOutput(const ChainResult& r) {
  ASSERT_TRUE(std::all_of(r.skeleton.begin(), r.skeleton.end(), [](uint8_t p) { return p == 0 || p == 255; }));
  ASSERT_LE(r.candidates.count, static_cast<uint32_t>(kMaxCandidates));
  ASSERT_LE(r.minutiae.count, kMaxMinutiae);
  for (int i = 0; i < r.minutiae.count; ++i) {
    const Minutia& m = r.minutiae.entries[i];
    EXPECT_TRUE(m.kind == kRidgeEnding || m.kind == kBifurcation);
    EXPECT_GE(m.x, 8);
    EXPECT_LE(m.x, 247);
    EXPECT_GE(m.y, 8);
    EXPECT_LE(m.y, 351);
  }
  EXPECT_EQ(r.tpl[kTemplateCountByte], r.minutiae.count);
  for (int i = 0; i < r.minutiae.count; ++i) {
    EXPECT_LT(readMinutiaRecord(r.tpl.data(), i).angle, 360);
    EXPECT_EQ(readMinutiaRecord(r.tpl.data(), i).y, r.minutiae.entries[i].y);
  }
  EXPECT_TRUE(std::all_of(r.tpl.begin() + kTemplateFirstMinutia + 4 * r.minutiae.count,
                          r.tpl.begin() + kTemplateCheckByte, [](uint8_t b) { return b == 0; }));
}

TEST(MinutiaeChain, HostileImagesGiveSoundOutput) {
  OrientationMap foreground{};
  std::mt19937 random(11);
  std::uniform_int_distribution<int> byte(0, 255);
  std::vector<std::vector<uint8_t>> images = {std::vector<uint8_t>(kPixels, 0),
                                              std::vector<uint8_t>(kPixels, 255),
                                              std::vector<uint8_t>(kPixels)};
  for (auto& p : images[2]) p = static_cast<uint8_t>(byte(random));
  // A fine checkerboard: every pixel a fork or crossing for the tracers.
  std::vector<uint8_t> checker(kPixels);
  for (int i = 0; i < kPixels; ++i) checker[i] = ((i / kWidth + i) & 1) != 0 ? 255 : 0;
  images.push_back(checker);

  for (int periodCode : {0, 16, 80, 144, 255}) {
    PeriodMap periods{};
    periods.fill(static_cast<uint8_t>(periodCode));
    for (const auto& image : images) {
      SCOPED_TRACE(periodCode);
      expectSoundOutput(runChain(image, foreground, periods));
    }
  }
  // Random maps, background flags included.
  OrientationMap mixed{};
  PeriodMap periods{};
  for (auto& cell : mixed) cell = static_cast<uint8_t>(byte(random));
  for (auto& cell : periods) cell = static_cast<uint8_t>(byte(random));
  for (const auto& image : images) expectSoundOutput(runChain(image, mixed, periods));
}

// The enhanced image and the maps of a real print, as the pipeline hands them on.
struct EnhancedCapture : StageObserver {
  std::vector<uint8_t> enhanced;
  OrientationMap orientation{};
  PeriodMap periods{};
  int finalCount = -1;
  void onImage(ImageStage stage, const uint8_t* image) override {
    if (stage == ImageStage::kEnhanced) enhanced.assign(image, image + kPixels);
  }
  void onOrientation(const OrientationMap& map, int) override { orientation = map; }
  void onPeriods(const PeriodMap& map) override { periods = map; }
  void onMinutiae(const MinutiaList& list) override { finalCount = list.count; }
};

// The chain run twice on the enhanced image of a print gives sound output, the
// pipeline's own minutiae count, and the same bytes both times.
void expectSoundRepeatableChain(std::vector<uint8_t> image, const std::string& name) {
  SCOPED_TRACE(name);
  EnhancedCapture capture;
  std::array<uint8_t, kTemplateSize> tpl{};
  extractUnsealedTemplate(image.data(), tpl.data(), &capture);
  ASSERT_EQ(capture.enhanced.size(), static_cast<size_t>(kPixels));
  const ChainResult first = runChain(capture.enhanced, capture.orientation, capture.periods);
  expectSoundOutput(first);
  EXPECT_EQ(first.minutiae.count, capture.finalCount);
  const ChainResult second = runChain(capture.enhanced, capture.orientation, capture.periods);
  EXPECT_EQ(first.tpl, second.tpl);
}

TEST(MinutiaeChain, GeneratedPrintsGiveSoundRepeatableOutput) {
  const auto prints = fx60::testing::generatedPrints(4, 2);
  for (const auto& print : prints) expectSoundRepeatableChain(print.pixels, print.name());
}

TEST(MinutiaeChain, RealPrintsGiveSoundRepeatableOutput) {
  FX60_REQUIRE_SHARED_DATA();
  int images = 0;
  for (const auto& set : fx60::testing::fingerprintSets()) {
    const auto files = fx60::testing::imagesOfSet(set);
    for (size_t i = 0; i < files.size(); i += 16) {
      std::vector<uint8_t> image = fx60::testing::readPgm(files[i]);
      ASSERT_FALSE(image.empty()) << files[i];
      expectSoundRepeatableChain(std::move(image), files[i].string());
      ++images;
    }
  }
  EXPECT_GT(images, 0);
}

}  // namespace
}  // namespace fx60::extract
