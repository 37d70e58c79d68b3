#include "match/rotation_candidates.h"

#include <algorithm>
#include <cstdlib>

#include "match/angles.h"
#include "match/singular_points.h"

namespace fx60::match {
namespace {

constexpr int kSmoothingRadius = 5;
constexpr uint32_t kImplausiblePeakFloor = 2100;  // an implausible top peak must reach this
constexpr uint32_t kWeakPeak = 45;                // at or below: ask the singular points
constexpr uint32_t kNoPeak = 15;                  // at or below: no candidates
constexpr uint32_t kDecisivePeak = 6400;
constexpr int kMaxPeaks = 6;

using Histogram = std::array<uint32_t, kRotationBins>;

// First maximum of the histogram, over all bins or plausible rotations only.
void firstMaximum(const Histogram& s, bool plausibleOnly, int& bin, uint32_t& value) {
  bin = 0;
  value = s[0];
  static_assert(PlausibleRanges[0].first == 0, "the scan starts at bin 0 for both kinds");
  const auto scan = [&](int first, int last) {
    for (int i = first; i <= last; ++i)
      if (s[i] > value) {
        bin = i;
        value = s[i];
      }
  };
  if (!plausibleOnly) {
    scan(1, kRotationBins - 1);
    return;
  }
  for (const BinRange& range : PlausibleRanges) scan(range.first, range.last);
  if (value == 0) bin = 0;
}

// Moves b towards the middle of a plateau around it.
int shiftTowardsPlateau(const Histogram& s, int b, uint32_t c) {
  uint32_t level = 31 * c / 32;
  int offset = 1;
  for (int k = 1; k <= 7; ++k) {
    for (int sign : {1, -1}) {
      const uint32_t v = s[(b + sign * k) & 0xFF];
      if (v >= level) {
        offset = sign * k;
        level = v;
      }
    }
  }
  if (PlausibleRotation[(b + offset) & 0xFF]) b = (b + offset / 2) & 0xFF;
  return b;
}

// Rounded weighted mean of the bins around b that rise above half the peak.
int centroidOfPeak(const Histogram& s, int b, uint32_t c) {
  const int64_t floor = c / 2;
  int64_t weightSum = 0;
  int64_t moment = 0;
  for (int k = b - 9; k <= b + 9; ++k) {
    const int64_t w = static_cast<int64_t>(s[k & 0xFF]) - floor;
    if (w <= 0) continue;
    weightSum += w;
    moment += w * k;
  }
  if (weightSum <= 0) return b;
  return static_cast<int>((16 * weightSum + moment + weightSum / 2) / weightSum - 16) & 0xFF;
}

}  // namespace

RotationCandidates rotationCandidates(const uint32_t* votes, const MatchContext& ctx) {
  RotationCandidates list;
  // Circular moving sum of 11 bins, kept as a running sum.
  Histogram s{};
  uint32_t window = 0;
  for (int k = -kSmoothingRadius; k <= kSmoothingRadius; ++k) window += votes[k & 0xFF];
  for (int i = 0; i < kRotationBins; ++i) {
    s[i] = window;
    window += votes[(i + kSmoothingRadius + 1) & 0xFF] - votes[(i - kSmoothingRadius) & 0xFF];
  }

  int b;
  uint32_t c;
  firstMaximum(s, false, b, c);
  if (!PlausibleRotation[b] && c < kImplausiblePeakFloor) firstMaximum(s, true, b, c);
  const uint32_t threshold = std::max<uint32_t>(c >> 3, 22);

  if (c <= kWeakPeak) {
    int rotation = 0;
    uint32_t strength = 0;
    if (singularPointRotation(ctx, s, rotation, strength) && strength > c) {
      b = rotation;
      c = strength;
    }
  }
  if (c <= kNoPeak) return list;

  while (true) {
    b = shiftTowardsPlateau(s, b, c);
    b = centroidOfPeak(s, b, c);
    list.rotation[list.count] = b;
    list.strength[list.count] = c;
    ++list.count;
    if (c > kDecisivePeak || list.count >= kMaxPeaks) break;
    for (int k = -4; k <= 4; ++k) s[(b + k) & 0xFF] = 0;
    firstMaximum(s, true, b, c);
    if (c <= threshold) break;
  }

  // Two strong peaks close together: their midpoint is worth a try as well.
  const int peaks = list.count;
  if (peaks >= 3 && 2 * list.strength[2] >= list.strength[0]) {
    const int d = signedByte(list.rotation[2] - list.rotation[0]);
    if (std::abs(d) > 8 && std::abs(d) <= 14) {
      list.rotation[list.count] = (list.rotation[0] + d / 2) & 0xFF;
      list.strength[list.count] = 0;
      ++list.count;
    }
  }
  if (peaks >= 2 && 2 * list.strength[1] >= list.strength[0]) {
    const int d = signedByte(list.rotation[1] - list.rotation[0]);
    if (std::abs(d) > 5 && std::abs(d) <= 14) {
      list.rotation[list.count] = (list.rotation[0] + d / 2) & 0xFF;
      list.strength[list.count] = 0;
      ++list.count;
    }
  }
  return list;
}

}  // namespace fx60::match
