// Entry points of the feature extractor: image in, quality score and unsealed template out.
#pragma once

#include <cstdint>

namespace fx60::extract {

// Quality score 0..100 of a 256 x 360 grey image. The image is used as working
// memory and is changed.
uint8_t computeImageQuality(uint8_t* image);

// Extracts the unsealed 512-byte template from the image (which is destroyed).
// Returns -2 for a null image, otherwise 1; a failed extraction leaves the empty
// template, whose quality byte is 0.
int extractUnsealedTemplate(uint8_t* image, uint8_t* templateOut);

}  // namespace fx60::extract
