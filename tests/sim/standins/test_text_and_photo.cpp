// The text converter and the photo decoder as the station loads them: by
// absolute path from the station's program directory.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>

#include "sim/idcard/nations.h"
#include "sim/idcard/photo_block.h"
#include "sim/idcard/portrait.h"
#include "sim/idcard/text_codec.h"
#include "tests/sim/standins/loaded_library.h"

namespace {

using namespace fx60::sim::testing;
namespace idcard = fx60::idcard;

// Every text the station shows, and the card texts it builds itself.
constexpr std::string_view kStationTexts[] = {
    "提示：身份证阅读器机具连接成功", "提示：身份证阅读器机具连接失败", "提示：查询序列号失败",
    "提示：请放入身份证", "提示：请录入指纹", "提示：请再次录入指纹", "提示：比对成功", "提示：比对失败",
    "提示：验证成功", "提示：验证失败", "提示：身份证阅读器机具掉线", "加载动态库失败", "测试软件已启动", "警告",
    "查询序列号失败", "身份证阅读器机具未连接", "身份证阅读器机具掉线", "比对失败", "验证失败", "查询序列号",
    "信息采集", "暂停采集", "指纹比对", "暂停比对", "身份验证", "暂停验证", "清除信息", "退出程序", "姓名", "性别",
    "民族", "出生日期", "住址", "身份号码", "签发机关", "有效期限", "个人信息", " 证件", "确认", "关于 IdvBench",
    "IdvBench 1.0 版", "确定", "男", "女", "居民身份证阅读器_KT340-115", "宋体"};

// UTF-8 text as the zero-terminated UCS-2 little-endian source the converter takes.
std::string ucs2Source(std::string_view utf8) {
  auto ucs2 = idcard::convertText(utf8, idcard::kUtf8, idcard::kUcs2);
  EXPECT_TRUE(ucs2) << utf8;
  return ucs2.value_or("") + std::string(2, '\0');
}

class TextConverter : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(library.loaded()) << LoadedLibrary::lastError();
    ASSERT_TRUE(library.bind("UnicodeToGBK", convert));
  }

  // The GBK text converted back to UTF-8; empty when the call failed.
  std::optional<std::string> roundTrip(std::string_view utf8) {
    const std::string source = ucs2Source(utf8);
    std::array<unsigned char, 256> gbk{};
    if (convert(reinterpret_cast<const unsigned char*>(source.data()), gbk.data(), 256) == 0) return std::nullopt;
    return idcard::convertText(reinterpret_cast<const char*>(gbk.data()), idcard::kGbk, idcard::kUtf8);
  }

  LoadedLibrary library{stationLibrary("libUniToGBK.so")};
  int (*convert)(const unsigned char*, unsigned char*, int) = nullptr;
};

TEST_F(TextConverter, NationNamesAndStationTextsRoundTrip) {
  for (const auto& nation : idcard::kNations) EXPECT_EQ(roundTrip(nation.name), nation.name);
  for (const std::string_view text : kStationTexts) EXPECT_EQ(roundTrip(text), text);
  EXPECT_EQ(roundTrip(""), "");
}

TEST_F(TextConverter, OutputIsBoundedByTheSizeAndAlwaysTerminated) {
  const std::string source = ucs2Source("汉族A");  // GBK: 4 bytes + 1 + terminator
  std::array<unsigned char, 16> out;
  out.fill(0xEE);
  EXPECT_EQ(convert(reinterpret_cast<const unsigned char*>(source.data()), out.data(), 6), 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data())), "\xBA\xBA\xD7\xE5" "A");
  EXPECT_EQ(out[6], 0xEE);

  out.fill(0xEE);
  EXPECT_EQ(convert(reinterpret_cast<const unsigned char*>(source.data()), out.data(), 5), 0);
  EXPECT_EQ(out[0], 0);  // the empty text
  EXPECT_TRUE(std::all_of(out.begin() + 1, out.end(), [](unsigned char b) { return b == 0xEE; }));

  EXPECT_EQ(convert(reinterpret_cast<const unsigned char*>(source.data()), out.data(), 0), 0);
  EXPECT_EQ(convert(nullptr, out.data(), 16), 0);
  EXPECT_EQ(convert(reinterpret_cast<const unsigned char*>(source.data()), nullptr, 16), 0);
}

TEST_F(TextConverter, TextThatIsNotUcs2OrNotInGbkFails) {
  const unsigned char loneSurrogate[] = {0x00, 0xD8, 0x41, 0x00, 0, 0};
  const unsigned char hangul[] = {0x00, 0xAC, 0, 0};  // 가: not a GBK character
  std::array<unsigned char, 16> out{};
  EXPECT_EQ(convert(loneSurrogate, out.data(), 16), 0);
  EXPECT_EQ(convert(hangul, out.data(), 16), 0);
  EXPECT_EQ(out[0], 0);
}

class PhotoDecoder : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(library.loaded()) << LoadedLibrary::lastError();
    ASSERT_TRUE(library.bind("GetBmp", getBmp));
    dir = std::filesystem::temp_directory_path() / ("wltrs-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  std::filesystem::path writeBlock(const std::string& name, const std::vector<uint8_t>& bytes) {
    const auto path = dir / name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  LoadedLibrary library{stationLibrary("libWltRS.so")};
  int (*getBmp)(const char*, int) = nullptr;
  std::filesystem::path dir;
};

// Reads a bottom-up 24-bit BMP into top-down RGB.
idcard::Picture readColourBmp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  auto u32 = [&](size_t at) {
    return static_cast<size_t>(file[at] | file[at + 1] << 8 | file[at + 2] << 16 | file[at + 3] << 24);
  };
  idcard::Picture picture;
  if (file.size() < 54 || file[0] != 'B' || file[1] != 'M' || (file[28] | file[29] << 8) != 24) return picture;
  picture.width = static_cast<int>(u32(18));
  picture.height = static_cast<int>(u32(22));
  const size_t stride = (static_cast<size_t>(picture.width) * 3 + 3) / 4 * 4;
  if (file.size() != u32(2) || file.size() != u32(10) + stride * picture.height) return {};
  for (int y = 0; y < picture.height; ++y)
    for (int x = 0; x < picture.width; ++x) {
      const uint8_t* bgr = &file[u32(10) + (picture.height - 1 - y) * stride + 3 * x];
      picture.rgb.insert(picture.rgb.end(), {bgr[2], bgr[1], bgr[0]});
    }
  return picture;
}

// The photo goes through the card maker's squeeze into 1024 bytes and comes back
// through the decoder within a mean error of 6 grey levels per channel.
TEST_F(PhotoDecoder, CardPhotoComesBackAsABitmapCloseToTheSource) {
  for (int variant = 0; variant < idcard::kPortraitVariants; ++variant) {
    const auto source = idcard::fitToCardPhoto(idcard::drawPortrait(variant));
    const auto block = idcard::makePhotoBlock(idcard::drawPortrait(variant), nullptr);
    ASSERT_TRUE(block);
    ASSERT_EQ(block->size(), 1024u);
    const auto wlt = writeBlock("idcard_photo.wlt", *block);
    ASSERT_EQ(getBmp(wlt.c_str(), 1), 1);
    const auto decoded = readColourBmp(dir / "idcard_photo.bmp");
    ASSERT_EQ(decoded.width, 102);
    ASSERT_EQ(decoded.height, 126);
    double error = 0;
    for (size_t i = 0; i < source.rgb.size(); ++i) error += std::abs(source.rgb[i] - decoded.rgb[i]);
    error /= static_cast<double>(source.rgb.size());
    EXPECT_LT(error, 6.0) << "variant " << variant;
    RecordProperty("mean_error_variant_" + std::to_string(variant), std::to_string(error));
  }
}

TEST_F(PhotoDecoder, BlocksThatAreNotOursGiveNoBitmap) {
  auto block = *idcard::makePhotoBlock(idcard::drawPortrait(0), nullptr);
  auto cut = block;
  std::fill(cut.begin() + 300, cut.end(), 0);  // the JPEG stops half way
  auto otherSize = idcard::encodeJpeg(idcard::drawPortrait(0), 10, true);  // 204 x 252: not a card photo
  const std::vector<std::vector<uint8_t>> notOurs = {std::vector<uint8_t>(1024, 0x5A), cut, otherSize,
                                                     std::vector<uint8_t>(2000, 0), {}};
  for (size_t i = 0; i < notOurs.size(); ++i) {
    const auto wlt = writeBlock("bad" + std::to_string(i) + ".wlt", notOurs[i]);
    EXPECT_EQ(getBmp(wlt.c_str(), 1), -2) << i;
    EXPECT_FALSE(std::filesystem::exists(dir / ("bad" + std::to_string(i) + ".bmp"))) << i;
  }
  EXPECT_EQ(getBmp((dir / "missing.wlt").c_str(), 1), -1);
  EXPECT_EQ(getBmp(nullptr, 1), 0);
  EXPECT_EQ(getBmp(writeBlock("photo.bmp", block).c_str(), 1), 0);  // would overwrite its own source
  const auto blocked = writeBlock("portrait.wlt", block);
  std::filesystem::create_directory(dir / "portrait.bmp");  // a folder where the bitmap should go
  EXPECT_EQ(getBmp(blocked.c_str(), 1), -3);
}

}  // namespace
