// Singular points in the matching pass: pairing them between the sides, the
// fallback score they give when no minutia alignment is usable, and the rotation
// they suggest when the minutia votes are weak.
#pragma once

#include <array>
#include <cstdint>

#include "match/match_context.h"

namespace fx60::match {

// Up to three (A point, B point) pairs; slot 0 is reserved for a pair of type-1 points.
struct SingularPairs {
  struct Pair {
    bool used = false;
    MatchSingularPoint a{};
    MatchSingularPoint b{};
  };
  std::array<Pair, kMaxSingularPoints> slots{};
};

// Pairs side A's singular points (ctx.viewA) with the given B points, which are
// side B's points as turned for the candidate rotation (or as decoded).
SingularPairs pairSingularPoints(const MatchContext& ctx, const MatchSingularPoint* pointsB, int countB);

// Score of a candidate from its singular pairs alone; 0 without pairs.
uint32_t singularFallbackScore(const SingularPairs& pairs);

// Rotation suggested by the singular points when the smoothed minutia votes peak at 45
// or less. May add to the smoothed histogram. Returns false when there is none.
bool singularPointRotation(const MatchContext& ctx, std::array<uint32_t, kRotationBins>& smoothed,
                           int& rotation, uint32_t& strength);

}  // namespace fx60::match
