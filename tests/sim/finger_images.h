// The fingerprint images the card and standard-pair tests use, in one place so
// that their source can change: for now impressions of the shared real images.
// Tests skip with a message when the images are absent.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/test_data.h"

namespace fx60::sim::testing {

// Impression `impression` (1..8) of finger `finger` (0..9): a 256 x 360 PGM file.
inline std::optional<std::filesystem::path> fingerImageFile(int finger, int impression) {
  const auto data = fx60::testing::sharedDataDir();
  if (!data) return std::nullopt;
  const auto file = *data / "fp" / "fvc2002-db1b" / (std::to_string(101 + finger) + "_" + std::to_string(impression) + ".pgm");
  if (!std::filesystem::exists(file)) return std::nullopt;
  return file;
}

// Its pixels (92160 bytes); empty when the image is absent.
inline std::vector<uint8_t> fingerImage(int finger, int impression) {
  const auto file = fingerImageFile(finger, impression);
  return file ? fx60::testing::readPgm(*file) : std::vector<uint8_t>();
}

}  // namespace fx60::sim::testing

#define REQUIRE_FINGER_IMAGES()                                                                   \
  do {                                                                                            \
    if (!::fx60::sim::testing::fingerImageFile(0, 1))                                             \
      GTEST_SKIP() << "fingerprint images not found (set FX60_DATA or place the shared data at " \
                      "../shared/data beside the repository)";                                    \
  } while (0)
