// The fine stage's score from its evidence, and the bounds of it that let a comparison
// stop a candidate early.
//
// The evidence is the singular-point agreement, J (paired minutiae by component), K
// (cells of the best component) and a penalty (unpaired minutiae, singular points,
// ridge disagreement) weighted by the image qualities. The score never falls as J or
// K rise or as the penalty term falls. So a candidate whose score, with every term at
// its most favourable bound, cannot exceed the best score so far cannot change the
// result and is stopped there; and one whose score with every term at its least
// favourable bound already reaches what the caller needs is settled. Both give the
// caller exactly what the full computation would have decided.
#pragma once

#include <cstdint>
#include <span>

#include "match/coverage.h"
#include "match/match_context.h"

namespace fx60::match {

// Score after the penalty for implausible rotations (r + c far from no turn and from
// a half turn); scores above 5760 are kept.
int rotationPenalty(int score, int rotationPlusCorrection);

// The score as published for a candidate: clamped, less the rotation penalty, at least 0.
int penalisedScore(int64_t score, int rotationPlusCorrection);

// The penalty once ridge disagreement (the sum over the probes) raises it.
uint32_t raisedPenalty(uint32_t penalty, int ridge, int unmatched);

// True when no ridge sum of this many probes can wrap the 32-bit arithmetic of the
// raised penalty or of the quality-weighted term: then the raise only adds to the
// term, and the penalty before it bounds the term from below.
bool ridgeRaiseCannotWrap(uint32_t penalty, int probes, uint32_t qualityExcess);

// The rescored candidate from its evidence.
int rescoredScore(int agreement, int64_t j, int64_t k, uint32_t penalty, uint32_t qualityExcess, int g0,
                  int rotationPlusCorrection);

// Largest score the candidate could still reach once the partner marks of the listed
// A records are known, before the region tests, the ridge measure and the coverage
// analysis run.
int fineScoreBound(std::span<const OverlapRecordA> recordsA, std::span<const OverlapRecordB> recordsB,
                   const OverlapRect& rect, std::span<const MatchSingularPoint> singularB,
                   std::span<const MatchSingularPoint> singularA, int g0, int rotationPlusCorrection);

}  // namespace fx60::match
