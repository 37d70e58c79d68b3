// The first, in-place image operations of the extraction: mean filter, halving,
// local contrast normalisation of the half image and bilinear doubling.
#pragma once

#include <cstdint>

namespace fx60::extract {

// 3 x 3 mean of the 256 x 360 image, clipped at the borders (divides by 9, 6 or 4).
void meanFilter3x3(uint8_t* image);

// Keeps every second pixel of every second row: the 128 x 180 result lies in the
// first bytes of the buffer, the rest is left as it was.
void halveImage(uint8_t* image);

// Stretches each pixel of the 128 x 180 half image between the local mean minus
// and plus the local mean deviation; flat neighbourhoods are left alone.
void normalizeContrast(uint8_t* halfImage);

// Bilinear enlargement of the half image at the start of the buffer back to
// 256 x 360, in place.
void doubleImage(uint8_t* image);

}  // namespace fx60::extract
