// The two fingerprint devices against what they drive: the driver-library device
// against the simulated module, the standard device against the stand-ins of the
// standard capture and algorithm pair.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <limits>
#include <fstream>
#include <future>
#include <iterator>

#include "station/fingerprint_device.h"
#include "tests/sim/finger_images.h"
#include "tests/station/station_fixture.h"

namespace fx60::station {
namespace {

using namespace fx60::station::testing;
using Clock = std::chrono::steady_clock;
using Template = std::array<uint8_t, kTemplateBytes>;

const auto* const kFlags = ::testing::AddGlobalTestEnvironment(new PrivateFlagsEnvironment);

std::vector<uint8_t> readFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class DriverDevice : public StationTest {
 protected:
  // A live template of the impression the module serves.
  // The finger lies on the module for one poll per capture and is lifted after
  // the second.
  Template capture(const fs::path& image, const fs::path& imagePath = {}) {
    auto options = servedImage(image);
    options.insert(options.end(), {"--finger", "present:2 lifted"});
    startFingerModule(options);
    Template live{};
    int quality = -7;
    EXPECT_EQ(device_.captureTemplate(live.data(), &quality, imagePath, {}), kDeviceDone);
    EXPECT_EQ(quality, -7);  // the driver device reports no quality
    return live;
  }

  CDriverFingerprintDevice device_{programDir()};
};

TEST_F(DriverDevice, CaptureExtractsATemplateAndSavesASecondImage) {
  REQUIRE_FINGER_IMAGES();
  const fs::path image = *fx60::sim::testing::fingerImageFile(0, 1);
  const fs::path saved = programDir() / "fingerimg.bmp";
  const Template live = capture(image, saved);
  EXPECT_EQ(live[0], 0x43);
  EXPECT_EQ(fingerModule().counter("images"), 2);  // the template's image, then the one saved

  const auto bmp = readFile(saved);
  ASSERT_EQ(bmp.size(), 93238u);
  const auto grey = fx60::testing::readPgm(image);
  EXPECT_TRUE(std::equal(grey.begin(), grey.end(), bmp.begin() + 1078));
  int width = 0, height = 0;
  EXPECT_EQ(device_.getImageSize(width, height), kDeviceDone);
  EXPECT_EQ(width * 1000 + height, 256360);
}

TEST_F(DriverDevice, WithoutAnImagePathOnlyTheTemplateIsCaptured) {
  REQUIRE_FINGER_IMAGES();
  const Template live = capture(*fx60::sim::testing::fingerImageFile(0, 1));
  EXPECT_EQ(live[0], 0x43);
  EXPECT_EQ(fingerModule().counter("images"), 1);
  EXPECT_FALSE(fs::exists(programDir() / "fingerimg.bmp"));
}

TEST_F(DriverDevice, ComparesTheCardTemplateFirstAndTheLiveOneSecond) {
  REQUIRE_FINGER_IMAGES();
  const Template a1 = capture(*fx60::sim::testing::fingerImageFile(0, 1));
  const Template a2 = capture(*fx60::sim::testing::fingerImageFile(0, 2));
  const Template b1 = capture(*fx60::sim::testing::fingerImageFile(1, 1));
  EXPECT_EQ(device_.compareTemplates(a1.data(), a2.data(), kComparisonLevel), kDeviceDone);
  EXPECT_EQ(device_.compareTemplates(b1.data(), a2.data(), kComparisonLevel), kDeviceFailed);
  EXPECT_EQ(device_.compareTemplates(nullptr, a2.data(), kComparisonLevel), kDeviceBadArgument);

  // The second template must carry the library's seal.
  Template unsealed = a1;
  std::fill(unsealed.begin() + 490, unsealed.end(), 0);
  EXPECT_EQ(device_.compareTemplates(a2.data(), unsealed.data(), kComparisonLevel), kDeviceFailed);
  const Template empty{};
  EXPECT_EQ(device_.compareTemplates(empty.data(), a2.data(), kComparisonLevel), kDeviceFailed);
}

TEST_F(DriverDevice, AMissingOrFailingModuleFailsTheCapture) {
  Template live{};
  int quality = 0;
  ts::setEnvironment("FX60_SIMULATOR", (programDir() / "nothing-here").string().c_str());
  EXPECT_EQ(device_.captureTemplate(live.data(), &quality, programDir() / "fingerimg.bmp", {}), kDeviceFailed);
  EXPECT_EQ(device_.captureTemplate(nullptr, &quality, {}, {}), kDeviceBadArgument);

  // An image read-out that fails, then a module that is gone.
  auto& module = startFingerModule({"--fault", "bad-status@start-image:*"});
  EXPECT_EQ(device_.captureTemplate(live.data(), &quality, programDir() / "fingerimg.bmp", {}), kDeviceFailed);
  ASSERT_EQ(module.control("unplug"), "ok");
  EXPECT_EQ(device_.captureTemplate(live.data(), &quality, programDir() / "fingerimg.bmp", {}), kDeviceFailed);
  EXPECT_FALSE(fs::exists(programDir() / "fingerimg.bmp"));
}

TEST_F(DriverDevice, AnInterruptEndsTheWaitForAFinger) {
  startFingerModule({"--finger", "absent"});
  std::stop_source stop;
  auto running = std::async(std::launch::async, [&] {
    Template live{};
    int quality = 0;
    return device_.captureTemplate(live.data(), &quality, programDir() / "fingerimg.bmp", stop.get_token());
  });
  ASSERT_TRUE(fx60::sim::testing::waitUntil([&] { return fingerModule().counter("polls") >= 2; }, 5000));

  const auto start = Clock::now();
  stop.request_stop();
  while (running.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready &&
         Clock::now() - start < std::chrono::seconds(5))
    device_.interruptCapture();
  ASSERT_EQ(running.wait_for(std::chrono::seconds(0)), std::future_status::ready);
  EXPECT_EQ(running.get(), kDeviceFailed);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));
  EXPECT_FALSE(fs::exists(programDir() / "fingerimg.bmp"));
}

// ---- the standard pair -------------------------------------------------------------

class StandardDevice : public StationTest {
 protected:
  void SetUp() override {
    StationTest::SetUp();
    linkLibraries({"ID_FprCap.dll", "ID_Fpr.dll"});
    device_ = std::make_unique<CStandardFingerprintDevice>(programDir());
  }

  // A live template of an image that lies on the sensor for one look, then is lifted.
  int capture(const fs::path& image, Template& live, int& quality, const fs::path& imagePath = {}) {
    auto options = servedImage(image);
    options.insert(options.end(), {"--finger", "present:1 lifted"});
    startFingerModule(options);
    return device_->captureTemplate(live.data(), &quality, imagePath, {});
  }

  std::unique_ptr<CStandardFingerprintDevice> device_;
};

TEST_F(StandardDevice, CapturesAGoodFingerOnceItIsLiftedAndCompares) {
  REQUIRE_FINGER_IMAGES();
  Template a1{}, a2{}, b1{};
  int quality = -1;
  const fs::path saved = programDir() / "fingerimg.bmp";
  ASSERT_EQ(capture(*fx60::sim::testing::fingerImageFile(0, 1), a1, quality, saved), kDeviceDone);
  EXPECT_GE(quality, 60);
  EXPECT_EQ(fs::file_size(saved), 93238u);
  ASSERT_EQ(capture(*fx60::sim::testing::fingerImageFile(0, 2), a2, quality), kDeviceDone);
  ASSERT_EQ(capture(*fx60::sim::testing::fingerImageFile(1, 1), b1, quality), kDeviceDone);
  EXPECT_EQ(device_->compareTemplates(a1.data(), a2.data(), 3), kDeviceDone);
  EXPECT_EQ(device_->compareTemplates(a1.data(), a2.data(), 1), kDeviceDone);  // the level is not used
  EXPECT_EQ(device_->compareTemplates(b1.data(), a2.data(), 5), kDeviceFailed);
  int width = 0, height = 0;
  EXPECT_EQ(device_->getImageSize(width, height), kDeviceDone);
  EXPECT_EQ(width * 1000 + height, 256360);
}

TEST_F(StandardDevice, QualitySixtyIsGoodEnoughFiftyNineIsNot) {
  const auto good = fingerImageOfQuality(60), poor = fingerImageOfQuality(59);
  if (!good || !poor) GTEST_SKIP() << "shared images not found";
  Template live{};
  int quality = -1;
  ASSERT_EQ(capture(*good, live, quality), kDeviceDone);
  EXPECT_EQ(quality, 60);

  // At 59 the device keeps looking until it is stopped.
  startFingerModule(servedImage(*poor));
  quality = -1;
  std::stop_source stop;
  auto running = std::async(std::launch::async, [&] { return device_->captureTemplate(live.data(), &quality, {}, stop.get_token()); });
  ASSERT_TRUE(fx60::sim::testing::waitUntil([&] { return fingerModule().counter("images") >= 4; }, 5000));
  EXPECT_EQ(running.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
  stop.request_stop();
  ASSERT_EQ(running.wait_for(std::chrono::seconds(2)), std::future_status::ready);
  EXPECT_EQ(running.get(), kDeviceFailed);
  EXPECT_EQ(quality, -1);
}

TEST_F(StandardDevice, AMissingLibraryOrModuleFailsEveryOperation) {
  Template a{}, b{};
  int quality = 0, width = 0, height = 0;
  EXPECT_EQ(device_->getImageSize(width, height), kDeviceFailed);  // no module answers
  // A folder with the capture library only (the fixture's device above keeps the
  // pair of the program directory loaded).
  const fs::path bare = programDir() / "bare";
  fs::create_directories(bare);
  placeStationLibrary("ID_FprCap.dll", bare);
  CStandardFingerprintDevice withoutAlgorithm(bare);
  EXPECT_EQ(withoutAlgorithm.getImageSize(width, height), kDeviceLibraryMissing);
  EXPECT_EQ(withoutAlgorithm.captureTemplate(a.data(), &quality, {}, {}), kDeviceLibraryMissing);
  EXPECT_EQ(withoutAlgorithm.compareTemplates(a.data(), b.data(), 3), kDeviceLibraryMissing);
  EXPECT_EQ(withoutAlgorithm.captureTemplate(nullptr, &quality, {}, {}), kDeviceBadArgument);
}

TEST(FingerprintDeviceChoice, FingerTypeZeroDrivesTheLibraryOneTheStandardPairOthersNone) {
  EXPECT_NE(dynamic_cast<CDriverFingerprintDevice*>(createFingerprintDevice(0, "/tmp").get()), nullptr);
  EXPECT_NE(dynamic_cast<CStandardFingerprintDevice*>(createFingerprintDevice(1, "/tmp").get()), nullptr);
  EXPECT_EQ(createFingerprintDevice(2, "/tmp"), nullptr);
  EXPECT_EQ(createFingerprintDevice(-1, "/tmp"), nullptr);
}

TEST(StandardSimilarity, OnlyValuesAboveTheDoubleSixTenthsMatch) {
  const float nearest = 0.6f;  // 0.60000002384...
  EXPECT_TRUE(standardSimilarityMatches(nearest));
  EXPECT_FALSE(standardSimilarityMatches(std::nextafter(nearest, 0.0f)));
  EXPECT_TRUE(standardSimilarityMatches(1.0f));
  EXPECT_FALSE(standardSimilarityMatches(std::numeric_limits<float>::quiet_NaN()));
}

}  // namespace
}  // namespace fx60::station
