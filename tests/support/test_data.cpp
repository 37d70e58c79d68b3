#include "tests/support/test_data.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>

namespace fx60::testing {

namespace fs = std::filesystem;

std::optional<fs::path> sharedDataDir() {
  if (const char* env = std::getenv("FX60_DATA"); env != nullptr && *env != '\0') {
    if (fs::is_directory(fs::path(env) / "fp")) return fs::path(env);
    return std::nullopt;
  }
  fs::path beside = fs::path(FX60_SOURCE_DIR) / ".." / "shared" / "data";
  if (fs::is_directory(beside / "fp")) return beside;
  return std::nullopt;
}

std::vector<fs::path> fingerprintSets() {
  std::vector<fs::path> sets;
  auto root = sharedDataDir();
  if (!root) return sets;
  for (const auto& entry : fs::directory_iterator(*root / "fp"))
    if (entry.is_directory()) sets.push_back(entry.path());
  std::sort(sets.begin(), sets.end());
  return sets;
}

std::vector<fs::path> imagesOfSet(const fs::path& set) {
  std::vector<fs::path> images;
  for (const auto& entry : fs::directory_iterator(set))
    if (entry.path().extension() == ".pgm") images.push_back(entry.path());
  std::sort(images.begin(), images.end());
  return images;
}

namespace {

// Next whitespace-separated header token, skipping '#' comments.
bool readHeaderNumber(std::istream& in, int& value) {
  in >> std::ws;
  while (in.peek() == '#') {
    std::string comment;
    std::getline(in, comment);
    in >> std::ws;
  }
  return static_cast<bool>(in >> value);
}

}  // namespace

std::vector<uint8_t> readPgm(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::string magic;
  if (!(in >> magic) || magic != "P5") return {};
  int width = 0, height = 0, maxval = 0;
  if (!readHeaderNumber(in, width) || !readHeaderNumber(in, height) || !readHeaderNumber(in, maxval))
    return {};
  if (width != 256 || height != 360 || maxval != 255) return {};
  in.get();  // the single whitespace byte after the header
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height);
  if (!in.read(reinterpret_cast<char*>(pixels.data()), static_cast<std::streamsize>(pixels.size())))
    return {};
  return pixels;
}

std::vector<std::vector<uint8_t>> imagesSpreadOverSets(size_t perSet) {
  std::vector<std::vector<uint8_t>> images;
  for (const fs::path& set : fingerprintSets()) {
    const std::vector<fs::path> files = imagesOfSet(set);
    const size_t step = std::max<size_t>(1, files.size() / std::max<size_t>(1, perSet));
    for (size_t i = 0; i < files.size(); i += step) {
      std::vector<uint8_t> image = readPgm(files[i]);
      if (!image.empty()) images.push_back(std::move(image));
    }
  }
  return images;
}

}  // namespace fx60::testing
