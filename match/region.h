// Two measures for minutiae and singular points that found no partner: whether a
// point lies inside the region covered by the other print's minutiae, and how far a
// minutia's direction disagrees with the ridge flow the other print shows around it.
#pragma once

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

 private:
  std::span<const RegionPoint> points_;
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

// Sum of the penalties of the partnerless probes (ordered by y) whose direction
// disagrees with the directions of the neighbours within 35 pixels. The list's last
// element is its end entry.
int ridgeConsistency(std::span<const RidgeEntry> list, std::span<const RidgeProbe> probes);

}  // namespace fx60::match
