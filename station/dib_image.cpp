#include "station/dib_image.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

namespace fx60::station {

namespace {

constexpr int kFileHeaderBytes = 14;
constexpr int kInfoHeaderBytes = 40;
constexpr int kSpareBytes = 16;  // the pixel block's allowance for readers that overrun a row

bool supportedDepth(int32_t bits) { return bits == 1 || bits == 8 || bits == 24; }

int paletteEntries(int32_t bits) { return bits == 8 ? 256 : bits == 1 ? 2 : 0; }

void put16(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}

void put32(uint8_t* at, uint32_t value) {
  put16(at, value);
  put16(at + 2, value >> 16);
}

bool writeAll(std::FILE* file, const void* data, size_t bytes) {
  return std::fwrite(data, 1, bytes, file) == bytes;
}

// Header, palette and pixels; false at the first short write.
bool writeBmp(std::FILE* file, const DibImage& image) {
  const uint32_t alignedStride = (static_cast<uint32_t>(image.stride) + 3u) & ~3u;
  const uint32_t imageBytes = alignedStride * static_cast<uint32_t>(image.height);
  const uint32_t palette = static_cast<uint32_t>(paletteEntries(image.bitsPerPixel));
  const uint32_t pixelOffset = kFileHeaderBytes + kInfoHeaderBytes + 4u * palette;

  uint8_t header[kFileHeaderBytes + kInfoHeaderBytes] = {};
  header[0] = 'B';
  header[1] = 'M';
  put32(header + 2, pixelOffset + imageBytes);
  put32(header + 10, pixelOffset);
  put32(header + 14, kInfoHeaderBytes);
  put32(header + 18, static_cast<uint32_t>(image.width));
  put32(header + 22, static_cast<uint32_t>(image.height));  // positive: rows stored bottom-up
  put16(header + 26, 1);
  put16(header + 28, static_cast<uint32_t>(image.bitsPerPixel));
  put32(header + 34, imageBytes);
  if (!writeAll(file, header, sizeof header)) return false;

  for (uint32_t i = 0; i < palette; ++i) {
    uint8_t entry[4];
    if (palette == 2) {
      const uint8_t level = i == 0 ? 0 : 255;
      entry[0] = entry[1] = entry[2] = level;
      entry[3] = 0;
    } else {
      entry[0] = entry[1] = entry[2] = static_cast<uint8_t>(i);
      entry[3] = i == 0 ? 0 : 255;
    }
    if (!writeAll(file, entry, sizeof entry)) return false;
  }

  if (alignedStride == static_cast<uint32_t>(image.stride))
    return writeAll(file, image.pixels, static_cast<size_t>(image.size));
  const uint8_t padding[4] = {};
  const size_t paddingBytes = alignedStride - static_cast<uint32_t>(image.stride);
  for (int32_t row = 0; row < image.height; ++row) {
    if (!writeAll(file, image.rows[row], static_cast<size_t>(image.stride)) ||
        !writeAll(file, padding, paddingBytes))
      return false;
  }
  return true;
}

}  // namespace

int createDibImage(DibImage* image, int32_t width, int32_t height, int32_t bitsPerPixel, bool alignRows) {
  if (image == nullptr || width <= 0 || height <= 0 || !supportedDepth(bitsPerPixel)) return kDibBadArgument;
  const int64_t rowBits = static_cast<int64_t>(width) * bitsPerPixel;
  const int64_t stride = alignRows ? (rowBits + 31) / 32 * 4 : (rowBits + 7) / 8;
  const int64_t size = stride * height;
  // The file's size fields are 32 bits wide; a larger image cannot be written.
  if (size + kSpareBytes + 4 * height > std::numeric_limits<int32_t>::max()) return kDibOutOfMemory;

  uint8_t* pixels = new (std::nothrow) uint8_t[static_cast<size_t>(size) + kSpareBytes];
  uint8_t** rows = new (std::nothrow) uint8_t*[static_cast<size_t>(height)];
  if (pixels == nullptr || rows == nullptr) {
    delete[] pixels;
    delete[] rows;
    return kDibOutOfMemory;
  }
  std::memset(pixels, 0, static_cast<size_t>(size));
  for (int32_t row = 0; row < height; ++row) rows[row] = pixels + static_cast<int64_t>(row) * stride;

  *image = DibImage{width, height, bitsPerPixel, static_cast<int32_t>(size), static_cast<int32_t>(stride), rows, pixels};
  return kDibDone;
}

int checkDibImage(const DibImage* image) {
  if (image == nullptr || image->width <= 0 || image->height <= 0 || !supportedDepth(image->bitsPerPixel) ||
      image->pixels == nullptr || image->stride <= 0 || image->rows == nullptr)
    return kDibBadArgument;
  return kDibDone;
}

int writeDibFile(const DibImage* image, const char* path) {
  if (image == nullptr || path == nullptr) return kDibBadArgument;
  if (const int check = checkDibImage(image); check != kDibDone) return check;
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return kDibCannotCreateFile;
  const bool written = writeBmp(file, *image);
  // Buffered bytes reach the file only at the close, so a full disk shows there.
  const bool closed = std::fclose(file) == 0;
  return written && closed ? kDibDone : kDibWriteFailed;
}

int freeDibImage(DibImage* image) {
  if (image == nullptr) return kDibBadArgument;
  delete[] image->pixels;
  delete[] image->rows;
  *image = DibImage{};
  return kDibDone;
}

int saveGrayBmp(int32_t width, int32_t height, const uint8_t* grey, const std::filesystem::path& path) {
  if (width == 0 || height == 0 || grey == nullptr || path.empty()) return 1;
  DibImage image;
  if (createDibImage(&image, width, height, 8, false) != kDibDone) return 3;
  std::memcpy(image.pixels, grey, static_cast<size_t>(image.size));
  const int written = writeDibFile(&image, path.string().c_str());
  freeDibImage(&image);
  return written == kDibDone ? 0 : 3;
}

}  // namespace fx60::station
