// Rotation candidates of a pass: the rotation votes of the pair correspondences,
// smoothed, give up to eight rotations of side B worth aligning, strongest first.
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

RotationCandidates rotationCandidates(const uint32_t* votes, const MatchContext& ctx);

}  // namespace fx60::match
