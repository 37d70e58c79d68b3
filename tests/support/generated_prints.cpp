#include "tests/support/generated_prints.h"

#include <unistd.h>

#include <fstream>
#include <map>
#include <mutex>
#include <system_error>

#include "synth/generator.h"
#include "tests/support/test_data.h"

namespace fx60::testing {

namespace {

// The seed of every generated set the tests use.
constexpr uint64_t kTestSeed = 1;

// A finger's ridge pattern takes the longest to make: keep each one made.
const synth::Finger& fingerOf(int number) {
  static std::mutex lock;
  static std::map<int, synth::Finger> fingers;
  std::lock_guard<std::mutex> guard(lock);
  auto found = fingers.find(number);
  if (found == fingers.end())
    found = fingers.emplace(number, synth::makeFinger(kTestSeed, static_cast<uint32_t>(number))).first;
  return found->second;
}

}  // namespace

std::vector<uint8_t> generatedPrint(int finger, int impression) {
  return synth::makeImpression(fingerOf(finger), static_cast<uint32_t>(impression));
}

std::vector<GeneratedPrint> generatedPrints(int fingers, int impressions) {
  std::vector<GeneratedPrint> prints;
  for (int finger = 1; finger <= fingers; ++finger)
    for (int impression = 1; impression <= impressions; ++impression)
      prints.push_back({finger, impression, generatedPrint(finger, impression)});
  return prints;
}

bool writeGeneratedPgm(const std::filesystem::path& file, const std::vector<uint8_t>& pixels) {
  std::ofstream out(file, std::ios::binary);
  out << "P5\n" << synth::kImageWidth << ' ' << synth::kImageHeight << "\n255\n";
  out.write(reinterpret_cast<const char*>(pixels.data()), static_cast<std::streamsize>(pixels.size()));
  return static_cast<bool>(out);
}

std::filesystem::path generatedPrintFile(int finger, int impression) {
  namespace fs = std::filesystem;
  const fs::path folder = fs::path(FX60_BINARY_DIR) / "tests" / "generated-prints";
  const fs::path file = folder / (std::to_string(finger) + "_" + std::to_string(impression) + ".pgm");
  const std::vector<uint8_t> pixels = generatedPrint(finger, impression);
  // A file left by an older generator is replaced.
  if (readPgm(file) == pixels) return file;
  std::error_code error;
  fs::create_directories(folder, error);
  const fs::path partial = folder / (file.filename().string() + "." + std::to_string(getpid()));
  if (!writeGeneratedPgm(partial, pixels)) return {};
  fs::rename(partial, file, error);
  return error ? fs::path() : file;
}

}  // namespace fx60::testing
