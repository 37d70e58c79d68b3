#include "extract/ridge_kernels.h"

#include <algorithm>
#include <cstring>

#include "extract/pixel_lanes.h"

namespace fx60::extract::ridge_kernels {
namespace {

// Stores the low `count` of the eight bytes at `row`. Bytes past the run may be
// written as long as they stay in the row: cells are filtered from left to right,
// so the cells they belong to are filtered afterwards, and columns past the last
// cell are never written back.
inline void storeLanes(uint8_t* row, int x, const uint8_t* bytes, int count) {
  if (x + 8 <= kWidth)
    std::memcpy(row + x, bytes, 8);
  else
    for (int i = 0; i < count; ++i) row[x + i] = bytes[i];
}

inline uint8_t clampToByte(int e) { return e < 0 ? 0 : (e >= 65536 ? 255 : static_cast<uint8_t>(e >> 8)); }

}  // namespace

namespace plain {

// Eight pixels at a time in 16-bit lanes: the weights are positive and sum to 256, so
// no sum exceeds 256 x 255.
void smoothInteriorBlocks(const uint8_t* image, const InteriorKernel& k, int r, int c, int cells, BlockRow& out) {
  const int x0 = kCellSpacing * c + 1;
  const int width = kCellSpacing * cells;
  for (int by = 0; by < kCellSpacing; ++by) {
    const int y = kCellSpacing * r + 1 + by;
    for (int dx = 0; dx < width; dx += 8) {
      const uint8_t* p = image + y * kWidth + x0 + dx;
      PixelLanes acc = static_cast<uint16_t>(k.centreWeight) * loadPixelLanes(p);
      for (int i = 0; i < 7; ++i)
        acc += static_cast<uint16_t>(k.weights[i]) * (loadPixelLanes(p + k.offsets[i]) + loadPixelLanes(p - k.offsets[i]));
      acc >>= 8;
      uint8_t bytes[8];
      for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(acc[i]);
      storeLanes(out.data() + by * kWidth, x0 + dx, bytes, std::min(8, width - dx));
    }
  }
}

void enhanceInteriorBlocks(const uint8_t* image, const EnhancementKernel& k, const std::array<int, 5>& offsets,
                           int r, int c, int cells, BlockRow& out) {
  for (int by = 0; by < kCellSpacing; ++by) {
    const int y = kCellSpacing * r + 1 + by;
    for (int bx = 0; bx < kCellSpacing * cells; ++bx) {
      const int x = kCellSpacing * c + 1 + bx;
      const uint8_t* p = image + y * kWidth + x;
      int e = 256 * p[0] + kOutputBias;
      for (int i = 0; i < 5; ++i) e += k[i].weight * (p[offsets[i]] + p[-offsets[i]]);
      out[by * kWidth + x] = clampToByte(e);
    }
  }
}

}  // namespace plain

#if defined(__SSE2__)
namespace sse2 {

void smoothInteriorBlocks(const uint8_t* image, const InteriorKernel& k, int r, int c, int cells, BlockRow& out) {
  const __m128i zero = _mm_setzero_si128();
  auto load = [&](const uint8_t* p) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), zero);
  };
  __m128i weights[7];
  for (int i = 0; i < 7; ++i) weights[i] = _mm_set1_epi16(static_cast<int16_t>(k.weights[i]));
  const __m128i centreWeight = _mm_set1_epi16(static_cast<int16_t>(k.centreWeight));
  const int x0 = kCellSpacing * c + 1;
  const int width = kCellSpacing * cells;
  for (int by = 0; by < kCellSpacing; ++by) {
    const int y = kCellSpacing * r + 1 + by;
    for (int dx = 0; dx < width; dx += 8) {
      const uint8_t* p = image + y * kWidth + x0 + dx;
      __m128i acc = _mm_mullo_epi16(centreWeight, load(p));
#pragma GCC unroll 7
      for (int i = 0; i < 7; ++i)
        acc = _mm_add_epi16(acc, _mm_mullo_epi16(weights[i], _mm_add_epi16(load(p + k.offsets[i]), load(p - k.offsets[i]))));
      alignas(16) uint8_t bytes[16];
      _mm_store_si128(reinterpret_cast<__m128i*>(bytes), _mm_packus_epi16(_mm_srli_epi16(acc, 8), zero));
      storeLanes(out.data() + by * kWidth, x0 + dx, bytes, std::min(8, width - dx));
    }
  }
}

// Eight pixels at a time: the two samples of a tap are added in 16 bits (at most
// 510), and pairs of taps are weighted and summed into 32 bits by one
// multiply-add. Shifting right by 8 and packing with saturation twice clamps to
// 0..255 exactly as the plain form does.
void enhanceInteriorBlocks(const uint8_t* image, const EnhancementKernel& k, const std::array<int, 5>& offsets,
                           int r, int c, int cells, BlockRow& out) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i bias = _mm_set1_epi32(kOutputBias);
  auto weightPair = [](int low, int high) {
    return _mm_set1_epi32(static_cast<int>((static_cast<uint32_t>(high) << 16) | static_cast<uint16_t>(low)));
  };
  const __m128i w01 = weightPair(k[0].weight, k[1].weight);
  const __m128i w23 = weightPair(k[2].weight, k[3].weight);
  const __m128i w4c = weightPair(k[4].weight, 256);
  auto widen = [&](const uint8_t* p) { return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), zero); };
  auto tapSum = [&](const uint8_t* p, int i) { return _mm_add_epi16(widen(p + offsets[i]), widen(p - offsets[i])); };
  auto weigh = [](__m128i a, __m128i b, __m128i w, __m128i& low, __m128i& high) {
    low = _mm_add_epi32(low, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), w));
    high = _mm_add_epi32(high, _mm_madd_epi16(_mm_unpackhi_epi16(a, b), w));
  };
  const int x0 = kCellSpacing * c + 1;
  const int width = kCellSpacing * cells;
  for (int by = 0; by < kCellSpacing; ++by) {
    const int y = kCellSpacing * r + 1 + by;
    for (int dx = 0; dx < width; dx += 8) {
      const uint8_t* p = image + y * kWidth + x0 + dx;
      __m128i low = bias, high = bias;
      weigh(tapSum(p, 0), tapSum(p, 1), w01, low, high);
      weigh(tapSum(p, 2), tapSum(p, 3), w23, low, high);
      weigh(tapSum(p, 4), widen(p), w4c, low, high);
      const __m128i words = _mm_packs_epi32(_mm_srai_epi32(low, 8), _mm_srai_epi32(high, 8));
      alignas(16) uint8_t bytes[16];
      _mm_store_si128(reinterpret_cast<__m128i*>(bytes), _mm_packus_epi16(words, words));
      std::memcpy(out.data() + by * kWidth + x0 + dx, bytes, static_cast<size_t>(std::min(8, width - dx)));
    }
  }
}

}  // namespace sse2
#endif

}  // namespace fx60::extract::ridge_kernels
