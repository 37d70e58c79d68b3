// Fingerprint blocks whose bytes tell their places apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fx60::sim::testing {

// A fingerprint block of `bytes` bytes whose content tells its bytes apart.
inline std::vector<uint8_t> patternBytes(size_t bytes) {
  std::vector<uint8_t> block(bytes);
  for (size_t i = 0; i < bytes; ++i) block[i] = static_cast<uint8_t>(i * 7 + 3);
  return block;
}

}  // namespace fx60::sim::testing
