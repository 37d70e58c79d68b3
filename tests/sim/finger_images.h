// The fingerprint images the card and standard-pair tests use, in one place so
// that their source can change: impressions of generated fingers, the same on every
// clone. Tests skip with a message when the files cannot be written.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/generated_prints.h"

namespace fx60::sim::testing {

// Impression `impression` (1..8) of finger `finger` (0..9): a 256 x 360 PGM file.
inline std::optional<std::filesystem::path> fingerImageFile(int finger, int impression) {
  const auto file = fx60::testing::generatedPrintFile(finger + 1, impression);
  if (file.empty()) return std::nullopt;
  return file;
}

// Its pixels (92160 bytes).
inline std::vector<uint8_t> fingerImage(int finger, int impression) {
  return fx60::testing::generatedPrint(finger + 1, impression);
}

}  // namespace fx60::sim::testing

#define REQUIRE_FINGER_IMAGES()                                                                   \
  do {                                                                                            \
    if (!::fx60::sim::testing::fingerImageFile(0, 1))                                             \
      GTEST_SKIP() << "generated fingerprint images could not be written to the build tree";     \
  } while (0)
