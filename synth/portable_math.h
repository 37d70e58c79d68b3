// Sine, cosine, arc tangent and exponential built from + - * / and sqrt only.
// IEEE arithmetic rounds those exactly the same on every machine, whereas the C
// library's functions may differ in the last bit between implementations; the
// generator's images must be the same bytes everywhere.
#pragma once

#include <algorithm>
#include <cmath>

namespace fx60::synth {

inline constexpr double kPi = 3.14159265358979323846;
inline constexpr double kTwoPi = 2 * kPi;
inline constexpr double kHalfPi = kPi / 2;

struct SineCosine {
  double sine;
  double cosine;
};

// Reduced to r in [-pi/4, pi/4] and a quarter turn; Taylor series to r^14, good
// to about 1e-14 for the angles used here (|x| below a few thousand).
inline SineCosine sineCosine(double x) {
  const double quarterTurns = std::floor(x / kHalfPi + 0.5);
  const double r = x - quarterTurns * kHalfPi;
  const double r2 = r * r;
  const double s =
      r * (1 + r2 * (-1.0 / 6 + r2 * (1.0 / 120 + r2 * (-1.0 / 5040 + r2 * (1.0 / 362880 +
           r2 * (-1.0 / 39916800 + r2 * (1.0 / 6227020800.0)))))));
  const double c =
      1 + r2 * (-1.0 / 2 + r2 * (1.0 / 24 + r2 * (-1.0 / 720 + r2 * (1.0 / 40320 + r2 * (-1.0 / 3628800 +
          r2 * (1.0 / 479001600 + r2 * (-1.0 / 87178291200.0)))))));
  long quadrant = static_cast<long>(std::fmod(quarterTurns, 4.0));
  if (quadrant < 0) quadrant += 4;
  switch (quadrant) {
    case 0: return {s, c};
    case 1: return {c, -s};
    case 2: return {-s, -c};
    default: return {-c, s};
  }
}

inline double sine(double x) { return sineCosine(x).sine; }
inline double cosine(double x) { return sineCosine(x).cosine; }

// e^x: x = k ln 2 + r with |r| <= ln 2 / 2, a Taylor series for e^r, then an exact
// scaling by 2^k.
inline double exponential(double x) {
  if (x < -700) return 0;
  if (x > 700) x = 700;
  constexpr double kLn2 = 0.69314718055994530942;
  const double k = std::floor(x / kLn2 + 0.5);
  const double r = x - k * kLn2;
  double term = 1, sum = 1;
  for (int n = 1; n <= 14; ++n) {
    term = term * r / n;
    sum += term;
  }
  return std::ldexp(sum, static_cast<int>(k));
}

// atan(t): folded into [0, 1], the angle halved twice (atan t = 2 atan(t / (1 +
// sqrt(1 + t^2)))) to at most pi/16, then the alternating series to t^19.
inline double arcTangent(double t) {
  const bool negative = t < 0;
  if (negative) t = -t;
  const bool inverted = t > 1;
  if (inverted) t = 1 / t;
  t = t / (1 + std::sqrt(1 + t * t));
  t = t / (1 + std::sqrt(1 + t * t));
  const double t2 = t * t;
  double sum = 0;
  for (int n = 19; n >= 1; n -= 2) sum = 1.0 / n - t2 * sum;
  double angle = 4 * t * sum;
  if (inverted) angle = kHalfPi - angle;
  return negative ? -angle : angle;
}

// The angle of (x, y) in (-pi, pi], as std::atan2.
inline double arcTangent2(double y, double x) {
  if (x > 0) return arcTangent(y / x);
  if (x < 0) return y >= 0 ? arcTangent(y / x) + kPi : arcTangent(y / x) - kPi;
  if (y > 0) return kHalfPi;
  if (y < 0) return -kHalfPi;
  return 0;
}

// A smooth ramp from 0 (t <= 0) to 1 (t >= 1): 3t^2 - 2t^3.
inline double smoothStep(double t) {
  t = std::clamp(t, 0.0, 1.0);
  return t * t * (3 - 2 * t);
}

}  // namespace fx60::synth
