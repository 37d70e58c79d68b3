#include <algorithm>
#include <array>
#include <cstdlib>

#include "extract/minutiae_stages.h"
#include "extract/ridge_geometry.h"
#include "extract/ridge_tracing.h"

namespace fx60::extract {
namespace {

// Minutiae closer than this to the image edge are dropped.
constexpr int kMargin = 8;

constexpr int kEndingWalkSteps = 20;
constexpr int kEndingMinSteps = 16;
constexpr int kEndingMinReachSquared = 90;
constexpr int kForkMinSteps = 10;
constexpr int kForkMaxSteps = 20;

constexpr int kDensityRadiusSquared = 400;
constexpr int kDensityMaxNeighbours = 4;

constexpr int kClosePairSquared = 36;
constexpr int kTouchingForksSquared = 8;
constexpr int kOpposedPairSquared = 20;
constexpr int kOpposedTolerance = 18;

constexpr int kEdgeSearchSquared = 300;
constexpr int kEdgeAngleTolerance = 10;

using RemovedFlags = std::array<bool, kMaxCandidates>;

int squaredDistance(const MinutiaCandidate& a, const MinutiaCandidate& b) {
  const int dx = b.x - a.x;
  const int dy = b.y - a.y;
  return dx * dx + dy * dy;
}

bool anyBackground(const OrientationMap& orientation, int rowFirst, int rowLast, int colFirst,
                   int colLast) {
  rowFirst = std::max(rowFirst, 0);
  colFirst = std::max(colFirst, 0);
  rowLast = std::min(rowLast, kGridRows - 1);
  colLast = std::min(colLast, kGridColumns - 1);
  for (int r = rowFirst; r <= rowLast; ++r)
    for (int c = colFirst; c <= colLast; ++c)
      if (isBackground(orientation[cellIndex(r, c)])) return true;
  return false;
}

// Direction of a fork: the circular midpoint of its two closest branches.
// Returns -1 when a branch is too short or the branches do not spread.
int forkDirection(const BranchTrace& trace, int turn) {
  for (const BranchWalk& walk : trace.walks)
    if (!walk.valid) return -1;
  const int b0 = trace.walks[0].direction;
  const int b1 = trace.walks[1].direction;
  const int b2 = trace.walks[2].direction;
  const int d01 = angleDifference(b0, b1, turn);
  const int d02 = angleDifference(b0, b2, turn);
  const int d12 = angleDifference(b1, b2, turn);
  int a = b1;
  int b = b2;
  int closest = d12;
  if (d01 < closest) {
    a = b0;
    b = b1;
    closest = d01;
  }
  if (d02 < closest) {
    a = b0;
    b = b2;
    closest = d02;
  }
  const int widest = std::max({d01, d02, d12});
  if (closest == 0 || widest < turn / 4) return -1;
  const int gap = std::abs(a - b);
  if (gap <= turn / 2) return (a + b) / 2;
  int mid = (turn - gap) / 2 + std::max(a, b);
  if (mid >= turn) mid -= turn;
  return mid;
}

int traceForkDirection(uint8_t* image, int x, int y, AngleUnits units, int turn) {
  BranchTrace trace;
  traceBranches(image, x, y, kForkMinSteps, kForkMaxSteps, units, trace);
  for (int w = 2; w >= 0; --w) restoreWalk(image, trace.walks[w]);
  return forkDirection(trace, turn);
}

// Checks the position and recomputes both directions with longer walks; a
// candidate left with direction240 = 255 is removed.
void validateAndDirect(MinutiaCandidate& m, uint8_t* image, const OrientationMap& orientation) {
  const int x = m.x;
  const int y = m.y;
  if (y < kMargin || y > kHeight - 1 - kMargin || x < kMargin || x > kWidth - 1 - kMargin ||
      anyBackground(orientation, (y - 8) / 3, (y + 6) / 3, (x - 8) / 3, (x + 6) / 3)) {
    m.direction240 = kRemovedDirection;
    return;
  }
  if (m.kind == kRidgeEnding) {
    const RidgeTrace trace = traceRidge(image, x, y, kEndingWalkSteps);
    const int dx = trace.endX - x;
    const int dy = trace.endY - y;
    const bool longEnough = trace.steps >= kEndingMinSteps;
    m.direction240 = longEnough && dx * dx + dy * dy >= kEndingMinReachSquared
                         ? static_cast<uint8_t>(angle240(dx, dy))
                         : kRemovedDirection;
    m.direction256 = longEnough ? static_cast<uint8_t>(angle256(dx, dy)) : 255;
  } else if (m.kind == kBifurcation) {
    const int direction240 = traceForkDirection(image, x, y, AngleUnits::k240, 240);
    const int direction256 = traceForkDirection(image, x, y, AngleUnits::k256, 256);
    m.direction240 = direction240 < 0 ? kRemovedDirection : static_cast<uint8_t>(direction240);
    if (direction256 >= 0) {
      m.direction256 = static_cast<uint8_t>(direction256);
    } else if (m.direction240 == kRemovedDirection) {
      m.direction256 = 0;
    } else {
      m.direction256 = static_cast<uint8_t>(std::min(255, (m.direction240 * 256 + 120) / 240));
    }
  } else {
    m.direction240 = kRemovedDirection;
  }
}

// Too many neighbours within 20 pixels marks a noisy area. Every entry counts,
// including those this rule removes.
void applyDensityRule(const MinutiaCandidateList& list, int count, RemovedFlags& removed) {
  for (int i = 0; i < count; ++i) {
    int neighbours = 0;
    for (int j = 0; j < count; ++j)
      if (j != i && squaredDistance(list.entries[i], list.entries[j]) < kDensityRadiusSquared)
        ++neighbours;
    if (neighbours > kDensityMaxNeighbours) removed[i] = true;
  }
}

bool roughlyOpposed(int a, int b) {
  const int d = ((a - b) % 240 + 240) % 240;
  return std::abs(d - 120) <= kOpposedTolerance;
}

// Pairs made by a bridge between ridges or by a short break: close forks, and
// close minutiae pointing at each other.
void applyClosePairRule(const MinutiaCandidateList& list, int count, RemovedFlags& removed) {
  for (int i = 0; i < count; ++i) {
    if (removed[i]) continue;
    const MinutiaCandidate& mi = list.entries[i];
    for (int j = 0; j < count; ++j) {
      if (j == i || removed[j]) continue;
      const MinutiaCandidate& mj = list.entries[j];
      const int d2 = squaredDistance(mi, mj);
      const bool opposed = roughlyOpposed(mi.direction240, mj.direction240);
      bool pair = false;
      if (d2 < kClosePairSquared && mi.kind == kBifurcation && mj.kind == kBifurcation)
        pair = d2 <= kTouchingForksSquared || opposed;
      if (!pair) pair = d2 < kOpposedPairSquared && opposed;
      if (pair) {
        removed[i] = true;
        removed[j] = true;
        break;
      }
    }
  }
}

// The central points of the line P-Q are all white.
bool lineIsClear(const uint8_t* image, const MinutiaCandidate& p, const MinutiaCandidate& q,
                 LinePath& path) {
  linePoints(p.y, p.x, q.y, q.x, path);
  const int n = path.count;
  const int first = std::max(2, n / 5);
  const int last = std::min(n - 2, 4 * n / 5) - 1;
  for (int k = first; k <= last; ++k)
    if (image[path.points[k].first * kWidth + path.points[k].second] == 0) return false;
  return true;
}

// Near the edge of the print, rows of parallel ridges cut by the edge leave
// lines of endings pointing the same way. Three such endings in a row (one
// with its two nearest neighbours on either side, no ridge between them) are
// removed. The neighbours come from a push-only search (see below).
void applyEdgeRowRule(const MinutiaCandidateList& list, int count, const uint8_t* image,
                      const OrientationMap& orientation, RemovedFlags& removed) {
  std::array<int, kMaxCandidates> edge{};
  int edgeCount = 0;
  for (int i = 0; i < count; ++i) {
    const MinutiaCandidate& m = list.entries[i];
    if (removed[i] || m.kind != kRidgeEnding) continue;
    if (anyBackground(orientation, (m.y - 17) / 3, (m.y + 15) / 3, (m.x - 17) / 3, (m.x + 15) / 3))
      edge[edgeCount++] = i;
  }

  LinePath path;
  for (int a = 0; a < edgeCount; ++a) {
    const MinutiaCandidate& p = list.entries[edge[a]];
    int nearest = -1;
    int second = -1;
    int nearestD2 = kEdgeSearchSquared;
    int secondD2 = kEdgeSearchSquared;
    for (int b = 0; b < edgeCount; ++b) {
      if (b == a) continue;
      const int d2 = squaredDistance(p, list.entries[edge[b]]);
      // Only a strictly nearer entry moves anything: it pushes the old nearest
      // to second place. A distance between the two does
      // not replace the second, so the second is not always the true second
      // nearest; stored templates depend on this search.
      if (d2 < nearestD2) {
        second = nearest;
        secondD2 = nearestD2;
        nearest = b;
        nearestD2 = d2;
      }
    }
    if (second < 0 || secondD2 >= kEdgeSearchSquared) continue;
    const MinutiaCandidate& q1 = list.entries[edge[nearest]];
    const MinutiaCandidate& q2 = list.entries[edge[second]];
    if (angleDifference(q1.direction240, p.direction240, 240) > kEdgeAngleTolerance) continue;
    if (angleDifference(q2.direction240, p.direction240, 240) > kEdgeAngleTolerance) continue;
    const int spread = std::abs(angle240(q1.x - p.x, q1.y - p.y) - angle240(q2.x - p.x, q2.y - p.y));
    if (std::abs(spread - 120) > kEdgeAngleTolerance) continue;
    if (!lineIsClear(image, p, q1, path) || !lineIsClear(image, p, q2, path)) continue;
    removed[edge[a]] = true;
    removed[edge[nearest]] = true;
    removed[edge[second]] = true;
  }
}

// Keeps the entries not marked, in order; returns the new count.
template <typename IsRemoved>
int compact(MinutiaCandidateList& list, int count, IsRemoved isRemoved) {
  int kept = 0;
  for (int i = 0; i < count; ++i)
    if (!isRemoved(i)) list.entries[kept++] = list.entries[i];
  list.count = static_cast<uint32_t>(kept);
  return kept;
}

// With more survivors than a template holds, the ones nearest the centre of
// their bounding box are kept, in list order.
void selectMinutiae(const MinutiaCandidateList& list, int count, MinutiaList& minutiae) {
  std::array<bool, kMaxCandidates> keep{};
  if (count <= kMaxMinutiae) {
    std::fill(keep.begin(), keep.begin() + count, true);
  } else {
    int minX = kWidth, maxX = 0, minY = kHeight, maxY = 0;
    for (int i = 0; i < count; ++i) {
      minX = std::min<int>(minX, list.entries[i].x);
      maxX = std::max<int>(maxX, list.entries[i].x);
      minY = std::min<int>(minY, list.entries[i].y);
      maxY = std::max<int>(maxY, list.entries[i].y);
    }
    const int centreX = (minX + maxX) / 2;
    const int centreY = (minY + maxY) / 2;
    // Sort keys: squared distance, then list position, so ties keep the earlier entry.
    std::array<int64_t, kMaxCandidates> keys{};
    for (int i = 0; i < count; ++i) {
      const int dx = list.entries[i].x - centreX;
      const int dy = list.entries[i].y - centreY;
      keys[i] = (static_cast<int64_t>(dx * dx + dy * dy) << 16) | i;
    }
    std::sort(keys.begin(), keys.begin() + count);
    for (int k = 0; k < kMaxMinutiae; ++k) keep[keys[k] & 0xFFFF] = true;
  }
  int out = 0;
  for (int i = 0; i < count; ++i) {
    if (!keep[i]) continue;
    const MinutiaCandidate& m = list.entries[i];
    minutiae.entries[out++] = Minutia{m.x, m.y, m.kind, m.direction256};
  }
  minutiae.count = static_cast<uint16_t>(out);
}

}  // namespace

void refineMinutiae(MinutiaList& minutiae, MinutiaCandidateList& candidates, uint8_t* image,
                    const OrientationMap& orientation) {
  int count = std::min<int>(candidates.count, kMaxCandidates);
  for (int i = 0; i < count; ++i) {
    MinutiaCandidate& m = candidates.entries[i];
    if (m.direction240 != kRemovedDirection) validateAndDirect(m, image, orientation);
  }
  count = compact(candidates, count,
                  [&](int i) { return candidates.entries[i].direction240 == kRemovedDirection; });

  RemovedFlags removed{};
  applyDensityRule(candidates, count, removed);
  applyClosePairRule(candidates, count, removed);
  applyEdgeRowRule(candidates, count, image, orientation, removed);
  count = compact(candidates, count, [&](int i) { return removed[i]; });

  selectMinutiae(candidates, count, minutiae);
}

}  // namespace fx60::extract
