// Reading fingerprint images in the common formats, and writing pictures for
// people to look at.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fx60::tool {

struct GreyImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;  // row-major, row 0 first
};

struct ColourImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;  // 3 bytes per pixel, row-major

  ColourImage() = default;
  ColourImage(int w, int h) : width(w), height(h), rgb(static_cast<size_t>(w) * h * 3, 255) {}
  void set(int x, int y, uint8_t r, uint8_t g, uint8_t b) {
    if (x < 0 || y < 0 || x >= width || y >= height) return;
    uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
    p[0] = r;
    p[1] = g;
    p[2] = b;
  }
};

// Fingerprint images are 256 x 360; other sizes are fitted only when asked.
inline constexpr int kFingerprintWidth = 256;
inline constexpr int kFingerprintHeight = 360;
inline constexpr const char* kFingerprintSize = "256 x 360";
inline constexpr const char* kFitAdvice = "give --fit to centre-crop or pad it with white";

// Reads binary or ASCII PGM, 8-bit (palette) or 24-bit uncompressed BMP, and PNG
// when the tool was built with PNG support; colour is converted to grey. Returns
// false with a message in `error` on any problem.
bool readGreyImage(const std::string& path, GreyImage& image, std::string& error);

// The same for a file already read; `path` names it in messages.
bool decodeGreyImage(const std::vector<uint8_t>& bytes, const std::string& path, GreyImage& image, std::string& error);

// Centre crop or white padding to width x height.
GreyImage fitImage(const GreyImage& image, int width, int height);

// Reads a fingerprint image of exactly 256 x 360 pixels, or any size with `fit`.
bool readFingerprintImage(const std::string& path, bool fit, std::vector<uint8_t>& pixels, std::string& error);
bool decodeFingerprintImage(const std::vector<uint8_t>& bytes, const std::string& path, bool fit,
                            std::vector<uint8_t>& pixels, std::string& error);

// Grey image as a colour picture, each pixel repeated `scale` times both ways.
ColourImage toColour(const uint8_t* grey, int width, int height, int scale = 1);

// Pictures are written in the format their name ends in: .png (when built with
// PNG support), .pgm (grey) or .ppm. Any other name is refused before anything
// is written, with the message in `error`.
enum class PictureFormat { Png, Pgm, Ppm };
std::optional<PictureFormat> pictureFormatOf(const std::string& path, std::string& error);

bool writeImage(const std::string& path, const ColourImage& image, std::string& error);
bool writeGreyImage(const std::string& path, const uint8_t* pixels, int width, int height, std::string& error);

// Whether PNG files can be read and written by this build.
bool pngSupported();

}  // namespace fx60::tool
