// The live fingers the station's tests present: every test takes its finger
// images from here, so that the source can change in one place. For now they are
// real impressions from the shared images; without those the tests that need them
// skip.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/test_data.h"

namespace fx60::station::testing {

enum class Finger { A, B };  // two fingers of different people

// Impression 1..4 of a finger, all of quality 60 or more and matching one another.
inline std::optional<std::filesystem::path> fingerImage(Finger finger, int impression) {
  const auto data = fx60::testing::sharedDataDir();
  if (!data) return std::nullopt;
  const std::string name = std::string(finger == Finger::A ? "101_" : "102_") + std::to_string(impression) + ".pgm";
  const std::filesystem::path image = *data / "fp" / "fvc2002-db2b" / name;
  if (!std::filesystem::is_regular_file(image)) return std::nullopt;
  return image;
}

// fx60-sim options that serve this impression on every capture.
inline std::vector<std::string> servedImage(const std::filesystem::path& image) { return {"--images", image.string()}; }

}  // namespace fx60::station::testing

#define STATION_REQUIRE_FINGER_IMAGES()                                                             \
  do {                                                                                              \
    if (!::fx60::station::testing::fingerImage(::fx60::station::testing::Finger::A, 1))             \
      GTEST_SKIP() << "live finger images not found (set FX60_DATA or place the shared data at "    \
                      "../shared/data beside the repository)";                                      \
  } while (0)
