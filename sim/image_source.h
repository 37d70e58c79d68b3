// The images the simulated module serves: PGM files taken in turn, or a
// generated ridge pattern when none are given.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace fx60::sim {

inline constexpr int kSensorWidth = 256;
inline constexpr int kSensorHeight = 360;
inline constexpr int kSensorBytes = kSensorWidth * kSensorHeight;

using SensorImage = std::vector<uint8_t>;  // kSensorBytes, row 0 first

// Reads a binary (P5) 8-bit PGM of exactly 256 x 360 pixels.
std::optional<SensorImage> readSensorPgm(const std::filesystem::path& file, std::string* error = nullptr);

// Writes a binary PGM; false on any I/O error.
bool writePgm(const std::filesystem::path& file, const uint8_t* pixels, int width, int height);

// A finger-like ridge pattern: a loop of ridges around a core, a few ridge
// endings and forks, an elliptical contact area on a light background. Each seed
// gives a different finger; the same seed always gives the same bytes.
SensorImage synthesizePrint(uint32_t seed);

// Number of generated prints served in turn when no files are given. They are
// made once and kept, so that a capture costs the wire time only.
inline constexpr size_t kGeneratedPrints = 8;

class ImageSource {
 public:
  // Built-in synthetic prints (seed, seed + 1, ... seed + 7, then seed again).
  explicit ImageSource(uint32_t seed = 1) : firstSeed_(seed) {}

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
  uint32_t firstSeed_;
  std::vector<SensorImage> generated_;  // made on first use
  size_t nextGenerated_ = 0;
};

}  // namespace fx60::sim
