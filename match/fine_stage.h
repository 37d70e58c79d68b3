// Fine stage: rescoring an aligned candidate from how well the two prints agree
// where they overlap.
#pragma once

#include <array>
#include <cstdint>
#include <limits>

#include "match/alignment.h"
#include "match/match_context.h"

namespace fx60::match {

// How much of a candidate's score the caller needs.
struct FineGoal {
  // With scoreToBeat >= 0 the stage may stop early and return 0 once it has shown
  // that the score cannot exceed scoreToBeat (a caller keeping the best score of
  // several candidates loses nothing by that).
  int scoreToBeat = -1;
  // With keepZero as well, such an early result is 0 only when the score is 0, and
  // otherwise lies in [1, scoreToBeat], for a caller that must still know whether the
  // candidate scored at all.
  bool keepZero = false;
  // Once the score is shown to be at least this, the stage may stop and return any
  // value from here up to the score (for a caller to whom such scores are all alike).
  int settledFrom = std::numeric_limits<int>::max();
};

// The new score of an aligned, refined candidate (similarity units, >= 0).
// Side A is ctx.viewA with ctx.countA minutiae; g0 is the incoming candidate score,
// rotation the candidate rotation and correction the affine rotation correction.
int fineRescore(const MatchContext& ctx, const CandidateAlignment& candidate, int g0, uint8_t rotation,
                int correction, int pass, const FineGoal& goal = {});

// Weight of a weighted squared distance between two minutiae (0 from 128 on).
inline constexpr int kFineDistanceWeightCount = 128;
inline constexpr std::array<uint8_t, kFineDistanceWeightCount> FineDistanceWeights = {
    255, 255, 254, 254, 247, 242, 239, 236, 233, 231, 228, 225, 222, 218, 214, 210, 207, 204, 201,
    198, 194, 192, 189, 187, 184, 181, 177, 174, 171, 169, 166, 163, 160, 157, 154, 151, 148, 144,
    142, 138, 135, 132, 129, 126, 123, 120, 117, 115, 113, 111, 109, 108, 106, 104, 102, 100, 98,
    96,  94,  93,  92,  91,  90,  87,  86,  85,  84,  83,  82,  80,  79,  78,  77,  76,  74,  73,
    72,  70,  69,  68,  66,  65,  64,  62,  61,  59,  58,  56,  55,  54,  54,  52,  52,  51,  51,
    49,  49,  48,  48,  47,  46,  46,  45,  44,  44,  44,  44,  43,  43,  42,  42,  41,  41,  40,
    40,  39,  39,  38,  38,  37,  37,  37,  37,  36,  36,  35,  35,  35};
constexpr int fineDistanceWeight(int k) {
  return (k >= 0 && k < kFineDistanceWeightCount) ? FineDistanceWeights[k] : 0;
}

}  // namespace fx60::match
