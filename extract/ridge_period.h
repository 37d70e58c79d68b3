// Local ridge period per grid cell.
#pragma once

#include <array>
#include <cstdint>

#include "extract/grid.h"

namespace fx60::extract {

// Offset of the profile sample at distance d = 1..12 across the ridges of
// orientation h; one pixel per step along the dominant axis.
struct ProfileOffset {
  int8_t dx, dy;
};
using ProfileOffsets = std::array<std::array<ProfileOffset, 12>, kOrientationSteps>;
const ProfileOffsets& ridgeProfileOffsets();

// Distance between successive profile samples of orientation h, in 1/128 pixel.
int ridgeProfileStep(int h);

// Centroid offset (0..2 quarter bins) of a three-bin histogram peak: T[S][d].
int periodCentroid(int binTotal, int difference);

// Fills the cleared `periods` map: 0 for background, otherwise a code 16..144
// standing for a period of 3 + code / 16 pixels. The image is read only.
void estimateRidgePeriod(const uint8_t* image, PeriodMap& periods, const OrientationMap& orientation);

}  // namespace fx60::extract
