// The stages from the enhanced grey image to the template's minutia records, in
// pipeline order. Every stage works in place on the 256 x 360 working image and keeps
// its indices inside the image and the grid, whatever the image holds.
#pragma once

#include <cstdint>

#include "extract/grid.h"
#include "extract/minutiae.h"
#include "template/minutia_record.h"

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

// A selected minutia as the template records it: the direction in 1/256 turns
// clockwise becomes whole degrees anticlockwise (0..359).
MinutiaRecord templateRecordOf(const Minutia& minutia);

// Writes the template of the selected minutiae, in list order, with quality byte 0.
// 0 on success, 1 when the list is empty (the template is then all zero).
int writeTemplateOf(const MinutiaList& minutiae, uint8_t* tpl);

}  // namespace fx60::extract
