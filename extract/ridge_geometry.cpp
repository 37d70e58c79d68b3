#include "extract/ridge_geometry.h"

#include <cstdlib>
#include <numbers>

namespace fx60::extract {
namespace {

// atan(x) for 0 <= x <= 1 by Euler's series, whose ratio x^2 / (1 + x^2) is
// at most 1/2 here, so 60 terms are far below the rounding margin.
constexpr double atanUnit(double x) {
  const double y = x * x / (1.0 + x * x);
  double term = x / (1.0 + x * x);
  double sum = term;
  for (int n = 1; n < 60; ++n) {
    term *= y * (2.0 * n) / (2.0 * n + 1.0);
    sum += term;
  }
  return sum;
}

constexpr double atan2Positive(int b, int a) {
  if (a == 0) return std::numbers::pi / 2;
  if (b <= a) return atanUnit(static_cast<double>(b) / a);
  return std::numbers::pi / 2 - atanUnit(static_cast<double>(a) / b);
}

constexpr AtanTable makeAtanTable(int halfTurn) {
  AtanTable table{};
  for (int a = 0; a < 128; ++a) {
    for (int b = 0; b < 128; ++b) {
      const double units = atan2Positive(b, a) * halfTurn / std::numbers::pi;
      table[a][b] = static_cast<uint8_t>(static_cast<int>(units + 0.5));
    }
  }
  table[0][0] = static_cast<uint8_t>(halfTurn / 2);
  return table;
}

constexpr AtanTable kAtan240Table = makeAtanTable(120);
constexpr AtanTable kAtan256Table = makeAtanTable(128);

int angleFromTable(int dx, int dy, const AtanTable& table, int turn) {
  int a = std::abs(dx);
  int b = std::abs(dy);
  const int m = a > b ? a : b;
  if (m >= 128) {
    a = (127 * a + m / 2) / m;
    b = (127 * b + m / 2) / m;
  }
  const int f = table[a][b];
  const int half = turn / 2;
  int result;
  if (dx > 0) {
    result = dy >= 0 ? f : turn - f;
  } else {
    result = dy > 0 ? half - f : half + f;
  }
  return result == turn ? 0 : result;
}

// First guesses for the square root: for each index range of n the guess is
// floor(sqrt) of the largest n sharing that index. Every bucket is narrower
// than the gap between consecutive squares there, so the guess is the root or
// one above it.
template <int Size, int Shift>
constexpr std::array<uint8_t, Size> makeRootGuesses() {
  std::array<uint8_t, Size> guesses{};
  for (int i = 0; i < Size; ++i) {
    const int largest = ((i + 1) << Shift) - 1;
    int k = 0;
    while ((k + 1) * (k + 1) <= largest) ++k;
    guesses[i] = static_cast<uint8_t>(k);
  }
  return guesses;
}

constexpr auto kRootGuess8 = makeRootGuesses<256, 0>();      // n < 256
constexpr auto kRootGuess10 = makeRootGuesses<64, 4>();      // n < 1024
constexpr auto kRootGuess12 = makeRootGuesses<128, 5>();     // n < 4096
constexpr auto kRootGuess14 = makeRootGuesses<256, 6>();     // n < 16384
constexpr auto kRootGuess16 = makeRootGuesses<512, 7>();     // n < 65536

}  // namespace

const AtanTable& atan240Table() { return kAtan240Table; }
const AtanTable& atan256Table() { return kAtan256Table; }

int angle240(int dx, int dy) { return angleFromTable(dx, dy, kAtan240Table, 240); }
int angle256(int dx, int dy) { return angleFromTable(dx, dy, kAtan256Table, 256); }

int isqrt(int n) {
  if (n < 0) return -1;
  if (n >= 65536) return 255;
  int k;
  if (n < 256) {
    k = kRootGuess8[n];
  } else if (n < 1024) {
    k = kRootGuess10[n >> 4];
  } else if (n < 4096) {
    k = kRootGuess12[n >> 5];
  } else if (n < 16384) {
    k = kRootGuess14[n >> 6];
  } else {
    k = kRootGuess16[n >> 7];
  }
  return n < kSquareTable[k] ? k - 1 : k;
}

void linePoints(int a0, int a1, int b0, int b1, LinePath& path) {
  path.count = 0;
  const int d0 = b0 - a0;
  const int d1 = b1 - a1;
  if (d0 == 0 && d1 == 0) return;
  const bool firstIsMajor = std::abs(d0) >= std::abs(d1);
  int major = firstIsMajor ? a0 : a1;
  int minor = firstIsMajor ? a1 : a0;
  const int majorEnd = firstIsMajor ? b0 : b1;
  const int majorDiff = firstIsMajor ? d0 : d1;
  const int minorDiff = firstIsMajor ? d1 : d0;
  const int majorStep = majorDiff > 0 ? 1 : -1;
  const int slope = 100 * minorDiff / std::abs(majorDiff);
  int error = 0;
  while (major != majorEnd && path.count < kMaxLinePoints) {
    LinePoint& point = path.points[path.count++];
    point.first = static_cast<int16_t>(firstIsMajor ? major : minor);
    point.second = static_cast<int16_t>(firstIsMajor ? minor : major);
    error += slope;
    if (error > 50) {
      error -= 100;
      ++minor;
    } else if (error <= -50) {
      error += 100;
      --minor;
    }
    major += majorStep;
  }
}

}  // namespace fx60::extract
