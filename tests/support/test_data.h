// Where the tests find the shared fingerprint images, and how they read them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace fx60::testing {

// The data folder (holding fp/<set>/...): $FX60_DATA, else ../shared/data beside the
// repository. Empty when neither exists; tests then skip with a message.
std::optional<std::filesystem::path> sharedDataDir();

// Every set folder under fp/, sorted by name.
std::vector<std::filesystem::path> fingerprintSets();

// Every .pgm image of one set, sorted by name.
std::vector<std::filesystem::path> imagesOfSet(const std::filesystem::path& set);

// Reads a binary 256 x 360 8-bit PGM; empty on any error.
std::vector<uint8_t> readPgm(const std::filesystem::path& file);

// About `perSet` images of every set, evenly spread over its fingers (for
// benchmarks); empty when the shared data is absent.
std::vector<std::vector<uint8_t>> imagesSpreadOverSets(size_t perSet);

}  // namespace fx60::testing

// Skips the current test when the shared data is not present.
#define FX60_REQUIRE_SHARED_DATA()                                                          \
  do {                                                                                      \
    if (!::fx60::testing::sharedDataDir())                                                  \
      GTEST_SKIP() << "shared fingerprint data not found (set FX60_DATA or place it at "    \
                      "../shared/data beside the repository)";                             \
  } while (0)
