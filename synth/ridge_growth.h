// The master fingerprint: ridges grown from a few random seeds by filtering the
// canvas again and again with a Gabor filter tuned, at every pixel, to the local
// ridge orientation and period. Where growing ridge fronts meet out of step,
// ridges end or fork: the minutiae arise on their own.
#pragma once

#include <cstdint>
#include <vector>

#include "synth/grid.h"
#include "synth/random.h"

namespace fx60::synth {

// One Gabor filter per orientation bin and period bin, sampled on an 11 x 11
// window, in fixed point (4096 = 1). Built for the bins a finger needs only.
class GaborBank {
 public:
  static constexpr int kRadius = 5;
  static constexpr int kSize = 2 * kRadius + 1;
  static constexpr int kStride = 16;  // row length in memory: zeros after kSize
  static constexpr int kOrientationBins = 48;
  static constexpr double kMinPeriod = 6.0;
  static constexpr double kPeriodStep = 0.25;
  static constexpr int kPeriodBins = 33;  // 6 .. 14 pixels
  static constexpr int kOne = 4096;

  // The bin of an orientation (radians, [0, pi)) and a period (pixels).
  static int binOf(float orientation, float period);

  // The filter of a bin (kSize rows of kStride taps), made on first use.
  const int16_t* kernel(int bin);

 private:
  std::vector<std::vector<int16_t>> kernels_ = std::vector<std::vector<int16_t>>(kOrientationBins * kPeriodBins);
};

// A ridge picture in [-1, 1]: +1 on a ridge's crest, -1 in the middle of a valley.
using RidgePattern = Grid<float>;

// Grows the ridges on the master canvas (the maps cover it, one value per
// kFieldStep x kFieldStep square) from seeds about
// `seedSpacing` pixels apart; closer seeds give more places where fronts meet,
// hence more minutiae.
RidgePattern growRidges(const Grid<float>& orientation, const Grid<float>& periods, int seedSpacing, Random& random);

}  // namespace fx60::synth
