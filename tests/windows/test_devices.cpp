// FX60Link.dll against simulated modules on the build machine, reached over the
// virtual cable's TCP form: the script that runs the Windows tests starts them
// and names their ports in FX60_WINE_STORAGE (mass storage), FX60_WINE_HID (HID)
// and FX60_WINE_FLAKY (mass storage whose first image transfer arrives garbled).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "driver/include/fx60link.h"
#include "tests/platform/fake_cable_server.h"

namespace {

using fx60::testing::ScopedEnvironment;

constexpr int kImageBytes = 256 * 360;

// The port of a simulator the script started, or a skip.
#define SIMULATOR_PORT(variable, port)                                                           \
  const char* port = std::getenv(variable);                                                      \
  if (port == nullptr || *port == '\0') GTEST_SKIP() << variable " is not set: no simulator to test against"

bool hasDetail(const std::vector<unsigned char>& image) {
  int lowest = 255, highest = 0;
  for (unsigned char value : image) {
    lowest = std::min<int>(lowest, value);
    highest = std::max<int>(highest, value);
  }
  return highest - lowest > 64;
}

// Version, finger, image, template and a comparison through the exports.
void exerciseModule(const char* port) {
  ScopedEnvironment cable("FX60_SIMULATOR", port);
  char version[64] = "";
  EXPECT_EQ(zzGetDeviceVersion(0, version), 0);
  EXPECT_STREQ(version, "FX-60 SIM V1.0");
  EXPECT_EQ(zzDetectFingerprint(0), 1);

  std::vector<unsigned char> image(kImageBytes);
  ASSERT_EQ(zzCaptureFingerprint(0, image.data(), 10000, 0), 0);
  EXPECT_TRUE(hasDetail(image));

  unsigned char enrolled[512] = {}, live[512] = {};
  ASSERT_EQ(zzExtractFingerprint(0, 20000, enrolled, 40, 0), 0);
  ASSERT_EQ(zzExtractFingerprint(0, 20000, live, 40, 0), 0);
  EXPECT_EQ(enrolled[0], 0x43);
  EXPECT_EQ(zzMatchFingerprint(live, enrolled, 3), 0);
  EXPECT_EQ(zzCancelCapture(16), -10);
}

TEST(WindowsDevices, MassStorageModule) {
  SIMULATOR_PORT("FX60_WINE_STORAGE", port);
  exerciseModule(port);
}

TEST(WindowsDevices, HidModule) {
  SIMULATOR_PORT("FX60_WINE_HID", port);
  exerciseModule(port);
}

TEST(WindowsDevices, GarbledTransferIsRepeated) {
  SIMULATOR_PORT("FX60_WINE_FLAKY", port);
  ScopedEnvironment cable("FX60_SIMULATOR", port);
  std::vector<unsigned char> image(kImageBytes);
  EXPECT_EQ(zzCaptureFingerprint(0, image.data(), 10000, 0), 0);
  EXPECT_TRUE(hasDetail(image));
}

TEST(WindowsDevices, NoModuleIsReported) {
  // A port nobody listens on, and addresses Windows cannot reach.
  for (const char* nowhere : {"1", "/tmp/no-such.sock", "not-a-port"}) {
    ScopedEnvironment cable("FX60_SIMULATOR", nowhere);
    std::vector<unsigned char> image(kImageBytes);
    EXPECT_EQ(zzCaptureFingerprint(0, image.data(), 500, 0), -1) << nowhere;
    EXPECT_EQ(zzDetectFingerprint(0), 0) << nowhere;
    char version[64] = "untouched";
    EXPECT_EQ(zzGetDeviceVersion(0, version), 0);
    EXPECT_STREQ(version, "untouched");
  }
}

}  // namespace
