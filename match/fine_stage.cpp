#include "match/fine_stage.h"

#include <algorithm>
#include <limits>
#include <memory>

#include "match/angles.h"
#include "match/coverage.h"
#include "match/fine_score.h"
#include "match/region.h"

namespace fx60::match {
namespace {

constexpr int kMaxAngleGapForPartner = 14;
constexpr int kRidgeWidening = 35;
constexpr int kSingularReach = 16;
constexpr uint32_t kSingularReach2 = 256;
constexpr int kMaxSingularDisagreement = 30;
constexpr int kTypeWithAngle = 1;
constexpr int kTypeThreeAngles = 255;
constexpr uint32_t kSpreadLimit2 = 147456;  // 384^2
constexpr uint8_t kUnclaimedMark = 255;

// Weight of the absolute angle difference of two candidate partners (0..14).
constexpr std::array<uint8_t, 15> FineAngleWeights = {255, 241, 230, 217, 201, 182, 160, 137,
                                                      116, 90,  69,  56,  46,  38,  31};

// Weight of the angle disagreement of two paired singular points (0..30).
constexpr std::array<uint8_t, 31> SingularAgreementWeights = [] {
  std::array<uint8_t, 31> table{};
  for (int d = 0; d <= 30; ++d) table[d] = static_cast<uint8_t>(d <= 8 ? 30 - 2 * d : (d <= 22 ? 22 - d : 0));
  return table;
}();

// Floor of the square root, bit by bit.
uint32_t isqrt32(uint32_t value) {
  uint32_t root = 0;
  uint32_t bit = 1u << 30;
  while (bit > value) bit >>= 2;
  while (bit != 0) {
    if (value >= root + bit) {
      value -= root + bit;
      root = (root >> 1) + bit;
    } else {
      root >>= 1;
    }
    bit >>= 2;
  }
  return root;
}

int absInt(int v) { return v < 0 ? -v : v; }

struct Extent {
  int32_t firstY = 1;
  int32_t lastY = 0;
  int32_t minX = 1;
  int32_t maxX = 0;
  bool contains(int y, int x) const { return (y >= firstY) & (y <= lastY) & (x >= minX) & (x <= maxX); }
};

// Working lists of one candidate, reused on this thread.
struct FineWork {
  std::array<OverlapRecordB, kMaxViewMinutiae> recordsB;
  std::array<OverlapRecordA, kMaxViewMinutiae + 1> recordsA;  // plus the end record
  std::array<int16_t, kMaxViewMinutiae> positionOfA;          // in recordsA, -1 when not listed
  std::array<RegionPoint, kMaxViewMinutiae> pointsB;
  std::array<RegionPoint, kMaxViewMinutiae> pointsA;
  RegionOutline outlineB;
  std::array<RidgeEntry, kMaxViewMinutiae + 1> ridgeB;
  std::array<RidgeEntry, kMaxViewMinutiae + 1> ridgeA;
  // Only partnerless minutiae are probed, so only they are listed.
  std::array<RidgeProbe, kMaxViewMinutiae> probesA;
  std::array<RidgeProbe, kMaxViewMinutiae> probesB;
  std::array<int64_t, kMaxViewMinutiae> orderB;  // y << 8 | index
  std::array<uint8_t, kMaxViewMinutiae + 1> insideB;  // overlap positions of inside B minutiae
};

FineWork& fineWork() {
  thread_local std::unique_ptr<FineWork> work = std::make_unique<FineWork>();
  return *work;
}

// Sorts the keys ascending. B's minutiae come turned by the candidate rotation from a
// list in row order, so they are mostly in order or mostly reversed: an insertion sort
// after undoing a reversal moves few keys.
void sortNearlyOrdered(int64_t* keys, int count) {
  if (count > 1 && keys[0] > keys[count - 1]) std::reverse(keys, keys + count);
  for (int i = 1; i < count; ++i) {
    const int64_t key = keys[i];
    int k = i;
    for (; k > 0 && keys[k - 1] > key; --k) keys[k] = keys[k - 1];
    keys[k] = key;
  }
}

struct OverlapSelection {
  int countA = 0;  // A minutiae in B's inside box
  int countInsideB = 0;  // B minutiae inside A's widened box, listed in work.insideB
  Extent extentB;  // B's overall extent
  OverlapRect rect;
};

// Also leaves B's region points (in overlap-list order) in work.pointsB.
OverlapSelection selectOverlap(FineWork& work, const MatchMinutia* minB, int countB, const MatchMinutia* minA,
                               int countA, const SideExtent& extentA, int margin) {
  OverlapSelection selection;
  // B in row order, index order within a row: one 64-bit key per minutia sorts as (y, index).
  for (int i = 0; i < countB; ++i) work.orderB[i] = static_cast<int64_t>(minB[i].y) * 256 + i;
  sortNearlyOrdered(work.orderB.data(), countB);

  const int boxLeft = extentA.minX - margin;
  const int boxRight = extentA.maxX + margin;
  const int boxTop = extentA.firstY - margin;
  const int boxBottom = extentA.lastY + margin;
  // Whether a minutia is inside follows no pattern: the inside ones are listed
  // without branching, and their extent is taken from the list.
  int countInside = 0;
  int minXAll = std::numeric_limits<int32_t>::max();
  int maxXAll = std::numeric_limits<int32_t>::min();
  for (int k = 0; k < countB; ++k) {
    const MatchMinutia& m = minB[work.orderB[k] & 0xFF];
    const bool isInside = (m.x >= boxLeft) & (m.x <= boxRight) & (m.y >= boxTop) & (m.y <= boxBottom);
    work.recordsB[k] = {m.y, m.x, m.angle(), m.curvature, static_cast<uint8_t>(isInside ? 1 : 0), kUnclaimedMark};
    work.pointsB[k] = {m.y, m.x};
    work.insideB[countInside] = static_cast<uint8_t>(k);
    countInside += isInside ? 1 : 0;
    minXAll = std::min(minXAll, m.x);
    maxXAll = std::max(maxXAll, m.x);
  }
  selection.countInsideB = countInside;
  if (countB > 0) selection.extentB = {work.recordsB[0].y, work.recordsB[countB - 1].y, minXAll, maxXAll};

  Extent insideBox;  // empty unless some B minutia lies inside A's box
  if (countInside > 0) {
    // Rows ascend: the first listed row is the smallest, the last the largest.
    int32_t minX = work.recordsB[work.insideB[0]].x;
    int32_t maxX = minX;
    for (int n = 1; n < countInside; ++n) {
      minX = std::min(minX, work.recordsB[work.insideB[n]].x);
      maxX = std::max(maxX, work.recordsB[work.insideB[n]].x);
    }
    insideBox = {work.recordsB[work.insideB[0]].y - margin, work.recordsB[work.insideB[countInside - 1]].y + margin,
                 minX - margin, maxX + margin};
  }

  int listed = 0;
  for (int i = 0; i < countA; ++i) {
    const MatchMinutia& m = minA[i];
    if (insideBox.contains(m.y, m.x)) {
      work.positionOfA[i] = static_cast<int16_t>(listed);
      work.recordsA[listed++] = {m.y, m.x, m.angle(), m.curvature, 0, 0};
    } else {
      work.positionOfA[i] = -1;
    }
  }
  work.recordsA[listed] = {std::numeric_limits<int32_t>::max(), 0, 0, 0, 0, 0};
  selection.countA = listed;

  const Extent& b = selection.extentB;
  selection.rect = {std::max(b.minX, extentA.minX), std::max(b.firstY, extentA.firstY), std::min(extentA.maxX, b.maxX),
                    std::min(extentA.lastY, b.lastY)};
  return selection;
}

// Each inside B minutia claims the A minutia that answers it best nearby; a later
// claim at least as strong takes the A minutia over.
void pairStrengths(FineWork& work, int countInsideB, int countListedA, int margin) {
  int start = 0;
  // Row-window records that pass the x window and the angle gap, in list order.
  std::array<uint8_t, kMaxViewMinutiae + 1> near;
  for (int listed = 0; listed < countInsideB; ++listed) {
    const int k = work.insideB[listed];
    const OverlapRecordB& b = work.recordsB[k];
    const int top = b.y - margin;
    const int bottom = b.y + margin;
    const int left = b.x - margin;
    const int right = b.x + margin;
    // The start mostly moves a step or two (the end record stops it): take two steps
    // without branching.
    start += work.recordsA[start].y < top ? 1 : 0;
    start += work.recordsA[start].y < top ? 1 : 0;
    while (work.recordsA[start].y < top) ++start;
    // The window tests rarely follow a pattern: collect the survivors without branching.
    int nearCount = 0;
    const auto consider = [&](int i, bool inWindow) {
      const OverlapRecordA& a = work.recordsA[i];
      const bool closeAngle =
          static_cast<uint8_t>(a.angle - b.angle + kMaxAngleGapForPartner) <= 2 * kMaxAngleGapForPartner;
      const bool fits = inWindow & (a.x >= left) & (a.x <= right) & closeAngle;
      near[nearCount] = static_cast<uint8_t>(i);
      nearCount += fits ? 1 : 0;
    };
    // Windows are short: the first two records are taken without branching (rows
    // ascend, so a record past the window leaves the later ones out too; reads stop
    // at the end record).
    const int second = std::min(start + 1, countListedA);
    consider(start, work.recordsA[start].y <= bottom);
    consider(second, (second > start) & (work.recordsA[second].y <= bottom));
    for (int i = std::min(start + 2, countListedA); work.recordsA[i].y <= bottom; ++i) consider(i, true);
    int bestWeight = 0;
    int best = -1;
    for (int n = 0; n < nearCount; ++n) {
      const int i = near[n];
      const OverlapRecordA& a = work.recordsA[i];
      const int delta = signedByte(a.angle - b.angle);
      const int mean = (b.angle + (delta >> 1)) & 0xFF;
      const int64_t dx = a.x - b.x;
      const int64_t dy = a.y - b.y;
      const int64_t along = (dx * cosineOfByte(mean) - dy * sineOfByte(mean)) >> 4;
      // The part of the distance along the mean direction counts three quarters.
      const int64_t weighted = dx * dx + dy * dy - ((along * along) >> 22);
      const int w = fineDistanceWeight(static_cast<int>(std::min<int64_t>(weighted, kFineDistanceWeightCount))) *
                    FineAngleWeights[absInt(delta)];
      best = w > bestWeight ? i : best;
      bestWeight = std::max(bestWeight, w);
    }
    if (best < 0) continue;
    const int strength = (bestWeight * 1397) >> 19;
    OverlapRecordA& a = work.recordsA[best];
    if (strength >= a.mark) {
      a.mark = static_cast<uint8_t>(strength);
      a.partner = static_cast<uint8_t>(k);
    }
  }
}

struct SingularOutcome {
  int agreement = 0;        // L
  int matchedThree = 0;     // j
  int unmatchedThree = 0;   // d3
  int unmatchedOther = 0;   // dO
  int insideUnmatched = 0;  // Gs
  int spread = 0;           // F
  std::array<uint8_t, kMaxSingularPoints> f{};
  std::array<uint8_t, kMaxSingularPoints> partner{};
};

// Sum of the absolute differences of three-angle points, each B angle paired in turn
// with the closest A angle still free (the first on ties).
int threeAngleDisagreement(const MatchSingularPoint& b, const MatchSingularPoint& a) {
  const std::array<uint8_t, 3> anglesB = {b.angle, b.angles[0], b.angles[1]};
  const std::array<uint8_t, 3> anglesA = {a.angle, a.angles[0], a.angles[1]};
  std::array<bool, 3> taken{};
  int sum = 0;
  for (int k = 0; k < 3; ++k) {
    int bestGap = 256;
    int best = 0;
    for (int i = 0; i < 3; ++i) {
      if (taken[i]) continue;
      const int gap = absInt(signedByte(anglesA[i] - anglesB[k]));
      if (gap < bestGap) {
        bestGap = gap;
        best = i;
      }
    }
    taken[best] = true;
    sum += bestGap;
  }
  return sum;
}

void countUnmatched(SingularOutcome& out, int type) {
  if (type == kTypeThreeAngles)
    ++out.unmatchedThree;
  else if (type == kTypeWithAngle)
    ++out.unmatchedOther;
  else
    out.unmatchedOther += 2;
}

// regionA() yields A's point list; outlineB is B's prepared region.
template <typename RegionOfA>
SingularOutcome compareSingularPoints(const MatchSingularPoint* pointsB, int countB, const MatchSingularPoint* pointsA,
                                      int countA, const RegionOfA& regionA, const RegionOutline& outlineB) {
  SingularOutcome out;
  std::array<bool, kMaxSingularPoints> matchedA{};
  std::array<bool, kMaxSingularPoints> matchedB{};
  for (int s = 0; s < countB; ++s) {
    const MatchSingularPoint& b = pointsB[s];
    uint32_t bestDistance = 255;
    int partner = -1;
    int disagreement = 0;
    for (int t = 0; t < countA; ++t) {
      const MatchSingularPoint& a = pointsA[t];
      if (a.y > b.y + kSingularReach) break;
      if (a.y < b.y - kSingularReach || a.x < b.x - kSingularReach || a.x > b.x + kSingularReach) continue;
      if (a.type != b.type) continue;
      uint32_t d2 = static_cast<uint32_t>((a.y - b.y) * (a.y - b.y) + (a.x - b.x) * (a.x - b.x));
      if (b.type != kTypeWithAngle) d2 *= 2;
      if (d2 > kSingularReach2) continue;
      const uint32_t distance = isqrt32(d2);
      if (distance >= bestDistance) continue;
      int e = 12;
      if (b.type == kTypeWithAngle)
        e = absInt(signedByte(a.angle - b.angle));
      else if (b.type == kTypeThreeAngles)
        e = threeAngleDisagreement(b, a);
      if (e > kMaxSingularDisagreement) continue;
      bestDistance = distance;
      partner = t;
      disagreement = e;
    }
    if (partner >= 0) {
      matchedA[partner] = true;
      matchedB[s] = true;
      const int f = (((kSingularReach - static_cast<int>(bestDistance)) * SingularAgreementWeights[disagreement]) >> 1) & 0xFF;
      out.f[s] = static_cast<uint8_t>(f);
      out.partner[s] = static_cast<uint8_t>(partner);
      out.agreement += f;
      if (b.type == kTypeThreeAngles) {
        out.agreement += 3 * f;
        ++out.matchedThree;
      }
    } else {
      out.insideUnmatched += regionContains(b.y, b.x, regionA());
      countUnmatched(out, b.type);
    }
  }
  for (int t = 0; t < countA; ++t) {
    if (matchedA[t]) continue;
    out.insideUnmatched += outlineB.contains(pointsA[t].y, pointsA[t].x);
    countUnmatched(out, pointsA[t].type);
  }

  // Spread: the farthest pair of points of which at least one is unmatched.
  uint64_t largest = 0;
  for (int s = 0; s < countB; ++s)
    for (int t = 0; t < countA; ++t) {
      if (matchedB[s] && matchedA[t]) continue;
      const int64_t dy = pointsB[s].y - pointsA[t].y;
      const int64_t dx = pointsB[s].x - pointsA[t].x;
      const uint64_t d2 = static_cast<uint64_t>(dy * dy + dx * dx);
      uint64_t q = d2;
      if (pointsB[s].type != kTypeThreeAngles) q += d2;
      if (pointsA[t].type != kTypeThreeAngles) q += d2;
      largest = std::max(largest, q);
    }
  if (largest >= kSpreadLimit2)
    out.spread = static_cast<int>(isqrt32(static_cast<uint32_t>(std::min<uint64_t>(largest, UINT32_MAX)))) - 384;
  return out;
}

}  // namespace

int fineRescore(const MatchContext& ctx, const CandidateAlignment& candidate, int g0, uint8_t rotation,
                int correction, int pass, const FineGoal& goal) {
  const int scoreToBeat = goal.scoreToBeat;
  const bool keepZero = goal.keepZero;
  const bool maySettle = goal.settledFrom != FineGoal{}.settledFrom;
  FineWork& work = fineWork();
  const MatchMinutia* minA = ctx.viewA.minutiae;
  const int countA = std::clamp(ctx.countA, 0, kMaxViewMinutiae);
  const int countB = std::clamp(candidate.count, 0, kMaxViewMinutiae);
  const int margin = ctx.fineMargin;
  const int qualitySum = ctx.viewA.quality + ctx.viewB.quality;
  const SideExtent& extentA = pass == 2 ? ctx.pass2.extent : ctx.extentA;

  const OverlapSelection selection =
      selectOverlap(work, candidate.minutiae.data(), countB, minA, countA, extentA, margin);
  const OverlapRect& rect = selection.rect;
  if (selection.countA >= 2 && rect.left < rect.right && rect.top < rect.bottom) {
    pairStrengths(work, selection.countInsideB, selection.countA, margin);
    const int singularCountB = std::clamp(candidate.singularCount, 0, kMaxSingularPoints);
    const int singularCountA = std::clamp(ctx.viewA.singularCount, 0, kMaxSingularPoints);
    if (scoreToBeat >= 0) {
      const int bound = fineScoreBound({work.recordsA.data(), static_cast<std::size_t>(selection.countA)},
                                       {work.recordsB.data(), static_cast<std::size_t>(countB)}, rect,
                                       {candidate.singularPoints.data(), static_cast<std::size_t>(singularCountB)},
                                       {ctx.viewA.singularPoints, static_cast<std::size_t>(singularCountA)}, g0,
                                       rotation + correction);
      if (bound <= scoreToBeat && (!keepZero || bound == 0)) return 0;
    }

    const std::span<const RegionPoint> regionB(work.pointsB.data(), countB);
    work.outlineB.assign(regionB);
    // A's points are needed only for B's partnerless minutiae and singular points.
    bool regionAReady = false;
    const auto regionA = [&] {
      if (!regionAReady) {
        for (int i = 0; i < countA; ++i) work.pointsA[i] = {minA[i].y, minA[i].x};
        regionAReady = true;
      }
      return std::span<const RegionPoint>(work.pointsA.data(), countA);
    };

    // Entries of the ridge lists lie around the overlap.
    const int nearTop = rect.top - kRidgeWidening;
    const int nearBottom = rect.bottom + kRidgeWidening;
    const int nearLeft = rect.left - kRidgeWidening;
    const int nearRight = rect.right + kRidgeWidening;
    const auto nearOverlap = [&](int y, int x) { return y >= nearTop && y <= nearBottom && x >= nearLeft && x <= nearRight; };

    // Unpartnered A minutiae inside B's region; they are probed for ridge consistency.
    int unmatched = 0;
    std::size_t rowCursor = 0;  // A is in row order: each query starts where the last one ended
    int ridgeCountA = 0;
    int probeCountA = 0;
    for (int i = 0; i < countA; ++i) {
      const MatchMinutia& m = minA[i];
      const int position = work.positionOfA[i];
      // An unlisted minutia counts as partnerless only within B's overall extent.
      const uint8_t mark =
          position >= 0 ? work.recordsA[position].mark : (selection.extentB.contains(m.y, m.x) ? 0 : 1);
      if (position >= 0 && mark != 0) work.recordsB[work.recordsA[position].partner].mark = mark;
      if (mark == 0) {
        const int w = work.outlineB.contains(m.y, m.x, rowCursor);
        unmatched += w;
        if (position >= 0) work.recordsA[position].partner = static_cast<uint8_t>(w);
        work.probesA[probeCountA++] = {m.y, m.x, m.angle(), m.curvature, 0};
      }
    }

    // Unpartnered inside B minutiae inside A's region; the inside flag becomes the region weight.
    int probeCountB = 0;
    for (int k = 0; k < countB; ++k) probeCountB += work.recordsB[k].mark == 0 ? 1 : 0;
    for (int listed = 0; listed < selection.countInsideB; ++listed) {
      OverlapRecordB& b = work.recordsB[work.insideB[listed]];
      b.inside = 0;
      if (b.mark == 0) {
        const int w = regionContains(b.y, b.x, regionA());
        unmatched += w;
        b.inside = static_cast<uint8_t>(w);
      }
    }

    // Ridge-direction consistency of the partnerless minutiae around the overlap.
    // It only scales the penalty for unpartnered minutiae, and the penalty only counts
    // for image qualities above 80: otherwise it is not needed.
    const bool ridgeCounts = unmatched != 0 && qualitySum > 80;
    const auto measureRidge = [&] {
      // B's probes and neighbour list, and A's neighbour list, which serves only B's probes.
      int ridgeCountB = 0;
      probeCountB = 0;
      for (int k = 0; k < countB; ++k) {
        const OverlapRecordB& b = work.recordsB[k];
        if (b.mark == 0) work.probesB[probeCountB++] = {b.y, b.x, b.angle, b.curvature, 0};
        if (nearOverlap(b.y, b.x)) work.ridgeB[ridgeCountB++] = {ridgeKey(b.y, b.x), b.angle, 0};
      }
      work.ridgeB[ridgeCountB++] = {kRidgeListEndKey, 0, 0};
      if (probeCountB > 0) {
        for (int i = 0; i < countA; ++i)
          if (nearOverlap(minA[i].y, minA[i].x))
            work.ridgeA[ridgeCountA++] = {ridgeKey(minA[i].y, minA[i].x), minA[i].angle(), minA[i].weight};
      }
      work.ridgeA[ridgeCountA++] = {kRidgeListEndKey, 0, 0};
      return ridgeConsistency(std::span<const RidgeEntry>(work.ridgeB.data(), ridgeCountB),
                              std::span<const RidgeProbe>(work.probesA.data(), probeCountA)) +
             ridgeConsistency(std::span<const RidgeEntry>(work.ridgeA.data(), ridgeCountA),
                              std::span<const RidgeProbe>(work.probesB.data(), probeCountB));
    };

    const SingularOutcome singular = compareSingularPoints(candidate.singularPoints.data(), singularCountB,
                                                           ctx.viewA.singularPoints, singularCountA, regionA, work.outlineB);
    const int pairedThree = std::min(singular.matchedThree, 2);
    const int spreadCount = std::max(0, pairedThree + singular.unmatchedThree - 2) +
                            std::max(0, pairedThree + singular.unmatchedOther - 2);

    CoverageInput coverageInput;
    coverageInput.singularB = {candidate.singularPoints.data(), static_cast<std::size_t>(singularCountB)};
    coverageInput.singularAgreement = {singular.f.data(), static_cast<std::size_t>(singularCountB)};
    coverageInput.singularPartner = {singular.partner.data(), static_cast<std::size_t>(singularCountB)};
    coverageInput.singularA = {ctx.viewA.singularPoints, static_cast<std::size_t>(singularCountA)};
    coverageInput.recordsB = {work.recordsB.data(), static_cast<std::size_t>(countB)};
    coverageInput.recordsA = {work.recordsA.data(), static_cast<std::size_t>(selection.countA)};
    coverageInput.rect = rect;
    CoverageAnalysis coverage(coverageInput);
    const CoverageBalance& balance = coverage.balance();

    // Penalty from unmatched minutiae and singular points, before the ridge raises it.
    uint32_t basePenalty = 54u * static_cast<uint32_t>(balance.v) + 384u * static_cast<uint32_t>(unmatched);
    if (singular.agreement == 0)
      basePenalty += static_cast<uint32_t>(singular.spread + 6 * (spreadCount + singular.insideUnmatched)) << 8;
    const uint32_t qualityExcess = static_cast<uint32_t>(std::max(0, qualitySum - 80));
    const int rotationPlusCorrection = rotation + correction;

    // With the penalty known, the bounds of J and K bound the score. The ridge measure
    // waits unless its raise of the penalty could wrap.
    bool ridgeMeasured = !ridgeCounts;
    int ridge = 0;
    // The score cannot fall below this: J and K are never below 0 (or below the exact
    // values once known), and the penalty never above its raise by the largest ridge
    // sum, which cannot wrap once a bound is taken.
    const auto lowerBound = [&](int64_t j, int64_t k) {
      const uint32_t penaltyCeiling = raisedPenalty(
          basePenalty, ridgeMeasured ? ridge : kMaxRidgePenalty * (probeCountA + probeCountB), unmatched);
      return rescoredScore(singular.agreement, j, k, penaltyCeiling, qualityExcess, g0, rotationPlusCorrection);
    };
    // Once the score is shown not to beat scoreToBeat: the result to stop with, or -1
    // to go on where the caller must know whether it is 0 and that is still open.
    const auto stopWith = [&](int64_t j, int64_t k, int upperBound) {
      if (!keepZero || upperBound == 0) return 0;
      const int low = lowerBound(j, k);
      return low >= 1 ? low : -1;
    };
    if (scoreToBeat >= 0 || maySettle) {
      if (!ridgeMeasured && !ridgeRaiseCannotWrap(basePenalty, probeCountA + probeCountB, qualityExcess)) {
        ridge = measureRidge();
        ridgeMeasured = true;
      }
    }
    if (maySettle) {
      if (const int low = lowerBound(0, 0); low >= goal.settledFrom) return low;
    }
    if (scoreToBeat >= 0) {
      const uint32_t penaltyFloor = ridgeMeasured ? raisedPenalty(basePenalty, ridge, unmatched) : basePenalty;
      const auto upperBound = [&] {
        return rescoredScore(singular.agreement, balance.jBound, balance.kBound, penaltyFloor, qualityExcess, g0,
                             rotationPlusCorrection);
      };
      if (const int bound = upperBound(); bound <= scoreToBeat) {
        if (const int stop = stopWith(0, 0, bound); stop >= 0) return stop;
      } else {
        // The closed outline bounds K more tightly.
        coverage.closeArea();
        if (const int closer = upperBound(); closer <= scoreToBeat) {
          if (const int stop = stopWith(0, 0, closer); stop >= 0) return stop;
        }
      }
    }
    const CoverageResult result = coverage.components();
    if (!ridgeMeasured) {
      if (maySettle) {
        if (const int low = lowerBound(result.j, result.k); low >= goal.settledFrom) return low;
      }
      // Without the ridge raise the score can only be higher.
      if (scoreToBeat >= 0) {
        const int bound = rescoredScore(singular.agreement, result.j, result.k, basePenalty, qualityExcess, g0,
                                        rotationPlusCorrection);
        if (bound <= scoreToBeat) {
          if (const int stop = stopWith(result.j, result.k, bound); stop >= 0) return stop;
        }
      }
      ridge = measureRidge();
    }
    return rescoredScore(singular.agreement, result.j, result.k, raisedPenalty(basePenalty, ridge, unmatched),
                         qualityExcess, g0, rotationPlusCorrection);
  }
  return penalisedScore(g0, rotation + correction);
}

}  // namespace fx60::match
