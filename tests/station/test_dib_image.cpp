// The BMP writer: byte layout of the files it writes and the images it refuses.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "station/dib_image.h"
#include "tests/support/test_sockets.h"

namespace fx60::station {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> readFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t le32(const std::vector<uint8_t>& bytes, size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

uint16_t le16(const std::vector<uint8_t>& bytes, size_t at) { return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8); }

class DibImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("station-dib-" + std::to_string(fx60::testing::test_sockets::processId()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path file(const char* name) const { return dir_ / name; }

  fs::path dir_;
};

TEST_F(DibImageTest, FingerprintImageFileHasTheFixedLayout) {
  std::vector<uint8_t> grey(256 * 360);
  for (size_t i = 0; i < grey.size(); ++i) grey[i] = static_cast<uint8_t>(i * 7 + i / 256);
  ASSERT_EQ(saveGrayBmp(256, 360, grey.data(), file("finger.bmp")), 0);

  const auto bmp = readFile(file("finger.bmp"));
  ASSERT_EQ(bmp.size(), 93238u);
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(bmp[1], 'M');
  EXPECT_EQ(le32(bmp, 2), 93238u);
  EXPECT_EQ(le32(bmp, 6), 0u);  // both reserved words
  EXPECT_EQ(le32(bmp, 10), 1078u);
  EXPECT_EQ(le32(bmp, 14), 40u);
  EXPECT_EQ(le32(bmp, 18), 256u);
  EXPECT_EQ(le32(bmp, 22), 360u);
  EXPECT_EQ(le16(bmp, 26), 1);
  EXPECT_EQ(le16(bmp, 28), 8);
  EXPECT_EQ(le32(bmp, 30), 0u);
  EXPECT_EQ(le32(bmp, 34), 92160u);
  for (size_t at = 38; at < 54; at += 4) EXPECT_EQ(le32(bmp, at), 0u) << "offset " << at;

  // Palette: grey levels, reserved byte 0 only in entry 0.
  EXPECT_EQ(std::vector<uint8_t>(bmp.begin() + 54, bmp.begin() + 58), (std::vector<uint8_t>{0, 0, 0, 0}));
  EXPECT_EQ(std::vector<uint8_t>(bmp.begin() + 58, bmp.begin() + 62), (std::vector<uint8_t>{1, 1, 1, 0xFF}));
  EXPECT_EQ(std::vector<uint8_t>(bmp.begin() + 54 + 4 * 255, bmp.begin() + 1078),
            (std::vector<uint8_t>{255, 255, 255, 0xFF}));
  // The image's first row is the file's first (bottom) row.
  EXPECT_TRUE(std::equal(grey.begin(), grey.end(), bmp.begin() + 1078));
}

TEST_F(DibImageTest, RowsWhoseStrideIsNotAMultipleOfFourArePadded) {
  const uint8_t grey[] = {1, 2, 3, 4, 5, 6};  // 3 x 2
  ASSERT_EQ(saveGrayBmp(3, 2, grey, file("narrow.bmp")), 0);
  const auto bmp = readFile(file("narrow.bmp"));
  EXPECT_EQ(le32(bmp, 34), 8u);  // 4 x height
  EXPECT_EQ(le32(bmp, 2), 1078u + 8u);
  ASSERT_EQ(bmp.size(), 1078u + 8u);
  EXPECT_EQ(std::vector<uint8_t>(bmp.begin() + 1078, bmp.end()), (std::vector<uint8_t>{1, 2, 3, 0, 4, 5, 6, 0}));
}

TEST_F(DibImageTest, OneBitImagesWithoutAlignmentGetTwoZeroBytesPerRow) {
  DibImage image;
  ASSERT_EQ(createDibImage(&image, 10, 3, 1, false), 0);
  EXPECT_EQ(image.stride, 2);
  EXPECT_EQ(image.size, 6);
  EXPECT_EQ(image.rows[2], image.pixels + 4);
  image.rows[0][0] = 0x80;
  image.rows[2][1] = 0xC0;
  ASSERT_EQ(writeDibFile(&image, file("mono.bmp").string().c_str()), 0);
  EXPECT_EQ(freeDibImage(&image), 0);
  EXPECT_EQ(image.pixels, nullptr);
  EXPECT_EQ(image.width, 0);

  const auto bmp = readFile(file("mono.bmp"));
  EXPECT_EQ(le32(bmp, 10), 62u);  // two palette entries
  EXPECT_EQ(le32(bmp, 34), 12u);
  EXPECT_EQ(std::vector<uint8_t>(bmp.begin() + 54, bmp.begin() + 62),
            (std::vector<uint8_t>{0, 0, 0, 0, 255, 255, 255, 0}));
  EXPECT_EQ(std::vector<uint8_t>(bmp.begin() + 62, bmp.end()),
            (std::vector<uint8_t>{0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0, 0}));
}

TEST_F(DibImageTest, AlignedTwentyFourBitRowsNeedNoPaletteOrPadding) {
  DibImage image;
  ASSERT_EQ(createDibImage(&image, 5, 2, 24, true), 0);
  EXPECT_EQ(image.stride, 16);
  ASSERT_EQ(writeDibFile(&image, file("colour.bmp").string().c_str()), 0);
  freeDibImage(&image);
  const auto bmp = readFile(file("colour.bmp"));
  EXPECT_EQ(le32(bmp, 10), 54u);
  EXPECT_EQ(bmp.size(), 54u + 32u);
}

TEST_F(DibImageTest, UnsupportedDepthsAndBadArgumentsAreRefused) {
  DibImage image;
  EXPECT_EQ(createDibImage(&image, 4, 4, 16, true), 1);
  EXPECT_EQ(createDibImage(&image, 4, 4, 32, true), 1);
  EXPECT_EQ(createDibImage(&image, 0, 4, 8, true), 1);
  EXPECT_EQ(createDibImage(&image, 4, -1, 8, true), 1);
  EXPECT_EQ(createDibImage(nullptr, 4, 4, 8, true), 1);
  EXPECT_EQ(image.pixels, nullptr);

  ASSERT_EQ(createDibImage(&image, 4, 4, 8, true), 0);
  image.bitsPerPixel = 16;
  EXPECT_EQ(writeDibFile(&image, file("x.bmp").string().c_str()), 1);
  image.bitsPerPixel = 32;
  EXPECT_EQ(checkDibImage(&image), 1);
  image.bitsPerPixel = 8;
  EXPECT_EQ(writeDibFile(&image, nullptr), 1);
  EXPECT_FALSE(fs::exists(file("x.bmp")));
  freeDibImage(&image);
  EXPECT_EQ(checkDibImage(&image), 1);  // freed: empty
  EXPECT_EQ(freeDibImage(nullptr), 1);

  const uint8_t grey[4] = {};
  EXPECT_EQ(saveGrayBmp(0, 2, grey, file("y.bmp")), 1);
  EXPECT_EQ(saveGrayBmp(2, 2, nullptr, file("y.bmp")), 1);
  EXPECT_EQ(saveGrayBmp(2, 2, grey, ""), 1);
  EXPECT_EQ(saveGrayBmp(-2, 2, grey, file("y.bmp")), 3);
}

TEST_F(DibImageTest, FilesThatCannotBeWrittenAreReported) {
  const uint8_t grey[4] = {};
  EXPECT_EQ(saveGrayBmp(2, 2, grey, dir_ / "missing" / "y.bmp"), 3);
  DibImage image;
  ASSERT_EQ(createDibImage(&image, 2, 2, 8, false), 0);
  EXPECT_EQ(writeDibFile(&image, (dir_ / "missing" / "y.bmp").string().c_str()), 4);
  // A full device: the bytes cannot all be written.
  if (fs::exists("/dev/full")) {
    EXPECT_EQ(writeDibFile(&image, "/dev/full"), 7);
  }
  freeDibImage(&image);
}

}  // namespace
}  // namespace fx60::station
