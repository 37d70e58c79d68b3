// Blurring along the local ridge direction, cell by cell.
#pragma once

#include <array>
#include <cstdint>

#include "extract/grid.h"

namespace fx60::extract {

// One row of the smoothing kernel: a centre weight and up to 7 offset pairs, each
// applied at +(dx, dy) and -(dx, dy). Weights are in 1/256 and sum to 256.
struct SmoothingTap {
  int8_t dx, dy;
  uint8_t weight;
};
struct SmoothingKernel {
  uint8_t centreWeight;
  uint8_t tapCount;
  std::array<SmoothingTap, 7> taps;
};

// The kernel of every orientation 0..119.
const std::array<SmoothingKernel, kOrientationSteps>& ridgeSmoothingKernels();

// Smooths every pixel of the cell blocks along the orientation of its cell
// (background cells included). Rows 0, 358, 359 and columns 0, 254, 255 keep
// their values. All samples come from the unsmoothed image.
void smoothAlongRidges(uint8_t* image, const OrientationMap& orientation);

}  // namespace fx60::extract
