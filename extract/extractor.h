// Entry points of the feature extractor: image in, quality score and unsealed template out.
#pragma once

#include <cstdint>

#include "extract/minutiae.h"

namespace fx60::extract {

class StageObserver;

// Quality score 0..100 of a 256 x 360 grey image. The image is used as working
// memory and is changed.
uint8_t computeImageQuality(uint8_t* image);

// Extracts the unsealed 512-byte template from the image (which is destroyed).
// Returns -2 for a null image, otherwise 1; a failed extraction leaves the empty
// template, whose quality byte is 0.
int extractUnsealedTemplate(uint8_t* image, uint8_t* templateOut);

// The same, reporting every intermediate result to `observer` (may be null).
int extractUnsealedTemplate(uint8_t* image, uint8_t* templateOut, StageObserver* observer);

// Fewest minutiae a usable template carries.
inline constexpr int kMinTemplateMinutiae = 7;

// The whole pipeline on a 256 x 360 image (destroyed): writes the quality score
// and the selected minutiae. Returns 0 on success and -1 when fewer than 7 minutiae
// survive; the quality is written in both cases.
// Reentrant: all working memory belongs to the call, none is taken from the heap.
int runExtraction(uint8_t* image, MinutiaList& minutiae, int& quality, StageObserver* observer = nullptr);

}  // namespace fx60::extract
