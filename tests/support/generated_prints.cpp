#include "tests/support/generated_prints.h"

#include <fstream>
#include <map>
#include <mutex>

#include "synth/generator.h"

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

}  // namespace fx60::testing
