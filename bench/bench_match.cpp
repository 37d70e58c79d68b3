// Comparison time of genuine and impostor template pairs of the shared image sets
// (the verification-competition protocol pairs), one core.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "extract/extractor.h"
#include "match/matcher.h"
#include "template/feature_template.h"
#include "tests/support/test_data.h"

namespace {

namespace fs = std::filesystem;
using Template = std::array<uint8_t, fx60::kTemplateSize>;

struct PairSet {
  std::vector<Template> templates;
  std::vector<std::pair<int, int>> genuine;
  std::vector<std::pair<int, int>> impostor;
};

const PairSet& pairSet() {
  static const PairSet set = [] {
    PairSet s;
    for (const fs::path& folder : fx60::testing::fingerprintSets()) {
      std::vector<fs::path> files = fx60::testing::imagesOfSet(folder);
      if (files.size() > 80) files.resize(80);  // ten fingers of the larger sets
      const int base = static_cast<int>(s.templates.size());
      std::vector<std::string> fingers;
      for (const fs::path& file : files) {
        std::vector<uint8_t> image = fx60::testing::readPgm(file);
        if (image.empty()) continue;
        Template t{};
        fx60::extract::extractUnsealedTemplate(image.data(), t.data());
        s.templates.push_back(t);
        const std::string stem = file.stem().string();
        fingers.push_back(stem.substr(0, stem.rfind('_')));
      }
      for (size_t i = 0; i < fingers.size(); ++i)
        for (size_t j = i + 1; j < fingers.size(); ++j) {
          const bool firstI = i == 0 || fingers[i - 1] != fingers[i];
          const bool firstJ = fingers[j - 1] != fingers[j];
          if (fingers[i] == fingers[j])
            s.genuine.emplace_back(base + i, base + j);
          else if (firstI && firstJ)
            s.impostor.emplace_back(base + i, base + j);
        }
    }
    return s;
  }();
  return set;
}

// One iteration compares every pair once, so that the mean weighs each pair alike
// whatever number of iterations the library picks; `per_comparison` is that mean.
void comparePairs(benchmark::State& state, const std::vector<std::pair<int, int>>& pairs) {
  const PairSet& set = pairSet();
  if (pairs.empty()) {
    state.SkipWithError("shared fingerprint data not found (set FX60_DATA)");
    return;
  }
  for (auto _ : state) {
    for (const auto& [a, b] : pairs) {
      float score = 0;
      fx60::match::matchTemplates(set.templates[a].data(), set.templates[b].data(), &score);
      benchmark::DoNotOptimize(score);
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(pairs.size()));
  state.counters["per_comparison"] =
      benchmark::Counter(static_cast<double>(pairs.size()),
                         benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_GenuineComparison(benchmark::State& state) { comparePairs(state, pairSet().genuine); }
void BM_ImpostorComparison(benchmark::State& state) { comparePairs(state, pairSet().impostor); }
void BM_ProtocolComparison(benchmark::State& state) {
  static const std::vector<std::pair<int, int>> all = [] {
    std::vector<std::pair<int, int>> pairs = pairSet().genuine;
    pairs.insert(pairs.end(), pairSet().impostor.begin(), pairSet().impostor.end());
    return pairs;
  }();
  comparePairs(state, all);
}

BENCHMARK(BM_GenuineComparison)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImpostorComparison)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProtocolComparison)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
