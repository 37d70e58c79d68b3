// Synthetic fingerprints for the tests that need realistic prints: small sets made
// by the generator, the same bytes on every machine, so that those tests run on a
// clone without the shared image sets. Real-image variants of the same tests run
// in addition where the shared sets are present.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace fx60::testing {

struct GeneratedPrint {
  int finger = 0;      // 1, 2, ...
  int impression = 0;  // 1, 2, ...
  std::vector<uint8_t> pixels;  // 256 x 360

  // "<finger>_<impression>", the file naming of the image sets.
  std::string name() const { return std::to_string(finger) + "_" + std::to_string(impression); }
};

// Impressions 1..impressions of fingers 1..fingers of the test seed, finger by
// finger. Each finger is made once per process.
std::vector<GeneratedPrint> generatedPrints(int fingers, int impressions);

// One impression of one finger of the test seed.
std::vector<uint8_t> generatedPrint(int finger, int impression);

// Writes a binary PGM of a 256 x 360 image; false on any I/O error.
bool writeGeneratedPgm(const std::filesystem::path& file, const std::vector<uint8_t>& pixels);

// The same impression as a PGM file, <finger>_<impression>.pgm in a folder of the
// build tree, written unless it already holds these bytes (test programs running
// side by side write the same bytes, each through a file of its own that it then
// renames). Empty when the file cannot be written.
std::filesystem::path generatedPrintFile(int finger, int impression);

}  // namespace fx60::testing
