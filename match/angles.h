// Byte angles (a full turn is 256 steps) and the integer trigonometry tables the
// matcher uses. Every table is computed at compile time.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstdlib>

namespace fx60::match {

// A difference of byte angles read as -128..127.
constexpr int signedByte(int value) { return static_cast<int8_t>(static_cast<uint8_t>(value)); }

namespace detail {

inline constexpr long double kPi = 3.141592653589793238462643383279502884L;

// Sine by its Taylor series after reducing the argument to [-pi, pi].
constexpr long double sineOf(long double x) {
  while (x > kPi) x -= 2 * kPi;
  while (x < -kPi) x += 2 * kPi;
  long double term = x;
  long double sum = x;
  for (int n = 1; n < 40; ++n) {
    term *= -x * x / ((2 * n) * (2 * n + 1));
    sum += term;
  }
  return sum;
}

// Arctangent of a non-negative ratio: the series converges quickly after halving the
// angle twice (atan t = 2 atan(t / (1 + sqrt(1 + t^2)))).
constexpr long double sqrtOf(long double v) {
  if (v <= 0) return 0;
  long double r = v > 1 ? v : 1;
  for (int k = 0; k < 100; ++k) r = (r + v / r) / 2;
  return r;
}

constexpr long double arctanOf(long double t) {
  int halvings = 0;
  while (t > 0.25L) {
    t = t / (1 + sqrtOf(1 + t * t));
    ++halvings;
  }
  long double term = t;
  long double sum = t;
  for (int n = 1; n < 60; ++n) {
    term *= -t * t;
    sum += term / (2 * n + 1);
  }
  return sum * static_cast<long double>(1 << halvings);
}

// atan2 for a >= 0, b >= 0 (quadrant I), in radians.
constexpr long double arctan2Positive(long double a, long double b) {
  if (b == 0) return a == 0 ? 0 : kPi / 2;
  if (a <= b) return arctanOf(a / b);
  return kPi / 2 - arctanOf(b / a);
}

constexpr int roundHalfAway(long double v) {
  return v >= 0 ? static_cast<int>(v + 0.5L) : -static_cast<int>(-v + 0.5L);
}

}  // namespace detail

// SineTable[i] = round(16384 sin(2 pi i / 256)); the cosine of i is SineTable[(i + 64) & 255].
inline constexpr std::array<int16_t, 256> SineTable = [] {
  std::array<int16_t, 256> table{};
  for (int i = 0; i < 256; ++i)
    table[i] = static_cast<int16_t>(detail::roundHalfAway(16384 * detail::sineOf(2 * detail::kPi * i / 256)));
  return table;
}();

constexpr int sineOfByte(int angle) { return SineTable[angle & 0xFF]; }
constexpr int cosineOfByte(int angle) { return SineTable[(angle + 64) & 0xFF]; }

// Template degrees (anticlockwise from +x) to byte angles; 360..511 map to 0.
inline constexpr std::array<uint8_t, 512> DegreeToByteAngle = [] {
  std::array<uint8_t, 512> table{};
  for (int r = 0; r < 360; ++r) {
    // round(r * 256 / 360); never a tie for whole degrees.
    const int steps = (512 * r + 360) / 720;
    table[r] = static_cast<uint8_t>((128 + steps) & 0xFF);
  }
  return table;
}();

// ArctanTable[a][b] = round(atan2(a, b) * 128 / pi) for 0 <= a, b <= 63; [0][0] = 64.
inline constexpr std::array<std::array<uint8_t, 64>, 64> ArctanTable = [] {
  std::array<std::array<uint8_t, 64>, 64> table{};
  for (int a = 0; a < 64; ++a)
    for (int b = 0; b < 64; ++b)
      table[a][b] = static_cast<uint8_t>(
          detail::roundHalfAway(detail::arctan2Positive(a, b) * 128 / detail::kPi));
  table[0][0] = 64;
  return table;
}();

// Byte angle of the vector (dx, dy) in image coordinates: -x is 0, +y is 64, +x is 128,
// -y is 192. Long vectors are halved until both components fit the table: as many
// halvings as the larger component has bits beyond six.
constexpr uint8_t byteAngleOf(int dx, int dy) {
  unsigned ax = dx < 0 ? 0u - static_cast<unsigned>(dx) : static_cast<unsigned>(dx);
  unsigned ay = dy < 0 ? 0u - static_cast<unsigned>(dy) : static_cast<unsigned>(dy);
  if ((ax | ay) >= 64) {
    const int halvings = std::bit_width(ax | ay) - 6;
    ax >>= halvings;
    ay >>= halvings;
  }
  const int t = ArctanTable[ay][ax];
  int angle;
  if (dy >= 0)
    angle = dx <= 0 ? t : 128 - t;
  else
    angle = dx <= 0 ? -t : t + 128;
  return static_cast<uint8_t>(angle & 0xFF);
}

}  // namespace fx60::match
