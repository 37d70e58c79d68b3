#include "sim/image_source.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <numbers>

namespace fx60::sim {

namespace fs = std::filesystem;

namespace {

bool readHeaderNumber(std::istream& in, long& value) {
  in >> std::ws;
  while (in.peek() == '#') {
    std::string comment;
    std::getline(in, comment);
    in >> std::ws;
  }
  return static_cast<bool>(in >> value);
}

// Small deterministic generator so that prints do not depend on the library's
// random engines.
struct SplitMix {
  uint64_t state;
  uint64_t next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double uniform(double low, double high) {
    return low + (high - low) * static_cast<double>(next() >> 11) / static_cast<double>(1ull << 53);
  }
};

}  // namespace

std::optional<SensorImage> readSensorPgm(const fs::path& file, std::string* error) {
  auto fail = [&](const std::string& why) -> std::optional<SensorImage> {
    if (error) *error = file.string() + ": " + why;
    return std::nullopt;
  };
  std::ifstream in(file, std::ios::binary);
  if (!in) return fail("cannot open");
  std::string magic;
  if (!(in >> magic) || magic != "P5") return fail("not a binary PGM");
  long width = 0, height = 0, maxval = 0;
  if (!readHeaderNumber(in, width) || !readHeaderNumber(in, height) || !readHeaderNumber(in, maxval))
    return fail("bad PGM header");
  if (width != kSensorWidth || height != kSensorHeight)
    return fail("image is " + std::to_string(width) + " x " + std::to_string(height) + ", not 256 x 360");
  if (maxval != 255) return fail("not 8-bit grey");
  in.get();  // the single whitespace byte that ends the header
  SensorImage pixels(kSensorBytes);
  if (!in.read(reinterpret_cast<char*>(pixels.data()), kSensorBytes)) return fail("truncated pixel data");
  return pixels;
}

bool writePgm(const fs::path& file, const uint8_t* pixels, int width, int height) {
  std::ofstream out(file, std::ios::binary);
  out << "P5\n" << width << ' ' << height << "\n255\n";
  out.write(reinterpret_cast<const char*>(pixels), static_cast<std::streamsize>(width) * height);
  return static_cast<bool>(out);
}

SensorImage synthesizePrint(uint32_t seed) {
  SplitMix random{seed * 0x2545F4914F6CDD1Dull + 1};
  constexpr double kTwoPi = 2 * std::numbers::pi;

  const double coreX = random.uniform(110, 146);
  const double coreY = random.uniform(140, 190);
  const double period = random.uniform(8.5, 10.5);
  const double tilt = random.uniform(-0.25, 0.25);

  // Each point winds the ridge phase once around it, which ends or splits one
  // ridge there: the pattern gets minutiae where real prints have them.
  struct Twist {
    double x, y, turn;
  };
  std::array<Twist, 14> twists{};
  for (auto& twist : twists) {
    twist.x = random.uniform(45, 211);
    twist.y = random.uniform(50, 310);
    twist.turn = random.next() & 1 ? 1.0 : -1.0;
  }

  const double cosTilt = std::cos(tilt), sinTilt = std::sin(tilt);
  SensorImage image(kSensorBytes);
  for (int y = 0; y < kSensorHeight; ++y) {
    for (int x = 0; x < kSensorWidth; ++x) {
      const double dx = x - coreX, dy = y - coreY;
      const double rx = dx * cosTilt - dy * sinTilt;
      const double ry = dx * sinTilt + dy * cosTilt;
      // Arches below the core, loops around it: ridge distance grows with an
      // elliptical radius plus a gentle bend.
      const double radius = std::sqrt(rx * rx * 1.1 + ry * ry * 0.8) + 0.0025 * rx * rx * (ry > 0 ? 1 : 0);
      double phase = kTwoPi * radius / period;
      for (const auto& twist : twists) phase += twist.turn * std::atan2(y - twist.y, x - twist.x);

      // Elliptical contact area with a soft edge; light background outside.
      const double ex = (x - 128.0) / 118.0, ey = (y - 185.0) / 170.0;
      const double edge = std::clamp((1.0 - (ex * ex + ey * ey)) * 6.0, 0.0, 1.0);
      const double ridge = 0.5 + 0.5 * std::cos(phase);  // 1 in a valley, 0 on a ridge
      const double noise = random.uniform(-10, 10);
      const double grey = 235.0 * (1 - edge) + (40.0 + 180.0 * ridge) * edge + noise;
      image[static_cast<size_t>(y) * kSensorWidth + x] = static_cast<uint8_t>(std::clamp(grey, 0.0, 255.0));
    }
  }
  return image;
}

bool ImageSource::add(const fs::path& fileOrFolder, std::string* error) {
  std::vector<fs::path> files;
  std::error_code ec;
  if (fs::is_directory(fileOrFolder, ec)) {
    for (const auto& entry : fs::directory_iterator(fileOrFolder, ec))
      if (entry.path().extension() == ".pgm") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    if (files.empty()) {
      if (error) *error = fileOrFolder.string() + ": no .pgm images";
      return false;
    }
  } else {
    files.push_back(fileOrFolder);
  }
  std::vector<SensorImage> loaded;
  for (const auto& file : files) {
    auto image = readSensorPgm(file, error);
    if (!image) return false;
    loaded.push_back(std::move(*image));
  }
  for (auto& image : loaded) images_.push_back(std::move(image));
  return true;
}

bool ImageSource::replace(const fs::path& file, std::string* error) {
  auto image = readSensorPgm(file, error);
  if (!image) return false;
  images_.clear();
  images_.push_back(std::move(*image));
  nextIndex_ = 0;
  return true;
}

SensorImage ImageSource::next() {
  if (images_.empty()) {
    const size_t turn = nextGenerated_;
    nextGenerated_ = (nextGenerated_ + 1) % kGeneratedPrints;
    if (turn == generated_.size()) generated_.push_back(synthesizePrint(firstSeed_ + static_cast<uint32_t>(turn)));
    return generated_[turn];
  }
  SensorImage image = images_[nextIndex_];
  nextIndex_ = (nextIndex_ + 1) % images_.size();
  return image;
}

}  // namespace fx60::sim
