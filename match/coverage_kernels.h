// Row kernels of the coverage analysis, each in a plain form and, where the target has
// SSE2, a vector form that gives the same result. The analysis calls `fast::`, the best
// form this build has; the tests hold the forms against each other on the same input.
//
// The kernels that read a group of cells may read up to fifteen cells past the range
// they are asked about (the grids keep spare cells for that); they never change them.
#pragma once

#include <algorithm>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "match/coverage.h"

namespace fx60::match::coverage_kernels {

// Painted area cells reach this and no further.
inline constexpr uint16_t kFillCeiling = 0x80FE;

// One bit per cell of sixteen: balance - against at 0x8000 or above (positive), and
// below 0x7FFF (negative), both modulo 2^16.
struct BalanceBits {
  uint32_t positive;
  uint32_t negative;
};

namespace plain {

// row[0..n) = value.
inline void fillCells(uint16_t* row, int n, uint16_t value) { std::fill_n(row, n, value); }

// Of `rows` rows `stride` cells apart: balance[0..n) = kBalanced, against[0..n) = 0.
// (The vector form may set up to seven cells past n as well.)
inline void clearBalanceRows(uint16_t* balance, uint16_t* against, int stride, int rows, int n) {
  for (int r = 0; r < rows; ++r, balance += stride, against += stride) {
    std::fill_n(balance, n, kBalanced);
    std::fill_n(against, n, uint16_t{0});
  }
}

inline BalanceBits balanceBits(const uint16_t* balance, const uint16_t* against) {
  BalanceBits bits{0, 0};
  for (int k = 0; k < 16; ++k) {
    const auto diff = static_cast<uint16_t>(balance[k] - against[k]);
    bits.positive |= uint32_t{diff >= 0x8000} << k;
    bits.negative |= uint32_t{diff < kBalanced} << k;
  }
  return bits;
}

// One bit per cell of eight below 0x7FFF.
inline unsigned belowBalancedBits(const uint16_t* cells) {
  unsigned bits = 0;
  for (int k = 0; k < 8; ++k) bits |= unsigned{cells[k] < kBalanced} << k;
  return bits;
}

// One bit per cell of eight whose high byte marks it (0x80).
inline unsigned markedBits(const uint16_t* cells) {
  unsigned bits = 0;
  for (int k = 0; k < 8; ++k) bits |= unsigned{(cells[k] >> 8) == kMarkedByte} << k;
  return bits;
}

// Cells row[first..last] become min(cell, 0x80FE) + 1.
inline void fillRow(uint16_t* row, int first, int last) {
  for (int c = first; c <= last; ++c) row[c] = static_cast<uint16_t>(std::min(row[c], kFillCeiling) + 1);
}

}  // namespace plain

#if defined(__SSE2__)
namespace sse2 {

inline __m128i loadCells(const uint16_t* cells) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(cells)); }
inline void storeCells(uint16_t* cells, __m128i value) { _mm_storeu_si128(reinterpret_cast<__m128i*>(cells), value); }

// All-ones in the first n of the eight lanes.
inline __m128i firstLanes(int n) {
  return _mm_cmplt_epi16(_mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7), _mm_set1_epi16(static_cast<int16_t>(n)));
}

// One bit per lane that is all-ones.
inline unsigned laneBits(__m128i lanes) {
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(lanes, _mm_setzero_si128())) & 0xFF);
}

// Lanes below 0x7FFF, as unsigned values.
inline __m128i belowBalanced(__m128i cells) {
  return _mm_cmplt_epi16(_mm_xor_si128(cells, _mm_set1_epi16(INT16_MIN)), _mm_set1_epi16(-1));
}

// Whole groups; the last one ends on the last cell and may overlap its neighbour.
inline void fillCells(uint16_t* row, int n, uint16_t value) {
  if (n < 8) {
    plain::fillCells(row, n, value);
    return;
  }
  const __m128i fill = _mm_set1_epi16(static_cast<int16_t>(value));
  for (int c = 0; c < n - 8; c += 8) storeCells(row + c, fill);
  storeCells(row + n - 8, fill);
}

// Whole groups of eight, the last one reaching past n.
inline void clearBalanceRows(uint16_t* balance, uint16_t* against, int stride, int rows, int n) {
  const __m128i balanced = _mm_set1_epi16(static_cast<int16_t>(kBalanced));
  for (int r = 0; r < rows; ++r, balance += stride, against += stride) {
    for (int c = 0; c < n; c += 8) {
      storeCells(balance + c, balanced);
      storeCells(against + c, _mm_setzero_si128());
    }
  }
}

inline BalanceBits balanceBits(const uint16_t* balance, const uint16_t* against) {
  const __m128i low = _mm_sub_epi16(loadCells(balance), loadCells(against));
  const __m128i high = _mm_sub_epi16(loadCells(balance + 8), loadCells(against + 8));
  // Saturating packs keep the sign: a cell at 0x8000 or above becomes a negative byte.
  return {static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(low, high))),
          static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(belowBalanced(low), belowBalanced(high))))};
}

inline unsigned belowBalancedBits(const uint16_t* cells) { return laneBits(belowBalanced(loadCells(cells))); }

inline unsigned markedBits(const uint16_t* cells) {
  const __m128i high = _mm_and_si128(loadCells(cells), _mm_set1_epi16(static_cast<int16_t>(0xFF00)));
  return laneBits(_mm_cmpeq_epi16(high, _mm_set1_epi16(static_cast<int16_t>(kMarkedByte << 8))));
}

inline void fillRow(uint16_t* row, int first, int last) {
  const auto filled = [](__m128i old) {
    // Unsigned minimum with the ceiling: old - max(old - ceiling, 0).
    const __m128i ceiling = _mm_set1_epi16(static_cast<int16_t>(kFillCeiling));
    return _mm_add_epi16(_mm_sub_epi16(old, _mm_subs_epu16(old, ceiling)), _mm_set1_epi16(1));
  };
  int c = first;
  for (; c + 8 <= last + 1; c += 8) storeCells(row + c, filled(loadCells(row + c)));
  if (c <= last) {
    const __m128i keep = firstLanes(last - c + 1);
    const __m128i old = loadCells(row + c);
    storeCells(row + c, _mm_or_si128(_mm_and_si128(keep, filled(old)), _mm_andnot_si128(keep, old)));
  }
}

}  // namespace sse2

namespace fast = sse2;
#else
namespace fast = plain;
#endif

}  // namespace fx60::match::coverage_kernels
