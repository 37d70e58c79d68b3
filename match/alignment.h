// Alignment of side B to side A for one candidate rotation: turn B, vote for a
// translation, pick the translation under which the pair correspondences fit best,
// then resolve which B minutia answers which A minutia and score the alignment.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "match/match_context.h"
#include "match/singular_points.h"
#include "match/translation_peaks.h"

namespace fx60::match {

// Packed matched pair: B index in the low byte, A index in the next byte,
// accumulated weight in the upper 16 bits.
constexpr uint32_t packMatchedPair(int b, int a, uint32_t weight) {
  return static_cast<uint32_t>(b) | (static_cast<uint32_t>(a) << 8) | (weight << 16);
}
constexpr int matchedPairB(uint32_t word) { return static_cast<int>(word & 0xFFu); }
constexpr int matchedPairA(uint32_t word) { return static_cast<int>((word >> 8) & 0xFFu); }
constexpr uint32_t matchedPairWeight(uint32_t word) { return word >> 16; }

// Affine map in 16.16 fixed point: x' = (ax x + bx y + cx + 32768) >> 16,
// y' = (ay x + by y + cy + 32768) >> 16.
struct AffineParams {
  int32_t ax = 65536;
  int32_t bx = 0;
  int32_t cx = 0;
  int32_t ay = 0;
  int32_t by = 65536;
  int32_t cy = 0;
};

// Side B as turned, moved and refined for one candidate rotation, with what the
// later stages of the candidate need.
struct CandidateAlignment {
  std::array<MatchMinutia, kMaxViewMinutiae> minutiae{};
  int32_t count = 0;
  std::array<MatchSingularPoint, kMaxSingularPoints> singularPoints{};
  int32_t singularCount = 0;
  // Singular points of A and the turned B that belong together (for the fallback score).
  SingularPairs singularPairs{};
  int32_t offsetY = 0;  // adding this to the turned copy turns B about the centre
  int32_t offsetX = 0;
  int32_t translationY = 0;  // absolute offset added to the turned copy
  int32_t translationX = 0;
  // Matched minutia pairs in B index order (packMatchedPair form).
  std::array<uint32_t, kMaxViewMinutiae> matchedPairs{};
  int32_t matchedCount = 0;
  int32_t bestTranslationScore = 0;  // alignment score of the chosen translation
  int32_t score = 0;                 // the candidate score G
  AffineParams affine{};             // identity unless a fit was accepted
};

// Aligns side B (ctx.viewB) to side A (ctx.viewA, ctx.countA minutiae) for the
// rotation, using the current PairMatch list (ctx.matches, ctx.matchCount) and the
// normalising counts ctx.counts. Always fills the turned copy and its singular
// pairs. Returns true with candidate.score = G when a usable alignment was found;
// false when no translation peak exists or the best translation scored below 192
// (the caller then falls back to the singular pairs).
bool alignCandidate(MatchContext& ctx, uint8_t rotation, CandidateAlignment& candidate);

// ---------------------------------------------------------------------------
// Stages of the alignment (exposed for tests and tools)
// ---------------------------------------------------------------------------

struct TurnOffset {
  int32_t y = 0;
  int32_t x = 0;
};

// Turns the minutiae by the byte angle about the origin into out; returns the offset
// that, added to the turned copy, makes the turn one about the rotation centre.
TurnOffset turnSide(const MatchMinutia* minutiae, int count, uint8_t rotation, MatchMinutia* out);
void turnSingular(const MatchSingularPoint* points, int count, uint8_t rotation, MatchSingularPoint* out);

struct TranslationCandidate {
  int32_t ty = 0;
  int32_t tx = 0;
};

struct TranslationCandidates {
  int count = 0;  // 0 (no alignment), 1, 2 or 4
  std::array<TranslationCandidate, 4> candidates{};
};

// Flags the matches consistent with the rotation (clearing every score byte) and votes
// for translations of the turned copy. The histograms are work space: all zero on entry, and left so.
TranslationCandidates translationCandidates(MatchContext& ctx, uint8_t rotation, const MatchMinutia* turnedB,
                                            TurnOffset offset, const SingularPairs& singular,
                                            TranslationHistogram& histX, TranslationHistogram& histY);

// Scores the flagged matches under the current placement of the turned copy; writes
// each record's score byte and returns the sum.
int alignmentScore(MatchContext& ctx, const MatchMinutia* turnedB);

struct AssignmentResult {
  int32_t total = 0;
  int32_t firstPart = 0;
  int32_t score = 0;  // G
};

// Resolves one partner per minutia from the record scores and fills the matched-pair list.
AssignmentResult assignmentScore(const MatchContext& ctx, CandidateAlignment& candidate);

}  // namespace fx60::match
