#include "match/fine_score.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "match/angles.h"
#include "match/region.h"

namespace fx60::match {
namespace {

constexpr int kPenaltyFreeScore = 5760;

}  // namespace

int rotationPenalty(int score, int rotationPlusCorrection) {
  if (score > kPenaltyFreeScore) return score;
  const int v = std::abs(signedByte(rotationPlusCorrection));
  if (v >= 7 && v <= 112) return (std::max(0, 38 - v) * score) >> 5;
  if (v >= 113 && v <= 124) return ((v - 109) * score) >> 4;
  return score;
}

int penalisedScore(int64_t score, int rotationPlusCorrection) {
  const int clamped = static_cast<int>(std::clamp<int64_t>(score, std::numeric_limits<int32_t>::min(),
                                                           std::numeric_limits<int32_t>::max()));
  return std::max(0, rotationPenalty(clamped, rotationPlusCorrection));
}

uint32_t raisedPenalty(uint32_t penalty, int ridge, int unmatched) {
  if (unmatched == 0) return penalty;
  return penalty + ((static_cast<uint32_t>(ridge / unmatched) * (penalty >> 6)) >> 6);
}

bool ridgeRaiseCannotWrap(uint32_t penalty, int probes, uint32_t qualityExcess) {
  // The raise uses the ridge sum over the unmatched count, at least 1.
  const uint64_t largestRatio = uint64_t{kMaxRidgePenalty} * static_cast<uint64_t>(std::max(probes, 0));
  const uint64_t raise = largestRatio * (penalty >> 6);
  if (raise > UINT32_MAX) return false;
  const uint64_t largestPenalty = penalty + (raise >> 6);
  return largestPenalty <= UINT32_MAX && largestPenalty * qualityExcess * 20u <= UINT32_MAX;
}

int rescoredScore(int agreement, int64_t j, int64_t k, uint32_t penalty, uint32_t qualityExcess, int g0,
                  int rotationPlusCorrection) {
  int64_t evidence = 8 * int64_t{agreement} + 143 * j + 128 * k -
                     static_cast<int64_t>((qualityExcess * penalty * 20u) >> 9) + 6000;
  if (evidence < 0) evidence >>= 2;
  return penalisedScore((std::max<int64_t>(0, evidence + 64 * int64_t{g0}) * 12) >> 10, rotationPlusCorrection);
}

// Every term of the evidence is bounded from above: the penalty is never negative; the
// singular agreement is at most 4 x 240 per B point; each partnered A record adds at
// most twice its mark to J; K counts cells of one component, which lies inside the
// window and within cone reach of some painted pair (a minutia pair, or any B and A
// singular points that could pair).
int fineScoreBound(std::span<const OverlapRecordA> recordsA, std::span<const OverlapRecordB> recordsB,
                   const OverlapRect& rect, std::span<const MatchSingularPoint> singularB,
                   std::span<const MatchSingularPoint> singularA, int g0, int rotationPlusCorrection) {
  constexpr int kConeReachCells = 6;
  constexpr int kMaxAgreementPerPoint = 4 * 240;
  int64_t partnerSum = 0;
  int minRow = std::numeric_limits<int>::max(), maxRow = std::numeric_limits<int>::min();
  int minColumn = minRow, maxColumn = maxRow;
  const auto paint = [&](int y, int x) {
    if (static_cast<unsigned>(y) >= 512 || static_cast<unsigned>(x) >= 512) return;
    minRow = std::min(minRow, y >> 3);
    maxRow = std::max(maxRow, y >> 3);
    minColumn = std::min(minColumn, x >> 3);
    maxColumn = std::max(maxColumn, x >> 3);
  };
  for (const OverlapRecordA& a : recordsA) {
    partnerSum += a.mark;
    if (a.mark >= 2 && a.partner < recordsB.size()) {
      const OverlapRecordB& b = recordsB[a.partner];
      paint((a.y + b.y) >> 1, (a.x + b.x) >> 1);
    }
  }
  for (const MatchSingularPoint& b : singularB)
    for (const MatchSingularPoint& a : singularA) paint((a.y + b.y) >> 1, (a.x + b.x) >> 1);

  int64_t cells = 0;
  if (minRow <= maxRow) {
    const int left = std::clamp(rect.left, 0, 511);
    const int top = std::clamp(rect.top, 0, 511);
    const int right = std::clamp(rect.right, left, 511);
    const int bottom = std::clamp(rect.bottom, top, 511);
    const int rows = std::min((bottom >> 3) + 5, maxRow + kConeReachCells) -
                     std::max((top >> 3) - 5, minRow - kConeReachCells) + 1;
    const int columns = std::min((right >> 3) + 5, maxColumn + kConeReachCells) -
                        std::max((left >> 3) - 5, minColumn - kConeReachCells) + 1;
    cells = int64_t{std::max(rows, 0)} * std::max(columns, 0);
  }
  const int64_t evidence =
      8 * int64_t{kMaxAgreementPerPoint} * static_cast<int64_t>(singularB.size()) + 143 * 2 * partnerSum +
      128 * cells + 6000;
  const int64_t score = (std::max<int64_t>(0, evidence + 64 * int64_t{g0}) * 12) >> 10;
  if (score > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  // Below the penalty-free level the rotation penalty scales the score down monotonically.
  return std::max(0, rotationPenalty(static_cast<int>(score), rotationPlusCorrection));
}

}  // namespace fx60::match
