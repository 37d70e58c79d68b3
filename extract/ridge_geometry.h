// Integer geometry on the skeleton image: directions of vectors, square roots,
// digital lines, and the 8-neighbourhood code with its derived tables.
#pragma once

#include <array>
#include <cstdint>

#include "extract/grid.h"

namespace fx60::extract {

// Direction of (dx, dy), x right and y down, from +x towards +y:
// 0..239 in 1.5 degree steps, or 0..255 in 1/256 turns. A zero vector reads 180 / 192.
int angle240(int dx, int dy);
int angle256(int dx, int dy);

// Arctangent tables indexed [|dx|][|dy|], both 0..127: atan2(|dy|, |dx|) in
// 1/240 or 1/256 turns, rounded to nearest with halves up; [0][0] is 60 / 64.
using AtanTable = std::array<std::array<uint8_t, 128>, 128>;
const AtanTable& atan240Table();
const AtanTable& atan256Table();

// floor(sqrt(n)) for 0 <= n < 65536, 255 for larger n, -1 for negative n.
int isqrt(int n);

// k squared for k = 0..255.
inline constexpr std::array<uint16_t, 256> kSquareTable = [] {
  std::array<uint16_t, 256> squares{};
  for (int k = 0; k < 256; ++k) squares[k] = static_cast<uint16_t>(k * k);
  return squares;
}();

// A point of a digital line; the first coordinate is the major one on ties
// (callers pass rows first).
struct LinePoint {
  int16_t first = 0;
  int16_t second = 0;
};

// Longest possible line inside the image plus slack.
inline constexpr int kMaxLinePoints = 512;

struct LinePath {
  int count = 0;
  std::array<LinePoint, kMaxLinePoints> points{};
};

// Digital straight line from A towards B: A is included, B is not; empty when A = B.
void linePoints(int a0, int a1, int b0, int b1, LinePath& path);

// 8-neighbourhood code of a pixel: bit set when that neighbour is white
// (non-zero). Bits 0..7 = N, NE, E, SE, S, SW, W, NW. The pixel must not lie
// on the image border.
inline int neighbourCode(const uint8_t* image, int x, int y) {
  const uint8_t* p = image + y * kWidth + x;
  return (p[-kWidth] != 0 ? 1 : 0) | (p[-kWidth + 1] != 0 ? 2 : 0) | (p[1] != 0 ? 4 : 0) |
         (p[kWidth + 1] != 0 ? 8 : 0) | (p[kWidth] != 0 ? 16 : 0) | (p[kWidth - 1] != 0 ? 32 : 0) |
         (p[-1] != 0 ? 64 : 0) | (p[-kWidth - 1] != 0 ? 128 : 0);
}

// Neighbour offsets in code bit order.
inline constexpr std::array<int, 8> kNeighbourDx = {0, 1, 1, 1, 0, -1, -1, -1};
inline constexpr std::array<int, 8> kNeighbourDy = {-1, -1, 0, 1, 1, 1, 0, -1};

// Number of separate runs of ridge neighbours around the pixel: 1 = line end,
// 2 = line middle, 3 = fork, 4 = crossing; 0 for codes 0 and 255.
inline constexpr std::array<uint8_t, 256> kNeighbourClass = [] {
  std::array<uint8_t, 256> classes{};
  for (int code = 1; code < 255; ++code) {
    int runs = 0;
    for (int bit = 0; bit < 8; ++bit) {
      const bool ridge = ((code >> bit) & 1) == 0;
      const bool previousRidge = ((code >> ((bit + 7) & 7)) & 1) == 0;
      if (ridge && !previousRidge) ++runs;
    }
    classes[code] = static_cast<uint8_t>(runs);
  }
  return classes;
}();

struct Step {
  int8_t dx = 0;
  int8_t dy = 0;
};

// Step to the first ridge neighbour in the order N, E, S, W, NE, SE, SW, NW;
// no step when every neighbour is white.
inline constexpr std::array<Step, 256> kRidgeStep = [] {
  constexpr std::array<int, 8> order = {0, 2, 4, 6, 1, 3, 5, 7};
  std::array<Step, 256> steps{};
  for (int code = 0; code < 256; ++code) {
    for (int bit : order) {
      if (((code >> bit) & 1) == 0) {
        steps[code] = Step{static_cast<int8_t>(kNeighbourDx[bit]),
                           static_cast<int8_t>(kNeighbourDy[bit])};
        break;
      }
    }
  }
  return steps;
}();

// Angular difference of two directions of a full turn of `turn` units, folded
// into 0..turn/2.
constexpr int angleDifference(int a, int b, int turn) {
  const int d = a > b ? a - b : b - a;
  return d > turn / 2 ? turn - d : d;
}

}  // namespace fx60::extract
