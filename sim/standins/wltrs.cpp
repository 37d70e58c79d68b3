// libWltRS.so: decodes a card's photo block (ours: a baseline JPEG of 102 x 126
// pixels, zero-padded to 1024 bytes) from a ".wlt" file into a 24-bit bitmap
// file of the same name with the extension ".bmp", beside it.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "sim/idcard/card_file.h"
#include "sim/idcard/photo_block.h"
#include "sim/standins/bmp_file.h"
#include "sim/standins/standin_export.h"

namespace {

constexpr int kDone = 1;
constexpr int kBadArgument = 0;    // no path, or a path that already names a ".bmp" file
constexpr int kUnreadable = -1;    // the file cannot be read
constexpr int kNotOurPhoto = -2;   // the block is not one of our photo blocks
constexpr int kNotWritten = -3;    // the bitmap cannot be written

}  // namespace

// The mode is not used: every mode decodes the same way (the station passes 1).
// Any result but 1 leaves no bitmap file behind.
STANDIN_EXPORT int GetBmp(const char* wltPath, int /*mode*/) {
  if (wltPath == nullptr || *wltPath == '\0') return kBadArgument;
  const std::filesystem::path source(wltPath);
  std::filesystem::path bitmap = source;
  bitmap.replace_extension(".bmp");
  if (bitmap == source) return kBadArgument;

  std::ifstream in(source, std::ios::binary);
  if (!in) return kUnreadable;
  std::vector<uint8_t> block;
  char byte;
  while (block.size() <= fx60::idcard::kPhotoBlockBytes && in.get(byte)) block.push_back(static_cast<uint8_t>(byte));
  if (in.bad()) return kUnreadable;
  if (block.size() > fx60::idcard::kPhotoBlockBytes) return kNotOurPhoto;

  const auto photo = fx60::idcard::decodePhotoBlock(block, nullptr);
  if (!photo) return kNotOurPhoto;
  const auto file = fx60::standins::colourBmpFile(photo->rgb, photo->width, photo->height);
  return fx60::standins::writeWholeFile(bitmap, file) ? kDone : kNotWritten;
}
