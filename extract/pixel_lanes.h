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

// Stores lanes 0..2 as bytes; each lane already lies in 0..255.
inline void storeThreePixels(uint8_t* out, PixelLanes lanes) {
  out[0] = static_cast<uint8_t>(lanes[0]);
  out[1] = static_cast<uint8_t>(lanes[1]);
  out[2] = static_cast<uint8_t>(lanes[2]);
}

}  // namespace fx60::extract
