#include <algorithm>

#include "extract/minutiae_stages.h"

namespace fx60::extract {

void packMinutiae(const MinutiaList& minutiae, PackedMinutiae& packed) {
  packed.bytes.fill(0);
  const int count = std::min<int>(minutiae.count, kMaxMinutiae);
  packed.bytes[1] = static_cast<uint8_t>(count);
  for (int i = 0; i < count; ++i) {
    const Minutia& m = minutiae.entries[i];
    // Degrees anticlockwise, 1..360 with 360 standing for 0.
    const int degrees = std::min(359, (m.direction256 * 360 + 128) >> 8);
    const int angle = 360 - degrees;
    uint8_t* out = packed.bytes.data() + 2 + 4 * i;
    out[0] = static_cast<uint8_t>(m.x);
    out[1] = static_cast<uint8_t>(m.y & 0xFF);
    out[2] = static_cast<uint8_t>(angle & 0xFF);
    out[3] = static_cast<uint8_t>(0xFC | (((angle >> 8) & 1) << 1) | ((m.y >> 8) & 1));
  }
}

}  // namespace fx60::extract
