#include "sim/standins/bmp_file.h"

#include <algorithm>
#include <fstream>
#include <system_error>

namespace fx60::standins {

namespace {

constexpr size_t kHeaderBytes = 54;

void putU16(std::vector<uint8_t>& out, size_t at, uint32_t value) {
  out[at] = static_cast<uint8_t>(value);
  out[at + 1] = static_cast<uint8_t>(value >> 8);
}

void putU32(std::vector<uint8_t>& out, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// The headers and, for 8 bits, the palette; the pixel rows are left zero.
std::vector<uint8_t> emptyBmp(int width, int height, int bitsPerPixel, size_t stride) {
  const size_t paletteBytes = bitsPerPixel == 8 ? 4 * 256 : 0;
  const size_t pixelOffset = kHeaderBytes + paletteBytes;
  const size_t imageBytes = stride * static_cast<size_t>(height);
  std::vector<uint8_t> file(pixelOffset + imageBytes, 0);
  file[0] = 'B';
  file[1] = 'M';
  putU32(file, 2, static_cast<uint32_t>(file.size()));
  putU32(file, 10, static_cast<uint32_t>(pixelOffset));
  putU32(file, 14, 40);
  putU32(file, 18, static_cast<uint32_t>(width));
  putU32(file, 22, static_cast<uint32_t>(height));  // positive: rows stored bottom-up
  putU16(file, 26, 1);
  putU16(file, 28, static_cast<uint32_t>(bitsPerPixel));
  putU32(file, 34, static_cast<uint32_t>(imageBytes));
  for (size_t i = 0; i < paletteBytes / 4; ++i)
    for (size_t c = 0; c < 3; ++c) file[kHeaderBytes + 4 * i + c] = static_cast<uint8_t>(i);
  return file;
}

}  // namespace

std::vector<uint8_t> greyBmpFile(std::span<const uint8_t> grey, int width, int height) {
  const size_t stride = (static_cast<size_t>(width) + 3) / 4 * 4;
  auto file = emptyBmp(width, height, 8, stride);
  uint8_t* pixels = file.data() + kHeaderBytes + 4 * 256;
  for (int y = 0; y < height; ++y)
    std::copy_n(grey.begin() + static_cast<std::ptrdiff_t>(y) * width, width,
                pixels + static_cast<size_t>(height - 1 - y) * stride);
  return file;
}

std::vector<uint8_t> colourBmpFile(std::span<const uint8_t> rgb, int width, int height) {
  const size_t stride = (static_cast<size_t>(width) * 3 + 3) / 4 * 4;
  auto file = emptyBmp(width, height, 24, stride);
  uint8_t* pixels = file.data() + kHeaderBytes;
  for (int y = 0; y < height; ++y) {
    uint8_t* row = pixels + static_cast<size_t>(height - 1 - y) * stride;
    for (int x = 0; x < width; ++x) {
      const uint8_t* source = rgb.data() + (static_cast<size_t>(y) * width + x) * 3;
      row[3 * x] = source[2];  // blue, green, red
      row[3 * x + 1] = source[1];
      row[3 * x + 2] = source[0];
    }
  }
  return file;
}

bool writeWholeFile(const std::filesystem::path& path, std::span<const uint8_t> bytes) {
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (out) return true;
  }
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
  return false;
}

}  // namespace fx60::standins
