// SHA-1 message digest (FIPS 180-4), used to seal templates.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace fx60 {

using Sha1Digest = std::array<uint8_t, 20>;

class Sha1 {
 public:
  Sha1();
  void update(const uint8_t* data, size_t length);
  // Pads, returns the digest; the object must not be updated afterwards.
  Sha1Digest finish();

 private:
  void compressBlock(const uint8_t* block);

  std::array<uint32_t, 5> state_;
  std::array<uint8_t, 64> buffer_{};
  size_t buffered_ = 0;
  uint64_t totalBytes_ = 0;
};

Sha1Digest sha1(const uint8_t* data, size_t length);

}  // namespace fx60
