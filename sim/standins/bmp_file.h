// Uncompressed Windows bitmap files: 8-bit grey with a grey palette, or 24-bit colour.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace fx60::standins {

// The file image of a grey picture (width x height bytes, top row first): a
// 54-byte header, a 256-entry grey palette and the rows bottom-up, each padded to
// a multiple of 4 bytes.
std::vector<uint8_t> greyBmpFile(std::span<const uint8_t> grey, int width, int height);

// The file image of a colour picture (3 bytes R, G, B per pixel, top row first).
std::vector<uint8_t> colourBmpFile(std::span<const uint8_t> rgb, int width, int height);

// Writes the bytes to the file; on failure removes whatever was written.
bool writeWholeFile(const std::filesystem::path& path, std::span<const uint8_t> bytes);

}  // namespace fx60::standins
