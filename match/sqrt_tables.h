// Integer square roots and reciprocals shared by the matching stages, computed at
// compile time.
#pragma once

#include <array>
#include <cstdint>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace fx60::match {

inline constexpr int kCeilSqrtTableSize = 1226;  // 0..1225 = 35^2

// CeilSqrtTable[k] = ceil(sqrt(k)).
inline constexpr std::array<uint8_t, kCeilSqrtTableSize> CeilSqrtTable = [] {
  std::array<uint8_t, kCeilSqrtTableSize> table{};
  int root = 0;
  for (int k = 0; k < kCeilSqrtTableSize; ++k) {
    while (root * root < k) ++root;
    table[k] = static_cast<uint8_t>(root);
  }
  return table;
}();

// ceil(sqrt(d2)) from the table below 1226, else twice the root of d2 / 4
// (meant for d2 below 4096; larger values are clamped to the table's reach).
constexpr int ceilSqrt(uint32_t d2) {
  if (d2 < kCeilSqrtTableSize) return CeilSqrtTable[d2];
  uint32_t quarter = d2 / 4;
  if (quarter >= kCeilSqrtTableSize) quarter = kCeilSqrtTableSize - 1;
  return 2 * CeilSqrtTable[quarter];
}

// Exact ceil(sqrt(d2)) for any 32-bit value. At run time the double square root is
// correctly rounded, and no root of a 32-bit integer lies within rounding distance below
// the next integer, so truncating it gives the floor exactly (checked for every value).
constexpr int ceilSqrtExact(uint32_t d2) {
  if (std::is_constant_evaluated()) {
    if (d2 < kCeilSqrtTableSize) return CeilSqrtTable[d2];
    uint64_t root = 35;
    while (root * root < d2) ++root;
    return static_cast<int>(root);
  }
#if defined(__SSE2__) && defined(__x86_64__)  // the 64-bit conversions exist on x86-64 only
  const __m128d value = _mm_cvtsi64_sd(_mm_setzero_pd(), static_cast<int64_t>(d2));
  const auto floorRoot = static_cast<uint32_t>(_mm_cvttsd_si64(_mm_sqrt_sd(value, value)));
#else
  const auto floorRoot = static_cast<uint32_t>(__builtin_sqrt(static_cast<double>(d2)));
#endif
  return static_cast<int>(floorRoot + (static_cast<uint64_t>(floorRoot) * floorRoot < d2 ? 1u : 0u));
}

inline constexpr int kReciprocalTableSize = 2049;  // R[1..2048]; R[0] unused

// ReciprocalTable[i] is about 2^24 / i: (floor(2^20 / i) + 1) * 16 below 256,
// floor(2^24 / i) + 1 from 256 to 2048.
inline constexpr std::array<uint32_t, kReciprocalTableSize> ReciprocalTable = [] {
  std::array<uint32_t, kReciprocalTableSize> table{};
  for (uint32_t i = 1; i < kReciprocalTableSize; ++i)
    table[i] = i < 256 ? (1048576u / i + 1) * 16 : 16777216u / i + 1;
  return table;
}();

}  // namespace fx60::match
