// The exports' own rules: versions, the match decision, cancel codes, bad arguments
// and the behaviour with no module attached.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "driver/algorithm_engine.h"
#include "driver/library_api.h"
#include "template/feature_template.h"
#include "template/seal.h"
#include "tests/driver/engine_override.h"
#include "tests/driver/fake_transport.h"

namespace fx60 {
namespace {

using testing::FakeTransport;
using testing::ScopedEngine;
using testing::ScopedTransports;

TEST(Versions, TextsAndTerminators) {
  char driver[64];
  std::memset(driver, 'x', sizeof driver);
  EXPECT_EQ(api::getDriverVersion(driver), 0);
  EXPECT_STREQ(driver, "NORVEX FX-60 Driver V2.0.0.20170621");
  EXPECT_EQ(std::strlen(driver), 35u);

  char algorithm[14];
  EXPECT_EQ(api::getAlgVersion(algorithm), 0);
  EXPECT_STREQ(algorithm, "1401 20170608");
}

TEST(Versions, AlgorithmQueryDisarmsExtraction) {
  extractArmed().store(1);
  char algorithm[14];
  api::getAlgVersion(algorithm);
  EXPECT_EQ(extractArmed().load(), 0);
}

TEST(MatchDecision, ThresholdsPerLevel) {
  EXPECT_EQ(api::matchDecision(1, 0.34f, 3), 0);
  EXPECT_EQ(api::matchDecision(1, 0.339f, 3), -1);
  for (int level : {0, 6, -1, 1000}) {
    EXPECT_EQ(api::clampSecurityLevel(level), 3) << level;
    EXPECT_EQ(api::matchDecision(1, 0.34f, level), 0) << level;
    EXPECT_EQ(api::matchDecision(1, 0.339f, level), -1) << level;
  }
  EXPECT_EQ(api::matchDecision(1, 0.14f, 1), 0);
  EXPECT_EQ(api::matchDecision(1, 0.13f, 1), -1);
  EXPECT_EQ(api::matchDecision(1, 0.61f, 5), 0);
  EXPECT_EQ(api::matchDecision(1, 0.60f, 5), -1);
  EXPECT_EQ(api::matchDecision(1, 1.0f, 5), 0);
  EXPECT_EQ(api::matchDecision(-1, 1.0f, 1), -2);
  EXPECT_EQ(api::matchDecision(-10, 1.0f, 1), -2);
}

float injectedScore = 0.0f;
int injectedMatcher(const uint8_t*, const uint8_t*, float* score) {
  *score = injectedScore;
  return 1;
}

class MatchExport : public ::testing::Test {
 protected:
  void SetUp() override {
    BuildEmptyTemplate(templateA.data());
    BuildEmptyTemplate(templateB.data());
    ASSERT_EQ(SealTemplate(templateB.data()), 1);
    scopedEngine.engine().matchTemplates = &injectedMatcher;
  }
  std::array<uint8_t, kTemplateSize> templateA{};
  std::array<uint8_t, kTemplateSize> templateB{};
  ScopedEngine scopedEngine;
};

TEST_F(MatchExport, ScoreAgainstLevelThreshold) {
  injectedScore = 0.34f;
  EXPECT_EQ(api::matchFingerprint(templateA.data(), templateB.data(), 3), 0);
  injectedScore = 0.339f;
  EXPECT_EQ(api::matchFingerprint(templateA.data(), templateB.data(), 3), -1);
  EXPECT_EQ(api::matchFingerprint(templateA.data(), templateB.data(), 0), -1);
  EXPECT_EQ(api::matchFingerprint(templateA.data(), templateB.data(), 2), 0);
}

TEST_F(MatchExport, SecondTemplateMustBeSealed) {
  injectedScore = 1.0f;
  auto unsealed = templateA;
  EXPECT_EQ(api::matchFingerprint(templateB.data(), unsealed.data(), 1), -2);
  auto altered = templateB;
  altered[40] ^= 1;
  EXPECT_EQ(api::matchFingerprint(templateA.data(), altered.data(), 1), -2);
  // The first template needs no seal, and the caller's buffers are not written.
  const auto before = templateB;
  EXPECT_EQ(api::matchFingerprint(unsealed.data(), templateB.data(), 1), 0);
  EXPECT_EQ(templateB, before);
}

TEST_F(MatchExport, NullTemplatesAreInvalid) {
  EXPECT_EQ(api::matchFingerprint(nullptr, templateB.data(), 3), -2);
  EXPECT_EQ(api::matchFingerprint(templateA.data(), nullptr, 3), -2);
}

TEST_F(MatchExport, MatchingDisarmsExtraction) {
  extractArmed().store(1);
  api::matchFingerprint(templateA.data(), templateB.data(), 3);
  EXPECT_EQ(extractArmed().load(), 0);
}

TEST(CancelCapture, CodesForBadAndIdleIndices) {
  EXPECT_EQ(api::cancelCapture(-1), -10);
  EXPECT_EQ(api::cancelCapture(16), -10);
  EXPECT_EQ(api::cancelCapture(1 << 30), -10);
  EXPECT_EQ(api::cancelCapture(15), -11);
}

TEST(CancelCapture, HidCancelTakesEffectButStorageAnswersNotRunning) {
  FakeTransport hid(TransportKind::Hid);
  hid.waitForCancel = true;
  ScopedTransports transports(nullptr, &hid);
  std::vector<uint8_t> image(kImageSize);
  int status = 0;
  std::thread capture([&] { status = api::captureFingerprint(7, image.data(), 0, 0); });
  while (!capture_flags::isBusy(TransportKind::Hid, 7)) platform::sleepMs(1);
  EXPECT_EQ(api::cancelCapture(7), -11);
  capture.join();
  EXPECT_EQ(status, -2);
  EXPECT_FALSE(capture_flags::isBusy(TransportKind::Hid, 7));
  EXPECT_FALSE(capture_flags::cancelRequested(TransportKind::Hid, 7));
}

TEST(CancelCapture, StorageCaptureOnAnotherThreadEndsWithCancelled) {
  FakeTransport storage;
  storage.waitForCancel = true;
  ScopedTransports transports(&storage, nullptr);
  std::vector<uint8_t> image(kImageSize);
  int status = 0;
  std::thread capture([&] { status = api::captureFingerprint(3, image.data(), 0, 0); });
  while (!capture_flags::isBusy(TransportKind::Storage, 3)) platform::sleepMs(1);
  // A second capture on the busy index is refused at once.
  EXPECT_EQ(api::captureFingerprint(3, image.data(), 0, 0), -11);
  EXPECT_EQ(api::cancelCapture(3), 0);
  capture.join();
  EXPECT_EQ(status, -2);
  uint8_t flags[kSharedFlagsSize];
  capture_flags::snapshot(flags);
  EXPECT_EQ(flags[kStorageBusyOffset + 3], 0);
  EXPECT_EQ(flags[kStorageCancelOffset + 3], 0);
}

TEST(NoModule, DeviceExportsReportNoModule) {
  ScopedTransports transports(nullptr, nullptr);
  std::vector<uint8_t> image(kImageSize);
  EXPECT_EQ(api::captureFingerprint(0, image.data(), 0, 0), -1);
  EXPECT_EQ(api::detectFingerprint(0), 0);
  char version[8] = "keep";
  EXPECT_EQ(api::getDeviceVersion(0, version), 0);
  EXPECT_STREQ(version, "keep");
  std::array<uint8_t, kTemplateSize> tpl{};
  EXPECT_EQ(api::extractFingerprint(0, 100, tpl.data(), 60, 0), -1);
}

TEST(NoModule, AbsentTransportsAreSkipped) {
  FakeTransport storage;
  storage.present = false;
  FakeTransport hid(TransportKind::Hid);
  ScopedTransports transports(&storage, &hid);
  EXPECT_EQ(SelectTransport(), &hid);
  storage.present = true;
  EXPECT_EQ(SelectTransport(), &storage);  // mass storage wins when both answer
}

TEST(BadArguments, NullBuffersGetAStatus) {
  EXPECT_EQ(api::getDriverVersion(nullptr), -1);
  EXPECT_EQ(api::getAlgVersion(nullptr), -1);
  EXPECT_EQ(api::getDeviceVersion(0, nullptr), -1);
  EXPECT_EQ(api::captureFingerprint(0, nullptr, 0, 0), -4);
  EXPECT_EQ(api::extractFingerprint(0, 0, nullptr, 60, 0), -6);
}

TEST(BadArguments, DialogWithoutItsWindowPluginCapturesNothing) {
  FakeTransport storage;
  ScopedTransports transports(&storage, nullptr);
  std::array<uint8_t, kTemplateSize> tpl{};
  EXPECT_EQ(api::extractFingerprint(0, 0, tpl.data(), 60, 1), -1);
  EXPECT_EQ(storage.captures.load(), 0);
}

}  // namespace
}  // namespace fx60
