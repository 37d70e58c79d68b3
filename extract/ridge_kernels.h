// Kernels of the ridge stages (smoothing along the ridges, the ridge period and the
// enhancement filter), each in a plain form and, where the target has SSE2, a vector
// form that gives the same result. The stages call `fast::`, the best form this build
// has; the tests hold the forms against each other on the same input.
//
// - smoothInteriorBlocks: the cells r, c .. c + cells - 1, whose samples all lie inside
//   the image, smoothed with one kernel eight pixels of a row at a time. Bytes past the
//   run may be written as long as they stay in the row.
// - enhanceInteriorBlocks: the same cells through one enhancement kernel, the result
//   clamped to 0..255 around 127.
// - profileSigns: the signs of the derivative 3 (v[i+4] - v[i]) + 5 (v[i+3] - v[i+1])
//   along the 25 samples v of a ridge profile through a cell centre.
// - ridgeBits: the ridge pixels (value 0) of 64 pixels of a binary image as bits, for
//   the thinning.
#pragma once

#include <array>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "extract/block_row_ring.h"
#include "extract/grid.h"
#include "extract/ridge_enhancement.h"

namespace fx60::extract::ridge_kernels {

// A smoothing kernel in interior form: index offsets and weights of the tap pairs,
// padded to 7 pairs with zero weights so that the inner loop has a fixed length.
struct InteriorKernel {
  int centreWeight;
  std::array<int, 7> offsets;
  std::array<int, 7> weights;
};

// Added to every enhancement sum: a flat area comes out as 127.
inline constexpr int kOutputBias = 32512;  // 127 x 256

inline constexpr int kProfileRadius = 12;  // samples on either side of the centre
inline constexpr int kProfileLength = 2 * kProfileRadius + 1;
inline constexpr int kDerivativeLength = kProfileLength - 4;  // 21

// Bit i set where the derivative at position i is above (positive) or below (negative) 0.
struct ProfileSigns {
  uint32_t positive;
  uint32_t negative;
};

// The sample of profile position i (0..24): the centre at 12, the offsets (of the
// orientation) on either side.
inline int profileSample(const uint8_t* centre, const int16_t* offsets, int i) {
  if (i == kProfileRadius) return centre[0];
  if (i > kProfileRadius) return centre[offsets[i - kProfileRadius - 1]];
  return centre[-offsets[kProfileRadius - i - 1]];
}

namespace plain {

void smoothInteriorBlocks(const uint8_t* image, const InteriorKernel& k, int r, int c, int cells, BlockRow& out);
void enhanceInteriorBlocks(const uint8_t* image, const EnhancementKernel& k, const std::array<int, 5>& offsets, int r,
                           int c, int cells, BlockRow& out);

inline ProfileSigns profileSigns(const uint8_t* centre, const int16_t* offsets) {
  int v[kProfileLength];
  for (int i = 0; i < kProfileLength; ++i) v[i] = profileSample(centre, offsets, i);
  ProfileSigns signs{0, 0};
  for (int i = 0; i < kDerivativeLength; ++i) {
    const int d = 3 * (v[i + 4] - v[i]) + 5 * (v[i + 3] - v[i + 1]);
    signs.positive |= static_cast<uint32_t>(d > 0) << i;
    signs.negative |= static_cast<uint32_t>(d < 0) << i;
  }
  return signs;
}

inline uint64_t ridgeBits(const uint8_t* pixels) {
  uint64_t bits = 0;
  for (int b = 0; b < 64; ++b) bits |= static_cast<uint64_t>(pixels[b] == 0) << b;
  return bits;
}

}  // namespace plain

#if defined(__SSE2__)
namespace sse2 {

void smoothInteriorBlocks(const uint8_t* image, const InteriorKernel& k, int r, int c, int cells, BlockRow& out);
void enhanceInteriorBlocks(const uint8_t* image, const EnhancementKernel& k, const std::array<int, 5>& offsets, int r,
                           int c, int cells, BlockRow& out);

// The derivative stays within +-2040, so 16-bit lanes suffice: eight positions at a
// time over the samples padded with zeros to 32; the positions past the last are
// masked off.
inline ProfileSigns profileSigns(const uint8_t* centre, const int16_t* offsets) {
  const __m128i three = _mm_set1_epi16(3), five = _mm_set1_epi16(5), zeros = _mm_setzero_si128();
  // The samples are packed four to a word in general registers and moved into
  // vectors from there: storing them one by one and loading eight at a time
  // would stall on every load.
  uint64_t words[8] = {};
#pragma GCC unroll 25
  for (int i = 0; i < kProfileLength; ++i)
    words[i / 4] |= static_cast<uint64_t>(profileSample(centre, offsets, i)) << (16 * (i % 4));
  __m128i samples[4];
  for (int k = 0; k < 4; ++k)
    samples[k] = _mm_set_epi64x(static_cast<long long>(words[2 * k + 1]), static_cast<long long>(words[2 * k]));
  __m128i above[3], below[3];
  for (int j = 0; j < 3; ++j) {
    // v[8j + i .. 8j + i + 7]
    auto at = [&]<int I>() {
      if constexpr (I == 0)
        return samples[j];
      else
        return _mm_or_si128(_mm_srli_si128(samples[j], 2 * I), _mm_slli_si128(samples[j + 1], 16 - 2 * I));
    };
    const __m128i d =
        _mm_add_epi16(_mm_mullo_epi16(three, _mm_sub_epi16(at.template operator()<4>(), at.template operator()<0>())),
                      _mm_mullo_epi16(five, _mm_sub_epi16(at.template operator()<3>(), at.template operator()<1>())));
    above[j] = _mm_cmpgt_epi16(d, zeros);
    below[j] = _mm_cmplt_epi16(d, zeros);
  }
  auto bits = [](const __m128i* masks) {
    return static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(masks[0], masks[1]))) |
           static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(masks[2], masks[2])) & 0xFF) << 16;
  };
  const uint32_t positions = (1u << kDerivativeLength) - 1u;
  return {bits(above) & positions, bits(below) & positions};
}

// Sixteen pixels per compare; the byte mask gives their bits in order.
inline uint64_t ridgeBits(const uint8_t* pixels) {
  uint64_t bits = 0;
  for (int k = 0; k < 4; ++k) {
    const __m128i sixteen = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + 16 * k));
    const auto mask = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(sixteen, _mm_setzero_si128())));
    bits |= static_cast<uint64_t>(mask) << (16 * k);
  }
  return bits;
}

}  // namespace sse2

namespace fast = sse2;
#else
namespace fast = plain;
#endif

}  // namespace fx60::extract::ridge_kernels
