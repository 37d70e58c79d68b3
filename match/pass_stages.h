// The per-candidate stages the matching pass drives: alignment of side B for one
// rotation, affine refinement, fine rescoring, and the second-pass preparation.
// This is a thin adapter over the stage units so that the pass reads as a sequence.
#pragma once

#include <cstdint>

#include "match/match_context.h"

namespace fx60::match {

struct AlignedCandidate {
  bool aligned = false;        // false: no usable alignment for this rotation
  int32_t score = 0;           // the candidate score G
  MatchMinutia* workB = nullptr;  // B turned and moved onto A
  int countB = 0;
  MatchSingularPoint* workSingular = nullptr;  // B's singular points turned for the rotation
  int countSingular = 0;
  const uint32_t* matchedPairs = nullptr;
  int matchedCount = 0;
  uint8_t* area = nullptr;  // free scratch after the matched-pair list
};

// Aligns side B for rotation r. Always fills workSingular/countSingular.
void alignRotation(MatchContext& ctx, int rotation, AlignedCandidate& out);

// Fits and applies the affine map; returns the rotation correction (0 when no fit).
int refineCandidate(MatchContext& ctx, AlignedCandidate& candidate);

// Fine-stage score of an aligned, refined candidate.
uint32_t rescoreCandidate(MatchContext& ctx, const AlignedCandidate& candidate, int rotation, int correction,
                          int pass);

// Prepares the pair lists of pass 2 and sets ctx.pass2Ready.
void prepareSecondPass(MatchContext& ctx);

}  // namespace fx60::match
