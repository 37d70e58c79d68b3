// Eight pixels at a time, widened to 16 bits, for filters whose sums stay within
// 16 bits: the ridge smoothing (positive weights summing to 256) and the
// directional cell measures.
#pragma once

#include <cstdint>
#include <cstring>

namespace fx60::extract {

using PixelLanes = uint16_t __attribute__((vector_size(16)));

// Pixels p[0..7] widened to 16 bits (interleaved with zero bytes, which on a
// little-endian machine is the zero extension). The caller keeps all eight
// inside the buffer.
inline PixelLanes loadPixelLanes(const uint8_t* p) {
  using Bytes = uint8_t __attribute__((vector_size(16)));
  Bytes bytes{};
  std::memcpy(&bytes, p, 8);
  const Bytes zero{};
  const Bytes widened = __builtin_shufflevector(bytes, zero, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
  PixelLanes lanes;
  std::memcpy(&lanes, &widened, sizeof lanes);
  return lanes;
}

}  // namespace fx60::extract
