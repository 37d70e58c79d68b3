// The capture-and-extract loop: time-out rules, the quality gate and errors.
#include <gtest/gtest.h>

#include <array>
#include <atomic>

#include "driver/algorithm_engine.h"
#include "driver/capture_loop.h"
#include "template/feature_template.h"
#include "template/seal.h"
#include "tests/driver/engine_override.h"
#include "tests/driver/fake_transport.h"

namespace fx60 {
namespace {

using testing::FakeTransport;
using testing::ScopedEngine;
using testing::ScopedTransports;

std::atomic<int> qualityCalls{0};
std::atomic<int> servedQuality{0};
std::atomic<int> extractions{0};

uint8_t scriptedQuality(uint8_t*) {
  ++qualityCalls;
  return static_cast<uint8_t>(servedQuality.load());
}

// Writes a one-minutia template whose quality byte is the served quality.
int scriptedExtraction(uint8_t* image, uint8_t* tpl) {
  if (image == nullptr) return -2;
  ++extractions;
  testing::writeOneMinutiaTemplate(tpl, servedQuality.load());
  return 1;
}

class CaptureLoop : public ::testing::Test {
 protected:
  void SetUp() override {
    qualityCalls = 0;
    extractions = 0;
    servedQuality = 50;
    scopedEngine.engine().imageQuality = &scriptedQuality;
    scopedEngine.engine().extractUnsealed = &scriptedExtraction;
    tpl.fill(0xEE);
  }
  CaptureStatus run(int timeoutMs, int threshold) { return captureAndExtract(0, timeoutMs, tpl.data(), threshold); }

  FakeTransport storage;
  ScopedTransports transports{&storage, nullptr};
  ScopedEngine scopedEngine;
  std::array<uint8_t, kTemplateSize> tpl{};
};

TEST_F(CaptureLoop, GoodImageGivesASealedTemplate) {
  EXPECT_EQ(run(0, 40), CaptureStatus::Done);
  EXPECT_EQ(storage.captures.load(), 1);
  EXPECT_EQ(tpl[kTemplateQualityByte], 50);
  auto copy = tpl;
  EXPECT_EQ(VerifyTemplateSeal(copy.data()), 1);
  EXPECT_EQ(extractArmed().load(), 0);
}

TEST_F(CaptureLoop, NoLimitKeepsCapturingUntilTheImageIsGoodEnough) {
  storage.onCapture = [this] {
    if (storage.captures.load() == 5) servedQuality = 70;
  };
  EXPECT_EQ(run(0, 60), CaptureStatus::Done);
  EXPECT_EQ(storage.captures.load(), 5);
  EXPECT_EQ(extractions.load(), 1);
}

TEST_F(CaptureLoop, MinusOneMakesOneAttemptAndReportsTimeOutEvenWithATemplate) {
  EXPECT_EQ(run(-1, 10), CaptureStatus::TimedOut);
  EXPECT_EQ(storage.captures.load(), 1);
  EXPECT_EQ(extractions.load(), 1);
  auto copy = tpl;
  EXPECT_EQ(VerifyTemplateSeal(copy.data()), 1) << "the template is written all the same";

  storage.captures = 0;
  EXPECT_EQ(run(-1, 90), CaptureStatus::TimedOut);  // not good enough: still a single attempt
  EXPECT_EQ(storage.captures.load(), 1);
}

TEST_F(CaptureLoop, BelowMinusOneEndsAtOnce) {
  EXPECT_EQ(run(-2, 0), CaptureStatus::TimedOut);
  EXPECT_EQ(run(-1000, 0), CaptureStatus::TimedOut);
  EXPECT_EQ(storage.captures.load(), 0);
  EXPECT_EQ(extractArmed().load(), 0);
  EXPECT_EQ(tpl[0], 0xEE) << "nothing written";
}

TEST_F(CaptureLoop, PositiveLimitEndsWithTimeOut) {
  storage.captureDelayMs = 20;
  EXPECT_EQ(run(50, 90), CaptureStatus::TimedOut);
  // The iteration that starts after the limit still captures.
  EXPECT_GE(storage.captures.load(), 3);
  EXPECT_LE(storage.captures.load(), 10);
}

TEST_F(CaptureLoop, IterationStartedAfterTheLimitMayExtractButStillTimesOut) {
  // Iterations start at about 0, 80 and 160 ms: the second well inside the limit
  // even on a loaded machine, the third after it.
  storage.captureDelayMs = 80;
  storage.onCapture = [this] {
    if (storage.captures.load() == 3) servedQuality = 95;
  };
  EXPECT_EQ(run(120, 90), CaptureStatus::TimedOut);
  EXPECT_EQ(extractions.load(), 1);
}

TEST_F(CaptureLoop, ThresholdsOutsideTheScoreRange) {
  servedQuality = 0;
  EXPECT_EQ(run(0, 0), CaptureStatus::NoTemplate) << "the first image is extracted, but quality 0 is no usable template";
  EXPECT_EQ(storage.captures.load(), 1);

  storage.captures = 0;
  EXPECT_EQ(run(0, -5), CaptureStatus::NoTemplate);
  EXPECT_EQ(storage.captures.load(), 1);

  servedQuality = 100;
  storage.captures = 0;
  extractions = 0;
  storage.captureDelayMs = 5;
  EXPECT_EQ(run(30, 256), CaptureStatus::TimedOut) << "no image is ever good enough";
  EXPECT_GE(storage.captures.load(), 2);
  EXPECT_EQ(extractions.load(), 0);
}

TEST_F(CaptureLoop, LowQualityTemplateIsRejectedButDelivered) {
  servedQuality = 19;
  EXPECT_EQ(run(0, 10), CaptureStatus::NoTemplate);
  auto copy = tpl;
  ASSERT_EQ(VerifyTemplateSeal(copy.data()), 1);
  EXPECT_EQ(copy[kTemplateQualityByte], 19);
  servedQuality = 20;
  EXPECT_EQ(run(0, 10), CaptureStatus::Done);
}

TEST_F(CaptureLoop, CaptureErrorEndsTheLoopAtOnce) {
  for (CaptureStatus error : {CaptureStatus::Cancelled, CaptureStatus::StorageReadFailed, CaptureStatus::HidReadFailed,
                              CaptureStatus::BadIndex, CaptureStatus::Busy}) {
    storage.captures = 0;
    storage.captureStatus = error;
    EXPECT_EQ(run(0, 10), error);
    EXPECT_EQ(storage.captures.load(), 1);
  }
  storage.captureStatus = CaptureStatus::StorageReadFailed;
  EXPECT_EQ(run(-1, 10), CaptureStatus::TimedOut) << "an elapsed limit turns any outcome into a time-out";
}

TEST_F(CaptureLoop, NoModuleEndsTheLoop) {
  storage.present = false;
  EXPECT_EQ(run(0, 10), CaptureStatus::NoModule);
  EXPECT_EQ(run(-1, 10), CaptureStatus::TimedOut);
}

TEST_F(CaptureLoop, DisarmingStopsScoringTheLaterImages) {
  // Another thread matching templates clears the flag; the loop then keeps the last
  // score (here 0) and never reaches the threshold.
  storage.onCapture = [] { extractArmed().store(0); };
  storage.captureDelayMs = 5;
  EXPECT_EQ(run(40, 10), CaptureStatus::TimedOut);
  EXPECT_EQ(qualityCalls.load(), 0);
  EXPECT_EQ(extractions.load(), 0);
}

TEST_F(CaptureLoop, CancelFromAnotherThreadEndsWithCancelled) {
  storage.waitForCancel = true;
  CaptureStatus status = CaptureStatus::Done;
  std::thread capture([&] { status = run(0, 10); });
  while (!capture_flags::isBusy(TransportKind::Storage, 0)) platform::sleepMs(1);
  capture_flags::requestCancel(TransportKind::Storage, 0);
  capture.join();
  EXPECT_EQ(status, CaptureStatus::Cancelled);
}

TEST(ExtractSealedTemplate, RefusesWhenDisarmedBetweenArmingAndExtracting) {
  // With a null image the real extractor reports -2; a sealed zero template is written.
  std::array<uint8_t, kTemplateSize> tpl{};
  tpl.fill(0x11);
  EXPECT_EQ(ExtractSealedTemplate(nullptr, tpl.data()), -2);
  EXPECT_EQ(tpl[0], 0);
  EXPECT_EQ(VerifyTemplateSeal(tpl.data()), 0) << "byte 3 of an all-zero template is not 14";
  EXPECT_EQ(extractArmed().load(), 0);
}

}  // namespace
}  // namespace fx60
