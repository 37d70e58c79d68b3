// Weight tables of the alignment score. T, L and K are known only by a few anchor
// values; each is built here, in one place, by integer piecewise-linear interpolation
// between its anchors, so that it can be retuned on measured accuracy.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace fx60::match {

struct TableAnchor {
  int x;
  int value;
};

// Entry x between anchors (x0, a) and (x1, b): (a (x1 - x) + b (x - x0) + h) / (x1 - x0)
// with h = (x1 - x0) / 2. Anchors must be sorted, start at 0 and end at size - 1.
template <typename Value, std::size_t Size, std::size_t AnchorCount>
constexpr std::array<Value, Size> interpolateAnchors(const std::array<TableAnchor, AnchorCount>& anchors) {
  std::array<Value, Size> table{};
  for (std::size_t k = 0; k + 1 < AnchorCount; ++k) {
    const int x0 = anchors[k].x;
    const int x1 = anchors[k + 1].x;
    const int a = anchors[k].value;
    const int b = anchors[k + 1].value;
    const int span = x1 - x0;
    for (int x = x0; x <= x1; ++x) table[x] = static_cast<Value>((a * (x1 - x) + b * (x - x0) + span / 2) / span);
  }
  return table;
}

// Residual weight T by angular residual energy e (0..399); beyond, 469 - e.
inline constexpr std::array<TableAnchor, 15> ResidualWeightAnchors = {{
    {0, 255}, {1, 254}, {2, 253}, {3, 252}, {4, 250}, {5, 248}, {6, 246}, {7, 245},
    {8, 243}, {9, 241}, {100, 145}, {200, 116}, {300, 91}, {380, 69}, {399, 69},
}};
inline constexpr int kResidualWeightSize = 400;
inline constexpr auto ResidualWeight = interpolateAnchors<uint8_t, kResidualWeightSize>(ResidualWeightAnchors);

// Length-mismatch weight L by the scaled squared-length difference p (0..128).
inline constexpr std::array<TableAnchor, 14> LengthMismatchAnchors = {{
    {0, 255}, {1, 253}, {2, 252}, {3, 249}, {4, 248}, {120, 67}, {121, 66},
    {122, 64}, {123, 63}, {124, 61}, {125, 60}, {126, 58}, {127, 57}, {128, 56},
}};
inline constexpr int kLengthMismatchSize = 129;
inline constexpr auto LengthMismatchWeight = interpolateAnchors<uint8_t, kLengthMismatchSize>(LengthMismatchAnchors);

// Length scale K by pair length d (0..379).
inline constexpr std::array<TableAnchor, 8> LengthScaleAnchors = {{
    {0, 160}, {9, 160}, {54, 360}, {58, 360}, {134, 340}, {253, 1017}, {300, 2091}, {379, 4096},
}};
inline constexpr int kLengthScaleSize = 380;
inline constexpr auto LengthScale = interpolateAnchors<int16_t, kLengthScaleSize>(LengthScaleAnchors);

// Translation vote weight U by the angle agreement weight w of one pair end (8..20).
inline constexpr int kVoteWeightFirst = 8;
inline constexpr std::array<uint8_t, 13> VoteWeight = {19, 20, 21, 22, 24, 25, 27, 29, 31, 34, 39, 45, 64};

// The same for every byte, so that a pair end's weight byte indexes it directly.
inline constexpr std::array<uint8_t, 256> VoteByAngleWeight = [] {
  std::array<uint8_t, 256> table{};
  for (int w = 0; w < 256; ++w) {
    const int entry = w < kVoteWeightFirst ? 0 : w - kVoteWeightFirst;
    table[w] = VoteWeight[entry < static_cast<int>(VoteWeight.size()) ? entry : VoteWeight.size() - 1];
  }
  return table;
}();

}  // namespace fx60::match
