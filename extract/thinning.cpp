#include <array>
#include <bit>
#include <cstring>

#include "extract/minutiae_stages.h"
#include "extract/ridge_kernels.h"

namespace fx60::extract {
namespace {

constexpr int kMaxPasses = 6;

// Neighbourhood codes (bit set = white neighbour; bits N, NE, E, SE, S, SW, W,
// NW) whose centre pixel is peeled off in the first sub-iteration; the second
// uses the half-turned code.
constexpr std::array<uint8_t, 34> kDeletableCodes = {
    1,   3,   7,   15,  28,  30,  31,  39,  47,  60,  62,  64,  96,  112, 120, 124, 129,
    131, 135, 143, 156, 158, 167, 188, 192, 193, 195, 199, 224, 225, 227, 240, 241, 248};

// Ridge pixels as bits, 64 to a word, bit x % 64 of word x / 64.
constexpr int kWords = kWidth / 64;
using RowBits = std::array<uint64_t, kWords>;

// Columns 1..254 are thinned; the border columns stay as they are.
constexpr RowBits kThinnedColumns = [] {
  RowBits mask{};
  mask.fill(~uint64_t{0});
  mask[0] &= ~uint64_t{1};
  mask[kWords - 1] &= ~(uint64_t{1} << 63);
  return mask;
}();

// Value of the pixel one to the east (x + 1) at bit x.
inline uint64_t fromEast(const RowBits& row, int w) {
  return (row[w] >> 1) | (w + 1 < kWords ? row[w + 1] << 63 : 0);
}
// Value of the pixel one to the west (x - 1) at bit x.
inline uint64_t fromWest(const RowBits& row, int w) {
  return (row[w] << 1) | (w > 0 ? row[w - 1] >> 63 : 0);
}

// The deletion table as a boolean function of the white-neighbour masks,
// evaluated on 64 pixels at once (a minimal sum of products of the 34 codes).
constexpr uint64_t deletableCodes(const std::array<uint64_t, 8>& white) {
  const uint64_t n = white[0], ne = white[1], e = white[2], se = white[3];
  const uint64_t s = white[4], sw = white[5], w = white[6], nw = white[7];
  const uint64_t northEast = e & n & ne;
  const uint64_t southEast = e & s & se;
  uint64_t result = northEast & ~s & ~w & (~nw | ~se | ~sw);
  result |= southEast & ~n & ~w & (~ne | ~nw | ~sw);
  result |= northEast & se & ~nw & ~sw & ~w;
  result |= southEast & sw & ~n & ~ne & ~nw;
  result |= n & ne & nw & ~s & ~se & ~sw;
  result |= n & nw & w & ~e & ~s & ~se;
  result |= nw & sw & w & ~e & ~ne & ~se;
  result |= s & sw & w & ~e & ~n & ~ne;
  result |= n & ~e & ~s & ~se & ~sw & ~w;
  result |= w & ~e & ~n & ~ne & ~s & ~se;
  return result;
}

// The boolean form deletes exactly the listed codes.
constexpr bool matchesDeletableCodes() {
  for (int code = 0; code < 256; ++code) {
    std::array<uint64_t, 8> white{};
    for (int bit = 0; bit < 8; ++bit) white[bit] = (code >> bit) & 1 ? ~uint64_t{0} : 0;
    bool listed = false;
    for (uint8_t deletable : kDeletableCodes) listed = listed || deletable == code;
    if ((deletableCodes(white) != 0) != listed) return false;
  }
  return true;
}
static_assert(matchesDeletableCodes());

// One sub-iteration over rows 1..358 and columns 1..254, reading only the
// values from before it. Returns whether any pixel was deleted; rows that
// delete nothing are retired for later passes.
bool thinningSubIteration(std::array<RowBits, kHeight>& ridge, bool turned,
                          std::array<bool, kHeight>& rowActive) {
  bool deletedAny = false;
  RowBits above = ridge[0];
  for (int y = 1; y <= kHeight - 2; ++y) {
    const RowBits current = ridge[y];
    if (rowActive[y]) {
      const RowBits& below = ridge[y + 1];  // not yet visited: still original
      bool deletedInRow = false;
      for (int w = 0; w < kWords; ++w) {
        const uint64_t centre = current[w] & kThinnedColumns[w];
        if (centre == 0) continue;
        // White neighbours in code bit order N, NE, E, SE, S, SW, W, NW.
        std::array<uint64_t, 8> white = {~above[w],          ~fromEast(above, w),
                                         ~fromEast(current, w), ~fromEast(below, w),
                                         ~below[w],          ~fromWest(below, w),
                                         ~fromWest(current, w), ~fromWest(above, w)};
        if ((centre & (white[0] | white[1] | white[2] | white[3] | white[4] | white[5] |
                       white[6] | white[7])) == 0)
          continue;  // no boundary pixel in this word
        if (turned) {
          for (int i = 0; i < 4; ++i) std::swap(white[i], white[i + 4]);
        }
        const uint64_t deleted = centre & deletableCodes(white);
        if (deleted != 0) {
          ridge[y][w] &= ~deleted;
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
  std::array<RowBits, kHeight> ridge{};
  for (int y = 0; y < kHeight; ++y) {
    const uint8_t* row = image + y * kWidth;
    for (int w = 0; w < kWords; ++w) ridge[y][w] = ridge_kernels::fast::ridgeBits(row + 64 * w);
  }
  const std::array<RowBits, kHeight> original = ridge;

  std::array<bool, kHeight> activeA{};
  std::array<bool, kHeight> activeB{};
  activeA.fill(true);
  activeB.fill(true);
  for (int pass = 0; pass < kMaxPasses; ++pass) {
    const bool deletedA = thinningSubIteration(ridge, false, activeA);
    const bool deletedB = thinningSubIteration(ridge, true, activeB);
    if (!deletedA && !deletedB) break;
  }

  for (int y = 1; y <= kHeight - 2; ++y) {
    uint8_t* row = image + y * kWidth;
    for (int w = 0; w < kWords; ++w) {
      uint64_t deleted = original[y][w] & ~ridge[y][w];
      while (deleted != 0) {
        row[64 * w + std::countr_zero(deleted)] = 255;
        deleted &= deleted - 1;
      }
    }
  }
}

}  // namespace fx60::extract
