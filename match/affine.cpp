#include "match/affine.h"

namespace fx60::match {

const std::array<DirectionVector, 256> AngleDirectionTable{};

int affineRefine(MatchContext& ctx, CandidateAlignment& candidate) {
  (void)ctx;
  candidate.affine = AffineParams{};
  return 0;
}

void preparePass2(MatchContext& ctx) { ctx.pass2Ready = 0; }

}  // namespace fx60::match
