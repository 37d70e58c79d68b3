// Speed of the stages from the enhanced image to the template, one by
// one. Inputs are captured from real images run through the whole pipeline
// ($FX60_DATA/fp or ../shared/data/fp beside the sources); without them a
// synthetic ridge pattern stands in.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "extract/extractor.h"
#include "extract/grid.h"
#include "extract/minutiae_stages.h"
#include "extract/stage_observer.h"
#include "template/feature_template.h"
#include "tests/support/test_data.h"

namespace {

namespace fs = std::filesystem;
using namespace fx60::extract;
using Image = std::vector<uint8_t>;

std::vector<Image> loadImages() { return fx60::testing::imagesSpreadOverSets(16); }

// Dark sinusoidal ridges, 8 pixels apart, bent into arcs, with a uniform
// foreground map and a mid-range period: a stand-in for the enhanced image.
Image syntheticEnhanced() {
  Image image(kPixels);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const double r = std::hypot(x - 128.0, y - 400.0);
      image[y * kWidth + x] = static_cast<uint8_t>(128 + 100 * std::sin(r * 2 * 3.14159265 / 8.0));
    }
  return image;
}

struct StageInputs : StageObserver {
  Image enhanced, binary, holeFilled, thinned, joined;
  OrientationMap orientation{};
  PeriodMap periods{};
  MinutiaCandidateList candidates{};
  MinutiaCandidateList joinedCandidates{};
  MinutiaList minutiae{};

  void onImage(ImageStage stage, const uint8_t* image) override {
    Image copy(image, image + kPixels);
    switch (stage) {
      case ImageStage::kEnhanced: enhanced = copy; break;
      case ImageStage::kBinary: binary = copy; break;
      case ImageStage::kHoleFilled: holeFilled = copy; break;
      case ImageStage::kThinned: thinned = copy; break;
      case ImageStage::kJoined: joined = copy; break;
      default: break;
    }
  }
  void onOrientation(const OrientationMap& map, int) override { orientation = map; }
  void onPeriods(const PeriodMap& map) override { periods = map; }
  void onCandidates(const MinutiaCandidateList& list, bool afterJoin) override {
    (afterJoin ? joinedCandidates : candidates) = list;
  }
  void onMinutiae(const MinutiaList& list) override { minutiae = list; }
};

StageInputs syntheticInputs() {
  StageInputs in;
  in.orientation.fill(0);
  in.periods.fill(64);
  in.enhanced = syntheticEnhanced();
  Image work = in.enhanced;
  binarizeImage(work.data(), in.periods);
  in.binary = work;
  fillSmallHoles(work.data());
  in.holeFilled = work;
  thinRidges(work.data());
  in.thinned = work;
  detectMinutiae(work.data(), in.orientation, in.candidates);
  in.joinedCandidates = in.candidates;
  joinBrokenRidges(in.joinedCandidates, work.data());
  in.joined = work;
  refineMinutiae(in.minutiae, in.joinedCandidates, work.data(), in.orientation);
  return in;
}

const std::vector<StageInputs>& inputs() {
  static const std::vector<StageInputs> all = [] {
    std::vector<StageInputs> result;
    for (const Image& image : loadImages()) {
      StageInputs stage;
      Image work = image;
      std::array<uint8_t, fx60::kTemplateSize> tpl{};
      extractUnsealedTemplate(work.data(), tpl.data(), &stage);
      if (!stage.joined.empty()) result.push_back(std::move(stage));
    }
    if (result.empty()) result.push_back(syntheticInputs());
    return result;
  }();
  return all;
}

// Each iteration copies the stage's input image (92 KB, a few microseconds)
// and runs the stage on it, cycling through the images.
template <typename Select, typename Stage>
void runOnImages(benchmark::State& state, Select select, Stage stage) {
  const auto& all = inputs();
  Image work(kPixels);
  size_t next = 0;
  for (auto _ : state) {
    const StageInputs& in = all[next++ % all.size()];
    std::memcpy(work.data(), select(in).data(), kPixels);
    stage(in, work.data());
    benchmark::DoNotOptimize(work.data());
    benchmark::ClobberMemory();
  }
  state.counters["images"] = static_cast<double>(all.size());
}

#define FX60_MINUTIAE_BENCHMARK(name, input, ...)                                          \
  void name(benchmark::State& state) {                                                     \
    runOnImages(state, [](const StageInputs& in) -> const Image& { return in.input; },    \
                [](const StageInputs& in, uint8_t* image) { (void)in; (void)image; __VA_ARGS__; }); \
  }                                                                                        \
  BENCHMARK(name)->Repetitions(5)->ReportAggregatesOnly(true)->Unit(benchmark::kMicrosecond)

FX60_MINUTIAE_BENCHMARK(CopyOnly, enhanced, benchmark::DoNotOptimize(image));
FX60_MINUTIAE_BENCHMARK(Binarize, enhanced, binarizeImage(image, in.periods));
FX60_MINUTIAE_BENCHMARK(FillHoles, binary, fillSmallHoles(image));
FX60_MINUTIAE_BENCHMARK(Thinning, holeFilled, thinRidges(image));
FX60_MINUTIAE_BENCHMARK(Detection, thinned, {
  MinutiaCandidateList candidates{};
  detectMinutiae(image, in.orientation, candidates);
  benchmark::DoNotOptimize(candidates.count);
});
FX60_MINUTIAE_BENCHMARK(RidgeJoin, thinned, {
  MinutiaCandidateList candidates = in.candidates;
  joinBrokenRidges(candidates, image);
  benchmark::DoNotOptimize(candidates.count);
});
FX60_MINUTIAE_BENCHMARK(Refinement, joined, {
  MinutiaCandidateList candidates = in.joinedCandidates;
  MinutiaList minutiae{};
  refineMinutiae(minutiae, candidates, image, in.orientation);
  benchmark::DoNotOptimize(minutiae.count);
});
FX60_MINUTIAE_BENCHMARK(TemplateWriting, enhanced, {
  uint8_t tpl[fx60::kTemplateSize];
  writeTemplateOf(in.minutiae, tpl);
  benchmark::DoNotOptimize(tpl);
});
// Binarisation to the template in a row, as the pipeline runs them.
FX60_MINUTIAE_BENCHMARK(AllMinutiaeStages, enhanced, {
  binarizeImage(image, in.periods);
  fillSmallHoles(image);
  thinRidges(image);
  MinutiaCandidateList candidates{};
  detectMinutiae(image, in.orientation, candidates);
  joinBrokenRidges(candidates, image);
  MinutiaList minutiae{};
  refineMinutiae(minutiae, candidates, image, in.orientation);
  uint8_t tpl[fx60::kTemplateSize];
  writeTemplateOf(minutiae, tpl);
  benchmark::DoNotOptimize(tpl);
});

}  // namespace

BENCHMARK_MAIN();
