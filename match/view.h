// Decoding a prepared template into the matcher's view: minutiae sorted by position,
// near-duplicates dropped, a curvature byte per minutia, and the singular points.
#pragma once

#include <cstdint>

#include "match/match_context.h"

namespace fx60::match {

// Fills the view (whose storage pointers are already set) from a 512-byte template.
void decodeView(MatchView& view, const uint8_t* tpl);

// Curvature byte of every minutia: the orientation change towards the nearest
// neighbour lying roughly along the minutia's direction, scaled by distance.
void neighbourCurvature(MatchMinutia* minutiae, int count);

}  // namespace fx60::match
