// Reading the image formats the tool accepts, and refusing damaged files.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "tools/support/image_io.h"

namespace fx60::tool {
namespace {

namespace fs = std::filesystem;

class ImageFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("fx60-image-io-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string write(const std::string& name, const std::vector<uint8_t>& bytes) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return path.string();
  }
  std::string write(const std::string& name, const std::string& text) {
    return write(name, std::vector<uint8_t>(text.begin(), text.end()));
  }

  fs::path dir_;
};

std::vector<uint8_t> binaryPgm(int width, int height, uint8_t (*pixel)(int x, int y)) {
  const std::string header = "P5\n# made by a test\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  std::vector<uint8_t> bytes(header.begin(), header.end());
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) bytes.push_back(pixel(x, y));
  return bytes;
}

uint8_t gradient(int x, int y) { return static_cast<uint8_t>((x + 3 * y) & 0xFF); }

void putLe(std::vector<uint8_t>& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// An uncompressed bottom-up BMP with rows padded to 4 bytes.
std::vector<uint8_t> bmp(int width, int height, int bitsPerPixel, uint8_t (*pixel)(int x, int y)) {
  const int paletteBytes = bitsPerPixel == 8 ? 256 * 4 : 0;
  const int rowBytes = ((width * bitsPerPixel / 8) + 3) & ~3;
  const int offset = 14 + 40 + paletteBytes;
  std::vector<uint8_t> out = {'B', 'M'};
  putLe(out, static_cast<uint32_t>(offset + rowBytes * height), 4);
  putLe(out, 0, 4);
  putLe(out, static_cast<uint32_t>(offset), 4);
  putLe(out, 40, 4);
  putLe(out, static_cast<uint32_t>(width), 4);
  putLe(out, static_cast<uint32_t>(height), 4);
  putLe(out, 1, 2);
  putLe(out, static_cast<uint32_t>(bitsPerPixel), 2);
  for (int i = 0; i < 6; ++i) putLe(out, 0, 4);
  // A palette that inverts, so that palette lookup is really exercised.
  for (int i = 0; i < paletteBytes / 4; ++i) putLe(out, 0x00010101u * static_cast<uint32_t>(255 - i), 4);
  for (int y = height - 1; y >= 0; --y) {
    int written = 0;
    for (int x = 0; x < width; ++x) {
      const uint8_t value = pixel(x, y);
      if (bitsPerPixel == 8) {
        out.push_back(static_cast<uint8_t>(255 - value));
        written += 1;
      } else {
        out.insert(out.end(), {value, value, value});
        written += 3;
      }
    }
    for (; written < rowBytes; ++written) out.push_back(0);
  }
  return out;
}

TEST_F(ImageFiles, BinaryAndAsciiPgm) {
  GreyImage image;
  std::string error;
  ASSERT_TRUE(readGreyImage(write("a.pgm", binaryPgm(7, 5, gradient)), image, error)) << error;
  EXPECT_EQ(image.width, 7);
  EXPECT_EQ(image.height, 5);
  EXPECT_EQ(image.pixels[3 * 7 + 4], gradient(4, 3));

  ASSERT_TRUE(readGreyImage(write("b.pgm", "P2\n3 2\n# comment\n255\n0 10 20\n30 40 255\n"), image, error)) << error;
  EXPECT_EQ(image.pixels, (std::vector<uint8_t>{0, 10, 20, 30, 40, 255}));
}

TEST_F(ImageFiles, EightAndTwentyFourBitBmp) {
  for (int bits : {8, 24}) {
    GreyImage image;
    std::string error;
    // An odd width makes the rows padded.
    ASSERT_TRUE(readGreyImage(write("c" + std::to_string(bits) + ".bmp", bmp(13, 6, bits, gradient)), image, error))
        << bits << ": " << error;
    ASSERT_EQ(image.width, 13);
    ASSERT_EQ(image.height, 6);
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 13; ++x) ASSERT_EQ(image.pixels[y * 13 + x], gradient(x, y)) << bits << " " << x << "," << y;
  }
}

TEST_F(ImageFiles, DamagedFilesAreRefusedWithAMessage) {
  auto truncated = binaryPgm(20, 20, gradient);
  truncated.resize(truncated.size() - 7);
  auto shortBmp = bmp(16, 16, 24, gradient);
  shortBmp.resize(shortBmp.size() / 2);
  const std::vector<std::pair<std::string, std::vector<uint8_t>>> cases = {
      {"truncated.pgm", truncated},
      {"huge.pgm", {'P', '5', '\n', '9', '9', '9', '9', '9', '9', '9', ' ', '9', '9', '9', '9', '9', '9', '\n', '2', '5', '5', '\n', 0}},
      {"short.bmp", shortBmp},
      {"empty.pgm", {}},
      {"text.png", {'h', 'e', 'l', 'l', 'o'}},
      {"ascii.pgm", {'P', '2', '\n', '2', ' ', '2', '\n', '2', '5', '5', '\n', '1', ' ', '2', '\n'}},
  };
  for (const auto& [name, bytes] : cases) {
    GreyImage image;
    std::string error;
    EXPECT_FALSE(readGreyImage(write(name, bytes), image, error)) << name;
    EXPECT_FALSE(error.empty()) << name;
  }
  GreyImage image;
  std::string error;
  EXPECT_FALSE(readGreyImage((dir_ / "missing.pgm").string(), image, error));
  EXPECT_NE(error.find("missing.pgm"), std::string::npos);
}

TEST_F(ImageFiles, FingerprintSizeIsEnforcedUnlessFitted) {
  const std::string path = write("small.pgm", binaryPgm(200, 300, gradient));
  std::vector<uint8_t> pixels;
  std::string error;
  EXPECT_FALSE(readFingerprintImage(path, false, pixels, error));
  EXPECT_NE(error.find("256"), std::string::npos) << error;

  ASSERT_TRUE(readFingerprintImage(path, true, pixels, error)) << error;
  ASSERT_EQ(pixels.size(), 92160u);
  // Padded with white around the centred original.
  EXPECT_EQ(pixels[0], 255);
  EXPECT_EQ(pixels[30 * 256 + 28], gradient(0, 0));
  EXPECT_EQ(pixels[329 * 256 + 227], gradient(199, 299));
}

TEST(FitImage, CentreCropAndPadding) {
  GreyImage large{6, 4, {}};
  for (int i = 0; i < 24; ++i) large.pixels.push_back(static_cast<uint8_t>(i));
  const GreyImage cropped = fitImage(large, 2, 2);
  EXPECT_EQ(cropped.pixels, (std::vector<uint8_t>{8, 9, 14, 15}));
  const GreyImage padded = fitImage(GreyImage{1, 1, {7}}, 3, 3);
  EXPECT_EQ(padded.pixels, (std::vector<uint8_t>{255, 255, 255, 255, 7, 255, 255, 255, 255}));
}

TEST_F(ImageFiles, WrittenPicturesReadBack) {
  std::vector<uint8_t> grey(16);
  for (int i = 0; i < 16; ++i) grey[i] = static_cast<uint8_t>(i * 16);
  ColourImage picture = toColour(grey.data(), 4, 4, 2);
  EXPECT_EQ(picture.width, 8);
  std::string error;
  for (const char* name : {"out.pgm", "out.png"}) {
    if (std::string(name).ends_with(".png") && !pngSupported()) continue;
    const std::string path = (dir_ / name).string();
    ASSERT_TRUE(writeImage(path, picture, error)) << name << ": " << error;
    GreyImage back;
    ASSERT_TRUE(readGreyImage(path, back, error)) << name << ": " << error;
    EXPECT_EQ(back.width, 8);
    EXPECT_EQ(back.height, 8);
  }
}

}  // namespace
}  // namespace fx60::tool
