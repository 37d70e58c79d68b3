#include <algorithm>
#include <array>

#include "extract/minutiae_stages.h"
#include "extract/ridge_geometry.h"

namespace fx60::extract {
namespace {

constexpr int kMaxJoinDistanceSquared = 225;  // 15 pixels
// Two endings must point roughly away from each other.
constexpr int kMinOpposition = 98;

// Least angle between the gap and each ending's own direction, by gap length 1..15.
constexpr std::array<int, 15> kJoinAngleLimit = {92, 92,  93,  93,  93,  94,  95, 96,
                                                 98, 100, 102, 103, 104, 105, 105};

// An ending removed by an earlier join still takes part: its direction byte
// then reads 255 in the angle tests, and it may join again when they pass.
bool isEnding(const MinutiaCandidate& candidate) {
  return candidate.kind == kRidgeEnding && candidate.x < kWidth && candidate.y < kHeight;
}

}  // namespace

void joinBrokenRidges(MinutiaCandidateList& candidates, uint8_t* image) {
  const int count = std::min<int>(candidates.count, kMaxCandidates);
  if (count < 2) return;
  LinePath path;
  for (int i = 0; i + 1 < count; ++i) {
    MinutiaCandidate& first = candidates.entries[i];
    if (!isEnding(first)) continue;
    for (int j = i + 1; j < count; ++j) {
      MinutiaCandidate& second = candidates.entries[j];
      if (!isEnding(second)) continue;
      const int dx = second.x - first.x;
      const int dy = second.y - first.y;
      const int distanceSquared = dx * dx + dy * dy;
      if (distanceSquared > kMaxJoinDistanceSquared) continue;
      if (angleDifference(first.direction240, second.direction240, 240) < kMinOpposition) continue;
      const int gap = angle240(dx, dy);
      const int gapBack = gap < 120 ? gap + 120 : gap - 120;
      const int limit = kJoinAngleLimit[std::clamp(isqrt(distanceSquared), 1, 15) - 1];
      if (angleDifference(gap, first.direction240, 240) < limit) continue;
      if (angleDifference(gapBack, second.direction240, 240) < limit) continue;

      linePoints(first.y, first.x, second.y, second.x, path);
      bool clear = true;
      for (int p = 1; p < path.count && clear; ++p)
        clear = image[path.points[p].first * kWidth + path.points[p].second] != 0;
      if (!clear) continue;
      for (int p = 1; p < path.count; ++p)
        image[path.points[p].first * kWidth + path.points[p].second] = 0;
      first.direction240 = kRemovedDirection;
      second.direction240 = kRemovedDirection;
      break;
    }
  }
}

}  // namespace fx60::extract
