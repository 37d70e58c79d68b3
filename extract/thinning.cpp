#include <array>
#include <cstring>

#include "extract/minutiae_stages.h"

namespace fx60::extract {
namespace {

constexpr int kMaxPasses = 6;

// Neighbourhood codes (bit set = white neighbour) whose centre pixel is peeled
// off in the first sub-iteration; the second uses the half-turned code.
constexpr std::array<uint8_t, 34> kDeletableCodes = {
    1,   3,   7,   15,  28,  30,  31,  39,  47,  60,  62,  64,  96,  112, 120, 124, 129,
    131, 135, 143, 156, 158, 167, 188, 192, 193, 195, 199, 224, 225, 227, 240, 241, 248};

constexpr std::array<uint8_t, 256> kThinningDeletionTable = [] {
  std::array<uint8_t, 256> table{};
  for (uint8_t code : kDeletableCodes) table[code] = 1;
  return table;
}();

constexpr int halfTurn(int code) { return ((code << 4) | (code >> 4)) & 0xFF; }

// Code from three row copies taken before this sub-iteration changed anything.
inline int codeFromRows(const uint8_t* above, const uint8_t* row, const uint8_t* below, int x) {
  return (above[x] != 0 ? 1 : 0) | (above[x + 1] != 0 ? 2 : 0) | (row[x + 1] != 0 ? 4 : 0) |
         (below[x + 1] != 0 ? 8 : 0) | (below[x] != 0 ? 16 : 0) | (below[x - 1] != 0 ? 32 : 0) |
         (row[x - 1] != 0 ? 64 : 0) | (above[x - 1] != 0 ? 128 : 0);
}

// One sub-iteration over rows 1..358, columns 1..254. Returns whether any pixel
// was deleted; rows that delete nothing are retired for later passes.
bool thinningSubIteration(uint8_t* image, bool turned, std::array<bool, kHeight>& rowActive) {
  std::array<uint8_t, kWidth> above{};
  std::array<uint8_t, kWidth> current{};
  std::memcpy(above.data(), image, kWidth);
  bool deletedAny = false;
  for (int y = 1; y <= kHeight - 2; ++y) {
    uint8_t* row = image + y * kWidth;
    std::memcpy(current.data(), row, kWidth);
    if (rowActive[y]) {
      const uint8_t* below = row + kWidth;  // not yet visited: still original
      bool deletedInRow = false;
      for (int x = 1; x <= kWidth - 2; ++x) {
        if (current[x] != 0) continue;
        int code = codeFromRows(above.data(), current.data(), below, x);
        if (turned) code = halfTurn(code);
        if (kThinningDeletionTable[code] != 0) {
          row[x] = 255;
          deletedInRow = true;
        }
      }
      if (!deletedInRow) rowActive[y] = false;
      deletedAny = deletedAny || deletedInRow;
    }
    above = current;
  }
  return deletedAny;
}

}  // namespace

void thinRidges(uint8_t* image) {
  std::array<bool, kHeight> activeA{};
  std::array<bool, kHeight> activeB{};
  activeA.fill(true);
  activeB.fill(true);
  for (int pass = 0; pass < kMaxPasses; ++pass) {
    const bool deletedA = thinningSubIteration(image, false, activeA);
    const bool deletedB = thinningSubIteration(image, true, activeB);
    if (!deletedA && !deletedB) break;
  }
}

}  // namespace fx60::extract
