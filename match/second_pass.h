// The second pass, prepared at the end of a first pass whose result lies in the middle
// band: the sides change roles, side B's records become the inner list (its first
// 1399 pairs by length) and side A's list the outer one, cut and widened to at most
// 350 pairs in use.
#pragma once

#include "match/match_context.h"

namespace fx60::match {

// Writes ctx.pass2 from the pass-1 pair lists (side A's list and B's keys and
// records) and sets ctx.pass2Ready. Runs at the end of pass 1, before the views are
// swapped. For pass 2 the normalising counts are nA = min(innerCount, 350),
// nB = min(outerCount, 350), nB0 = outerCountBeforeWidening.
void preparePass2(MatchContext& ctx);

}  // namespace fx60::match
