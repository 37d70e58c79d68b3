// Speed of every extraction stage and of the whole extraction on real images.
// Images come from $FX60_DATA/fp or ../shared/data/fp beside the sources; a
// spread of images over all sets is cycled through so that no single image
// decides the figures.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "extract/extractor.h"
#include "extract/grid.h"
#include "extract/minutiae_stages.h"
#include "extract/orientation.h"
#include "extract/preconditioning.h"
#include "extract/ridge_enhancement.h"
#include "extract/ridge_period.h"
#include "extract/ridge_smoothing.h"
#include "extract/stage_observer.h"
#include "template/feature_template.h"
#include "template/seal.h"
#include "tests/support/test_data.h"

namespace {

namespace fs = std::filesystem;
using namespace fx60::extract;
using Image = std::vector<uint8_t>;

std::vector<Image> loadImages() { return fx60::testing::imagesSpreadOverSets(4); }

// The input of every stage, captured from one run of the pipeline.
struct StageInputs : StageObserver {
  Image original, preconditioned, unnormalised, smoothed, enhanced, binary, holeFilled, thinned;
  Image meanFiltered, halved, normalisedHalf;
  OrientationMap orientation{};
  PeriodMap periods{};
  MinutiaCandidateList candidates{};

  void onImage(ImageStage stage, const uint8_t* image) override {
    Image copy(image, image + kPixels);
    switch (stage) {
      case ImageStage::kPreconditioned: preconditioned = copy; break;
      case ImageStage::kUnnormalised: unnormalised = copy; break;
      case ImageStage::kSmoothed: smoothed = copy; break;
      case ImageStage::kEnhanced: enhanced = copy; break;
      case ImageStage::kBinary: binary = copy; break;
      case ImageStage::kHoleFilled: holeFilled = copy; break;
      case ImageStage::kThinned: thinned = copy; break;
      case ImageStage::kJoined: break;
    }
  }
  void onOrientation(const OrientationMap& map, int) override { orientation = map; }
  void onPeriods(const PeriodMap& map) override { periods = map; }
  void onCandidates(const MinutiaCandidateList& list, bool afterJoin) override {
    if (!afterJoin) candidates = list;
  }
};

const std::vector<StageInputs>& inputs() {
  static const std::vector<StageInputs> all = [] {
    std::vector<StageInputs> result;
    for (const Image& image : loadImages()) {
      StageInputs stage;
      stage.original = image;
      Image work = image;
      std::array<uint8_t, fx60::kTemplateSize> tpl{};
      extractUnsealedTemplate(work.data(), tpl.data(), &stage);
      stage.meanFiltered = image;
      meanFilter3x3(stage.meanFiltered.data());
      stage.halved = stage.meanFiltered;
      halveImage(stage.halved.data());
      stage.normalisedHalf = stage.halved;
      normalizeContrast(stage.normalisedHalf.data());
      result.push_back(std::move(stage));
    }
    return result;
  }();
  return all;
}

// Runs `stage` on a fresh copy of the chosen input image each iteration; the copy
// (92 KB) is part of the figure and costs a few microseconds.
template <typename Select, typename Stage>
void runOnImages(benchmark::State& state, Select select, Stage stage) {
  const auto& all = inputs();
  if (all.empty()) {
    state.SkipWithError("no fingerprint images found (set FX60_DATA)");
    return;
  }
  Image work(kPixels);
  size_t next = 0;
  for (auto _ : state) {
    const StageInputs& in = all[next++ % all.size()];
    std::memcpy(work.data(), select(in).data(), kPixels);
    stage(in, work.data());
    benchmark::DoNotOptimize(work.data());
    benchmark::ClobberMemory();
  }
}

#define FX60_STAGE_BENCHMARK(name, input, ...)                                                       \
  void name(benchmark::State& state) {                                                               \
    runOnImages(state, [](const StageInputs& in) -> const Image& { return in.input; },              \
                [](const StageInputs& in, uint8_t* image) { (void)in; __VA_ARGS__; });                   \
  }                                                                                                  \
  BENCHMARK(name)->Repetitions(5)->ReportAggregatesOnly(true)->Unit(benchmark::kMicrosecond)

FX60_STAGE_BENCHMARK(MeanFilter3x3, original, meanFilter3x3(image));
FX60_STAGE_BENCHMARK(HalveImage, meanFiltered, halveImage(image));
FX60_STAGE_BENCHMARK(NormalizeContrast, halved, normalizeContrast(image));
FX60_STAGE_BENCHMARK(DoubleImage, normalisedHalf, doubleImage(image));
FX60_STAGE_BENCHMARK(EstimateOrientation, preconditioned, {
  OrientationMap map{};
  benchmark::DoNotOptimize(estimateOrientation(image, map));
});
FX60_STAGE_BENCHMARK(SmoothAlongRidges, unnormalised, smoothAlongRidges(image, in.orientation));
FX60_STAGE_BENCHMARK(EstimateRidgePeriod, smoothed, {
  PeriodMap periods{};
  estimateRidgePeriod(image, periods, in.orientation);
  benchmark::DoNotOptimize(periods.data());
});
FX60_STAGE_BENCHMARK(EnhanceRidges, smoothed, enhanceRidges(in.orientation, in.periods, image));
FX60_STAGE_BENCHMARK(BinarizeImage, enhanced, binarizeImage(image, in.periods));
FX60_STAGE_BENCHMARK(FillSmallHoles, binary, fillSmallHoles(image));
FX60_STAGE_BENCHMARK(ThinRidges, holeFilled, thinRidges(image));
FX60_STAGE_BENCHMARK(DetectMinutiae, thinned, {
  MinutiaCandidateList candidates{};
  detectMinutiae(image, in.orientation, candidates);
  benchmark::DoNotOptimize(candidates.count);
});
FX60_STAGE_BENCHMARK(JoinAndRefineMinutiae, thinned, {
  // The skeleton as detection left it differs only where spurs were cut.
  MinutiaCandidateList candidates = in.candidates;
  MinutiaList minutiae{};
  joinBrokenRidges(candidates, image);
  refineMinutiae(minutiae, candidates, image, in.orientation);
  benchmark::DoNotOptimize(minutiae.count);
});
FX60_STAGE_BENCHMARK(ComputeImageQuality, original, benchmark::DoNotOptimize(computeImageQuality(image)));
FX60_STAGE_BENCHMARK(ExtractUnsealedTemplate, original, {
  std::array<uint8_t, fx60::kTemplateSize> tpl{};
  extractUnsealedTemplate(image, tpl.data());
  benchmark::DoNotOptimize(tpl.data());
});

// What the capture loop does with an accepted image: score it, then extract and
// seal the template from a second copy.
void WholeExtraction(benchmark::State& state) {
  runOnImages(state, [](const StageInputs& in) -> const Image& { return in.original; },
              [](const StageInputs& in, uint8_t* image) {
                benchmark::DoNotOptimize(computeImageQuality(image));
                std::memcpy(image, in.original.data(), kPixels);
                std::array<uint8_t, fx60::kTemplateSize> tpl{};
                extractUnsealedTemplate(image, tpl.data());
                fx60::SealTemplate(tpl.data());
                benchmark::DoNotOptimize(tpl.data());
              });
}
BENCHMARK(WholeExtraction)->Repetitions(5)->ReportAggregatesOnly(true)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
