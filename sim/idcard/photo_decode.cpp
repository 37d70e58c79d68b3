// Checking a photo block and decoding it; the JPEG decoder itself is the
// system's (libjpeg on Linux, the imaging component on Windows).
#include <string>

#include "sim/idcard/photo_block.h"

namespace fx60::idcard {

namespace {

// The block's JPEG stream ends with the end-of-image marker before the zero
// padding; a stream cut short does not, even where a decoder would patch it up.
bool endsWithEndOfImage(std::span<const uint8_t> block) {
  size_t end = block.size();
  while (end > 0 && block[end - 1] == 0) --end;
  return end >= 2 && block[end - 2] == 0xFF && block[end - 1] == 0xD9;
}

void fail(std::string* error, std::string message) {
  if (error) *error = std::move(message);
}

}  // namespace

std::optional<Picture> decodePhotoBlock(std::span<const uint8_t> block, std::string* error) {
  if (block.size() < 3 || block[0] != 0xFF || block[1] != 0xD8 || block[2] != 0xFF) {
    fail(error, "the photo block is not a JPEG picture");
    return std::nullopt;
  }
  if (!endsWithEndOfImage(block)) {
    fail(error, "the photo block's JPEG picture is cut short");
    return std::nullopt;
  }
  auto picture = decodeJpeg(block, error);
  if (!picture) return std::nullopt;
  if (picture->width != kPhotoWidth || picture->height != kPhotoHeight) {
    fail(error, "the photo block holds a picture of " + std::to_string(picture->width) + " x " +
                    std::to_string(picture->height) + " pixels, not 102 x 126");
    return std::nullopt;
  }
  return picture;
}

}  // namespace fx60::idcard
