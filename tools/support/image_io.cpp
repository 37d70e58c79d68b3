#include "tools/support/image_io.h"

#include "tools/support/files.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>

#ifdef FX60_HAVE_PNG
#include <png.h>
#endif

namespace fx60::tool {

namespace {

// Limits that keep a damaged header from asking for absurd amounts of memory.
constexpr int kMaxSide = 16384;

uint8_t greyOf(int r, int g, int b) { return static_cast<uint8_t>((299 * r + 587 * g + 114 * b + 500) / 1000); }

// PGM header tokens: whitespace separated, '#' starts a comment to the end of line.
class PnmReader {
 public:
  explicit PnmReader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
  bool number(int& value) {
    skipSpaceAndComments();
    if (pos_ >= bytes_.size() || !std::isdigit(bytes_[pos_])) return false;
    long v = 0;
    while (pos_ < bytes_.size() && std::isdigit(bytes_[pos_])) {
      v = v * 10 + (bytes_[pos_++] - '0');
      if (v > 1 << 20) return false;
    }
    value = static_cast<int>(v);
    return true;
  }
  // After the maximum value exactly one whitespace byte precedes the raster.
  bool skipOneSpace() {
    if (pos_ >= bytes_.size() || !std::isspace(bytes_[pos_])) return false;
    ++pos_;
    return true;
  }
  size_t position() const { return pos_; }

 private:
  void skipSpaceAndComments() {
    while (pos_ < bytes_.size()) {
      if (std::isspace(bytes_[pos_]))
        ++pos_;
      else if (bytes_[pos_] == '#')
        while (pos_ < bytes_.size() && bytes_[pos_] != '\n') ++pos_;
      else
        break;
    }
  }
  const std::vector<uint8_t>& bytes_;
  size_t pos_ = 2;
};

bool decodePgm(const std::vector<uint8_t>& bytes, GreyImage& image, std::string& error) {
  const bool binary = bytes[1] == '5';
  PnmReader reader(bytes);
  int width = 0, height = 0, maxval = 0;
  if (!reader.number(width) || !reader.number(height) || !reader.number(maxval) || width <= 0 ||
      height <= 0 || width > kMaxSide || height > kMaxSide || maxval <= 0 || maxval > 65535) {
    error = "bad PGM header";
    return false;
  }
  image.width = width;
  image.height = height;
  image.pixels.assign(static_cast<size_t>(width) * height, 0);
  const auto scale = [maxval](long v) { return static_cast<uint8_t>(std::min<long>(v, maxval) * 255 / maxval); };
  if (binary) {
    if (!reader.skipOneSpace()) {
      error = "bad PGM header";
      return false;
    }
    const size_t sampleBytes = maxval > 255 ? 2 : 1;
    const size_t start = reader.position();
    if (bytes.size() - start < image.pixels.size() * sampleBytes) {
      error = "PGM raster is truncated";
      return false;
    }
    for (size_t i = 0; i < image.pixels.size(); ++i) {
      const uint8_t* s = &bytes[start + i * sampleBytes];
      image.pixels[i] = scale(sampleBytes == 2 ? (s[0] << 8 | s[1]) : s[0]);
    }
  } else {
    for (uint8_t& p : image.pixels) {
      int v = 0;
      if (!reader.number(v)) {
        error = "PGM raster is truncated";
        return false;
      }
      p = scale(v);
    }
  }
  return true;
}

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

bool decodeBmp(const std::vector<uint8_t>& bytes, GreyImage& image, std::string& error) {
  if (bytes.size() < 54) {
    error = "BMP file is truncated";
    return false;
  }
  const uint32_t dataOffset = le32(&bytes[10]);
  const uint32_t headerSize = le32(&bytes[14]);
  const auto width = static_cast<int32_t>(le32(&bytes[18]));
  const auto rawHeight = static_cast<int32_t>(le32(&bytes[22]));
  const uint16_t bits = le16(&bytes[28]);
  const uint32_t compression = le32(&bytes[30]);
  uint32_t paletteSize = le32(&bytes[46]);
  if (headerSize < 40 || width <= 0 || rawHeight == 0 || width > kMaxSide || rawHeight > kMaxSide ||
      rawHeight < -kMaxSide) {
    error = "bad BMP header";
    return false;
  }
  if ((bits != 8 && bits != 24) || compression != 0) {
    error = "only uncompressed 8-bit and 24-bit BMP files are supported";
    return false;
  }
  const bool bottomUp = rawHeight > 0;
  const int height = bottomUp ? rawHeight : -rawHeight;
  std::array<uint8_t, 256> palette{};
  if (bits == 8) {
    if (paletteSize == 0 || paletteSize > 256) paletteSize = 256;
    const size_t paletteStart = 14 + static_cast<size_t>(headerSize);
    for (uint32_t i = 0; i < 256; ++i) {
      const size_t at = paletteStart + 4 * i;
      if (i < paletteSize && at + 3 <= bytes.size())
        palette[i] = greyOf(bytes[at + 2], bytes[at + 1], bytes[at]);
      else
        palette[i] = static_cast<uint8_t>(i);
    }
  }
  const size_t bytesPerPixel = bits / 8;
  const size_t stride = (static_cast<size_t>(width) * bytesPerPixel + 3) & ~size_t{3};
  if (dataOffset > bytes.size() || bytes.size() - dataOffset < stride * (height - 1) + width * bytesPerPixel) {
    error = "BMP raster is truncated";
    return false;
  }
  image.width = width;
  image.height = height;
  image.pixels.assign(static_cast<size_t>(width) * height, 0);
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = &bytes[dataOffset + stride * static_cast<size_t>(bottomUp ? height - 1 - y : y)];
    uint8_t* out = &image.pixels[static_cast<size_t>(y) * width];
    for (int x = 0; x < width; ++x)
      out[x] = bits == 8 ? palette[row[x]] : greyOf(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
  }
  return true;
}

#ifdef FX60_HAVE_PNG
bool decodePng(const std::vector<uint8_t>& bytes, GreyImage& image, std::string& error) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&png, bytes.data(), bytes.size())) {
    error = std::string("cannot read PNG: ") + png.message;
    return false;
  }
  if (png.width == 0 || png.height == 0 || png.width > kMaxSide || png.height > kMaxSide) {
    png_image_free(&png);
    error = "PNG image size is out of range";
    return false;
  }
  png.format = PNG_FORMAT_GRAY;
  image.width = static_cast<int>(png.width);
  image.height = static_cast<int>(png.height);
  image.pixels.assign(PNG_IMAGE_SIZE(png), 0);
  if (!png_image_finish_read(&png, nullptr, image.pixels.data(), 0, nullptr)) {
    error = std::string("cannot read PNG: ") + png.message;
    png_image_free(&png);
    return false;
  }
  return true;
}
#endif

}  // namespace

bool pngSupported() {
#ifdef FX60_HAVE_PNG
  return true;
#else
  return false;
#endif
}

bool readGreyImage(const std::string& path, GreyImage& image, std::string& error) {
  std::vector<uint8_t> bytes;
  return readInputFile(path, bytes, error) && decodeGreyImage(bytes, path, image, error);
}

bool decodeGreyImage(const std::vector<uint8_t>& bytes, const std::string& path, GreyImage& image, std::string& error) {
  bool ok = false;
  if (bytes.size() >= 2 && bytes[0] == 'P' && (bytes[1] == '5' || bytes[1] == '2')) {
    ok = decodePgm(bytes, image, error);
  } else if (bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M') {
    ok = decodeBmp(bytes, image, error);
  } else if (bytes.size() >= 8 && bytes[0] == 0x89 && bytes[1] == 'P' && bytes[2] == 'N' && bytes[3] == 'G') {
#ifdef FX60_HAVE_PNG
    ok = decodePng(bytes, image, error);
#else
    error = "this build of fx60 cannot read PNG files";
#endif
  } else {
    error = "unknown image format (expected PGM, BMP or PNG)";
  }
  if (!ok) error = path + ": " + error;
  return ok;
}

GreyImage fitImage(const GreyImage& image, int width, int height) {
  GreyImage fitted;
  fitted.width = width;
  fitted.height = height;
  fitted.pixels.assign(static_cast<size_t>(width) * height, 255);
  // Source offset of the target's top-left corner: positive crops, negative pads.
  const int offsetX = (image.width - width) / 2;
  const int offsetY = (image.height - height) / 2;
  for (int y = 0; y < height; ++y) {
    const int sy = y + offsetY;
    if (sy < 0 || sy >= image.height) continue;
    for (int x = 0; x < width; ++x) {
      const int sx = x + offsetX;
      if (sx >= 0 && sx < image.width)
        fitted.pixels[static_cast<size_t>(y) * width + x] = image.pixels[static_cast<size_t>(sy) * image.width + sx];
    }
  }
  return fitted;
}

bool readFingerprintImage(const std::string& path, bool fit, std::vector<uint8_t>& pixels, std::string& error) {
  std::vector<uint8_t> bytes;
  return readInputFile(path, bytes, error) && decodeFingerprintImage(bytes, path, fit, pixels, error);
}

bool decodeFingerprintImage(const std::vector<uint8_t>& bytes, const std::string& path, bool fit,
                            std::vector<uint8_t>& pixels, std::string& error) {
  GreyImage image;
  if (!decodeGreyImage(bytes, path, image, error)) return false;
  if (image.width != kFingerprintWidth || image.height != kFingerprintHeight) {
    if (!fit) {
      error = path + ": image is " + std::to_string(image.width) + " x " + std::to_string(image.height) + ", not " +
              kFingerprintSize + "; " + kFitAdvice;
      return false;
    }
    image = fitImage(image, kFingerprintWidth, kFingerprintHeight);
  }
  pixels = std::move(image.pixels);
  return true;
}

ColourImage toColour(const uint8_t* grey, int width, int height, int scale) {
  ColourImage image(width * scale, height * scale);
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      const uint8_t g = grey[(y / scale) * width + x / scale];
      image.set(x, y, g, g, g);
    }
  return image;
}

std::optional<PictureFormat> pictureFormatOf(const std::string& path, std::string& error) {
  const std::string extension = lowerExtension(path);
  if (extension == "png") {
    if (pngSupported()) return PictureFormat::Png;
    error = path + ": this build of fx60 cannot write PNG files; use a .pgm or .ppm name";
    return std::nullopt;
  }
  if (extension == "pgm") return PictureFormat::Pgm;
  if (extension == "ppm") return PictureFormat::Ppm;
  error = path + ": cannot write " + (extension.empty() ? std::string("a file without an extension") : "." + extension + " files") +
          "; the name must end in " + (pngSupported() ? ".png, .pgm or .ppm" : ".pgm or .ppm");
  return std::nullopt;
}

namespace {

std::vector<uint8_t> netpbm(const char* magic, int width, int height, size_t channels, const uint8_t* samples) {
  const std::string header = std::string(magic) + "\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  std::vector<uint8_t> bytes(header.begin(), header.end());
  bytes.insert(bytes.end(), samples, samples + static_cast<size_t>(width) * height * channels);
  return bytes;
}

#ifdef FX60_HAVE_PNG
bool encodePng(const uint8_t* samples, int width, int height, bool colour, std::vector<uint8_t>& bytes,
               std::string& error) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(width);
  png.height = static_cast<png_uint_32>(height);
  png.format = colour ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
  png_alloc_size_t size = 0;
  if (png_image_write_to_memory(&png, nullptr, &size, 0, samples, 0, nullptr)) {
    bytes.resize(size);
    if (png_image_write_to_memory(&png, bytes.data(), &size, 0, samples, 0, nullptr)) {
      bytes.resize(size);
      return true;
    }
  }
  error = std::string("cannot encode PNG: ") + png.message;
  return false;
}
#endif

// Encodes RGB (colour) or grey samples in the format of the file name and writes them.
bool writePicture(const std::string& path, const uint8_t* samples, int width, int height, bool colour,
                  std::string& error) {
  const auto format = pictureFormatOf(path, error);
  if (!format) return false;
  const size_t pixels = static_cast<size_t>(width) * height;
  std::vector<uint8_t> converted;
  std::vector<uint8_t> bytes;
  switch (*format) {
    case PictureFormat::Png:
#ifdef FX60_HAVE_PNG
      if (!encodePng(samples, width, height, colour, bytes, error)) {
        error = path + ": " + error;
        return false;
      }
#endif
      break;
    case PictureFormat::Pgm:
      if (colour) {
        converted.resize(pixels);
        for (size_t i = 0; i < pixels; ++i)
          converted[i] = greyOf(samples[3 * i], samples[3 * i + 1], samples[3 * i + 2]);
      }
      bytes = netpbm("P5", width, height, 1, colour ? converted.data() : samples);
      break;
    case PictureFormat::Ppm:
      if (!colour) {
        converted.resize(pixels * 3);
        for (size_t i = 0; i < pixels * 3; ++i) converted[i] = samples[i / 3];
      }
      bytes = netpbm("P6", width, height, 3, colour ? samples : converted.data());
      break;
  }
  return writeOutputFile(path, bytes.data(), bytes.size(), error);
}

}  // namespace

bool writeImage(const std::string& path, const ColourImage& image, std::string& error) {
  return writePicture(path, image.rgb.data(), image.width, image.height, true, error);
}

bool writeGreyImage(const std::string& path, const uint8_t* pixels, int width, int height, std::string& error) {
  return writePicture(path, pixels, width, height, false, error);
}

}  // namespace fx60::tool
