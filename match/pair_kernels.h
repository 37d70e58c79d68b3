// Kernels of the pair correspondence search and of its half-turn memo, each in a plain
// form and, where the target has SSE2, a vector form that gives the same result. The
// matcher calls `fast::`, the best form this build has; the tests hold the forms
// against each other on the same input.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "match/match_context.h"

namespace fx60::match::pair_kernels {

// Records scanned at a time by blockHits.
inline constexpr int kScanBlock = 16;

// blockHits: records of a block of sixteen whose end angles agree with the probe: both
// end residuals (candidate minus probe, modulo 256) of one orientation lie in 0..24.
// Bit 2k is record k straight, bit 2k + 1 record k crossed: taking the bits in order
// takes the correspondences in window order, straight before crossed within a record.
//
// HalfTurnedMatches: a correspondence as made by the half-turned side B: its minutia
// numbers run backwards (b becomes last - b) and its pair direction turns by half a
// turn; the pair reference keeps its inner index and takes the given outer index, or
// keeps both.

namespace plain {

inline uint32_t blockHits(const uint8_t* endI, const uint8_t* endJ, uint8_t probeI, uint8_t probeJ) {
  const auto agree = [](int candidate, int probe) { return ((candidate - probe) & 0xFF) <= 24; };
  uint32_t hits = 0;
  for (int k = 0; k < kScanBlock; ++k) {
    if (agree(endI[k], probeI) && agree(endJ[k], probeJ)) hits |= 1u << (2 * k);
    if (agree(endI[k], probeJ) && agree(endJ[k], probeI)) hits |= 2u << (2 * k);
  }
  return hits;
}

class HalfTurnedMatches {
 public:
  static constexpr bool kKeepOuterIndex = true;
  explicit HalfTurnedMatches(int lastMinutia, bool keepsOuterIndex = false)
      : last_(lastMinutia), keep_(keepsOuterIndex ? 0xFFFFFFFFu : 0xFFFFFu) {}
  void setOuterIndex(int outerIndex) { outerRef_ = static_cast<uint32_t>(outerIndex) << 20; }
  void write(PairMatch m, PairMatch& to) const {
    m.bForAi = static_cast<uint8_t>(last_ - m.bForAi);
    m.bForAj = static_cast<uint8_t>(last_ - m.bForAj);
    m.dirB = static_cast<uint8_t>(m.dirB + 128);
    m.pairRef = outerRef_ | (m.pairRef & keep_);
    to = m;
  }

 private:
  int last_;
  uint32_t keep_;
  uint32_t outerRef_ = 0;
};

}  // namespace plain

#if defined(__SSE2__)
namespace sse2 {

inline uint32_t blockHits(const uint8_t* endI, const uint8_t* endJ, uint8_t probeI, uint8_t probeJ) {
  const __m128i candidatesI = _mm_loadu_si128(reinterpret_cast<const __m128i*>(endI));
  const __m128i candidatesJ = _mm_loadu_si128(reinterpret_cast<const __m128i*>(endJ));
  const __m128i i = _mm_set1_epi8(static_cast<char>(probeI));
  const __m128i j = _mm_set1_epi8(static_cast<char>(probeJ));
  const __m128i limit = _mm_set1_epi8(24);
  const __m128i straightWorst = _mm_max_epu8(_mm_sub_epi8(candidatesI, i), _mm_sub_epi8(candidatesJ, j));
  const __m128i crossedWorst = _mm_max_epu8(_mm_sub_epi8(candidatesI, j), _mm_sub_epi8(candidatesJ, i));
  // Most blocks hold no hit at all: one test for both orientations first (a residual
  // within the limit leaves nothing after subtracting the limit with saturation).
  const __m128i best = _mm_min_epu8(straightWorst, crossedWorst);
  if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_subs_epu8(best, limit), _mm_setzero_si128())) == 0) return 0;
  const __m128i straight = _mm_cmpeq_epi8(_mm_subs_epu8(straightWorst, limit), _mm_setzero_si128());
  const __m128i crossed = _mm_cmpeq_epi8(_mm_subs_epu8(crossedWorst, limit), _mm_setzero_si128());
  const auto low = static_cast<uint32_t>(_mm_movemask_epi8(_mm_unpacklo_epi8(straight, crossed)));
  const auto high = static_cast<uint32_t>(_mm_movemask_epi8(_mm_unpackhi_epi8(straight, crossed)));
  return low | (high << 16);
}

class HalfTurnedMatches {
 public:
  static constexpr bool kKeepOuterIndex = true;
  explicit HalfTurnedMatches(int lastMinutia, bool keepsOuterIndex = false) {
    static_assert(offsetof(PairMatch, bForAi) == 0 && offsetof(PairMatch, bForAj) == 1);
    static_assert(offsetof(PairMatch, dirB) == 3 && offsetof(PairMatch, pairRef) == 12);
    // last - b is (b xor 0xFF) + last + 1 in a byte; adding half a turn flips the top bit.
    const auto next = static_cast<char>(lastMinutia + 1);
    flip_ = _mm_setr_epi8(-1, -1, 0, -128, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    offset_ = _mm_setr_epi8(next, next, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    keep_ = _mm_setr_epi32(-1, -1, -1, keepsOuterIndex ? -1 : 0xFFFFF);
  }
  void setOuterIndex(int outerIndex) {
    outerRef_ = _mm_setr_epi32(0, 0, 0, static_cast<int>(static_cast<uint32_t>(outerIndex) << 20));
  }
  void write(const PairMatch& from, PairMatch& to) const {
    __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&from));
    m = _mm_add_epi8(_mm_xor_si128(m, flip_), offset_);
    m = _mm_or_si128(_mm_and_si128(m, keep_), outerRef_);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&to), m);
  }

 private:
  __m128i flip_;
  __m128i offset_;
  __m128i keep_;
  __m128i outerRef_ = _mm_setzero_si128();
};

}  // namespace sse2
namespace fast = sse2;
#else
namespace fast = plain;
#endif

}  // namespace fx60::match::pair_kernels
