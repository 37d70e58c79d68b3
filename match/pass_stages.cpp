#include "match/pass_stages.h"

#include "match/angles.h"

namespace fx60::match {

// Interim: until the alignment stages are in place every rotation reports no
// alignment, so a pass scores from its singular points only.
void alignRotation(MatchContext& ctx, int rotation, AlignedCandidate& out) {
  static thread_local std::array<MatchSingularPoint, kMaxSingularPoints> turned{};
  out = AlignedCandidate{};
  const int s = sineOfByte(rotation);
  const int c = cosineOfByte(rotation);
  for (int k = 0; k < ctx.viewB.singularCount; ++k) {
    const MatchSingularPoint& p = ctx.viewB.singularPoints[k];
    MatchSingularPoint& t = turned[k];
    t = p;
    const int ty = c * p.y - s * p.x;
    t.y = (ty >> 14) + (ty < 0 ? 1 : 0);
    t.x = (s * p.y + c * p.x) / 16384;
    t.angle = static_cast<uint8_t>(p.angle + rotation);
    t.angles[0] = static_cast<uint8_t>(p.angles[0] + rotation);
    t.angles[1] = static_cast<uint8_t>(p.angles[1] + rotation);
  }
  out.workSingular = turned.data();
  out.countSingular = ctx.viewB.singularCount;
}

int refineCandidate(MatchContext&, AlignedCandidate&) { return 0; }

uint32_t rescoreCandidate(MatchContext&, const AlignedCandidate& candidate, int, int, int) {
  return static_cast<uint32_t>(candidate.score < 0 ? 0 : candidate.score);
}

void prepareSecondPass(MatchContext& ctx) { ctx.pass2Ready = 0; }

}  // namespace fx60::match
