// Peaks of a translation histogram: the 11-bin moving sum of the votes, its first
// maximum moved to the centroid of the bins above two thirds of it, and a second peak
// when the first does not hold the votes on its own.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace fx60::match {

inline constexpr int kTranslationBins = 1024;
using TranslationHistogram = std::array<uint32_t, kTranslationBins>;

// Bins [low, high] of a histogram that received votes (low > high when none did).
struct VotedRange {
  int low = kTranslationBins;
  int high = -1;
};

struct HistogramPeak {
  int32_t position = 0;  // bin, centroid-corrected
  uint32_t mass = 0;     // sum of the 21 bins around it
};

struct HistogramPeaks {
  int count = 0;  // 0, 1 or 2
  std::array<HistogramPeak, 2> peaks{};
};

// Up to two translation peaks of a histogram (bins 10..1013 are searched).
HistogramPeaks histogramPeaks(const TranslationHistogram& histogram);

// The same for a histogram whose non-zero bins all lie in the range and whose bins sum
// to total.
HistogramPeaks peaksWithin(const TranslationHistogram& histogram, VotedRange range, uint64_t total);

// Weighted mean offset from p (rounded) of the smoothed values above t in p-10..p+10.
int centroidShift(std::span<const uint32_t> smoothed, int p, uint32_t threshold);

}  // namespace fx60::match
