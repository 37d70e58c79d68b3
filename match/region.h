// Two measures for minutiae and singular points that found no partner: whether a
// point lies inside the region covered by the other print's minutiae, and how far a
// minutia's direction disagrees with the ridge flow the other print shows around it.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace fx60::match {

// A point of a y-ordered point list.
struct RegionPoint {
  int32_t y;
  int32_t x;
};

// 1 when (qy, qx) lies inside the region outlined by the points (ordered by y), else 0.
int regionContains(int qy, int qx, std::span<const RegionPoint> points);

namespace detail {
// Region test dispatch by (below code + above code): bit 0 runs the test for "all
// of the points above lie right", bit 1 "all above lie left", bit 2 "all below lie
// right", bit 3 "all below lie left".
inline constexpr std::array<uint8_t, 16> kRegionTests = {1, 0, 9, 0, 0, 0, 0, 0, 128, 4, 8, 0, 2, 6, 0, 0};
}  // namespace detail

// A point list prepared for many region tests against it. contains() answers exactly
// as regionContains does; the x extremes of every prefix and suffix and the chains of
// points that set a new extreme are tabled once, so that a test no longer walks the
// whole list to classify the points above and below the query.
class RegionOutline {
 public:
  static constexpr std::size_t kCapacity = 128;  // longer lists are tested directly

  // The points must stay in place while the outline is used.
  void assign(std::span<const RegionPoint> points);
  int contains(int qy, int qx) const;
  // The same answer; a query finds its row in the list by walking from where the
  // previous query's row was (cursor, 0 at first), which is short for queries in row order.
  int contains(int qy, int qx, std::size_t& cursor) const {
    const std::size_t count = points_.size();
    if (count > kCapacity || !ordered_) return contains(qy, qx);
    if (count == 0) return 0;
    std::size_t split = cursor < count ? cursor : count;
    // Queries in row order mostly move a step or two: take two steps without branching.
    const std::size_t last = count - 1;
    split += static_cast<std::size_t>((split < count) & (points_[std::min(split, last)].y <= qy));
    split += static_cast<std::size_t>((split < count) & (points_[std::min(split, last)].y <= qy));
    while (split < count && points_[split].y <= qy) ++split;
    while (split > 0 && points_[split - 1].y > qy) --split;
    cursor = split;
    return containsAt(split, qy, qx);
  }

 private:
  // The answer for a query whose row lies after the first `split` points.
  int containsAt(std::size_t split, int qy, int qx) const {
    if (split == 0) return 0;
    // Every point above lies left exactly when the rightmost does, none when the leftmost does not.
    const int aboveCode = prefixMaxX_[split - 1] < qx ? 12 : (prefixMinX_[split - 1] < qx ? 8 : 0);
    int belowCode = 3;
    if (split < points_.size()) {
      belowCode = suffixMaxX_[split] < qx ? 2 : (suffixMinX_[split] >= qx ? 1 : 0);
      if (belowCode == 0 && aboveCode == 8) return 1;
    }
    const int tests = detail::kRegionTests[belowCode + aboveCode];
    return tests == 0 ? 0 : edgeTests(split, qy, qx, tests);
  }
  int edgeTests(std::size_t split, int qy, int qx, int tests) const;

  std::span<const RegionPoint> points_;
  bool ordered_ = true;  // rows ascend
  std::array<int32_t, kCapacity> prefixMinX_{};  // over points 0..k
  std::array<int32_t, kCapacity> prefixMaxX_{};
  std::array<int32_t, kCapacity> suffixMinX_{};  // over points k..end
  std::array<int32_t, kCapacity> suffixMaxX_{};
  // Indices after the first point that lie strictly left (right) of every earlier
  // point, ascending; and before the last point that lie strictly left of every later
  // point, descending.
  std::array<uint8_t, kCapacity> newLeftmost_{};
  std::array<uint8_t, kCapacity> newRightmost_{};
  std::array<uint8_t, kCapacity> newLeftmostFromEnd_{};
  std::size_t newLeftmostCount_ = 0;
  std::size_t newRightmostCount_ = 0;
  std::size_t newLeftmostFromEndCount_ = 0;
};

// Entry of the neighbour list of the ridge-consistency measure: key = y << 20 | x
// (x in the low 16 bits), ordered by key; the list ends with an entry whose y part is 2047.
struct RidgeEntry {
  uint32_t key;
  uint8_t angle;
  uint8_t weight;
};

inline constexpr uint32_t kRidgeListEndKey = 2047u << 20;

constexpr uint32_t ridgeKey(int y, int x) {
  return (static_cast<uint32_t>(y) << 20) | static_cast<uint16_t>(x);
}

// A minutia probed against the other print's neighbours; only probes with partner
// mark 0 take part.
struct RidgeProbe {
  int32_t y;
  int32_t x;
  uint8_t angle;
  uint8_t curvature;
  uint8_t mark;
};

// Largest penalty one probe can add to the sum below.
inline constexpr int kMaxRidgePenalty = 2432;

// Sum of the penalties of the partnerless probes (ordered by y) whose direction
// disagrees with the directions of the neighbours within 35 pixels. The list's last
// element is its end entry.
int ridgeConsistency(std::span<const RidgeEntry> list, std::span<const RidgeProbe> probes);

}  // namespace fx60::match
