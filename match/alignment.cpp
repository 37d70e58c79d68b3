#include "match/alignment.h"

namespace fx60::match {

bool alignCandidate(MatchContext& ctx, uint8_t rotation, AlignedCandidate& candidate) {
  (void)ctx;
  (void)rotation;
  candidate = AlignedCandidate{};
  return false;
}

}  // namespace fx60::match
