// A small device-independent bitmap container and the BMP file writer (uncompressed,
// 1, 8 or 24 bits per pixel) that saves the live fingerprint images.
#pragma once

#include <cstdint>
#include <filesystem>

namespace fx60::station {

// Owns its row table and pixel block; an empty image has every field zero.
struct DibImage {
  int32_t width = 0;
  int32_t height = 0;
  int32_t bitsPerPixel = 0;  // 1, 8 or 24
  int32_t size = 0;          // height x stride
  int32_t stride = 0;        // bytes per row
  uint8_t** rows = nullptr;  // row i starts at pixels + i x stride
  uint8_t* pixels = nullptr;
};

// Results of the image operations.
enum DibResult : int {
  kDibDone = 0,
  kDibBadArgument = 1,
  kDibOutOfMemory = 2,
  kDibCannotCreateFile = 4,
  kDibWriteFailed = 7,
};

// Allocates a zeroed image; with alignRows each row is padded to a multiple of 4
// bytes. Returns 0, 1 (bad argument) or 2 (out of memory, image untouched).
int createDibImage(DibImage* image, int32_t width, int32_t height, int32_t bitsPerPixel, bool alignRows);

// 0 when the image is complete and of a supported depth, else 1.
int checkDibImage(const DibImage* image);

// Writes the image as a BMP file, first image row at the bottom. Returns 0, 1 (bad
// image or path), 4 (file cannot be created) or 7 (a write failed; the partial
// file stays).
int writeDibFile(const DibImage* image, const char* path);

// Releases the image's memory and resets every field. 1 when the image is missing.
int freeDibImage(DibImage* image);

// Saves width x height grey bytes (row-major) as an 8-bit BMP file. Returns 0,
// 1 (bad argument) or 3 (the image could not be made or written).
int saveGrayBmp(int32_t width, int32_t height, const uint8_t* grey, const std::filesystem::path& path);

}  // namespace fx60::station
