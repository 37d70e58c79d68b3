// Oriented band-pass filter that sharpens ridges against valleys.
#pragma once

#include <array>
#include <cstdint>

#include "extract/grid.h"

namespace fx60::extract {

// One tap of an enhancement kernel, applied at +(dx, dy) and -(dx, dy); weights
// in 1/256. The first tap lies along the ridge, the others across it.
struct EnhancementTap {
  int8_t dx, dy;
  int16_t weight;
};
using EnhancementKernel = std::array<EnhancementTap, 5>;

inline constexpr int kPeriodClasses = 4;
inline constexpr int kOrientationBuckets = 40;

// Nearest of the 40 directions (4.5 degrees apart) for orientation 0..119.
constexpr int orientationBucket(int h) { return h >= 119 ? 0 : (h + 1) / 3; }
// Period class 0..3 of a non-zero period code.
constexpr int periodClass(int code) {
  const int cls = (code - 17) >> 5;
  return cls < 0 ? 0 : (cls > 3 ? 3 : cls);
}

const EnhancementKernel& enhancementKernel(int periodClass, int bucket);

// Filters the 3 x 3 pixels of every cell with a period estimate; cells with code 0
// keep their pixels, as do rows 0, 358, 359 and columns 0, 254, 255. The output
// is centred on 127: ridges darker, valleys brighter.
void enhanceRidges(const OrientationMap& orientation, const PeriodMap& periods, uint8_t* image);

}  // namespace fx60::extract
