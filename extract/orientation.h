// Ridge orientation per grid cell, the foreground mask and the image quality score.
#pragma once

#include <cstdint>

#include "extract/grid.h"

namespace fx60::extract {

// Measures the ridge orientation of every cell of the contrast-normalised 256 x 360
// image (read only) and marks the cells that are not usable print area. Two masks
// are built: one with fixed thresholds that only feeds the quality score, and one
// with thresholds scaled to the clipped window, which ends up in `orientation`.
// Both are smoothed by a majority vote. Returns the quality score 0..100.
int estimateOrientation(const uint8_t* image, OrientationMap& orientation);

// Replaces the background flag of every cell by the vote of its clipped 11 x 11
// window: the cell stays foreground only if more than 60 cells of the window were
// foreground before this pass. Orientations are kept.
void smoothForegroundMask(OrientationMap& map);

}  // namespace fx60::extract
