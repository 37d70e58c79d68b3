// One matching pass: pair correspondences, rotation candidates, alignment and
// rescoring of each candidate, and the best result.
#pragma once

#include <array>
#include <cstdint>

#include "match/match_context.h"

namespace fx60::match {

// A byte angle is a plausible rotation within 30 steps of no turn or 12 of a half turn:
// three ranges of bins, both ends included, in ascending order.
struct BinRange {
  int first;
  int last;
};
inline constexpr std::array<BinRange, 3> PlausibleRanges = {{{0, 30}, {116, 140}, {226, 255}}};
inline constexpr std::array<bool, kRotationBins> PlausibleRotation = [] {
  std::array<bool, kRotationBins> table{};
  for (const BinRange& range : PlausibleRanges)
    for (int r = range.first; r <= range.last; ++r) table[r] = true;
  return table;
}();

// Up to eight rotations, ended by -1 (a full list has no end mark).
struct RotationCandidates {
  std::array<int, kMaxRotationCandidates> rotation{};
  std::array<uint32_t, kMaxRotationCandidates> strength{};
  int count = 0;
};

// Optional record of what a pass did, for the command-line tool.
struct PassTrace {
  struct Candidate {
    int rotation = 0;
    bool retry = false;
    bool aligned = false;  // false: the singular-point fallback decided
    int32_t alignmentScore = 0;
    int correction = 0;
    uint32_t result = 0;
  };
  int pass = 0;
  RotationCandidates candidates;
  std::array<Candidate, 2 * kMaxRotationCandidates> tried{};
  int triedCount = 0;
  uint32_t result = 0;
};

struct SimilarityTrace {
  std::array<PassTrace, 2> passes{};
  int passCount = 0;
};

RotationCandidates rotationCandidates(const uint32_t* votes, const MatchContext& ctx);

// The pass results the caller needs exactly. A result at or below `floor` only has
// to be known to lie there; once some candidate reaches `ceiling`, the pass may stop
// and return any result at or above it. The default asks for every result exactly.
struct ScoreWindow {
  uint32_t floor = 0;
  uint32_t ceiling = UINT32_MAX;
};

// Runs pass 1 or 2 and returns its score in similarity units (65536 = 1.0): exact
// when it lies strictly inside the window, otherwise on the same side of it as the
// exact score. A traced pass always runs in full.
uint32_t runMatchPass(MatchContext& ctx, int pass, PassTrace* trace = nullptr, ScoreWindow window = {});

}  // namespace fx60::match
