#include "match/region.h"

#include <algorithm>
#include <array>
#include <limits>

#include "match/angles.h"
#include "match/sqrt_tables.h"

namespace fx60::match {
namespace {

using detail::kRegionTests;

constexpr int kRidgeReach = 35;
constexpr int kRidgeReach2 = kRidgeReach * kRidgeReach;
constexpr int kMaxRidgeCandidates = 128;  // numbered in 8 bits below

struct Offset {
  int64_t dx;
  int64_t dy;
};

// Penalty of a probe whose direction gap is t / 256 of its tolerance; it never falls as t rises.
constexpr int probePenalty(uint32_t t) {
  if (t <= 256) return 0;
  uint32_t u = t - 256;
  if (u > 256) u = 2 * std::min<uint32_t>(u, 768) - 256;
  if (u > 128) u = 2 * u - 128;
  return static_cast<int>(u);
}
static_assert(probePenalty(UINT32_MAX) == kMaxRidgePenalty);

}  // namespace

int regionContains(int qy, int qx, std::span<const RegionPoint> points) {
  const auto offsetOf = [&](const RegionPoint& p) { return Offset{int64_t{p.x} - qx, int64_t{p.y} - qy}; };
  const std::size_t count = points.size();
  // The points are ordered by y: the rows at or above the query come first.
  const std::size_t split = static_cast<std::size_t>(
      std::partition_point(points.begin(), points.end(), [qy](const RegionPoint& p) { return p.y <= qy; }) -
      points.begin());
  if (split == 0) return 0;

  std::size_t leftAbove = 0;
  for (std::size_t k = 0; k < split; ++k)
    if (points[k].x < qx) ++leftAbove;
  const int aboveCode = leftAbove == split ? 12 : (leftAbove > 0 ? 8 : 0);

  int belowCode = 3;
  if (split < count) {
    belowCode = points[split].x < qx ? 2 : 1;
    for (std::size_t k = split + 1; k < count && belowCode != 0; ++k) belowCode &= points[k].x < qx ? 2 : 1;
    if (belowCode == 0 && aboveCode == 8) return 1;
  }

  const int tests = kRegionTests[belowCode + aboveCode];
  if (tests == 0) return 0;
  const std::size_t lastIndex = count - 1;

  if (tests & 1) {
    // Everything above lies right: find the steepest edge towards the top-left.
    Offset edge = offsetOf(points[0]);
    int32_t leftmost = points[0].x;
    for (std::size_t k = 1; k < split; ++k) {
      if (points[k].x < leftmost) {
        leftmost = points[k].x;
        const Offset o = offsetOf(points[k]);
        if (o.dx * edge.dy > o.dy * edge.dx) edge = o;
      }
    }
    bool found = false;
    for (std::size_t k = split; k < count && !found; ++k) {
      const Offset o = offsetOf(points[k]);
      found = o.dx * edge.dy >= o.dy * edge.dx;
    }
    if (!found) return 0;
    if (tests == 1) return 1;
  }
  if (tests & 2) {
    // Everything above lies left.
    Offset edge = offsetOf(points[0]);
    int32_t rightmost = points[0].x;
    for (std::size_t k = 1; k < split; ++k) {
      if (points[k].x > rightmost) {
        rightmost = points[k].x;
        const Offset o = offsetOf(points[k]);
        if (o.dx * edge.dy < o.dy * edge.dx) edge = o;
      }
    }
    bool found = false;
    for (std::size_t k = split; k < count && !found; ++k) {
      const Offset o = offsetOf(points[k]);
      found = o.dx * edge.dy <= o.dy * edge.dx;
    }
    if (!found) return 0;
    if (tests == 2) return 1;
  }
  if (tests & 4) {
    // Everything below lies right.
    Offset edge = offsetOf(points[lastIndex]);
    int32_t leftmost = points[lastIndex].x;
    for (std::size_t k = lastIndex; k-- > split;) {
      if (points[k].x < leftmost) {
        leftmost = points[k].x;
        const Offset o = offsetOf(points[k]);
        if (o.dx * edge.dy < o.dy * edge.dx) edge = o;
      }
    }
    for (std::size_t k = split; k-- > 0;) {
      const Offset o = offsetOf(points[k]);
      if (o.dx * edge.dy <= o.dy * edge.dx) return 1;
    }
    if ((tests & 8) == 0) return 0;
  }
  if (tests & 8) {
    // Everything below lies left.
    Offset edge = offsetOf(points[lastIndex]);
    for (std::size_t k = lastIndex; k-- > split;) {
      const Offset o = offsetOf(points[k]);
      if (o.dx * edge.dy > o.dy * edge.dx) edge = o;
    }
    for (std::size_t k = split; k-- > 0;) {
      const Offset o = offsetOf(points[k]);
      if (o.dx * edge.dy >= o.dy * edge.dx) return 1;
    }
    return 0;
  }
  return 0;
}

void RegionOutline::assign(std::span<const RegionPoint> points) {
  points_ = points;
  ordered_ = true;
  const std::size_t count = points.size();
  if (count == 0 || count > kCapacity) return;
  prefixMinX_[0] = prefixMaxX_[0] = points[0].x;
  newLeftmostCount_ = newRightmostCount_ = newLeftmostFromEndCount_ = 0;
  for (std::size_t k = 1; k < count; ++k) {
    const int32_t x = points[k].x;
    if (points[k].y < points[k - 1].y) ordered_ = false;
    if (x < prefixMinX_[k - 1]) newLeftmost_[newLeftmostCount_++] = static_cast<uint8_t>(k);
    if (x > prefixMaxX_[k - 1]) newRightmost_[newRightmostCount_++] = static_cast<uint8_t>(k);
    prefixMinX_[k] = std::min(prefixMinX_[k - 1], x);
    prefixMaxX_[k] = std::max(prefixMaxX_[k - 1], x);
  }
  suffixMinX_[count - 1] = suffixMaxX_[count - 1] = points[count - 1].x;
  for (std::size_t k = count - 1; k-- > 0;) {
    const int32_t x = points[k].x;
    if (x < suffixMinX_[k + 1]) newLeftmostFromEnd_[newLeftmostFromEndCount_++] = static_cast<uint8_t>(k);
    suffixMinX_[k] = std::min(suffixMinX_[k + 1], x);
    suffixMaxX_[k] = std::max(suffixMaxX_[k + 1], x);
  }
}

int RegionOutline::contains(int qy, int qx) const {
  const std::span<const RegionPoint> points = points_;
  if (points.size() > kCapacity) return regionContains(qy, qx, points);
  const std::size_t split = static_cast<std::size_t>(
      std::partition_point(points.begin(), points.end(), [qy](const RegionPoint& p) { return p.y <= qy; }) -
      points.begin());
  return containsAt(split, qy, qx);
}

int RegionOutline::edgeTests(std::size_t split, int qy, int qx, int tests) const {
  const std::span<const RegionPoint> points = points_;
  const std::size_t count = points.size();
  const auto offsetOf = [&](const RegionPoint& p) { return Offset{int64_t{p.x} - qx, int64_t{p.y} - qy}; };
  const std::size_t lastIndex = count - 1;
  // Bounds of the offsets above and below the query (the rows bound dy only in a list
  // in row order). A scan for a point on the far side of an edge is skipped when the
  // bounds show that no point can lie there.
  const int64_t minDxBelow = int64_t{suffixMinX_[split]} - qx;
  const int64_t maxDxBelow = int64_t{suffixMaxX_[split]} - qx;
  const int64_t minDyBelow = int64_t{points[std::min(split, lastIndex)].y} - qy;
  const int64_t minDxAbove = int64_t{prefixMinX_[split - 1]} - qx;
  const int64_t maxDxAbove = int64_t{prefixMaxX_[split - 1]} - qx;
  const int64_t maxDyAbove = int64_t{points[split - 1].y} - qy;

  if (tests & 1) {
    // Everything above lies right: only points that set a new leftmost x can turn the edge.
    Offset edge = offsetOf(points[0]);
    for (std::size_t c = 0; c < newLeftmostCount_ && newLeftmost_[c] < split; ++c) {
      const Offset o = offsetOf(points[newLeftmost_[c]]);
      if (o.dx * edge.dy > o.dy * edge.dx) edge = o;
    }
    // Below, dx >= minDxBelow and dy >= minDyBelow, while edge.dy <= 0 <= edge.dx.
    bool found = false;
    if (!ordered_ || minDxBelow * edge.dy >= minDyBelow * edge.dx) {
      for (std::size_t k = split; k < count && !found; ++k) {
        const Offset o = offsetOf(points[k]);
        found = o.dx * edge.dy >= o.dy * edge.dx;
      }
    }
    if (!found) return 0;
    if (tests == 1) return 1;
  }
  if (tests & 2) {
    // Everything above lies left.
    Offset edge = offsetOf(points[0]);
    for (std::size_t c = 0; c < newRightmostCount_ && newRightmost_[c] < split; ++c) {
      const Offset o = offsetOf(points[newRightmost_[c]]);
      if (o.dx * edge.dy < o.dy * edge.dx) edge = o;
    }
    // Below, dx <= maxDxBelow and dy >= minDyBelow, while edge.dy <= 0 and edge.dx < 0.
    bool found = false;
    if (!ordered_ || maxDxBelow * edge.dy <= minDyBelow * edge.dx) {
      for (std::size_t k = split; k < count && !found; ++k) {
        const Offset o = offsetOf(points[k]);
        found = o.dx * edge.dy <= o.dy * edge.dx;
      }
    }
    if (!found) return 0;
    if (tests == 2) return 1;
  }
  if (tests & 4) {
    // Everything below lies right.
    Offset edge = offsetOf(points[lastIndex]);
    for (std::size_t c = 0; c < newLeftmostFromEndCount_ && newLeftmostFromEnd_[c] >= split; ++c) {
      const Offset o = offsetOf(points[newLeftmostFromEnd_[c]]);
      if (o.dx * edge.dy < o.dy * edge.dx) edge = o;
    }
    // Above, dx >= minDxAbove and dy <= maxDyAbove, while edge.dx >= 0 and edge.dy > 0.
    if (!ordered_ || minDxAbove * edge.dy <= maxDyAbove * edge.dx) {
      for (std::size_t k = split; k-- > 0;) {
        const Offset o = offsetOf(points[k]);
        if (o.dx * edge.dy <= o.dy * edge.dx) return 1;
      }
    }
    if ((tests & 8) == 0) return 0;
  }
  if (tests & 8) {
    // Everything below lies left.
    Offset edge = offsetOf(points[lastIndex]);
    for (std::size_t k = lastIndex; k-- > split;) {
      const Offset o = offsetOf(points[k]);
      if (o.dx * edge.dy > o.dy * edge.dx) edge = o;
    }
    // Above, dx <= maxDxAbove and dy <= maxDyAbove, while edge.dx < 0 and edge.dy > 0.
    if (!ordered_ || maxDxAbove * edge.dy >= maxDyAbove * edge.dx) {
      for (std::size_t k = split; k-- > 0;) {
        const Offset o = offsetOf(points[k]);
        if (o.dx * edge.dy >= o.dy * edge.dx) return 1;
      }
    }
  }
  return 0;
}

int ridgeConsistency(std::span<const RidgeEntry> list, std::span<const RidgeProbe> probes) {
  // Keys compare as signed 32-bit values, so that rows near the top cannot run the
  // scan past the end entry.
  const auto signedKey = [](uint32_t key) { return static_cast<int32_t>(key); };
  if (list.empty()) return 0;  // no neighbours: no probe finds one
  const std::size_t listEnd = list.size() - 1;  // index of the end entry
  // Candidate entries; one spare slot, as a rejected entry is written past the kept ones.
  std::array<std::size_t, kMaxRidgeCandidates + 1> candidates;

  int total = 0;
  std::size_t position = 0;
  for (const RidgeProbe& probe : probes) {
    if (probe.mark != 0) continue;
    const uint32_t row = static_cast<uint32_t>(probe.y) << 20;
    const int32_t lowerKey = signedKey(row - (uint32_t{kRidgeReach} << 20));
    const int32_t upperKey = signedKey(row + (uint32_t{kRidgeReach + 1} << 20));
    // The start mostly moves a step or two: take two steps without branching.
    position += static_cast<std::size_t>((position < listEnd) & (signedKey(list[std::min(position, listEnd)].key) < lowerKey));
    position += static_cast<std::size_t>((position < listEnd) & (signedKey(list[std::min(position, listEnd)].key) < lowerKey));
    while (position < listEnd && signedKey(list[position].key) < lowerKey) ++position;

    int count = 0;
    // d2 << 8 | candidate number of the first candidate of the smallest d2.
    int nearestKey = std::numeric_limits<int>::max();
    const uint32_t columnBase = static_cast<uint32_t>(probe.x - kRidgeReach);
    // Whether an entry is within reach follows no pattern: keep it by a conditional count.
    for (std::size_t e = position; e < listEnd && signedKey(list[e].key) < upperKey; ++e) {
      const uint32_t s = list[e].key - columnBase;
      const int dx = static_cast<int>(s & 0xFFu) - kRidgeReach;
      const int dy = static_cast<int32_t>(s - row) >> 20;
      const int d2 = dx * dx + dy * dy;
      const bool kept = ((s & 0xFFFFu) <= 2 * kRidgeReach) & (d2 <= kRidgeReach2) & (count < kMaxRidgeCandidates);
      // A rejected entry's key is all ones (every key is at least 0 and below 2^30).
      const int rejectedBits = -static_cast<int>(!kept) & std::numeric_limits<int>::max();
      nearestKey = std::min(nearestKey, (d2 << 8 | count) | rejectedBits);
      candidates[count] = e;
      count += kept ? 1 : 0;
    }
    if (count == 0) continue;
    const int nearestD2 = nearestKey >> 8;
    std::swap(candidates[0], candidates[nearestKey & 0xFF]);
    const uint8_t a0 = list[candidates[0]].angle;
    uint8_t tolerance = static_cast<uint8_t>((((CeilSqrtTable[nearestD2] + 16) * (probe.curvature + 32)) >> 7) + 3);
    uint8_t flow = a0;

    if (count >= 3 && tolerance > 20) {
      // Neighbours whose orientation agrees with the nearest one within 10 steps.
      std::array<uint8_t, kMaxRidgeCandidates> bearings;
      int kept = 0;
      int sum = 0;
      int widest = 0;
      const auto bearingOf = [&](const RidgeEntry& entry) -> uint8_t {
        const uint32_t ye = entry.key >> 20;
        const int xe = static_cast<int16_t>(entry.key & 0xFFFFu);
        if (ye >= 720 || xe >= 512 || xe <= -512) return 0;
        return byteAngleOf(xe - probe.x, static_cast<int>(ye) - probe.y);
      };
      bearings[kept++] = bearingOf(list[candidates[0]]);
      for (int k = 1; k < count; ++k) {
        const RidgeEntry& entry = list[candidates[k]];
        const int delta = signedByte(2 * (entry.angle - a0));
        if (delta < -20 || delta > 20) continue;
        sum += delta;
        widest = std::max(widest, delta < 0 ? -delta : delta);
        bearings[kept++] = bearingOf(entry);
      }
      if (kept >= 3) {
        std::sort(bearings.begin(), bearings.begin() + kept);
        bool surrounded = bearings[kept - 1] - bearings[0] > 128;
        for (int k = 1; k < kept && surrounded; ++k) surrounded = bearings[k] - bearings[k - 1] < 128;
        if (surrounded) {
          tolerance = static_cast<uint8_t>(widest + 2);
          flow = static_cast<uint8_t>(a0 + sum / (2 * kept));
        }
      }
    }

    const int gap = signedByte(2 * (probe.angle - flow));
    const uint32_t o = static_cast<uint32_t>(gap < 0 ? -gap : gap);
    const uint32_t t = (ReciprocalTable[tolerance] * o) >> 16;
    total += probePenalty(t);
  }
  return total;
}

}  // namespace fx60::match
