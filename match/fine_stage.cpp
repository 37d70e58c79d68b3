#include "match/fine_stage.h"

namespace fx60::match {

int fineRescore(const MatchContext& ctx, const CandidateAlignment& candidate, int g0, uint8_t rotation,
                int correction, int pass) {
  (void)ctx;
  (void)candidate;
  (void)g0;
  (void)rotation;
  (void)correction;
  (void)pass;
  return 0;
}

int rotationPenalty(int score, int rotationPlusCorrection) {
  (void)rotationPlusCorrection;
  return score;
}

}  // namespace fx60::match
