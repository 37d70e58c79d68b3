// Affine refinement of an aligned candidate, and the preparation of the second
// matching pass (sides compared the other way round).
#pragma once

#include <array>
#include <cstdint>

#include "match/alignment.h"
#include "match/match_context.h"

namespace fx60::match {

// Fits an affine map from the aligned copy of B onto A over the candidate's matched
// pairs by least squares. An accepted fit is stored in candidate.affine and applied
// to the aligned minutiae and singular points; the fit statistics go to ctx.affine.
// Returns the rotation correction in byte-angle steps (0 when no fit was accepted).
int affineRefine(MatchContext& ctx, CandidateAlignment& candidate);

// Writes ctx.pass2 from the pass-1 pair lists (side A's list and B's keys and
// records) and sets ctx.pass2Ready. Runs at the end of pass 1, before the views are
// swapped. For pass 2 the normalising counts are nA = min(innerCount, 350),
// nB = min(outerCount, 350), nB0 = outerCountBeforeWidening.
void preparePass2(MatchContext& ctx);

// Direction vectors of the byte angles (larger component of magnitude 50), used to
// carry minutia angles through the affine map.
struct DirectionVector {
  int8_t dx;
  int8_t dy;
};
extern const std::array<DirectionVector, 256> AngleDirectionTable;

}  // namespace fx60::match
