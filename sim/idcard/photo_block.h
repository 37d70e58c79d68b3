// The card photo: a colour picture, and the card's photo block, which on our
// virtual cards is a baseline JPEG of 102 x 126 pixels squeezed into at most 1024
// bytes and padded with zero bytes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace fx60::idcard {

inline constexpr int kPhotoWidth = 102;
inline constexpr int kPhotoHeight = 126;

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;  // 3 bytes per pixel, row-major, top row first
};

// Pictures beyond this many pixels are refused rather than decoded.
inline constexpr size_t kMaxPicturePixels = size_t{8000} * 8000;

// Reads a PNG or JPEG file of any size; empty with a message on any problem
// (picture_file.cpp, with libpng).
std::optional<Picture> readPicture(const std::filesystem::path& path, std::string* error);

// Writes a JPEG file at the given quality (for artwork made by our tools).
bool writeJpeg(const std::filesystem::path& path, const Picture& picture, int quality, std::string* error);

// Decodes JPEG bytes; empty with a message when they are damaged (libjpeg's
// warnings count as damage) or the picture is too large.
std::optional<Picture> decodeJpeg(std::span<const uint8_t> bytes, std::string* error);

// Baseline JPEG bytes of a picture at a quality of 1 to 100, in colour or grey;
// empty when encoding failed.
std::vector<uint8_t> encodeJpeg(const Picture& picture, int quality, bool grey);

// Crops the picture to the card photo's proportions about its centre and scales
// it to 102 x 126 (each output pixel the mean of the source area it covers).
Picture fitToCardPhoto(const Picture& picture);

// The best JPEG of a 102 x 126 picture within `budget` bytes: colour at the
// highest quality that fits, else grey; empty with a message when even the
// lowest quality is too large.
std::optional<std::vector<uint8_t>> squeezePhoto(const Picture& photo, size_t budget, std::string* error);

// The photo block of a picture of any size: fitted, squeezed and padded to 1024 bytes.
std::optional<std::vector<uint8_t>> makePhotoBlock(const Picture& picture, std::string* error);

// Decodes a photo block; empty with a message when it is not one of ours (not a
// JPEG, damaged, or not 102 x 126).
std::optional<Picture> decodePhotoBlock(std::span<const uint8_t> block, std::string* error);

}  // namespace fx60::idcard
