// Affine refinement of an aligned candidate: a least-squares map of the aligned copy of
// B onto A over its matched pairs.
#pragma once

#include <array>
#include <cstdint>

#include "match/alignment.h"
#include "match/angles.h"
#include "match/match_context.h"

namespace fx60::match {

// Fits an affine map from the aligned copy of B onto A over the candidate's matched
// pairs by least squares. An accepted fit is stored in candidate.affine and applied
// to the aligned minutiae and singular points; the fit statistics go to ctx.affine.
// Returns the rotation correction in byte-angle steps (0 when no fit was accepted).
int affineRefine(MatchContext& ctx, CandidateAlignment& candidate);

// Direction vectors of the byte angles in the byteAngleOf convention (-x is 0, +y is
// 64), the larger component of magnitude 50, used to carry minutia angles through the
// affine map. Computed at compile time.
struct DirectionVector {
  int8_t dx;
  int8_t dy;
};
inline constexpr std::array<DirectionVector, 256> AngleDirectionTable = [] {
  std::array<DirectionVector, 256> table{};
  for (int a = 0; a < 256; ++a) {
    const long double theta = 2 * detail::kPi * a / 256;
    const long double dx = -detail::sineOf(theta + detail::kPi / 2);
    const long double dy = detail::sineOf(theta);
    const long double ax = dx < 0 ? -dx : dx;
    const long double ay = dy < 0 ? -dy : dy;
    const long double larger = ax > ay ? ax : ay;
    table[a] = {static_cast<int8_t>(detail::roundHalfAway(50 * dx / larger)),
                static_cast<int8_t>(detail::roundHalfAway(50 * dy / larger))};
  }
  return table;
}();

}  // namespace fx60::match
