#include "match/affine.h"

#include <algorithm>
#include <cmath>

#include "match/angles.h"
#include "match/sqrt_tables.h"

namespace fx60::match {
namespace {

constexpr int kMinFitPairs = 3;
constexpr int kTrimFrom = 13;        // from this many pairs on, angle outliers are trimmed
constexpr int kMinKeptPairs = 12;
constexpr uint32_t kMaxAngleResidual = 2304;  // 9 angle steps, in 1/256 steps
constexpr int32_t kMinScale = 53248;          // 0.8125
constexpr int32_t kMaxScale = 80659;          // about 1.2308
constexpr int32_t kMaxShift = 13107200;       // 200 pixels
constexpr int64_t kAngleStep = 402;           // one byte-angle step in 1/16384 radian

int32_t applyRow(int64_t a, int64_t b, int64_t c, int64_t u, int64_t v) {
  return static_cast<int32_t>((a * u + b * v + c + 32768) >> 16);
}

// Inlined into the mapping loops, where the parameters stay in registers.
[[gnu::always_inline]] inline uint8_t mapAngle(const AffineParams& p, uint8_t angle) {
  const DirectionVector d = AngleDirectionTable[angle];
  const int dx = applyRow(p.ax, p.bx, 0, d.dx, d.dy);
  const int dy = applyRow(p.ay, p.by, 0, d.dx, d.dy);
  return byteAngleOf(dx, dy);
}

long double det3(long double a, long double b, long double c, long double d, long double e, long double f,
                 long double g, long double h, long double i) {
  return a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g);
}

// 65536 times the value, rounded to the nearest integer with ties to even.
int64_t toFixed(long double value) {
  const long double scaled = value * 65536.0L;
  if (!(scaled > -9.0e18L && scaled < 9.0e18L)) return scaled > 0 ? INT64_MAX : INT64_MIN;
  const long double lower = std::floor(scaled);
  const long double fraction = scaled - lower;
  int64_t rounded = static_cast<int64_t>(lower);
  if (fraction > 0.5L || (fraction == 0.5L && (rounded & 1) != 0)) ++rounded;
  return rounded;
}

}  // namespace

int affineRefine(MatchContext& ctx, CandidateAlignment& candidate) {
  candidate.affine = AffineParams{};
  int n = std::min(candidate.matchedCount, kMaxViewMinutiae);
  if (n < kMinFitPairs) {
    ctx.affine.pairsUsed = 0;
    return 0;
  }
  const MatchMinutia* minutiaeA = ctx.viewA.minutiae;
  MatchMinutia* minutiaeB = candidate.minutiae.data();
  std::array<uint32_t, kMaxViewMinutiae> pairs;
  std::copy_n(candidate.matchedPairs.begin(), n, pairs.begin());

  // Drop the pairs whose turn disagrees most with the trimmed mean turn.
  if (n >= kTrimFrom) {
    std::array<int, kMaxViewMinutiae> turn;
    int sum = 0;
    int largest = -128;
    int smallest = 127;
    for (int k = 0; k < n; ++k) {
      turn[k] = signedByte(minutiaeB[matchedPairB(pairs[k])].angle() - minutiaeA[matchedPairA(pairs[k])].angle());
      sum += turn[k];
      largest = std::max(largest, turn[k]);
      smallest = std::min(smallest, turn[k]);
    }
    const int64_t mean256 = (static_cast<int64_t>(sum - largest - smallest) * ReciprocalTable[n - 2]) >> 16;
    for (int k = 0; k < n; ++k) {
      const int64_t residual = std::min<int64_t>(std::abs(256 * turn[k] - mean256), 0xFFFF);
      pairs[k] = (pairs[k] & 0xFFFFu) | (static_cast<uint32_t>(residual) << 16);
    }
    std::sort(pairs.begin(), pairs.begin() + n);
    const int keep = std::max(kMinKeptPairs, n - n / 4);
    while (n > keep && matchedPairWeight(pairs[n - 1]) > kMaxAngleResidual) --n;
  }

  // Normal equations of the least-squares fit of A's coordinates from B's.
  int64_t sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
  int64_t sX = 0, sY = 0, sxX = 0, syX = 0, sxY = 0, syY = 0;
  for (int k = 0; k < n; ++k) {
    const MatchMinutia& b = minutiaeB[matchedPairB(pairs[k])];
    const MatchMinutia& a = minutiaeA[matchedPairA(pairs[k])];
    const int64_t x = b.x, y = b.y, X = a.x, Y = a.y;
    sx += x;
    sy += y;
    sxx += x * x;
    syy += y * y;
    sxy += x * y;
    sX += X;
    sY += Y;
    sxX += x * X;
    syX += y * X;
    sxY += x * Y;
    syY += y * Y;
  }
  ctx.affine.pairsUsed = n;
  ctx.affine.sumAX = static_cast<int32_t>(sX);
  ctx.affine.sumAY = static_cast<int32_t>(sY);
  ctx.affine.sumBX = static_cast<int32_t>(sx);
  ctx.affine.sumBY = static_cast<int32_t>(sy);

  const long double m11 = sxx, m12 = sxy, m13 = sx, m22 = syy, m23 = sy, m33 = n;
  const long double det = det3(m11, m12, m13, m12, m22, m23, m13, m23, m33);
  if (det == 0) return 0;
  const auto solve = [&](long double r1, long double r2, long double r3, int64_t out[3]) {
    out[0] = toFixed(det3(r1, m12, m13, r2, m22, m23, r3, m23, m33) / det);
    out[1] = toFixed(det3(m11, r1, m13, m12, r2, m23, m13, r3, m33) / det);
    out[2] = toFixed(det3(m11, m12, r1, m12, m22, r2, m13, m23, r3) / det);
  };
  int64_t fitX[3];
  int64_t fitY[3];
  solve(static_cast<long double>(sxX), static_cast<long double>(syX), static_cast<long double>(sX), fitX);
  solve(static_cast<long double>(sxY), static_cast<long double>(syY), static_cast<long double>(sY), fitY);

  // Implausible maps (scale far from 1, or a shift beyond 200 pixels) are rejected.
  const auto scaleOk = [](int64_t s) { return s >= kMinScale && s <= kMaxScale; };
  const auto shiftOk = [](int64_t s) { return s >= -kMaxShift && s <= kMaxShift; };
  if (!scaleOk(fitX[0]) || !scaleOk(fitY[1]) || !shiftOk(fitX[2]) || !shiftOk(fitY[2])) return 0;
  // The shear terms are bounded only by what a 32-bit parameter holds.
  const auto fits32 = [](int64_t s) { return s >= INT32_MIN && s <= INT32_MAX; };
  if (!fits32(fitX[1]) || !fits32(fitY[0])) return 0;

  AffineParams& p = candidate.affine;
  p = {static_cast<int32_t>(fitX[0]), static_cast<int32_t>(fitX[1]), static_cast<int32_t>(fitX[2]),
       static_cast<int32_t>(fitY[0]), static_cast<int32_t>(fitY[1]), static_cast<int32_t>(fitY[2])};

  // Rotation part of the map in 1/16384 radian, rounded to byte-angle steps.
  const int64_t t = ((static_cast<int64_t>(p.bx) - p.ay) * 16384) / (static_cast<int64_t>(p.ax) + p.by);
  const int64_t correction = t >= 0 ? (t + kAngleStep / 2) / kAngleStep : (t - kAngleStep / 2) / kAngleStep;

  // A local copy: the aligned minutiae written below live in the same object as the
  // parameters, which would otherwise be reloaded after every store.
  const AffineParams map = p;
  const int countB = std::clamp(candidate.count, 0, kMaxViewMinutiae);
  for (int k = 0; k < countB; ++k) {
    MatchMinutia& m = minutiaeB[k];
    const int x = m.x;
    const int y = m.y;
    m.x = applyRow(map.ax, map.bx, map.cx, x, y);
    m.y = applyRow(map.ay, map.by, map.cy, x, y);
    m.setAngle(mapAngle(map, m.angle()));
  }
  const int singularCount = std::clamp(candidate.singularCount, 0, kMaxSingularPoints);
  for (int k = 0; k < singularCount; ++k) {
    MatchSingularPoint& s = candidate.singularPoints[k];
    const int x = s.x;
    const int y = s.y;
    s.x = applyRow(map.ax, map.bx, map.cx, x, y);
    s.y = applyRow(map.ay, map.by, map.cy, x, y);
    s.angle = mapAngle(map, s.angle);
    if (s.type == 255) {
      s.angles[0] = mapAngle(map, s.angles[0]);
      s.angles[1] = mapAngle(map, s.angles[1]);
    }
  }
  return static_cast<int>(std::clamp<int64_t>(correction, -128, 127));
}

}  // namespace fx60::match
