// The text converter and the photo decoder stand-ins as Windows DLLs, loaded the
// way the station loads them: by file name from the program's directory.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dynamic_library.h"
#include "platform/text_encoding.h"
#include "sim/idcard/nations.h"

namespace {

namespace fs = std::filesystem;
using fx60::platform::DynamicLibrary;

// UTF-8 text as the zero-terminated UCS-2 little-endian source the converter takes.
std::string ucs2Source(std::string_view utf8) {
  std::string out;
  for (size_t at = 0; at < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[at]);
    const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : 3;
    unsigned unit = length == 1 ? lead : length == 2 ? lead & 0x1F : lead & 0x0F;
    for (size_t i = 1; i < length; ++i) unit = unit << 6 | (static_cast<unsigned char>(utf8[at + i]) & 0x3F);
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
    at += length;
  }
  return out + std::string(2, '\0');
}

TEST(TextConverterDll, ConvertsNationNamesAndStationTextsWithinItsBound) {
  const auto library = DynamicLibrary::load("UniToGBK.dll");
  ASSERT_TRUE(library);
  int (*convert)(const unsigned char*, unsigned char*, int) = nullptr;
  ASSERT_TRUE(library->bind("UnicodeToGBK", convert));
  auto roundTrip = [&](std::string_view utf8) -> std::string {
    const std::string source = ucs2Source(utf8);
    std::array<unsigned char, 256> gbk{};
    if (convert(reinterpret_cast<const unsigned char*>(source.data()), gbk.data(), 256) == 0) return "(failed)";
    return fx60::platform::gbkToUtf8(reinterpret_cast<const char*>(gbk.data()));
  };
  for (const auto& nation : fx60::idcard::kNations) EXPECT_EQ(roundTrip(nation.name), nation.name);
  for (std::string_view text : {"提示：验证成功", "居民身份证阅读器_KT340-115", "北京市东城区 1 号", ""})
    EXPECT_EQ(roundTrip(text), text);

  const std::string source = ucs2Source("汉族A");  // GBK: 4 bytes + 1 + terminator
  std::array<unsigned char, 8> out;
  out.fill(0xEE);
  EXPECT_EQ(convert(reinterpret_cast<const unsigned char*>(source.data()), out.data(), 6), 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data())), "\xBA\xBA\xD7\xE5" "A");
  EXPECT_EQ(out[6], 0xEE);
  out.fill(0xEE);
  EXPECT_EQ(convert(reinterpret_cast<const unsigned char*>(source.data()), out.data(), 5), 0);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 0xEE);

  const unsigned char loneSurrogate[] = {0x00, 0xD8, 0x41, 0x00, 0, 0};
  const unsigned char hangul[] = {0x00, 0xAC, 0, 0};  // not a GBK character
  EXPECT_EQ(convert(loneSurrogate, out.data(), 8), 0);
  EXPECT_EQ(convert(hangul, out.data(), 8), 0);
  EXPECT_EQ(convert(nullptr, out.data(), 8), 0);
  EXPECT_EQ(convert(hangul, nullptr, 8), 0);
}

class PhotoDecoderDll : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(library);
    ASSERT_TRUE(library->bind("GetBmp", getBmp));
    dir = fs::temp_directory_path() / ("wltrs-" + std::to_string(std::rand()));
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  std::string write(const std::string& name, const std::vector<char>& bytes) {
    const fs::path path = dir / name;
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path.string();
  }

  // The photo block of a sample card: the 1024 bytes after the card file's header.
  static std::vector<char> samplePhotoBlock() {
    std::ifstream in(fs::path(FX60_SOURCE_DIR) / "resources" / "cards" / "li-na.card", std::ios::binary);
    const std::vector<char> card{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::string_view text(card.data(), card.size());
    const size_t start = text.find("\n\n");
    if (start == std::string_view::npos || card.size() < start + 2 + 1024) return {};
    return {card.begin() + static_cast<std::ptrdiff_t>(start + 2), card.begin() + static_cast<std::ptrdiff_t>(start + 2 + 1024)};
  }

  std::unique_ptr<DynamicLibrary> library = DynamicLibrary::load("WltRS.dll");
  int (*getBmp)(const char*, int) = nullptr;
  fs::path dir;
};

TEST_F(PhotoDecoderDll, DecodesTheCardPhotoIntoAColourBitmapBesideIt) {
  const auto block = samplePhotoBlock();
  ASSERT_EQ(block.size(), 1024u);
  ASSERT_EQ(getBmp(write("idcard_photo.wlt", block).c_str(), 1), 1);
  std::ifstream in(dir / "idcard_photo.bmp", std::ios::binary);
  const std::vector<unsigned char> bmp{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  ASSERT_GE(bmp.size(), 54u);
  auto u32 = [&](size_t at) { return static_cast<size_t>(bmp[at] | bmp[at + 1] << 8 | bmp[at + 2] << 16 | bmp[at + 3] << 24); };
  ASSERT_EQ(u32(18), 102u);
  ASSERT_EQ(u32(22), 126u);
  ASSERT_EQ(bmp[28], 24);
  const size_t stride = (102 * 3 + 3) / 4 * 4;
  ASSERT_EQ(bmp.size(), u32(10) + stride * 126);
  // Red, green, blue of a pixel (rows bottom-up, blue first), against the
  // picture's light background and its skin tone, which a channel swap breaks.
  auto expectPixel = [&](size_t x, size_t y, int red, int green, int blue) {
    const unsigned char* bgr = &bmp[u32(10) + (125 - y) * stride + 3 * x];
    EXPECT_NEAR(bgr[2], red, 10) << x << "," << y;
    EXPECT_NEAR(bgr[1], green, 10) << x << "," << y;
    EXPECT_NEAR(bgr[0], blue, 10) << x << "," << y;
  };
  expectPixel(2, 2, 250, 250, 250);
  expectPixel(51, 63, 216, 173, 139);
}

TEST_F(PhotoDecoderDll, BlocksThatAreNotPhotosGiveNoBitmap) {
  auto cut = samplePhotoBlock();
  ASSERT_EQ(cut.size(), 1024u);
  std::fill(cut.begin() + 300, cut.end(), 0);  // the picture stops half way
  const std::vector<std::vector<char>> notPhotos = {std::vector<char>(1024, 0x5A), cut, {}};
  for (size_t i = 0; i < notPhotos.size(); ++i) {
    EXPECT_EQ(getBmp(write("bad" + std::to_string(i) + ".wlt", notPhotos[i]).c_str(), 1), -2) << i;
    EXPECT_FALSE(fs::exists(dir / ("bad" + std::to_string(i) + ".bmp"))) << i;
  }
  EXPECT_EQ(getBmp((dir / "missing.wlt").string().c_str(), 1), -1);
  EXPECT_EQ(getBmp(nullptr, 1), 0);
}

}  // namespace
