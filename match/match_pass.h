// One matching pass: pair correspondences and rotation candidates, then each candidate
// aligned, refined and rescored by the fine stage; the best result is the pass's.
#pragma once

#include <array>
#include <cstdint>

#include "match/match_context.h"
#include "match/rotation_candidates.h"

namespace fx60::match {

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
