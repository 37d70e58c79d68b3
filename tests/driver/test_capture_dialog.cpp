// The capture dialog's logic against a recording window and a transport without
// hardware: the order of capture, preview, score and extraction, the time-out and
// cancel rules, and the dialog closing itself.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "driver/algorithm_engine.h"
#include "driver/capture_dialog.h"
#include "tests/driver/engine_override.h"
#include "tests/driver/fake_transport.h"
#include "template/feature_template.h"
#include "template/seal.h"

namespace fx60 {
namespace {

using namespace std::chrono_literals;
using testing::FakeTransport;
using testing::ScopedEngine;
using testing::ScopedTransports;

std::atomic<int> servedQuality{0};
std::atomic<int> templateQuality{50};

uint8_t scriptedQuality(uint8_t*) { return static_cast<uint8_t>(servedQuality.load()); }

// A one-minutia template whose quality byte is templateQuality.
int scriptedExtraction(uint8_t* image, uint8_t* tpl) {
  if (image == nullptr) return -2;
  testing::writeOneMinutiaTemplate(tpl, templateQuality.load());
  return 1;
}

// The window as the worker sees it: what it was shown, and when it was closed.
class RecordingWindow final : public CaptureDialogView {
 public:
  void showPreview(const uint8_t* image) override {
    std::lock_guard hold(lock_);
    previews_.push_back(image[0]);
  }
  void setQualityText(const char* text) override {
    std::lock_guard hold(lock_);
    qualities_.emplace_back(text);
    lastQualityAt_ = std::chrono::steady_clock::now();
  }
  void closeDialog() override {
    std::lock_guard hold(lock_);
    closedAt_ = std::chrono::steady_clock::now();
    ++closes_;
    closed_.notify_all();
  }

  bool waitUntilClosed(std::chrono::milliseconds limit = 5s) {
    std::unique_lock wait(lock_);
    return closed_.wait_for(wait, limit, [&] { return closes_ > 0; });
  }
  std::vector<std::string> qualities() {
    std::lock_guard hold(lock_);
    return qualities_;
  }
  size_t previews() {
    std::lock_guard hold(lock_);
    return previews_.size();
  }
  int closes() {
    std::lock_guard hold(lock_);
    return closes_;
  }
  // From the last score shown to the close.
  std::chrono::milliseconds closePause() {
    std::lock_guard hold(lock_);
    return std::chrono::duration_cast<std::chrono::milliseconds>(closedAt_ - lastQualityAt_);
  }

 private:
  std::mutex lock_;
  std::condition_variable closed_;
  std::vector<uint8_t> previews_;
  std::vector<std::string> qualities_;
  std::chrono::steady_clock::time_point lastQualityAt_{};
  std::chrono::steady_clock::time_point closedAt_{};
  int closes_ = 0;
};

class CaptureDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    servedQuality = 50;
    templateQuality = 50;
    scopedEngine.engine().imageQuality = &scriptedQuality;
    scopedEngine.engine().extractUnsealed = &scriptedExtraction;
  }

  // Opens the dialog and returns once its worker has closed it.
  CaptureStatus run(int timeoutMs, int threshold) {
    CFingerDlg dialog(timeoutMs, threshold);
    dialog.OnInitDialog(window);
    EXPECT_TRUE(window.waitUntilClosed());
    dialog.OnDestroy();
    tpl.assign(dialog.featureTemplate(), dialog.featureTemplate() + kTemplateSize);
    return dialog.result();
  }

  FakeTransport storage;
  ScopedTransports transports{&storage, nullptr};
  ScopedEngine scopedEngine;
  RecordingWindow window;
  std::vector<uint8_t> tpl;
};

TEST_F(CaptureDialog, ThresholdZeroExtractsTheFirstImageAndClosesAfterAPause) {
  EXPECT_EQ(run(0, 0), CaptureStatus::Done);
  EXPECT_EQ(storage.captures.load(), 1);
  EXPECT_EQ(window.previews(), 1u);
  EXPECT_EQ(window.qualities(), std::vector<std::string>{"50"});
  EXPECT_EQ(VerifyTemplateSeal(tpl.data()), 1);
  EXPECT_GE(window.closePause().count(), 290) << "the last preview and score stay a moment";
  EXPECT_EQ(window.closes(), 1);
  EXPECT_EQ(extractArmed().load(), 0);
}

TEST_F(CaptureDialog, EveryImageIsPreviewedWithItsScoreUntilOneIsGoodEnough) {
  servedQuality = 0;
  storage.onCapture = [] { servedQuality += 15; };
  EXPECT_EQ(run(0, 60), CaptureStatus::Done);
  EXPECT_EQ(window.qualities(), (std::vector<std::string>{"15", "30", "45", "60"}));
  EXPECT_EQ(window.previews(), 4u);
}

TEST_F(CaptureDialog, TimeLimits) {
  storage.captureDelayMs = 10;
  EXPECT_EQ(run(60, 101), CaptureStatus::TimedOut);
  EXPECT_GE(storage.captures.load(), 3);

  const int capturesBefore = storage.captures.load();
  RecordingWindow atOnce;
  CFingerDlg below(-2, 0);
  below.OnInitDialog(atOnce);
  ASSERT_TRUE(atOnce.waitUntilClosed());
  below.OnDestroy();
  EXPECT_EQ(below.result(), CaptureStatus::TimedOut) << "below -1 ends without a capture";
  EXPECT_EQ(atOnce.previews(), 0u);
  EXPECT_EQ(storage.captures.load(), capturesBefore);
}

TEST_F(CaptureDialog, CaptureErrorsAndPoorTemplates) {
  storage.captureStatus = CaptureStatus::StorageReadFailed;
  EXPECT_EQ(run(0, 0), CaptureStatus::StorageReadFailed);
  EXPECT_EQ(window.previews(), 0u);

  RecordingWindow second;
  storage.captureStatus = CaptureStatus::Done;
  templateQuality = 19;
  CFingerDlg poor(0, 10);
  poor.OnInitDialog(second);
  ASSERT_TRUE(second.waitUntilClosed());
  poor.OnDestroy();
  EXPECT_EQ(poor.result(), CaptureStatus::NoTemplate) << "a template below quality 20 is no usable one";

  RecordingWindow third;
  storage.present = false;
  CFingerDlg noModule(0, 10);
  noModule.OnInitDialog(third);
  ASSERT_TRUE(third.waitUntilClosed());
  noModule.OnDestroy();
  EXPECT_EQ(noModule.result(), CaptureStatus::NoModule);
}

TEST_F(CaptureDialog, CancelEndsTheDialogWithMinusTwo) {
  storage.captureDelayMs = 5;
  CFingerDlg dialog(0, 101);  // no image is ever good enough
  dialog.OnInitDialog(window);
  while (window.previews() < 3) std::this_thread::sleep_for(1ms);
  dialog.OnCancelButton();
  ASSERT_TRUE(window.waitUntilClosed());
  dialog.OnDestroy();
  EXPECT_EQ(dialog.result(), CaptureStatus::Cancelled);
}

TEST_F(CaptureDialog, CancelAfterTheTimeLimitStillGivesMinusTwo) {
  storage.waitForCancel = true;  // the capture holds until cancelled
  CFingerDlg dialog(20, 101);
  dialog.OnInitDialog(window);
  while (!capture_flags::isBusy(TransportKind::Storage, 0)) std::this_thread::sleep_for(1ms);
  std::this_thread::sleep_for(40ms);  // past the limit
  dialog.OnCancelButton();
  ASSERT_TRUE(window.waitUntilClosed());
  dialog.OnDestroy();
  EXPECT_EQ(dialog.result(), CaptureStatus::Cancelled);
}

TEST_F(CaptureDialog, AWindowThatGoesEarlyStopsTheWorker) {
  // The program is quitting: the dialog ends before the worker closed it.
  storage.captureDelayMs = 5;
  CFingerDlg dialog(0, 101);
  dialog.OnInitDialog(window);
  while (window.previews() < 1) std::this_thread::sleep_for(1ms);
  dialog.OnDestroy();
  EXPECT_EQ(dialog.result(), CaptureStatus::Cancelled);
  EXPECT_EQ(window.closes(), 1);
}

TEST(CaptureDialogPlugin, AMissingPluginGivesMinusOne) {
  ::setenv(kCaptureDialogPluginVariable, "/nonexistent/libfx60link-capture-dialog.so", 1);
  std::array<uint8_t, kTemplateSize> tpl{};
  tpl.fill(0xAB);
  EXPECT_EQ(runCaptureDialog(0, tpl.data(), 60), CaptureStatus::NoModule);
  EXPECT_EQ(tpl[0], 0xAB) << "nothing written";
  ::unsetenv(kCaptureDialogPluginVariable);
}

}  // namespace
}  // namespace fx60
