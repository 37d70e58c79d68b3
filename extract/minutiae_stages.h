// The stages from the enhanced grey image to the packed minutiae, in pipeline
// order. Every stage works in place on the 256 x 360 working image and keeps
// its indices inside the image and the grid, whatever the image holds.
#pragma once

#include <cstdint>

#include "extract/grid.h"
#include "extract/minutiae.h"

namespace fx60::extract {

// Ridge pixels become 0, everything else 255: each pixel is compared with the
// mean of a window sized by the local ridge period (background cells give 255).
void binarizeImage(uint8_t* image, const PeriodMap& periods);

// Fills 4-connected white islands of fewer than 30 pixels with ridge.
void fillSmallHoles(uint8_t* image);

// Peels ridges down to one pixel width (at most 6 passes).
void thinRidges(uint8_t* image);

// Records ridge endings and bifurcations of the skeleton inside the usable
// print area. The image changes only where short spurs are cut.
void detectMinutiae(uint8_t* image, const OrientationMap& orientation,
                    MinutiaCandidateList& candidates);

// Bridges pairs of facing ridge endings in the skeleton and removes both.
void joinBrokenRidges(MinutiaCandidateList& candidates, uint8_t* image);

// Validates positions, recomputes directions with longer ridge walks, prunes
// false minutiae and selects at most 100 into the list.
void refineMinutiae(MinutiaList& minutiae, MinutiaCandidateList& candidates, uint8_t* image,
                    const OrientationMap& orientation);

// Writes the 488-byte hand-over record for the template writer.
void packMinutiae(const MinutiaList& minutiae, PackedMinutiae& packed);

}  // namespace fx60::extract
