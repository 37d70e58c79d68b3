#include "match/alignment.h"

namespace fx60::match {

bool alignCandidate(MatchContext& ctx, uint8_t rotation, CandidateAlignment& candidate) {
  (void)ctx;
  (void)rotation;
  candidate = CandidateAlignment{};
  return false;
}

}  // namespace fx60::match
