// The standard capture and algorithm pair as the station loads them (by absolute
// path from its program directory), capturing from fx60-sim.
#include <gtest/gtest.h>

#include <sys/mman.h>

#include <array>
#include <cstdlib>

#include "driver/algorithm_engine.h"
#include "sim/idcard/card_maker.h"
#include "tests/sim/finger_images.h"
#include "tests/sim/simulator_process.h"
#include "tests/sim/standins/loaded_library.h"

namespace {

using namespace fx60::sim::testing;

// Each test process captures with its own shared capture flags: test cases of
// this program running side by side would otherwise find the module busy.
class PrivateCaptureFlags : public ::testing::Environment {
 public:
  void SetUp() override { ::setenv("FX60_SHARED_FLAGS_NAME", name().c_str(), 1); }
  void TearDown() override { ::shm_unlink(name().c_str()); }
  static std::string name() { return "/fx60-standard-pair-" + std::to_string(::getpid()); }
};
const auto* const kCaptureFlags = ::testing::AddGlobalTestEnvironment(new PrivateCaptureFlags);

constexpr int kRawBytes = 256 * 360;
constexpr int kBitmapBytes = 93238;

struct StandardPair {
  int (*init)();
  int (*close)();
  int (*channelCount)();
  int (*beginCapture)(int);
  int (*rawData)(int, unsigned char*);
  int (*endCapture)(int);
  int (*errorInfo)(int, char*);
  int (*bmpData)(int, unsigned char*);
  int (*setWindow)(int, int, int, int, int);
  int (*end)();
  int (*begin)();
  int (*extract)(int, int, const unsigned char*, unsigned char*);
  int (*match)(const unsigned char*, const unsigned char*, float*);
  int (*quality)(const unsigned char*, unsigned char*);
};

class StandardPairTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(capture.loaded()) << LoadedLibrary::lastError();
    ASSERT_TRUE(algorithm.loaded()) << LoadedLibrary::lastError();
    // Bound in the station's order.
    ASSERT_TRUE(capture.bind("LIVESCAN_Init", api.init));
    ASSERT_TRUE(capture.bind("LIVESCAN_Close", api.close));
    ASSERT_TRUE(capture.bind("LIVESCAN_GetChannelCount", api.channelCount));
    ASSERT_TRUE(capture.bind("LIVESCAN_BeginCapture", api.beginCapture));
    ASSERT_TRUE(capture.bind("LIVESCAN_GetFPRawData", api.rawData));
    ASSERT_TRUE(capture.bind("LIVESCAN_EndCapture", api.endCapture));
    ASSERT_TRUE(capture.bind("LIVESCAN_GetErrorInfo", api.errorInfo));
    ASSERT_TRUE(capture.bind("LIVESCAN_GetFPBmpData", api.bmpData));
    ASSERT_TRUE(capture.bind("LIVESCAN_SetCaptWindow", api.setWindow));
    ASSERT_TRUE(algorithm.bind("FP_End", api.end));
    ASSERT_TRUE(algorithm.bind("FP_Begin", api.begin));
    ASSERT_TRUE(algorithm.bind("FP_FeatureExtract", api.extract));
    ASSERT_TRUE(algorithm.bind("FP_FeatureMatch", api.match));
    ASSERT_TRUE(algorithm.bind("FP_GetQualityScore", api.quality));
  }

  void TearDown() override {
    if (api.close) api.close();
    module.stop();
    ::unsetenv("FX60_SIMULATOR");
  }

  void startModule(std::vector<std::string> options) {
    options.insert(options.begin(), {"--mode", "storage"});
    ASSERT_TRUE(module.start(options));
    ::setenv("FX60_SIMULATOR", module.cablePath().c_str(), 1);
  }

  // The station's opening: init, the channel (the count itself), the window, begin.
  int openChannel() {
    if (api.init() != 1) return -1;
    const int channel = api.channelCount();
    if (channel < 0 || api.setWindow(channel, 0, 0, 256, 360) != 1 || api.beginCapture(channel) != 1) return -1;
    return channel;
  }

  LoadedLibrary capture{stationLibrary("libID_FprCap.so")};
  LoadedLibrary algorithm{stationLibrary("libID_Fpr.so")};
  StandardPair api{};
  SimulatorProcess module{std::filesystem::temp_directory_path(),
                          "fx60-standard-" + std::to_string(::getpid()) + "-" +
                              ::testing::UnitTest::GetInstance()->current_test_info()->name()};
};

TEST_F(StandardPairTest, DeliversTheModulesImageAndABitmapOfTheSameImage) {
  startModule({});
  const int channel = openChannel();
  ASSERT_EQ(channel, 1);
  std::vector<unsigned char> raw(kRawBytes + 256, 0);
  std::vector<unsigned char> bitmap(93494, 0xEE);
  ASSERT_EQ(api.rawData(channel, raw.data()), 1);
  ASSERT_EQ(api.bmpData(channel, bitmap.data()), 1);
  EXPECT_EQ(api.endCapture(channel), 1);
  EXPECT_GT(module.counter("images"), 0);

  auto u32 = [&](size_t at) { return static_cast<int>(bitmap[at] | bitmap[at + 1] << 8 | bitmap[at + 2] << 16 | bitmap[at + 3] << 24); };
  EXPECT_EQ(bitmap[0], 'B');
  EXPECT_EQ(bitmap[1], 'M');
  EXPECT_EQ(u32(2), kBitmapBytes);
  EXPECT_EQ(u32(10), 1078);
  EXPECT_EQ(u32(18), 256);
  EXPECT_EQ(u32(22), 360);
  EXPECT_EQ(bitmap[28], 8);
  EXPECT_EQ(bitmap[54 + 4 * 200], 200);  // grey palette
  EXPECT_EQ(bitmap[kBitmapBytes], 0xEE);  // nothing beyond the file
  // Rows bottom-up: the file's last row is the image's first.
  EXPECT_TRUE(std::equal(raw.begin(), raw.begin() + 256, bitmap.begin() + kBitmapBytes - 256));
  EXPECT_TRUE(std::equal(raw.begin() + 359 * 256, raw.begin() + kRawBytes, bitmap.begin() + 1078));
  EXPECT_FALSE(std::all_of(raw.begin(), raw.begin() + kRawBytes, [](unsigned char p) { return p == 255; }));
}

TEST_F(StandardPairTest, WithoutAFingerEachFetchReturnsABlankFrameAtOnce) {
  startModule({"--finger", "absent"});
  const int channel = openChannel();
  ASSERT_GE(channel, 0);
  std::vector<unsigned char> raw(kRawBytes, 0);
  const auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(api.rawData(channel, raw.data()), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(500));
  EXPECT_TRUE(std::all_of(raw.begin(), raw.end(), [](unsigned char p) { return p == 255; }));
  unsigned char score = 99;
  ASSERT_EQ(api.quality(raw.data(), &score), 1);
  EXPECT_LT(score, 60);
  std::array<unsigned char, 512> tpl;
  tpl.fill(0xAB);
  EXPECT_EQ(api.extract(0, 16, raw.data(), tpl.data()), -3);  // no usable template
  EXPECT_EQ(tpl[0], 0xAB);                                    // and none written
}

TEST_F(StandardPairTest, CallsOutOfOrderOrWithBadArgumentsFailWithTheirCodes) {
  std::vector<unsigned char> raw(kRawBytes);
  EXPECT_EQ(api.channelCount(), -2);  // not initialised
  EXPECT_EQ(api.init(), -3);          // no module
  startModule({});
  ASSERT_EQ(api.init(), 1);
  EXPECT_EQ(api.rawData(1, raw.data()), -5);  // capture not begun
  EXPECT_EQ(api.setWindow(1, 0, 0, 128, 128), -1);
  EXPECT_EQ(api.beginCapture(2), -4);
  ASSERT_EQ(api.beginCapture(0), 1);
  EXPECT_EQ(api.rawData(0, nullptr), -1);
  EXPECT_EQ(api.rawData(0, raw.data()), 1);
  char text[64];
  EXPECT_EQ(api.errorInfo(-4, text), 1);
  EXPECT_STREQ(text, "no such channel");
  EXPECT_EQ(api.errorInfo(-99, text), -1);
  float similarity = 1;
  std::array<unsigned char, 512> empty{};
  EXPECT_EQ(api.match(empty.data(), empty.data(), &similarity), -2);
  EXPECT_EQ(similarity, 0.0f);
  EXPECT_EQ(api.match(nullptr, empty.data(), &similarity), -1);
  EXPECT_EQ(api.quality(nullptr, nullptr), -1);
}

// The station's verification with the standard pair: a live impression against
// the card templates, judged by the similarity above 0.6.
TEST_F(StandardPairTest, LiveImpressionMatchesTheCardTemplateOfTheSameFingerOnly) {
  REQUIRE_FINGER_IMAGES();
  const auto sameFinger = fx60::idcard::cardTemplate(fingerImage(0, 1).data(), nullptr);
  const auto otherFinger = fx60::idcard::cardTemplate(fingerImage(1, 1).data(), nullptr);
  ASSERT_TRUE(sameFinger && otherFinger);
  startModule({"--images", fingerImageFile(0, 2)->string()});

  const int channel = openChannel();
  ASSERT_GE(channel, 0);
  std::vector<unsigned char> raw(kRawBytes + 256, 0);
  unsigned char score = 0;
  ASSERT_EQ(api.rawData(channel, raw.data()), 1);
  ASSERT_EQ(api.quality(raw.data(), &score), 1);
  EXPECT_GE(score, 60);
  std::array<unsigned char, 512> live{};
  ASSERT_EQ(api.extract(0, 16, raw.data(), live.data()), 1);
  api.endCapture(channel);

  ASSERT_EQ(api.begin(), 1);
  float similarity = 0;
  ASSERT_EQ(api.match(sameFinger->data(), live.data(), &similarity), 1);
  EXPECT_GT(static_cast<double>(similarity), 0.6);
  float published = 0;  // the score zzMatchFingerprint judges
  ASSERT_EQ(fx60::MatchSealedTemplates(sameFinger->data(), live.data(), &published), 1);
  EXPECT_EQ(similarity, published);
  ASSERT_EQ(api.match(otherFinger->data(), live.data(), &similarity), 1);
  EXPECT_LE(static_cast<double>(similarity), 0.6);
  // The other way round (a sealed first, an unsealed second template) compares too.
  ASSERT_EQ(api.match(live.data(), sameFinger->data(), &similarity), 1);
  EXPECT_GT(static_cast<double>(similarity), 0.6);
  EXPECT_EQ(api.end(), 1);
}

}  // namespace
