#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <thread>

#include "extract/extractor.h"
#include "extract/stage_observer.h"
#include "synthetic_images.h"
#include "template/feature_template.h"
#include "tests/support/generated_prints.h"
#include "tests/support/test_data.h"

// Every allocation through operator new in this program is counted, so that a
// test can check that the pipeline takes none.
namespace {
std::atomic<long> allocationCount{0};
}  // namespace

void* operator new(std::size_t size) {
  ++allocationCount;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
// The replacements pair with the operator new above; the compiler cannot see that.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace fx60::extract {
namespace {

using testing::Image;
using Template = std::array<uint8_t, kTemplateSize>;

Template extract(Image image) {
  Template tpl{};
  EXPECT_EQ(extractUnsealedTemplate(image.data(), tpl.data()), 1);
  return tpl;
}

Template emptyTemplate() {
  Template tpl{};
  BuildEmptyTemplate(tpl.data());
  return tpl;
}

uint8_t quality(Image image) { return computeImageQuality(image.data()); }

// Images that are not a usable print: dark, bright, noise, half covered.
std::vector<std::pair<const char*, Image>> badImages() {
  return {
      {"black", testing::uniformImage(0)},
      {"white", testing::uniformImage(255)},
      {"noise", testing::noiseImage(11)},
      {"half covered", testing::stripeImage(30.0, 8.0, [](int, int y) { return y < 180; })},
  };
}

TEST(ExtractUnsealedTemplate, NullImageIsRefused) {
  Template tpl{};
  EXPECT_EQ(extractUnsealedTemplate(nullptr, tpl.data()), -2);
  EXPECT_EQ(computeImageQuality(nullptr), 0);
}

TEST(ExtractUnsealedTemplate, BadImagesScoreLowAndGiveTheEmptyTemplate) {
  for (const auto& [name, image] : badImages()) {
    EXPECT_LT(quality(image), 20) << name;
    EXPECT_EQ(extract(image), emptyTemplate()) << name;
  }
}

TEST(RunExtraction, TakesNoHeapMemory) {
  Image image = testing::stripeImage(
      30.0, 8.0, [](int x, int y) { return (x - 128) * (x - 128) + (y - 180) * (y - 180) < 120 * 120; });
  Image copy = image;
  Template tpl{};
  const long before = allocationCount.load();
  computeImageQuality(copy.data());
  extractUnsealedTemplate(image.data(), tpl.data());
  const long allocations = allocationCount.load() - before;
  EXPECT_EQ(allocations, 0);
}

TEST(RunExtraction, ReportsTheQualityEvenWhenItFails) {
  Image image = testing::uniformImage(128);
  MinutiaList minutiae;
  int score = -1;
  EXPECT_EQ(runExtraction(image.data(), minutiae, score), -1);
  EXPECT_EQ(score, 10);
}

// Records what the pipeline reports, to check the order and that it is complete.
class RecordingObserver : public StageObserver {
 public:
  std::vector<ImageStage> stages;
  int quality = -1;
  bool periods = false;
  int candidateReports = 0;
  int minutiae = -1;
  void onImage(ImageStage stage, const uint8_t*) override { stages.push_back(stage); }
  void onOrientation(const OrientationMap&, int q) override { quality = q; }
  void onPeriods(const PeriodMap&) override { periods = true; }
  void onCandidates(const MinutiaCandidateList&, bool) override { ++candidateReports; }
  void onMinutiae(const MinutiaList& list) override { minutiae = list.count; }
};

TEST(RunExtraction, ObserverSeesEveryStageInOrderAndDoesNotChangeTheResult) {
  Image image = testing::stripeImage(30.0, 8.0);
  Image copy = image;
  RecordingObserver observer;
  Template observed{};
  extractUnsealedTemplate(copy.data(), observed.data(), &observer);
  EXPECT_EQ(observed, extract(image));
  const std::vector<ImageStage> expected = {ImageStage::kPreconditioned, ImageStage::kUnnormalised,
                                            ImageStage::kSmoothed,       ImageStage::kEnhanced,
                                            ImageStage::kBinary,         ImageStage::kHoleFilled,
                                            ImageStage::kThinned,        ImageStage::kJoined};
  EXPECT_EQ(observer.stages, expected);
  EXPECT_GE(observer.quality, 0);
  EXPECT_TRUE(observer.periods);
  EXPECT_EQ(observer.candidateReports, 2);
  EXPECT_GE(observer.minutiae, 0);
}

// The real images, when the shared data is present.
std::vector<Image> someRealImages(size_t perSet) {
  std::vector<Image> images;
  for (const auto& set : fx60::testing::fingerprintSets()) {
    const auto files = fx60::testing::imagesOfSet(set);
    for (size_t i = 0; i < std::min(perSet, files.size()); ++i) {
      Image image = fx60::testing::readPgm(files[i * (files.size() / perSet)]);
      if (!image.empty()) images.push_back(std::move(image));
    }
  }
  return images;
}

struct TemplateYield {
  int images = 0;
  int templates = 0;
  long minutiae = 0;
};

// Extracts one image: a template carries the quality the capture loop computes
// alone and 7 to 100 minutiae; a failure leaves the empty template.
void addTemplateOf(const Image& image, const std::string& name, TemplateYield& yield) {
  const uint8_t score = quality(image);
  const Template tpl = extract(image);
  ++yield.images;
  ASSERT_TRUE(checkByteIsValid(tpl.data())) << name;
  if (tpl[kTemplateCountByte] == 0) {
    EXPECT_EQ(tpl, emptyTemplate()) << name;
    return;
  }
  ++yield.templates;
  yield.minutiae += tpl[kTemplateCountByte];
  // The template carries the same score the capture loop computes alone.
  EXPECT_EQ(tpl[kTemplateQualityByte], score) << name;
  EXPECT_GE(tpl[kTemplateCountByte], kMinTemplateMinutiae) << name;
  EXPECT_LE(tpl[kTemplateCountByte], 100) << name;
}

void printYield(const std::string& set, const TemplateYield& yield) {
  std::printf("%-24s %3d images, %3d templates (%5.1f%%), %5.1f minutiae per template\n", set.c_str(), yield.images,
              yield.templates, 100.0 * yield.templates / std::max(1, yield.images),
              yield.templates ? double(yield.minutiae) / yield.templates : 0.0);
}

TEST(GeneratedImages, AlmostAllYieldTemplatesThatCarryTheirQuality) {
  TemplateYield yield;
  for (const auto& print : fx60::testing::generatedPrints(8, 2)) addTemplateOf(print.pixels, print.name(), yield);
  printYield("generated", yield);
  EXPECT_GE(yield.templates * 10, yield.images * 9);
}

TEST(RealImages, EverySetMostlyYieldsTemplatesThatCarryTheirQuality) {
  FX60_REQUIRE_SHARED_DATA();
  for (const auto& set : fx60::testing::fingerprintSets()) {
    TemplateYield yield;
    for (const auto& file : fx60::testing::imagesOfSet(set)) {
      const Image image = fx60::testing::readPgm(file);
      ASSERT_FALSE(image.empty()) << file;
      addTemplateOf(image, file.string(), yield);
    }
    printYield(set.filename().string(), yield);
    EXPECT_GE(yield.templates * 2, yield.images) << set;
  }
}

// Two threads extract the images in opposite orders; every template equals the
// one a single thread makes.
void expectConcurrentExtractionsEqualSerialOnes(const std::vector<Image>& images) {
  ASSERT_GE(images.size(), 2u);
  std::vector<Template> serial;
  for (const Image& image : images) serial.push_back(extract(image));
  std::vector<Template> first(images.size()), second(images.size());
  std::thread forward([&] {
    for (size_t i = 0; i < images.size(); ++i) {
      Image copy = images[i];
      extractUnsealedTemplate(copy.data(), first[i].data());
    }
  });
  std::thread backward([&] {
    for (size_t i = images.size(); i-- > 0;) {
      Image copy = images[i];
      extractUnsealedTemplate(copy.data(), second[i].data());
    }
  });
  forward.join();
  backward.join();
  EXPECT_EQ(first, serial);
  EXPECT_EQ(second, serial);
}

std::vector<Image> someGeneratedImages(int fingers) {
  std::vector<Image> images;
  for (const auto& print : fx60::testing::generatedPrints(fingers, 1)) images.push_back(print.pixels);
  return images;
}

TEST(GeneratedImages, ConcurrentExtractionsMatchSerialOnes) {
  expectConcurrentExtractionsEqualSerialOnes(someGeneratedImages(4));
}

TEST(RealImages, ConcurrentExtractionsMatchSerialOnes) {
  FX60_REQUIRE_SHARED_DATA();
  expectConcurrentExtractionsEqualSerialOnes(someRealImages(2));
}

struct Point {
  int x, y, angle;
};

std::vector<Point> minutiaeOf(const Template& tpl) {
  std::vector<Point> points;
  for (int i = 0; i < tpl[kTemplateCountByte]; ++i) {
    const uint8_t* m = tpl.data() + kTemplateFirstMinutia + 4 * i;
    points.push_back({m[0], (m[3] & 1) * 256 + m[1], ((m[3] >> 1) & 1) * 256 + m[2]});
  }
  return points;
}

// Shifting an image by whole cells shifts its interior minutiae exactly.
void expectMinutiaeFollowTranslation(const std::vector<Image>& images) {
  // Two cells in each direction keep both the cell grid and the halving phase.
  constexpr int kShiftX = 6, kShiftY = 12, kMargin = 40;
  int compared = 0, found = 0;
  for (const Image& image : images) {
    Image shifted = testing::uniformImage(255);
    for (int y = kShiftY; y < kHeight; ++y)
      for (int x = kShiftX; x < kWidth; ++x) shifted[y * kWidth + x] = image[(y - kShiftY) * kWidth + x - kShiftX];
    const Template original = extract(image);
    const Template moved = extract(shifted);
    if (original[kTemplateCountByte] == 0 || moved[kTemplateCountByte] == 0) continue;
    const std::vector<Point> movedPoints = minutiaeOf(moved);
    for (const Point& p : minutiaeOf(original)) {
      if (p.x < kMargin || p.y < kMargin || p.x >= kWidth - kMargin - kShiftX || p.y >= kHeight - kMargin - kShiftY)
        continue;
      ++compared;
      found += std::any_of(movedPoints.begin(), movedPoints.end(), [&](const Point& q) {
        return q.x == p.x + kShiftX && q.y == p.y + kShiftY && q.angle == p.angle;
      });
    }
  }
  std::printf("%d of %d interior minutiae moved with the image\n", found, compared);
  ASSERT_GT(compared, 50);
  // Selection near the print's edge may differ; the interior must follow exactly.
  EXPECT_GE(found * 10, compared * 9) << found << " of " << compared;
}

TEST(GeneratedImages, TranslationByWholeCellsMovesTheMinutiae) {
  expectMinutiaeFollowTranslation(someGeneratedImages(4));
}

TEST(RealImages, TranslationByWholeCellsMovesTheMinutiae) {
  FX60_REQUIRE_SHARED_DATA();
  expectMinutiaeFollowTranslation(someRealImages(3));
}

}  // namespace
}  // namespace fx60::extract
