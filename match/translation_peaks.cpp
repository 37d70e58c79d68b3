#include "match/translation_peaks.h"

#include <algorithm>
#include <cstdlib>

#include "match/alignment_kernels.h"

namespace fx60::match {
namespace {

namespace kernels = alignment_kernels::fast;
using alignment_kernels::kPeakReach;

constexpr int kHistogramSearchFirst = 10;
constexpr int kHistogramSearchLast = 1013;
constexpr int kSecondPeakGap = 13;  // second peak searched at least this far away
constexpr uint32_t kMinPeakMass = 128;
constexpr uint32_t kSinglePeakMass = 896;
// Sums of votes below this fit a signed 16-bit lane.
constexpr uint32_t kNarrowTotal = 32768;

// Peaks of a histogram whose non-zero bins all lie in the range, with sums in lanes of
// Count: 32 bits (modulo 2^32) in general, 16 bits when the bins sum below 2^15.
template <typename Count>
HistogramPeaks peaksInLanes(const TranslationHistogram& histogram, VotedRange range) {
  HistogramPeaks result;
  int first = std::max(kHistogramSearchFirst, range.low);
  const int searchLast = std::min(kHistogramSearchLast, range.high);
  while (first <= searchLast && histogram[first] == 0) ++first;
  if (first > searchLast) return result;
  int last = searchLast;
  while (histogram[last] == 0) --last;

  // Bins outside the trimmed range read as 0, raw and smoothed alike. Every sum of raw
  // bins is a difference of running sums, which are 0 below the range and the total above.
  constexpr int kPad = 24;
  std::array<Count, kTranslationBins + 2 * kPad> prefixStore;
  Count* const prefix = prefixStore.data() + kPad;  // prefix[k] for k in first - kPad .. last + kPad
  std::fill(prefix + first - kPad, prefix + first, Count{0});
  kernels::runningSums(histogram.data(), first, last, prefix);
  const uint32_t total = prefix[last];
  std::fill(prefix + last + 1, prefix + last + 1 + kPad, static_cast<Count>(total));
  const auto mass = [&](int centre) -> uint32_t {
    return static_cast<Count>(prefix[centre + kPeakReach] - prefix[centre - kPeakReach - 1]);
  };

  // Only first..last of the smoothed values are written, and read as such; around them,
  // where the centroid may read, they are 0.
  std::array<Count, kTranslationBins + 2 * kPad> smoothedStore;
  Count* const smoothed = smoothedStore.data() + kPad;
  const uint32_t top = kernels::windowSums(prefix, first, last, smoothed);
  std::fill(smoothed + first - kPad, smoothed + first, Count{0});
  std::fill(smoothed + last + 1, smoothed + last + 1 + kPad, Count{0});
  const int topAt = kernels::firstIndexOf(smoothed, first, last, top);

  const int peak = topAt + kernels::centroidWithin(smoothed, first, last, topAt, 2 * top / 3);
  const uint32_t peakMass = mass(peak);
  if (peakMass <= kMinPeakMass) return result;
  result.peaks[0] = {peak, peakMass};
  result.count = 1;
  if (peakMass <= kSinglePeakMass || 2 * peakMass >= total) return result;

  // Second peak: the first maximum away from the first one, a local maximum that
  // reaches two thirds of the top. The two stretches lie in bin order.
  uint32_t below = 0;
  uint32_t above = 0;
  const int belowAt = kernels::firstMaximum(smoothed, first + 1, std::min(peak - kSecondPeakGap, last), below);
  const int aboveAt = kernels::firstMaximum(smoothed, std::max(peak + kSecondPeakGap, first), last - 2, above);
  const bool takeBelow = belowAt >= 0 && (aboveAt < 0 || below >= above);
  const int secondAt = takeBelow ? belowAt : aboveAt;
  const uint32_t second = takeBelow ? below : above;
  if (secondAt < 0) return result;
  const auto smoothedAt = [&](int k) -> uint32_t { return (k >= first && k <= last) ? smoothed[k] : 0u; };
  if (second < smoothedAt(secondAt - 1) || second < smoothedAt(secondAt + 1)) return result;
  if (3 * static_cast<uint64_t>(second) <= 2 * static_cast<uint64_t>(top)) return result;
  const int secondPeak = secondAt + kernels::centroidWithin(smoothed, first, last, secondAt, 2 * second / 3);
  const uint32_t secondMass = mass(secondPeak);
  if (3 * static_cast<uint64_t>(secondMass) > 2 * static_cast<uint64_t>(peakMass) &&
      std::abs(secondPeak - peak) > kPeakReach) {
    result.peaks[1] = {secondPeak, secondMass};
    result.count = 2;
  }
  return result;
}

}  // namespace

HistogramPeaks peaksWithin(const TranslationHistogram& histogram, VotedRange range, uint64_t total) {
  return total < kNarrowTotal ? peaksInLanes<uint16_t>(histogram, range) : peaksInLanes<uint32_t>(histogram, range);
}

HistogramPeaks histogramPeaks(const TranslationHistogram& histogram) {
  uint64_t total = 0;
  for (const uint32_t bin : histogram) total += bin;
  return peaksWithin(histogram, {0, kTranslationBins - 1}, total);
}

int centroidShift(std::span<const uint32_t> smoothed, int p, uint32_t threshold) {
  int64_t weightSum = 0;
  int64_t moment = 0;
  for (int k = p - kPeakReach; k <= p + kPeakReach; ++k) {
    const uint32_t value = (k >= 0 && k < static_cast<int>(smoothed.size())) ? smoothed[k] : 0;
    if (value > threshold) {
      const int64_t w = value - threshold;
      weightSum += w;
      moment += w * (k - p);
    }
  }
  return alignment_kernels::meanOffset(weightSum, moment);
}

}  // namespace fx60::match
