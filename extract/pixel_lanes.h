// Eight pixels at a time for the ridge smoothing, which filters blocks of three
// neighbouring pixels with one kernel. 16-bit lanes suffice there: the weights
// are positive and sum to 256, so no sum exceeds 256 x 255.
#pragma once

#include <cstdint>
#include <cstring>

namespace fx60::extract {

using PixelLanes = uint16_t __attribute__((vector_size(16)));

// Pixels p[0..7] widened to 16 bits. The caller keeps all eight inside the buffer.
inline PixelLanes loadPixelLanes(const uint8_t* p) {
  using Bytes = uint8_t __attribute__((vector_size(8)));
  Bytes bytes;
  std::memcpy(&bytes, p, sizeof bytes);
  return __builtin_convertvector(bytes, PixelLanes);
}

}  // namespace fx60::extract
