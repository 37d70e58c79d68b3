#include "sim/image_source.h"

#include <algorithm>
#include <fstream>

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

}  // namespace

std::optional<SensorImage> readSensorPgm(const fs::path& file, std::string* error) {
  auto fail = [&](const std::string& why) -> std::optional<SensorImage> {
    if (error) *error = file.string() + ": " + why;
    return std::nullopt;
  };
  // Checked first: opening a FIFO would wait for a writer.
  std::error_code ec;
  if (fs::is_directory(file, ec)) return fail("is a folder, not an image");
  if (!fs::is_regular_file(file, ec)) return fail(fs::exists(file, ec) ? "is not a regular file" : "no such file");
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

SensorImage synthesizePrint(uint32_t seed, uint32_t impression) {
  return synth::makeImpression(synth::makeFinger(seed, 1), impression);
}

void ImageSource::prepareFinger() {
  if (!finger_) finger_ = synth::makeFinger(seed_, 1);
}

bool ImageSource::add(const fs::path& fileOrFolder, std::string* error) {
  std::vector<fs::path> files;
  std::error_code ec;
  if (fs::is_directory(fileOrFolder, ec)) {
    for (const auto& entry : fs::directory_iterator(fileOrFolder, ec))
      if (entry.path().extension() == ".pgm" && entry.is_regular_file(ec)) files.push_back(entry.path());
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
    if (turn == generated_.size()) {
      prepareFinger();
      generated_.push_back(synth::makeImpression(*finger_, static_cast<uint32_t>(turn + 1)));
    }
    return generated_[turn];
  }
  SensorImage image = images_[nextIndex_];
  nextIndex_ = (nextIndex_ + 1) % images_.size();
  return image;
}

}  // namespace fx60::sim
