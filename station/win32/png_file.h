// A PNG file writer for screenshots: 8-bit RGB, the image data in stored
// (uncompressed) deflate blocks, so that it needs no compression library.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace fx60::station::win32 {

// `rgb`: width x height pixels of three bytes (red, green, blue), top row first.
// False when the file cannot be written.
bool writePng(const std::filesystem::path& file, int width, int height, const std::vector<uint8_t>& rgb);

}  // namespace fx60::station::win32
