#include "synth/ridge_growth.h"

#include <algorithm>
#include <cmath>

#include "synth/finger_pattern.h"
#include "synth/portable_math.h"

namespace fx60::synth {

namespace {

// Spread of the filter's envelope across and along the ridges, in pixels.
constexpr double kSigmaAcross = 2.8;
constexpr double kSigmaAlong = 3.4;

// Fixed-point ridge values: 1024 = 1.
constexpr int kValueOne = 1024;

// Amplification after each filtering: above 1 so that faint beginnings grow until
// the clamp at +-1 holds them.
constexpr int kGainNumerator = 7;
constexpr int kGainShift = 2;  // gain 7/4

// Iterations after which even the farthest corner has been reached and the
// pattern has settled.
constexpr int kIterations = 22;

// The filter's response at one pixel: taps (kSize rows of kStride) against the
// window whose top-left pixel `window` points at. Integer sums give the same result
// in any order. Kept out of line: inlined into the pixel loop, GCC 12 stops
// vectorising the row sums, and growth takes seven times as long. Not instrumented
// by the sanitizers, which would make growth fifteen times slower in their builds:
// the window lies inside the padded canvas by construction (growRidges).
__attribute__((noinline, no_sanitize("address", "thread", "undefined"))) int32_t filterResponse(const int16_t* taps,
                                                                                      const int16_t* window,
                                                                                      int stride) {
  int32_t sum = 0;
  for (int v = 0; v < GaborBank::kSize; ++v) {
    const int16_t* row = window + static_cast<ptrdiff_t>(v) * stride;
    const int16_t* tapRow = taps + v * GaborBank::kStride;
    for (int u = 0; u < GaborBank::kStride; ++u) sum += tapRow[u] * row[u];
  }
  return sum;
}

}  // namespace

int GaborBank::binOf(float orientation, float period) {
  int angleBin = static_cast<int>(std::floor(orientation * (kOrientationBins / kPi) + 0.5));
  angleBin = (angleBin % kOrientationBins + kOrientationBins) % kOrientationBins;
  int periodBin = static_cast<int>(std::floor((period - kMinPeriod) / kPeriodStep + 0.5));
  periodBin = std::clamp(periodBin, 0, kPeriodBins - 1);
  return periodBin * kOrientationBins + angleBin;
}

const int16_t* GaborBank::kernel(int bin) {
  std::vector<int16_t>& taps = kernels_[bin];
  if (!taps.empty()) return taps.data();
  const double orientation = (bin % kOrientationBins) * (kPi / kOrientationBins);
  const double period = kMinPeriod + (bin / kOrientationBins) * kPeriodStep;
  const SineCosine ridge = sineCosine(orientation);
  // Envelope and carrier; the carrier runs across the ridges (along the normal).
  double envelope[kSize][kSize], carrier[kSize][kSize];
  double envelopeSum = 0, carrierMean = 0;
  for (int v = 0; v < kSize; ++v)
    for (int u = 0; u < kSize; ++u) {
      const double dx = u - kRadius, dy = v - kRadius;
      const double along = dx * ridge.cosine + dy * ridge.sine;
      const double across = -dx * ridge.sine + dy * ridge.cosine;
      envelope[v][u] = exponential(-0.5 * (across * across / (kSigmaAcross * kSigmaAcross) +
                                           along * along / (kSigmaAlong * kSigmaAlong)));
      carrier[v][u] = cosine(kTwoPi * across / period);
      envelopeSum += envelope[v][u];
      carrierMean += envelope[v][u] * carrier[v][u];
    }
  carrierMean /= envelopeSum;
  // No response to a flat area, and a response of 1 to ridges of this period and
  // orientation in phase with the filter.
  double response = 0;
  for (int v = 0; v < kSize; ++v)
    for (int u = 0; u < kSize; ++u) response += envelope[v][u] * (carrier[v][u] - carrierMean) * carrier[v][u];
  taps.assign(kSize * kStride, 0);
  for (int v = 0; v < kSize; ++v)
    for (int u = 0; u < kSize; ++u)
      taps[v * kStride + u] = static_cast<int16_t>(
          std::floor(kOne * envelope[v][u] * (carrier[v][u] - carrierMean) / response + 0.5));
  return taps.data();
}

RidgePattern growRidges(const Grid<float>& orientation, const Grid<float>& periods, int seedSpacing, Random& random) {
  constexpr int r = GaborBank::kRadius;
  const int width = orientation.width * kFieldStep, height = orientation.height * kFieldStep;
  // Canvas with a border of zeros wide enough for the filter window (and the
  // unused tail of each kernel row), so that no tap needs a bounds check.
  const int stride = width + 2 * r + GaborBank::kStride;
  const int paddedHeight = height + 2 * r;
  std::vector<int16_t> current(static_cast<size_t>(stride) * paddedHeight, 0);
  std::vector<int16_t> next(current.size(), 0);
  auto cell = [&](std::vector<int16_t>& canvas, int x, int y) -> int16_t& {
    return canvas[static_cast<size_t>(y + r) * stride + x + r];
  };

  RidgePattern pattern(width, height);
  GaborBank bank;
  std::vector<const int16_t*> filterAt(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      filterAt[static_cast<size_t>(y) * width + x] = bank.kernel(
          GaborBank::binOf(orientation.at(x / kFieldStep, y / kFieldStep), periods.at(x / kFieldStep, y / kFieldStep)));

  // Seeds on a jittered grid: every part of the canvas is reached within a few
  // iterations, and the fronts meet at random places.
  const int columns = std::max(1, width / seedSpacing), rows = std::max(1, height / seedSpacing);
  for (int row = 0; row < rows; ++row)
    for (int column = 0; column < columns; ++column) {
      const int x = (column * width + static_cast<int>(random.below(static_cast<uint32_t>(width)))) / columns;
      const int y = (row * height + static_cast<int>(random.below(static_cast<uint32_t>(height)))) / rows;
      const int16_t value = random.chance(0.5) ? kValueOne : -kValueOne;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
          if (pattern.contains(x + dx, y + dy)) cell(current, x + dx, y + dy) = value;
    }

  for (int iteration = 0; iteration <= kIterations; ++iteration) {
    const bool last = iteration == kIterations;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const int32_t filtered = filterResponse(filterAt[static_cast<size_t>(y) * width + x],
                                                &current[static_cast<size_t>(y) * stride + x], stride) /
                                 GaborBank::kOne;
        if (last) {
          pattern.at(x, y) = std::clamp(static_cast<float>(filtered) / kValueOne, -1.0f, 1.0f);
        } else {
          const int32_t amplified = filtered * kGainNumerator / (1 << kGainShift);
          cell(next, x, y) = static_cast<int16_t>(std::clamp(amplified, -kValueOne, kValueOne));
        }
      }
    }
    current.swap(next);
  }
  return pattern;
}

}  // namespace fx60::synth
