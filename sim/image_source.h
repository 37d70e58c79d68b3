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

class ImageSource {
 public:
  // Built-in synthetic prints (seed, seed + 1, ... in turn).
  explicit ImageSource(uint32_t seed = 1) : nextSeed_(seed) {}

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
  uint32_t nextSeed_;
};

}  // namespace fx60::sim
