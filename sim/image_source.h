// The images the simulated module serves: PGM files taken in turn, or
// impressions of a synthetic finger when none are given.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "synth/generator.h"

namespace fx60::sim {

inline constexpr int kSensorWidth = 256;
inline constexpr int kSensorHeight = 360;
inline constexpr int kSensorBytes = kSensorWidth * kSensorHeight;

using SensorImage = std::vector<uint8_t>;  // kSensorBytes, row 0 first

// Reads a binary (P5) 8-bit PGM of exactly 256 x 360 pixels.
std::optional<SensorImage> readSensorPgm(const std::filesystem::path& file, std::string* error = nullptr);

// Writes a binary PGM; false on any I/O error.
bool writePgm(const std::filesystem::path& file, const uint8_t* pixels, int width, int height);

// Impression `impression` (1, 2, ...) of the synthetic finger of `seed`: the
// image `fx60 synth DIR --seed SEED` writes as 1_IMPRESSION.pgm. Each seed gives
// another finger; the same seed always gives the same bytes.
SensorImage synthesizePrint(uint32_t seed, uint32_t impression = 1);

// Number of impressions served in turn when no files are given. They are made
// once and kept, so that a capture costs the wire time only.
inline constexpr size_t kGeneratedPrints = 8;

class ImageSource {
 public:
  // Impressions 1 to 8 of the synthetic finger of `seed`, then 1 again.
  explicit ImageSource(uint32_t seed = 1) : seed_(seed) {}

  // Makes the synthetic finger now rather than at the first capture (its ridge
  // pattern takes the longest to make); each impression is made when first served.
  void prepareFinger();

  // Adds a file, or every .pgm file of a folder in name order. False with a
  // message when a file cannot be used.
  bool add(const std::filesystem::path& fileOrFolder, std::string* error = nullptr);

  // Serves only this file from now on.
  bool replace(const std::filesystem::path& file, std::string* error = nullptr);

  // The next image in turn; the list starts over after its end.
  SensorImage next();

  size_t size() const { return images_.size(); }

 private:
  std::vector<SensorImage> images_;
  size_t nextIndex_ = 0;
  uint32_t seed_;
  std::optional<synth::Finger> finger_;  // made on first use
  std::vector<SensorImage> generated_;   // impressions 1, 2, ... as made
  size_t nextGenerated_ = 0;
};

}  // namespace fx60::sim
