// Picture files: PNG and JPEG in, JPEG out.
#include <png.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "sim/idcard/photo_block.h"

namespace fx60::idcard {

namespace {

bool fail(std::string* error, std::string message) {
  if (error) *error = std::move(message);
  return false;
}

std::optional<Picture> readPng(const std::filesystem::path& path, std::string* error) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) {
    fail(error, path.string() + ": " + image.message);
    return std::nullopt;
  }
  image.format = PNG_FORMAT_RGB;
  if (static_cast<size_t>(image.width) * image.height > kMaxPicturePixels) {
    png_image_free(&image);
    fail(error, path.string() + ": the picture is too large");
    return std::nullopt;
  }
  Picture picture;
  picture.width = static_cast<int>(image.width);
  picture.height = static_cast<int>(image.height);
  picture.rgb.resize(PNG_IMAGE_SIZE(image));
  const png_color white{255, 255, 255};  // transparent parts become white
  if (!png_image_finish_read(&image, &white, picture.rgb.data(), 0, nullptr)) {
    fail(error, path.string() + ": " + image.message);
    return std::nullopt;
  }
  return picture;
}

}  // namespace

std::optional<Picture> readPicture(const std::filesystem::path& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    fail(error, "cannot read " + path.string());
    return std::nullopt;
  }
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  constexpr uint8_t kPngSignature[] = {0x89, 'P', 'N', 'G'};
  if (bytes.size() >= 4 && std::equal(std::begin(kPngSignature), std::end(kPngSignature), bytes.begin()))
    return readPng(path, error);
  if (bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) {
    std::string message;
    if (auto picture = decodeJpeg(bytes, &message)) return picture;
    fail(error, path.string() + ": " + message);
    return std::nullopt;
  }
  fail(error, path.string() + ": not a PNG or JPEG picture");
  return std::nullopt;
}

bool writeJpeg(const std::filesystem::path& path, const Picture& picture, int quality, std::string* error) {
  const auto bytes = encodeJpeg(picture, std::clamp(quality, 1, 100), false);
  if (bytes.empty()) return fail(error, "cannot encode the picture");
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return out ? true : fail(error, "cannot write " + path.string());
}

}  // namespace fx60::idcard
