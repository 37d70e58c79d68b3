#include "match/singular_points.h"

#include <algorithm>
#include <cmath>

#include "match/angles.h"

namespace fx60::match {
namespace {

constexpr uint32_t kFallbackReach2 = 529;  // 23^2
constexpr int kTypeWithAngle = 1;
constexpr int kSingularVote = 22;

int absInt(int v) { return v < 0 ? -v : v; }

int floorSqrt(uint32_t v) {
  uint32_t root = static_cast<uint32_t>(std::sqrt(static_cast<double>(v)));
  while (root * root > v) --root;
  while ((root + 1) * (root + 1) <= v) ++root;
  return static_cast<int>(root);
}

uint32_t distance2(const MatchSingularPoint& p, const MatchSingularPoint& q) {
  const int dx = p.x - q.x;
  const int dy = p.y - q.y;
  return static_cast<uint32_t>(dx * dx + dy * dy);
}

}  // namespace

SingularPairs pairSingularPoints(const MatchContext& ctx, const MatchSingularPoint* pointsB, int countB) {
  SingularPairs pairs;
  const MatchSingularPoint* pointsA = ctx.viewA.singularPoints;
  const int countA = ctx.viewA.singularCount;
  int bestAngleGap = 15;  // only differences below 15 pair type-1 points
  int nextSlot = 1;
  for (int a = 0; a < countA; ++a) {
    for (int b = 0; b < countB; ++b) {
      const MatchSingularPoint& pa = pointsA[a];
      const MatchSingularPoint& pb = pointsB[b];
      // Types are signed bytes in the record; negative types never pair.
      if (pa.type != pb.type || static_cast<int8_t>(pa.type) < 0) continue;
      if (pa.type == kTypeWithAngle) {
        const int gap = absInt(signedByte(pa.angle - pb.angle));
        if (gap < bestAngleGap) {
          bestAngleGap = gap;
          pairs.slots[0] = {true, pa, pb};
        }
      } else if (nextSlot < kMaxSingularPoints) {
        pairs.slots[nextSlot++] = {true, pa, pb};
      }
    }
  }
  return pairs;
}

uint32_t singularFallbackScore(const SingularPairs& pairs) {
  uint32_t attempts = 0;
  uint32_t score = 0;
  for (const SingularPairs::Pair& pair : pairs.slots) {
    if (!pair.used) continue;
    attempts += 32;
    const uint32_t d2 = distance2(pair.a, pair.b);
    if (d2 > kFallbackReach2) continue;
    const int f = floorSqrt(d2);
    if (pair.a.type == kTypeWithAngle) {
      const int gap = absInt(signedByte(pair.a.angle - pair.b.angle));
      if (gap <= 20) score += static_cast<uint32_t>((21 - gap) * (24 - f));
    } else if (f <= 15) {
      score += static_cast<uint32_t>(21 * (24 - f - f / 2));
    }
  }
  return std::max(score, attempts);
}

bool singularPointRotation(const MatchContext& ctx, std::array<uint32_t, kRotationBins>& smoothed,
                           int& rotation, uint32_t& strength) {
  const MatchView& a = ctx.viewA;
  const MatchView& b = ctx.viewB;
  if (a.singularCount == 0 || b.singularCount == 0) return false;

  if (a.singularCount >= 2 && b.singularCount >= 2) {
    int bestLengthGap = 32;
    int bestTurn = -1;
    for (int i = 0; i < a.singularCount; ++i) {
      for (int j = i + 1; j < a.singularCount; ++j) {
        const MatchSingularPoint& a1 = a.singularPoints[i];
        const MatchSingularPoint& a2 = a.singularPoints[j];
        for (int k = 0; k < b.singularCount; ++k) {
          for (int l = 0; l < b.singularCount; ++l) {
            if (k == l) continue;
            const MatchSingularPoint& b1 = b.singularPoints[k];
            const MatchSingularPoint& b2 = b.singularPoints[l];
            if (a1.type != b1.type || a2.type != b2.type) continue;
            const int lengthGap = absInt(floorSqrt(distance2(a1, a2)) - floorSqrt(distance2(b1, b2)));
            if (lengthGap >= bestLengthGap) continue;
            const int turn = static_cast<uint8_t>(byteAngleOf(a2.x - a1.x, a2.y - a1.y) -
                                                  byteAngleOf(b2.x - b1.x, b2.y - b1.y));
            if (absInt(signedByte(turn)) > 32) continue;
            if (a1.type == kTypeWithAngle && absInt(signedByte(a1.angle - b1.angle - turn)) > 20) continue;
            if (a2.type == kTypeWithAngle && absInt(signedByte(a2.angle - b2.angle - turn)) > 20) continue;
            bestLengthGap = lengthGap;
            bestTurn = turn;
          }
        }
      }
    }
    if (bestTurn < 0) return false;
    smoothed[bestTurn] += kSingularVote;
    rotation = bestTurn;
    strength = smoothed[bestTurn];
    return true;
  }

  // One point on a side: the closest agreement of the point angles, if any is close.
  int bestGap = 32;
  int bestDifference = 0;
  bool found = false;
  for (int i = 0; i < a.singularCount; ++i) {
    if (a.singularPoints[i].type != kTypeWithAngle) continue;
    for (int k = 0; k < b.singularCount; ++k) {
      if (b.singularPoints[k].type != kTypeWithAngle) continue;
      const int difference = static_cast<uint8_t>(a.singularPoints[i].angle - b.singularPoints[k].angle);
      const int gap = absInt(signedByte(difference));
      if (gap < bestGap) {
        bestGap = gap;
        bestDifference = difference;
        found = true;
      }
    }
  }
  if (!found) return false;
  int bestBin = -1;
  for (int k = -16; k <= 16; ++k) {
    const int bin = (bestDifference + k) & 0xFF;
    smoothed[bin] += kSingularVote;
    if (bestBin < 0 || smoothed[bin] > smoothed[bestBin]) bestBin = bin;
  }
  rotation = bestBin;
  strength = smoothed[bestBin];
  return true;
}

}  // namespace fx60::match
