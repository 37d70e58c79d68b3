// The capture dialog as callers get it: zzExtractFingerprint with the dialog flag,
// its window from the plugin beside the library, on the offscreen platform,
// against the simulated module. The order of the worker's steps is tested without
// a window in tests/driver/test_capture_dialog.cpp.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <array>
#include <atomic>
#include <filesystem>
#include <functional>
#include <thread>

#include "fx60link.h"
#include "platform/qt/dialog_font.h"
#include "platform/qt/dialog_units.h"
#include "tests/sim/finger_images.h"
#include "tests/sim/simulator_process.h"
#include "tests/support/offscreen_application.h"
#include "tests/support/run_program.h"

namespace {

namespace fs = std::filesystem;
using fx60::sim::testing::SimulatorProcess;

const auto* const kApplication = ::testing::AddGlobalTestEnvironment(new fx60::testing::OffscreenApplication);

QDialog* openCaptureDialog() {
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (widget->objectName() == QLatin1String("CaptureDialog") && widget->isVisible())
      return qobject_cast<QDialog*>(widget);
  return nullptr;
}

void cancelOpenDialog() {
  if (QDialog* dialog = openCaptureDialog()) dialog->findChild<QPushButton*>("7002")->click();
}

// Whether the preview (control 7000) shows `image` at 256 x 360 pixels from its
// top-left corner, judged on a grid of sample points.
bool previewShows(QDialog& dialog, const std::vector<uint8_t>& image) {
  const QImage preview = dialog.findChild<QWidget*>("7000")->grab().toImage();
  if (preview.width() < 256 || preview.height() < 360) return false;
  for (int y = 5; y < 360; y += 50)
    for (int x = 3; x < 256; x += 36)
      if (qGray(preview.pixel(x, y)) != image[static_cast<size_t>(y) * 256 + x]) return false;
  return true;
}

class CaptureDialogWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("capture-dialog-test-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    module_.reset();
    ::unsetenv("FX60_SIMULATOR");
    fs::remove_all(dir_);
  }

  // fx60-sim serving these impressions of generated fingers in turn.
  void startModule(const std::vector<std::pair<int, int>>& impressions) {
    std::vector<std::string> options{"--mode", "storage"};
    for (const auto& [finger, impression] : impressions)
      options.insert(options.end(), {"--images", fx60::sim::testing::fingerImageFile(finger, impression)->string()});
    module_ = std::make_unique<SimulatorProcess>(dir_, "fx60");
    ASSERT_TRUE(module_->start(options));
    ::setenv("FX60_SIMULATOR", module_->cablePath().c_str(), 1);
  }

  // Runs the dialog on this thread; `whileOpen` runs once inside it, when the
  // dialog shows its first captured image.
  int runDialog(int timeoutMs, int threshold, std::function<void(QDialog&)> whileOpen = {}) {
    bool ran = false;
    QTimer watch;
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, [&] {
      QDialog* dialog = openCaptureDialog();
      if (ran || dialog == nullptr || !whileOpen) return;
      if (dialog->findChild<QLineEdit*>("7001")->text().isEmpty()) return;  // no image yet
      ran = true;
      whileOpen(*dialog);
      cancelOpenDialog();  // also after a failed check: the test goes on
    });
    watch.start();
    // Never longer than this, whatever the dialog does.
    QTimer::singleShot(20000, [] { cancelOpenDialog(); });
    tpl_.fill(0xEE);
    return zzExtractFingerprint(0, timeoutMs, tpl_.data(), threshold, 1);
  }

  fs::path dir_;
  std::unique_ptr<SimulatorProcess> module_;
  std::array<unsigned char, 512> tpl_{};
};

TEST_F(CaptureDialogWindow, LayoutAndLivePreviewUntilCancelled) {
  REQUIRE_FINGER_IMAGES();
  startModule({{0, 2}});
  const std::vector<uint8_t> served = fx60::sim::testing::fingerImage(0, 2);
  bool checked = false;
  const int status = runDialog(0, 101, [&](QDialog& dialog) {
    checked = true;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("采集指纹特征"));
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowCloseButtonHint) << "no close box";
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowSystemMenuHint);
    const auto base = fx60::ui::baseUnitsOf(fx60::ui::dialogFont(10));
    EXPECT_EQ(dialog.findChild<QWidget*>("7000")->geometry(), fx60::ui::toPixels({5, 6, 146, 222}, base));
    EXPECT_EQ(dialog.findChild<QWidget*>("7001")->geometry(), fx60::ui::toPixels({56, 236, 30, 14}, base));
    auto* cancel = dialog.findChild<QPushButton*>("7002");
    EXPECT_EQ(cancel->geometry(), fx60::ui::toPixels({110, 236, 42, 14}, base));
    EXPECT_EQ(cancel->text(), QStringLiteral("取消"));
    EXPECT_NE(dialog.findChild<QLabel*>(), nullptr);
    EXPECT_EQ(dialog.findChild<QLabel*>()->text(), QStringLiteral("图像质量分数:"));

    // The captured image, row 0 at the top, at 256 x 360 pixels from the corner.
    QTest::qWait(50);
    const QImage preview = dialog.findChild<QWidget*>("7000")->grab().toImage();
    ASSERT_GE(preview.height(), 360);
    for (const auto& [x, y] : std::vector<std::pair<int, int>>{{0, 0}, {128, 180}, {255, 359}, {40, 300}})
      EXPECT_EQ(qGray(preview.pixel(x, y)), served[static_cast<size_t>(y) * 256 + x]) << x << "," << y;
    const QString quality = dialog.findChild<QLineEdit*>("7001")->text();
    EXPECT_GT(quality.toInt(), 0) << quality.toStdString();

    // Enter and Escape do nothing, on the dialog or on the focused button.
    cancel->setFocus();
    QTest::keyClick(cancel, Qt::Key_Return);
    QTest::keyClick(cancel, Qt::Key_Enter);
    QTest::keyClick(&dialog, Qt::Key_Escape);
    dialog.close();  // nor does the window system's close
    QTest::qWait(50);
    EXPECT_TRUE(dialog.isVisible());
    QTest::mouseClick(cancel, Qt::LeftButton);
  });
  EXPECT_TRUE(checked);
  EXPECT_EQ(status, -2);
  EXPECT_EQ(tpl_[0], 0xEE) << "nothing written on a cancel";
  EXPECT_EQ(openCaptureDialog(), nullptr);
}

TEST_F(CaptureDialogWindow, ThePreviewFollowsTheCapturedImages) {
  REQUIRE_FINGER_IMAGES();
  startModule({{0, 2}, {1, 3}});  // served in turn
  const std::vector<uint8_t> first = fx60::sim::testing::fingerImage(0, 2);
  const std::vector<uint8_t> second = fx60::sim::testing::fingerImage(1, 3);
  ASSERT_NE(first, second);
  bool checked = false;
  EXPECT_EQ(runDialog(0, 101,
                      [&](QDialog& dialog) {
                        checked = true;
                        EXPECT_TRUE(QTest::qWaitFor([&] { return previewShows(dialog, first); }, 5000));
                        EXPECT_TRUE(QTest::qWaitFor([&] { return previewShows(dialog, second); }, 5000));
                        EXPECT_TRUE(QTest::qWaitFor([&] { return previewShows(dialog, first); }, 5000));
                      }),
            -2);
  EXPECT_TRUE(checked);
}

TEST_F(CaptureDialogWindow, ThresholdZeroExtractsTheFirstImage) {
  REQUIRE_FINGER_IMAGES();
  startModule({{0, 2}});
  EXPECT_EQ(runDialog(0, 0), 0);
  EXPECT_EQ(tpl_[0], 0x43) << "a template";
  std::array<unsigned char, 512> copy = tpl_;
  EXPECT_EQ(zzMatchFingerprint(copy.data(), tpl_.data(), 3), 0) << "sealed, and matching itself";
}

TEST_F(CaptureDialogWindow, TheTimeLimitEndsItWithMinusThree) {
  REQUIRE_FINGER_IMAGES();
  startModule({{0, 2}});
  EXPECT_EQ(runDialog(200, 101), -3);
}

TEST_F(CaptureDialogWindow, FromAnotherThreadOfAQtProgram) {
  REQUIRE_FINGER_IMAGES();
  startModule({{0, 2}});
  std::atomic<int> status{1};
  std::array<unsigned char, 512> tpl{};
  std::thread caller([&] { status = zzExtractFingerprint(0, 0, tpl.data(), 0, 1); });
  EXPECT_TRUE(QTest::qWaitFor([&] { return status.load() != 1; }, 10000));
  caller.join();
  EXPECT_EQ(status.load(), 0);
}

// fx60 enroll --dialog, in a process of its own without Qt of its own.
TEST_F(CaptureDialogWindow, Fx60EnrollWithTheDialog) {
  REQUIRE_FINGER_IMAGES();
  startModule({{0, 2}});
  const fs::path tplFile = dir_ / "finger.tpl";
  const auto enrolled = fx60::testing::runProgramWithin(
      {FX60_TOOL, "enroll", "--dialog", "--quality", "0", "-o", tplFile.string()}, {"QT_QPA_PLATFORM=offscreen"}, 30000);
  EXPECT_EQ(enrolled.exitCode, 0) << enrolled.output;
  EXPECT_NE(enrolled.output.find("template written to"), std::string::npos) << enrolled.output;
  EXPECT_EQ(fs::file_size(tplFile), 512u);

  const fs::path unused = dir_ / "unused.tpl";
  const auto noDisplay = fx60::testing::runProgramWithin({FX60_TOOL, "enroll", "--dialog", "-o", unused.string()},
                                                         {"-QT_QPA_PLATFORM", "-DISPLAY", "-WAYLAND_DISPLAY"}, 30000);
  EXPECT_EQ(noDisplay.exitCode, 1) << noDisplay.output;
  EXPECT_NE(noDisplay.output.find("could not be shown"), std::string::npos) << noDisplay.output;

  const auto noPlugin =
      fx60::testing::runProgramWithin({FX60_TOOL, "enroll", "--dialog", "-o", unused.string()},
                                      {"QT_QPA_PLATFORM=offscreen", "FX60_CAPTURE_DIALOG=/nonexistent.so"}, 30000);
  EXPECT_EQ(noPlugin.exitCode, 1) << noPlugin.output;
  EXPECT_FALSE(fs::exists(unused)) << "nothing written when the dialog could not run";

  // The dialog captures on module 0 only: another index is refused, not ignored.
  const auto otherModule = fx60::testing::runProgramWithin(
      {FX60_TOOL, "enroll", "--dialog", "--index", "1", "-o", unused.string()}, {"QT_QPA_PLATFORM=offscreen"}, 30000);
  EXPECT_EQ(otherModule.exitCode, 2) << otherModule.output;
  EXPECT_NE(otherModule.output.find("module 0 only"), std::string::npos) << otherModule.output;
}

}  // namespace
