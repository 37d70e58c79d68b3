#include "sim/idcard/photo_block.h"

// jpeglib.h needs FILE and size_t declared first.
#include <cstdio>
#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdlib>

#include "sim/idcard/card_file.h"

namespace fx60::idcard {

namespace {

constexpr int kHighestQuality = 95;
constexpr int kLowestQuality = 5;

bool fail(std::string* error, std::string message) {
  if (error) *error = std::move(message);
  return false;
}

// libjpeg reports errors through a call that must not return: it jumps back to
// the setjmp of the running codec call. Warnings (a damaged stream the library
// would patch up) count as errors too.
struct JpegErrors {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void jpegError(j_common_ptr codec) {
  auto* errors = reinterpret_cast<JpegErrors*>(codec->err);
  codec->err->format_message(codec, errors->message);
  std::longjmp(errors->jump, 1);
}

void jpegMessage(j_common_ptr codec, int level) {
  if (level < 0) jpegError(codec);  // a warning: the data is damaged
}

void installErrors(JpegErrors& errors) {
  jpeg_std_error(&errors.manager);
  errors.manager.error_exit = jpegError;
  errors.manager.emit_message = jpegMessage;
  errors.message[0] = '\0';
}

// Only plain data lives in this frame across the setjmp, so the jump skips no destructor.
bool decodeInto(const uint8_t* data, size_t size, Picture& out, std::string* error) {
  jpeg_decompress_struct codec{};
  JpegErrors errors;
  installErrors(errors);
  codec.err = &errors.manager;
  if (setjmp(errors.jump)) {
    jpeg_destroy_decompress(&codec);
    return fail(error, std::string("damaged JPEG data: ") + errors.message);
  }
  jpeg_create_decompress(&codec);
  jpeg_mem_src(&codec, data, static_cast<unsigned long>(size));
  jpeg_read_header(&codec, TRUE);
  codec.out_color_space = JCS_RGB;
  if (static_cast<size_t>(codec.image_width) * codec.image_height > kMaxPicturePixels) {
    jpeg_destroy_decompress(&codec);
    return fail(error, "the picture is too large");
  }
  jpeg_start_decompress(&codec);
  out.width = static_cast<int>(codec.output_width);
  out.height = static_cast<int>(codec.output_height);
  out.rgb.assign(static_cast<size_t>(out.width) * out.height * 3, 0);
  while (codec.output_scanline < codec.output_height) {
    JSAMPROW row = out.rgb.data() + static_cast<size_t>(codec.output_scanline) * out.width * 3;
    jpeg_read_scanlines(&codec, &row, 1);
  }
  jpeg_finish_decompress(&codec);
  jpeg_destroy_decompress(&codec);
  return true;
}

}  // namespace

std::vector<uint8_t> encodeJpeg(const Picture& picture, int quality, bool grey) {
  jpeg_compress_struct codec{};
  JpegErrors errors;
  installErrors(errors);
  codec.err = &errors.manager;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  if (setjmp(errors.jump)) {
    jpeg_destroy_compress(&codec);
    std::free(buffer);
    return {};
  }
  jpeg_create_compress(&codec);
  jpeg_mem_dest(&codec, &buffer, &size);
  codec.image_width = static_cast<JDIMENSION>(picture.width);
  codec.image_height = static_cast<JDIMENSION>(picture.height);
  codec.input_components = 3;
  codec.in_color_space = JCS_RGB;
  jpeg_set_defaults(&codec);
  if (grey) jpeg_set_colorspace(&codec, JCS_GRAYSCALE);
  jpeg_set_quality(&codec, quality, TRUE);  // baseline: 8-bit quantisation tables
  codec.optimize_coding = TRUE;              // smaller Huffman tables, same picture
  codec.write_JFIF_header = FALSE;           // 18 bytes the decoder does not need
  jpeg_start_compress(&codec, TRUE);
  while (codec.next_scanline < codec.image_height) {
    JSAMPROW row = const_cast<uint8_t*>(picture.rgb.data()) + static_cast<size_t>(codec.next_scanline) * picture.width * 3;
    jpeg_write_scanlines(&codec, &row, 1);
  }
  jpeg_finish_compress(&codec);
  jpeg_destroy_compress(&codec);
  std::vector<uint8_t> bytes(buffer, buffer + size);
  std::free(buffer);
  return bytes;
}

std::optional<Picture> decodeJpeg(std::span<const uint8_t> bytes, std::string* error) {
  Picture picture;
  if (!decodeInto(bytes.data(), bytes.size(), picture, error)) return std::nullopt;
  return picture;
}

Picture fitToCardPhoto(const Picture& picture) {
  // The largest centred area of the photo's proportions, 102 : 126.
  int cropWidth = picture.width;
  int cropHeight = picture.height;
  if (static_cast<int64_t>(picture.width) * kPhotoHeight > static_cast<int64_t>(picture.height) * kPhotoWidth)
    cropWidth = std::max(1, static_cast<int>(static_cast<int64_t>(picture.height) * kPhotoWidth / kPhotoHeight));
  else
    cropHeight = std::max(1, static_cast<int>(static_cast<int64_t>(picture.width) * kPhotoHeight / kPhotoWidth));
  const int left = (picture.width - cropWidth) / 2;
  const int top = (picture.height - cropHeight) / 2;

  Picture photo{kPhotoWidth, kPhotoHeight, std::vector<uint8_t>(size_t{kPhotoWidth} * kPhotoHeight * 3)};
  for (int y = 0; y < kPhotoHeight; ++y) {
    const int y0 = top + y * cropHeight / kPhotoHeight;
    const int y1 = std::max(y0 + 1, top + (y + 1) * cropHeight / kPhotoHeight);
    for (int x = 0; x < kPhotoWidth; ++x) {
      const int x0 = left + x * cropWidth / kPhotoWidth;
      const int x1 = std::max(x0 + 1, left + (x + 1) * cropWidth / kPhotoWidth);
      uint64_t sum[3] = {0, 0, 0};
      for (int sy = y0; sy < y1; ++sy)
        for (int sx = x0; sx < x1; ++sx)
          for (int c = 0; c < 3; ++c) sum[c] += picture.rgb[(static_cast<size_t>(sy) * picture.width + sx) * 3 + c];
      const uint64_t count = static_cast<uint64_t>(y1 - y0) * (x1 - x0);
      for (int c = 0; c < 3; ++c)
        photo.rgb[(static_cast<size_t>(y) * kPhotoWidth + x) * 3 + c] = static_cast<uint8_t>((sum[c] + count / 2) / count);
    }
  }
  return photo;
}

std::optional<std::vector<uint8_t>> squeezePhoto(const Picture& photo, size_t budget, std::string* error) {
  for (const bool grey : {false, true}) {
    for (int quality = kHighestQuality; quality >= kLowestQuality; --quality) {
      auto bytes = encodeJpeg(photo, quality, grey);
      if (!bytes.empty() && bytes.size() <= budget) return bytes;
    }
  }
  fail(error, "the photo cannot be squeezed into " + std::to_string(budget) +
                  " bytes, even in grey at the lowest quality; use a plainer picture");
  return std::nullopt;
}

std::optional<std::vector<uint8_t>> makePhotoBlock(const Picture& picture, std::string* error) {
  auto block = squeezePhoto(fitToCardPhoto(picture), kPhotoBlockBytes, error);
  if (block) block->resize(kPhotoBlockBytes, 0);
  return block;
}

}  // namespace fx60::idcard
